// A bed's marker on its own, on a plan layer: the picture of each call state,
// also when the overdue picture cannot be read, and the icon's hint, which
// keeps the name the bed was created with.

#include "plan/Ttable.h"
#include "ui/Errors.h"
#include "ui/Fonts.h"

#include <QTest>

using namespace kalvora;

namespace {

Picture filled(QColor colour)
{
    auto data = std::make_shared<PictureData>();
    QImage image(20, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    data->size = image.size();
    data->frames.push_back({ image, 0 });
    return data;
}

} // namespace

class TestBedMarker : public QObject {
    Q_OBJECT
private slots:
    void ticksShowTheStatesPicture_data();
    void ticksShowTheStatesPicture();
    void hintKeepsTheNameTheBedWasCreatedWith();

private:
    // A bed of kind 3 on a layer, with red overdue pictures, or unreadable ones.
    struct Ward {
        explicit Ward(bool overdueReadable, qint32 redSec, qint32 maxSec)
            : layer(&window)
        {
            iTable.fill(PictureHolder(filled(Qt::white)));
            iGreenTable.fill(PictureHolder(filled(Qt::green)));
            iRedTable.fill(
                PictureHolder(overdueReadable ? filled(Qt::red) : decodePicture("not a picture")));
            context.layer = &layer;
            context.iTable = &iTable;
            context.iGreenTable = &iGreenTable;
            context.iRedTable = &iRedTable;
            context.billPicture = &bill;
            context.labelFont = consoleFont(13, true);
            context.redSec = redSec;
            context.maxSec = maxSec;
            bed = Ttable::Create(u"101;100;80;3;Палата 1;101C", context);
        }
        QWidget window;
        PlanLayer layer;
        KindPictures iTable, iGreenTable, iRedTable;
        PictureHolder bill { builtInBillPicture() };
        TableContext context;
        std::unique_ptr<Ttable> bed;
    };
};

void TestBedMarker::ticksShowTheStatesPicture_data()
{
    QTest::addColumn<bool>("overdueReadable");
    QTest::addColumn<int>("redSec");
    QTest::addColumn<int>("maxSec");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("shows"); // idle, calling, overdue
    QTest::addColumn<bool>("error");

    // clang-format off
    QTest::newRow("calling") << true << 3 << 6 << 2 << "calling" << false;
    QTest::newRow("overdue") << true << 3 << 6 << 3 << "overdue" << false;
    QTest::newRow("timed out") << true << 3 << 6 << 7 << "idle" << false;
    QTest::newRow("overdue and idle on one tick") << true << 7 << 6 << 7 << "idle" << false;
    QTest::newRow("unreadable overdue picture: reported when due") << false << 3 << 6 << 3 << "calling" << true;
    QTest::newRow("unreadable overdue picture, overdue and idle on one tick")
        << false << 7 << 6 << 7 << "idle" << false;
    // clang-format on
}

void TestBedMarker::ticksShowTheStatesPicture()
{
    QFETCH(bool, overdueReadable);
    QFETCH(int, redSec);
    QFETCH(int, maxSec);
    QFETCH(int, ticks);
    QFETCH(QString, shows);
    QFETCH(bool, error);

    Ward w(overdueReadable, redSec, maxSec);
    Ttable &bed = *w.bed;
    bed.ShutOn();
    bool raised = false;
    for (int t = 0; t < ticks; ++t) {
        try {
            bed.PlusT();
        } catch (const KalvoraError &) {
            raised = true;
        }
    }
    QCOMPARE(raised, error);
    const KindPictures &set = shows == u"idle" ? w.iTable
        : shows == u"calling"                  ? w.iGreenTable
                                               : w.iRedTable;
    QCOMPARE(bed.iT->holder().picture(), set[3].picture());
    QCOMPARE(bed.isOn, shows != u"idle");
}

void TestBedMarker::hintKeepsTheNameTheBedWasCreatedWith()
{
    Ward w(true, 20, 60);
    Ttable &bed = *w.bed;
    QCOMPARE(bed.iT->toolTip(), QStringLiteral("Палата 1"));
    // A new name reaches the label at the next placing, never the hint.
    bed.l = QStringLiteral("Bed 2");
    bed.ShutOn();
    QCOMPARE(bed.lab->text(), QStringLiteral("Bed 2"));
    QCOMPARE(bed.iT->toolTip(), QStringLiteral("Палата 1"));
    // Off while the bed is moved, back when it is put down.
    bed.setDragging(true);
    QVERIFY(bed.iT->toolTip().isEmpty());
    bed.Pos(150, 90);
    QVERIFY(bed.iT->toolTip().isEmpty());
    bed.setDragging(false);
    QCOMPARE(bed.iT->toolTip(), QStringLiteral("Палата 1"));
    // The marker's parts are where the bed is, and the layer knows it by name.
    QCOMPARE(w.layer.markers().size(), size_t(1));
    QCOMPARE(w.layer.markers().front()->name(), QStringLiteral("Bed 2"));
    QCOMPARE(w.layer.partAt(QPoint(150, 90)), bed.lab);
}

QTEST_MAIN(TestBedMarker)
#include "tst_bedmarker.moc"
