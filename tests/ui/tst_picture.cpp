#include "TestFiles.h"
#include "TestPictures.h"
#include "ui/Errors.h"
#include "ui/Picture.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kalvora;
using namespace Qt::StringLiterals;
using kalvora::test::writeAll;

namespace {

QByteArray jpeg(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 90, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

} // namespace

class TestPicture : public QObject {
    Q_OBJECT
private slots:
    void animatedGifKeepsEveryFrameWithItsDelay_data();
    void animatedGifKeepsEveryFrameWithItsDelay();
    void jpegIsOneFrame();
    void picturesBeyondTheLimitsAreUnreadable_data();
    void picturesBeyondTheLimitsAreUnreadable();
    void bytesThatAreNoPictureGiveNoFrames_data();
    void bytesThatAreNoPictureGiveNoFrames();
    void loadingKeepsOrReplacesThePicture_data();
    void loadingKeepsOrReplacesThePicture();
    void sameFileIsDecodedOnce();
    void changedFileIsDecodedAnew_data();
    void changedFileIsDecodedAnew();
    void builtInBillIsThreeFramesOf150Ms();

private:
    QTemporaryDir m_dir;
};

void TestPicture::animatedGifKeepsEveryFrameWithItsDelay_data()
{
    QTest::addColumn<QList<int>>("hundredths");
    QTest::addColumn<int>("loopCount");
    QTest::addColumn<QList<int>>("delaysMs");

    QTest::addRow("delays 0, 7, 15; endless loop")
        << QList<int> { 0, 7, 15 } << 0 << QList<int> { 50, 70, 150 };
    QTest::addRow("delays 1, 2; no loop extension")
        << QList<int> { 1, 2 } << -1 << QList<int> { 10, 20 };
    QTest::addRow("delays 0, 0, 15, 100; played once")
        << QList<int> { 0, 0, 15, 100 } << 1 << QList<int> { 50, 50, 150, 1000 };
}

void TestPicture::animatedGifKeepsEveryFrameWithItsDelay()
{
    QFETCH(QList<int>, hundredths);
    QFETCH(int, loopCount);
    QFETCH(QList<int>, delaysMs);

    const Picture picture = decodePicture(test::animatedGif(hundredths, loopCount));
    QVERIFY(picture);
    QCOMPARE(picture->size, QSize(2, 2));
    QCOMPARE(int(picture->frames.size()), delaysMs.size());
    QVERIFY(picture->animated());
    qint64 cycle = 0;
    for (int i = 0; i < delaysMs.size(); ++i) {
        QCOMPARE(picture->frames[size_t(i)].delayMs, delaysMs[i]);
        cycle += delaysMs[i];
    }
    QCOMPARE(picture->cycleMs, cycle);

    // Each frame holds its own pixels: red, green, then a blue/white checker.
    const auto pixel = [&](int frame, int x, int y) {
        return QColor(picture->frames[size_t(frame)].image.pixel(x, y));
    };
    QCOMPARE(pixel(0, 1, 1), QColor(Qt::red));
    QCOMPARE(pixel(1, 0, 0), QColor(Qt::green));
    if (delaysMs.size() > 2) {
        QCOMPARE(pixel(2, 0, 0), QColor(Qt::blue));
        QCOMPARE(pixel(2, 1, 0), QColor(Qt::white));
    }
}

void TestPicture::jpegIsOneFrame()
{
    const Picture picture = decodePicture(jpeg(QSize(8, 6)));
    QVERIFY(picture->readable());
    QVERIFY(!picture->animated());
    QCOMPARE(picture->frames.size(), size_t(1));
    QCOMPARE(picture->size, QSize(8, 6));
}

void TestPicture::picturesBeyondTheLimitsAreUnreadable_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("pixels"); // the limits; 0: the console's own
    QTest::addColumn<int>("frames");
    QTest::addColumn<QSize>("size"); // of a readable picture; empty: beyond the limits

    const auto gif = [](int frames, QSize screen) {
        return test::animatedGif(QList<int>(frames, 0), 0, screen);
    };
    // 23 KB that would need 4 GB decoded: refused before anything is decoded.
    QTest::addRow("GIF of 1000 x 1000 pixels and 1000 frames")
        << gif(1000, QSize(1000, 1000)) << qint64(0) << 0 << QSize();
    QTest::addRow("GIF of 65535 x 65535 pixels")
        << gif(1, QSize(65535, 65535)) << qint64(0) << 0 << QSize();
    QTest::addRow("GIF of 1001 frames") << gif(1001, QSize(2, 2)) << qint64(0) << 0 << QSize();
    QTest::addRow("GIF of 1000 frames") << gif(1000, QSize(2, 2)) << qint64(0) << 0 << QSize(2, 2);
    // A plan of 6000 x 6000 pixels (144 MB decoded) was more than Qt's own
    // limit of 128 MB for one image: it is shown now.
    QTest::addRow("JPEG plan of 6000 x 6000 pixels")
        << jpeg(QSize(6000, 6000)) << qint64(0) << 0 << QSize(6000, 6000);
    QTest::addRow("frames one pixel over the budget")
        << gif(3, QSize(10, 10)) << qint64(299) << 10 << QSize();
    QTest::addRow("frames that fill the budget")
        << gif(3, QSize(10, 10)) << qint64(300) << 10 << QSize(10, 10);
    QTest::addRow("JPEG one pixel over the budget")
        << jpeg(QSize(200, 100)) << qint64(19999) << 10 << QSize();
    QTest::addRow("frames over the count") << gif(11, QSize(2, 2)) << qint64(1000) << 10 << QSize();
}

void TestPicture::picturesBeyondTheLimitsAreUnreadable()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, pixels);
    QFETCH(int, frames);
    QFETCH(QSize, size);
    const PictureLimits limits = pixels > 0 ? PictureLimits { pixels, frames } : PictureLimits();

    const Picture picture = decodePicture(bytes, limits);
    QCOMPARE(picture->readable(), !size.isEmpty());
    QCOMPARE(picture->overLimits, size.isEmpty());
    QCOMPARE(picture->size, size);
    if (size.isEmpty()) {
        QVERIFY(picture->frames.empty());
        QCOMPARE(picture->cycleMs, 0);
    }
}

void TestPicture::bytesThatAreNoPictureGiveNoFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::addRow("empty") << QByteArray();
    QTest::addRow("text") << QByteArray("101;Bed 1;0;120;80;0\r\n");
    QTest::addRow("GIF signature only") << QByteArray("GIF89a");
    QTest::addRow("JPEG start marker only") << QByteArray("\xff\xd8\xff\xe0", 4);
}

void TestPicture::bytesThatAreNoPictureGiveNoFrames()
{
    QFETCH(QByteArray, bytes);

    const Picture picture = decodePicture(bytes);
    QVERIFY(picture);
    QVERIFY(!picture->readable());
    QVERIFY(picture->frames.empty());
    QCOMPARE(picture->cycleMs, 0);
}

void TestPicture::loadingKeepsOrReplacesThePicture_data()
{
    QTest::addColumn<QString>("file"); // none: the holder is never loaded
    QTest::addColumn<bool>("heldBill"); // what the holder held before
    QTest::addColumn<LoadOutcome>("outcome");
    QTest::addColumn<QString>("copied"); // "bill", "file" or "error"

    QTest::addRow("missing file keeps the old picture")
        << u"no-such.gif"_s << true << LoadOutcome::NotOpened << u"bill"_s;
    QTest::addRow("garbage replaces the old picture")
        << u"garbage.gif"_s << true << LoadOutcome::NotAPicture << u"error"_s;
    QTest::addRow("empty file replaces the old picture")
        << u"empty.jpg"_s << true << LoadOutcome::NotAPicture << u"error"_s;
    QTest::addRow("picture replaces the old one")
        << u"plan.jpg"_s << true << LoadOutcome::Loaded << u"file"_s;
    QTest::addRow("folder of that name keeps the old picture")
        << u"folder.gif"_s << true << LoadOutcome::NotOpened << u"bill"_s;
    // A FIFO would block the start in open(), /dev/zero would be read until
    // memory ran out: neither is opened, as for a file that cannot be.
    QTest::addRow("FIFO keeps the old picture")
        << u"fifo.jpg"_s << true << LoadOutcome::NotOpened << u"bill"_s;
    QTest::addRow("link to /dev/zero keeps the old picture")
        << u"zero.gif"_s << true << LoadOutcome::NotOpened << u"bill"_s;
    QTest::addRow("link to a picture elsewhere loads it")
        << u"linked.jpg"_s << true << LoadOutcome::Loaded << u"file"_s;
    QTest::addRow("missing file into an empty holder")
        << u"no-such.gif"_s << false << LoadOutcome::NotOpened << u"error"_s;
    QTest::addRow("never loaded") << QString() << false << LoadOutcome::NotOpened << u"error"_s;
}

void TestPicture::loadingKeepsOrReplacesThePicture()
{
    QFETCH(QString, file);
    QFETCH(bool, heldBill);
    QFETCH(LoadOutcome, outcome);
    QFETCH(QString, copied);

    QVERIFY(writeAll(m_dir.filePath(u"garbage.gif"_s), "this is not a picture"));
    QVERIFY(writeAll(m_dir.filePath(u"empty.jpg"_s), QByteArray()));
    QVERIFY(writeAll(m_dir.filePath(u"plan.jpg"_s), jpeg(QSize(5, 4))));
    QVERIFY(QDir(m_dir.path()).mkpath(u"folder.gif"_s));
    ::mkfifo(QFile::encodeName(m_dir.filePath(u"fifo.jpg"_s)).constData(), 0644);
    QFile::link(u"/dev/zero"_s, m_dir.filePath(u"zero.gif"_s));
    QFile::link(m_dir.filePath(u"plan.jpg"_s), m_dir.filePath(u"linked.jpg"_s));

    PictureHolder holder(heldBill ? builtInBillPicture() : Picture());
    if (!file.isEmpty())
        QCOMPARE(holder.loadFromFile(m_dir.filePath(file)), outcome);
    if (copied == u"error") {
        QString error = u"<no error>"_s;
        try {
            holder.copyPicture();
        } catch (const KalvoraError &e) {
            error = e.message();
        }
        QCOMPARE(error, u"Could not load image. Invalid format"_s);
    } else {
        QCOMPARE(holder.copyPicture(), holder.picture()); // a copy shares the data
        QCOMPARE(holder.picture() == builtInBillPicture(), copied == u"bill");
        QCOMPARE(holder.picture()->size, copied == u"bill" ? QSize(25, 25) : QSize(5, 4));
    }
}

void TestPicture::sameFileIsDecodedOnce()
{
    const QString path = m_dir.filePath(u"bed0.gif"_s);
    QVERIFY(writeAll(path, test::animatedGif({ 0, 7, 15 })));

    PictureHolder first;
    PictureHolder second;
    QCOMPARE(first.loadFromFile(path), LoadOutcome::Loaded);
    QCOMPARE(second.loadFromFile(path), LoadOutcome::Loaded);
    QCOMPARE(second.picture(), first.picture());
}

void TestPicture::changedFileIsDecodedAnew_data()
{
    QTest::addColumn<QList<int>>("newDelays");

    QTest::addRow("rewritten with another size") << QList<int> { 20, 20 };
    QTest::addRow("rewritten with the same size") << QList<int> { 20, 30, 40 };
}

void TestPicture::changedFileIsDecodedAnew()
{
    QFETCH(QList<int>, newDelays);

    const QString path = m_dir.filePath(u"redbed3.gif"_s);
    QVERIFY(writeAll(path, test::animatedGif({ 0, 7, 15 })));
    PictureHolder before;
    QCOMPARE(before.loadFromFile(path), LoadOutcome::Loaded);

    // The new file is stamped a minute later, as a file edited afterwards is.
    QVERIFY(writeAll(path, test::animatedGif(newDelays)));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                             QFileDevice::FileModificationTime));
    file.close();

    PictureHolder after;
    QCOMPARE(after.loadFromFile(path), LoadOutcome::Loaded);
    QVERIFY(after.picture() != before.picture());
    QCOMPARE(after.picture()->frames.size(), size_t(newDelays.size()));
    QCOMPARE(after.picture()->frames[1].delayMs, newDelays[1] * 10);
    QCOMPARE(before.picture()->frames.size(), size_t(3)); // a holder keeps what it showed
}

void TestPicture::builtInBillIsThreeFramesOf150Ms()
{
    const Picture bill = builtInBillPicture();
    QCOMPARE(bill->size, QSize(25, 25));
    QCOMPARE(bill->frames.size(), size_t(3));
    for (const PictureData::Frame &frame : bill->frames) {
        QCOMPARE(frame.delayMs, 150);
        QCOMPARE(frame.image.size(), QSize(25, 25));
        QCOMPARE(qAlpha(frame.image.pixel(0, 0)), 0); // transparent background
        QCOMPARE(qAlpha(frame.image.pixel(24, 24)), 0);
    }
    QCOMPARE(bill->cycleMs, 450);
    QVERIFY(bill->frames[0].image != bill->frames[1].image);
}

QTEST_MAIN(TestPicture)
#include "tst_picture.moc"
