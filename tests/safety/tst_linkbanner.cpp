#include "link/SoundPlayer.h"
#include "ui/Fonts.h"
#include "ui/LinkBanner.h"

#include <QApplication>
#include <QFile>
#include <QFontInfo>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

using namespace kalvora;
using namespace Qt::StringLiterals;

namespace {

const QString kTwoLines = u"Нет связи с сервером вызовов\nнет ответа 1 мин. 5 сек."_s;

// A plain control of one colour that counts the presses reaching it.
class Patch : public QWidget {
public:
    Patch(QWidget *parent, QColor colour, QRect geometry)
        : QWidget(parent)
    {
        QPalette p = palette();
        p.setColor(QPalette::Window, colour);
        setPalette(p);
        setAutoFillBackground(true);
        setGeometry(geometry);
        show();
    }
    int presses = 0;

protected:
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

bool whitish(QColor c)
{
    return c.red() > 200 && c.green() > 200 && c.blue() > 200;
}

// Rows of the image holding white text pixels.
QList<int> textRows(const QImage &image)
{
    QList<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (whitish(image.pixelColor(x, y))) {
                rows << y;
                break;
            }
        }
    }
    return rows;
}

} // namespace

class TestLinkBanner : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void drawsWhiteBoldTextOnRed();
    void liesAcrossThePanel_data();
    void liesAcrossThePanel();
    void pointerInputReachesWhatLiesBeneath();
    void staysAboveControlsMadeWhileShown();
    void demoFaultSoundIsPlayable_data();
    void demoFaultSoundIsPlayable();

private:
    QWidget *m_window = nullptr;
    Patch *m_panel = nullptr;
    LinkBanner *m_banner = nullptr;
};

void TestLinkBanner::init()
{
    m_window = new QWidget;
    m_window->resize(900, 600);
    m_panel = new Patch(m_window, Qt::green, QRect(400, 0, 500, 600));
    m_banner = new LinkBanner(m_window);
    m_banner->setText(kTwoLines);
    m_banner->placeOver(m_panel->geometry(), 39);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestLinkBanner::cleanup()
{
    delete m_window;
}

void TestLinkBanner::drawsWhiteBoldTextOnRed()
{
    QVERIFY(m_banner->isHidden()); // shown only while the link is lost
    m_banner->show();
    QCOMPARE(m_banner->text(), kTwoLines);
    QVERIFY(m_banner->font().bold());
    QCOMPARE(QFontInfo(m_banner->font()).pixelSize(), 16);
    QCOMPARE(m_banner->font().family(), consoleFamily());

    const QImage image = m_banner->grab().toImage();
    QCOMPARE(image.size(), m_banner->size());
    int red = 0;
    int white = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c == LinkBanner::background();
            white += whitish(c);
            QVERIFY2(c.green() == c.blue() && c.red() >= c.green(), // red, white or between
                     qPrintable(u"(%1, %2)"_s.arg(x).arg(y)));
        }
    }
    QCOMPARE(image.pixelColor(0, 0), QColor(192, 0, 0));
    QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1), QColor(192, 0, 0));
    QVERIFY2(red > white && white > 200, qPrintable(u"%1 red, %2 white"_s.arg(red).arg(white)));

    // Two lines of text: white rows in two separate bands.
    const QList<int> rows = textRows(image);
    QVERIFY(!rows.isEmpty());
    int bands = 1;
    for (qsizetype i = 1; i < rows.size(); ++i)
        bands += rows[i] > rows[i - 1] + 1;
    QCOMPARE(bands, 2);
}

void TestLinkBanner::liesAcrossThePanel_data()
{
    QTest::addColumn<int>("panelWidth");
    QTest::addColumn<int>("coverHeight");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("minLines"); // of text, each a list row high
    QTest::addColumn<int>("maxLines");
    QTest::addRow("two lines over the titles") << 500 << 39 << kTwoLines << 2 << 2;
    QTest::addRow("down to the titles of a low list") << 500 << 120 << kTwoLines << 2 << 2;
    QTest::addRow("narrow panel wraps") << 150 << 0 << kTwoLines << 4 << 6;
    QTest::addRow("no text, minimum height") << 500 << 0 << QString() << 0 << 0;
    QTest::addRow("negative cover") << 500 << -50 << QString() << 0 << 0;
}

void TestLinkBanner::liesAcrossThePanel()
{
    QFETCH(int, panelWidth);
    QFETCH(int, coverHeight);
    QFETCH(QString, text);
    QFETCH(int, minLines);
    QFETCH(int, maxLines);
    m_banner->setText(text);
    const QRect panel(900 - panelWidth, 0, panelWidth, 600);
    m_banner->placeOver(panel, coverHeight);
    QCOMPARE(m_banner->x(), panel.x());
    QCOMPARE(m_banner->y(), panel.y());
    QCOMPARE(m_banner->width(), panelWidth);
    const int pitch = lineMetrics(m_banner->font()).height; // a list row's
    const int atLeast = std::max({ LinkBanner::kMinimumHeight, coverHeight, minLines * pitch });
    const int atMost =
        std::max({ LinkBanner::kMinimumHeight, coverHeight, maxLines * pitch + pitch / 2 });
    QVERIFY2(atLeast <= m_banner->height() && m_banner->height() <= atMost,
             qPrintable(u"%1 not in %2..%3"_s.arg(m_banner->height()).arg(atLeast).arg(atMost)));
}

void TestLinkBanner::pointerInputReachesWhatLiesBeneath()
{
    m_banner->show();
    const QPoint inside = m_banner->geometry().center();
    QCOMPARE(m_window->childAt(inside), m_panel);
    QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {}, inside);
    QTRY_COMPARE(m_panel->presses, 1);
}

void TestLinkBanner::staysAboveControlsMadeWhileShown()
{
    m_banner->show();
    // Like the labels of a call list line made on the next tick.
    auto *later = new Patch(m_window, Qt::blue, QRect(400, 0, 500, 60));
    const QPoint inside = m_banner->geometry().center();
    QCOMPARE(m_window->grab().toImage().pixelColor(inside), LinkBanner::background());
    QCOMPARE(m_window->childAt(inside), later); // and still takes no input

    m_banner->hide();
    QCOMPARE(m_window->grab().toImage().pixelColor(inside), QColor(Qt::blue));
}

void TestLinkBanner::demoFaultSoundIsPlayable_data()
{
    QTest::addColumn<bool>("cut"); // only its first half
    QTest::addColumn<int>("alerts");
    QTest::addRow("the demo's fault.wav") << false << 0;
    QTest::addRow("cut in half") << true << 1;
}

void TestLinkBanner::demoFaultSoundIsPlayable()
{
    QFETCH(bool, cut);
    QFETCH(int, alerts);
    QFile demo(QStringLiteral(KALVORA_DEMO_DATA "/fault.wav"));
    QVERIFY(demo.open(QIODevice::ReadOnly));
    QByteArray bytes = demo.readAll();
    QVERIFY(bytes.size() > 44);
    if (cut)
        bytes.truncate(bytes.size() / 2);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"fault.wav"_s);
    QFile copy(path);
    QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(bytes) == bytes.size());
    copy.close();

    // The player checks a file before it hands it to the sound system; a
    // file that fails the check gives the alert at once.
    SoundPlayer sounds;
    sounds.play(path);
    QCOMPARE(sounds.alerts(), alerts);
}

QTEST_MAIN(TestLinkBanner)
#include "tst_linkbanner.moc"
