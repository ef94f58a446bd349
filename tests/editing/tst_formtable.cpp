#include "editing/FormTable.h"
#include "ui/Fonts.h"
#include "ui/PictureControl.h"

#include <QBuffer>
#include <QClipboard>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace kalvora;

namespace {

using Table = std::array<PictureHolder, TFormTable::KindCount>;

Picture smallPicture(int k)
{
    QImage image(24, 24, QImage::Format_ARGB32);
    image.fill(QColor::fromHsv(k * 18, 200, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return decodePicture(bytes);
}

Table fullTable()
{
    Table table;
    for (int k = 0; k < TFormTable::KindCount; ++k)
        table[size_t(k)] = PictureHolder(smallPicture(k));
    return table;
}

// Panel colours as letters: F button face, H highlight, M maroon, ? other.
QString colours(const TFormTable &d)
{
    QString out;
    for (int k = 0; k < TFormTable::KindCount; ++k) {
        const QColor c = d.panelColor(k);
        out += c == d.palette().color(QPalette::Highlight) ? u'H'
            : c == d.palette().color(QPalette::Button)     ? u'F'
            : c == maroon()                                ? u'M'
                                                           : u'?';
    }
    return out;
}

// 20 letters: `before` up to s, `at` for s, `after` beyond it.
QString cells(int s, char16_t before, char16_t at, char16_t after)
{
    QString out;
    for (int k = 0; k < TFormTable::KindCount; ++k)
        out += k < s ? before : k == s ? at : after;
    return out;
}

// Steps like "c7 i3 p5 r2 u3 kR4": setChoice, Image1Click, Panel2Click, RadioButton1Click,
// unchecking a radio button by code, an arrow key (L, R, U, D) on a radio button.
void run(TFormTable &d, const QString &steps)
{
    for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
        const int n = step.mid(1).toInt();
        switch (step.at(0).unicode()) {
        case u'c':
            d.setChoice(n);
            break;
        case u'i':
            d.Image1Click(n);
            break;
        case u'p':
            d.Panel2Click(n);
            break;
        case u'r':
            d.RadioButton1Click(n);
            break;
        case u'u':
            d.rbs[size_t(n)]->setChecked(false);
            break;
        case u'k': {
            const int kind = step.mid(2).toInt();
            const Qt::Key key = step.at(1) == u'L' ? Qt::Key_Left
                : step.at(1) == u'R'               ? Qt::Key_Right
                : step.at(1) == u'U'               ? Qt::Key_Up
                                                   : Qt::Key_Down;
            QTest::keyClick(d.rbs[size_t(kind)], key);
            break;
        }
        default:
            QFAIL("bad step");
        }
    }
}

QPoint indicatorCentre(QRadioButton *rb)
{
    QStyleOptionButton option;
    option.initFrom(rb);
    return rb->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, rb).center();
}

} // namespace

class TestFormTable : public QObject {
    Q_OBJECT
private slots:
    void colourRules_data();
    void colourRules();
    void mouseClicks_data();
    void mouseClicks();
    void noChoice();
    void semicolonFilter();
    void closing_data();
    void closing();
    void withoutPictures();
    void reloadPictures();
    void appearance();
};

void TestFormTable::colourRules_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("colours");
    QTest::addColumn<int>("choice");

    QTest::addRow("fresh") << QString() << cells(0, u'F', u'F', u'F') << -1;
    QTest::addRow("setChoice") << QStringLiteral("c7") << cells(7, u'F', u'H', u'F') << 7;
    QTest::addRow("image, unchecked") << QStringLiteral("i3") << cells(3, u'F', u'M', u'H') << 3;
    QTest::addRow("image, first") << QStringLiteral("i0") << cells(0, u'F', u'M', u'H') << 0;
    QTest::addRow("image, last") << QStringLiteral("i19") << cells(19, u'F', u'M', u'H') << 19;
    QTest::addRow("image, checked") << QStringLiteral("c3 i3") << cells(3, u'H', u'M', u'H') << 3;
    QTest::addRow("image twice") << QStringLiteral("i3 i3") << cells(3, u'H', u'M', u'H') << 3;
    QTest::addRow("setChoice of the checked kind runs nothing")
        << QStringLiteral("i3 c3") << cells(3, u'F', u'M', u'H') << 3;
    QTest::addRow("setChoice of another kind")
        << QStringLiteral("i3 c7") << cells(7, u'F', u'H', u'F') << 7;
    QTest::addRow("setChoice of no kind keeps colours")
        << QStringLiteral("i3 c-1") << cells(3, u'F', u'M', u'H') << -1;
    QTest::addRow("panel") << QStringLiteral("i3 p5") << cells(5, u'F', u'H', u'F') << 5;
    QTest::addRow("panel, checked") << QStringLiteral("i5 p5") << cells(5, u'F', u'H', u'F') << 5;
    QTest::addRow("unchecking runs nothing")
        << QStringLiteral("i3 u3") << cells(3, u'F', u'M', u'H') << -1;
    QTest::addRow("radio handler") << QStringLiteral("i3 r3") << cells(3, u'F', u'H', u'F') << 3;
    // The arrow keys choose the next kind of the 5x4 grid as a click on its
    // radio button does.
    QTest::addRow("right") << QStringLiteral("kR5") << cells(6, u'F', u'H', u'F') << 6;
    QTest::addRow("left") << QStringLiteral("c6 kL6") << cells(5, u'F', u'H', u'F') << 5;
    QTest::addRow("down") << QStringLiteral("kD2") << cells(7, u'F', u'H', u'F') << 7;
    QTest::addRow("up") << QStringLiteral("kU17") << cells(12, u'F', u'H', u'F') << 12;
    QTest::addRow("left edge") << QStringLiteral("kL10") << cells(10, u'F', u'H', u'F') << 10;
    QTest::addRow("right edge") << QStringLiteral("kR14") << cells(14, u'F', u'H', u'F') << 14;
    QTest::addRow("top edge") << QStringLiteral("kU2") << cells(2, u'F', u'H', u'F') << 2;
    QTest::addRow("bottom edge") << QStringLiteral("kD19") << cells(19, u'F', u'H', u'F') << 19;
    QTest::addRow("onto the checked kind, as a click: nothing changes")
        << QStringLiteral("i3 kR2") << cells(3, u'F', u'M', u'H') << 3;
    QTest::addRow("from a picture's choice")
        << QStringLiteral("i3 kD3") << cells(8, u'F', u'H', u'F') << 8;
}

void TestFormTable::colourRules()
{
    QFETCH(QString, steps);
    QFETCH(QString, colours);
    QFETCH(int, choice);
    const Table table = fullTable();
    TFormTable d(&table);
    run(d, steps);
    QCOMPARE(::colours(d), colours);
    QCOMPARE(d.choice(), choice);
    for (int k = 0; k < TFormTable::KindCount; ++k) { // captions readable on every colour
        const QPalette &p = d.rbs[size_t(k)]->palette();
        QVERIFY(qAbs(p.color(QPalette::WindowText).lightness() - d.panelColor(k).lightness()) > 60);
    }
    for (int k = 0; k < TFormTable::KindCount; ++k)
        QCOMPARE(d.rbs[size_t(k)]->isChecked(), k == choice);
}

void TestFormTable::mouseClicks_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("colours");

    QTest::addRow("radio") << QString() << QStringLiteral("radio") << 4
                           << cells(4, u'F', u'H', u'F');
    QTest::addRow("checked radio stays checked")
        << QStringLiteral("i4") << QStringLiteral("radio") << 4 << cells(4, u'F', u'M', u'H');
    QTest::addRow("panel") << QStringLiteral("i2") << QStringLiteral("panel") << 6
                           << cells(6, u'F', u'H', u'F');
    QTest::addRow("picture") << QString() << QStringLiteral("picture") << 2
                             << cells(2, u'F', u'M', u'H');
    QTest::addRow("picture, checked")
        << QStringLiteral("c2") << QStringLiteral("picture") << 2 << cells(2, u'H', u'M', u'H');
}

void TestFormTable::mouseClicks()
{
    QFETCH(QString, steps);
    QFETCH(QString, target);
    QFETCH(int, kind);
    QFETCH(QString, colours);
    const Table table = fullTable();
    TFormTable d(&table);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));
    run(d, steps);
    const auto k = size_t(kind);
    QSignalSpy radioClicks(d.rbs[k], &QRadioButton::clicked);
    if (target == u"radio")
        QTest::mouseClick(d.rbs[k], Qt::LeftButton, {}, indicatorCentre(d.rbs[k]));
    else if (target == u"panel")
        QTest::mouseClick(d.pans[k], Qt::LeftButton, {}, QPoint(1, 1)); // the margin
    else
        QTest::mouseClick(d.images[k], Qt::LeftButton, {}, d.images[k]->rect().center());
    QCOMPARE(::colours(d), colours);
    QCOMPARE(d.choice(), kind);
    QVERIFY(d.rbs[k]->isChecked());
    QCOMPARE(radioClicks.size(), target == u"radio" ? 1 : 0); // the click reached the button
}

void TestFormTable::noChoice()
{
    TFormTable d(nullptr);
    QCOMPARE(d.choice(), -1);
    d.setChoice(12);
    QCOMPARE(d.choice(), 12);
    d.setChoice(-1);
    QCOMPARE(d.choice(), -1);
    // Two checked buttons (only with the handlers bypassed): the higher kind counts.
    for (int k : { 4, 9 }) {
        const QSignalBlocker blocker(d.rbs[size_t(k)]);
        d.rbs[size_t(k)]->setChecked(true);
    }
    QCOMPARE(d.choice(), 9);
}

void TestFormTable::semicolonFilter()
{
    TFormTable d(nullptr);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));

    QTest::keyClicks(d.eCode, QStringLiteral("1;2"));
    QCOMPARE(d.eCode->text(), QStringLiteral("12"));

    d.eL->setText(QStringLiteral("abc"));
    d.eL->setCursorPosition(1);
    QTest::keyClicks(d.eL, QStringLiteral(";x;"));
    QCOMPARE(d.eL->text(), QStringLiteral("axbc"));
    QCOMPARE(d.eL->cursorPosition(), 2);

    d.eL->clear();
    d.eL->insert(QStringLiteral("Палата; 5;"));
    QCOMPARE(d.eL->text(), QStringLiteral("Палата 5"));
    QCOMPARE(d.eL->cursorPosition(), 8);

    QGuiApplication::clipboard()->setText(QStringLiteral("a;;b"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("a;;b"));
    d.eCode->clear();
    d.eCode->setFocus();
    QTest::keySequence(d.eCode, QKeySequence::Paste);
    QCOMPARE(d.eCode->text(), QStringLiteral("ab"));

    // Anything else is accepted, the empty text too.
    for (const QString &text : { QString(), QStringLiteral("  К-1, #2 (\"x\")") }) {
        d.eCode->setText(text);
        QCOMPARE(d.eCode->text(), text);
        QVERIFY(d.eCode->hasAcceptableInput());
    }
}

void TestFormTable::closing_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("result");
    QTest::addRow("OK button") << QStringLiteral("ok") << int(QDialog::Accepted);
    QTest::addRow("cancel button") << QStringLiteral("cancel") << int(QDialog::Rejected);
    QTest::addRow("close") << QStringLiteral("close") << int(QDialog::Rejected);
    QTest::addRow("Enter") << QStringLiteral("enter") << int(QDialog::Accepted);
    QTest::addRow("Enter in a text field")
        << QStringLiteral("enter in field") << int(QDialog::Accepted);
    QTest::addRow("Escape") << QStringLiteral("escape") << int(QDialog::Rejected);
}

void TestFormTable::closing()
{
    QFETCH(QString, action);
    QFETCH(int, result);
    const Table table = fullTable();
    TFormTable d(&table);
    bool ran = false;
    QTimer::singleShot(0, &d, [&] {
        ran = d.isVisible();
        if (action == u"ok")
            QTest::mouseClick(d.ButtonOk, Qt::LeftButton);
        else if (action == u"cancel")
            QTest::mouseClick(d.ButtonCancel, Qt::LeftButton);
        else if (action == u"enter")
            QTest::keyClick(&d, Qt::Key_Return);
        else if (action == u"enter in field")
            QTest::keyClick(d.eL, Qt::Key_Enter, Qt::KeypadModifier);
        else if (action == u"escape")
            QTest::keyClick(&d, Qt::Key_Escape);
        else
            d.close();
    });
    QTimer::singleShot(20000, &d, [&] { d.done(-5); }); // never hang the run
    QCOMPARE(d.exec(), result);
    QVERIFY(ran);
    QVERIFY(!d.isVisible());

    // The same without a nested loop.
    d.open();
    QTRY_VERIFY(d.isVisible());
    QTest::mouseClick(result == QDialog::Accepted ? d.ButtonOk : d.ButtonCancel, Qt::LeftButton);
    QTRY_VERIFY(!d.isVisible());
    QCOMPARE(d.result(), result);
}

void TestFormTable::withoutPictures()
{
    Table table;
    for (int k = 0; k < TFormTable::KindCount; k += 2)
        table[size_t(k)] = PictureHolder(decodePicture("not a picture"));
    for (const Table *t : std::initializer_list<const Table *> { nullptr, &table }) {
        TFormTable d(t);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.GridPanel1->findChildren<QFrame *>().size(), TFormTable::KindCount);
        for (int k = 0; k < TFormTable::KindCount; ++k) {
            QVERIFY(d.pans[size_t(k)] && d.images[size_t(k)] && d.rbs[size_t(k)]);
            QVERIFY(!d.images[size_t(k)]->holder().hasReadablePicture());
        }
        d.reloadPictures();
        QTest::mouseClick(d.images[8], Qt::LeftButton, {}, d.images[8]->rect().center());
        QCOMPARE(colours(d), cells(8, u'F', u'M', u'H'));
        d.setChoice(11);
        QCOMPARE(d.choice(), 11);
    }
}

void TestFormTable::reloadPictures()
{
    Table table = fullTable();
    table[5] = PictureHolder();
    TFormTable d(&table);
    QCOMPARE(d.images[4]->holder().picture(), table[4].picture()); // shared, not decoded again
    QVERIFY(!d.images[5]->holder().hasReadablePicture());
    table[5] = PictureHolder(smallPicture(5));
    table[6] = PictureHolder();
    d.reloadPictures();
    QCOMPARE(d.images[5]->holder().picture(), table[5].picture());
    QVERIFY(!d.images[6]->holder().hasReadablePicture());
    QVERIFY(!d.images[5]->animate());
}

void TestFormTable::appearance()
{
    const Table table = fullTable();
    TFormTable d(&table);
    d.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d));

    QCOMPARE(d.windowTitle(), QStringLiteral("Редактирование"));
    QCOMPARE(d.size(), QSize(860, 730));
    QCOMPARE(d.minimumSize(), d.maximumSize());
    QCOMPARE(d.font().pixelSize(), 11);
    QCOMPARE(d.Panel1->geometry(), QRect(0, 679, 860, 51));
    QCOMPARE(d.GroupBox1->geometry(), QRect(0, 0, 860, 679));
    QCOMPARE(d.findChild<QWidget *>(QStringLiteral("ButtonGroup1")), d.ButtonGroup1);
    for (QToolButton *b : { d.ButtonCancel, d.ButtonOk }) {
        QCOMPARE(b->size(), QSize(42, 40));
        QCOMPARE(b->iconSize(), QSize(32, 32));
        QVERIFY(!b->icon().isNull());
        QVERIFY(d.Panel1->rect().contains(b->mapTo(d.Panel1, b->rect().bottomRight())));
    }
    QCOMPARE(d.ButtonCancel->toolTip(), QStringLiteral("Отменить изменения"));
    QCOMPARE(d.ButtonOk->toolTip(), QStringLiteral("Подтвердить изменения"));
    QVERIFY(d.ButtonCancel->mapTo(&d, QPoint()).x() < d.ButtonOk->mapTo(&d, QPoint()).x());

    QCOMPARE(d.eCode->geometry().topLeft(), QPoint(88, 16));
    QCOMPARE(d.eCode->width(), 209);
    QCOMPARE(d.eL->geometry().topLeft(), QPoint(88, 41));
    QCOMPARE(d.eL->width(), 209);
    QCOMPARE(d.Label1->text(), QStringLiteral("Код койки:"));
    QCOMPARE(d.Label2->text(), QStringLiteral("Название:"));
    QCOMPARE(d.Label3->text(), QStringLiteral("Вид койки:"));
    QCOMPARE(d.Label3->y(), 80);
    QCOMPARE(d.LabelHint->text(), QStringLiteral("Символ «;» в коде и названии недопустим."));
    const QList<QWidget *> fields = { d.Label1, d.eCode, d.Label2, d.eL, d.Label3, d.GridPanel1 };
    for (QWidget *w : fields)
        QVERIFY2(!w->geometry().intersects(d.LabelHint->geometry()), qPrintable(w->objectName()));

    // Grid geometry is relative to GroupBox1.
    QCOMPARE(d.GridPanel1->parentWidget(), d.GroupBox1);
    QCOMPARE(d.GridPanel1->geometry(), QRect(16, 104, 833, 553));
    auto *grid = qobject_cast<QGridLayout *>(d.GridPanel1->layout());
    QVERIFY(grid);
    for (int k = 0; k < TFormTable::KindCount; ++k) {
        QFrame *pan = d.pans[size_t(k)];
        QCOMPARE(pan->objectName(), QStringLiteral("pans%1").arg(k));
        int row = -1, column = -1, rows = 0, columns = 0;
        grid->getItemPosition(grid->indexOf(pan), &row, &column, &rows, &columns);
        QCOMPARE(row, k / 5);
        QCOMPARE(column, k % 5);
        const QRect g = pan->geometry();
        QVERIFY2(qAbs(g.x() - column * 833 / 5) <= 1 && qAbs(g.y() - row * 553 / 4) <= 1,
                 qPrintable(QStringLiteral("cell %1 at %2,%3").arg(k).arg(g.x()).arg(g.y())));
        QVERIFY(g.width() == 166 || g.width() == 167);
        QVERIFY(g.height() == 138 || g.height() == 139);

        QCOMPARE(d.rbs[size_t(k)]->text(), QString::number(k));
        QVERIFY(!d.rbs[size_t(k)]->autoExclusive());
        const QRect image = d.images[size_t(k)]->geometry();
        const QRect radio = d.rbs[size_t(k)]->geometry();
        QVERIFY(image.top() > 0 && image.left() > 0 && image.right() < g.width() - 1);
        QVERIFY(radio.top() > image.bottom() && radio.bottom() < g.height() - 1);
        QVERIFY(pan->autoFillBackground());
    }
}

QTEST_MAIN(TestFormTable)
#include "tst_formtable.moc"
