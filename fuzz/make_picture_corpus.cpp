// make_picture_corpus FOLDER: writes the seed corpus of fuzz_picture, every
// file made here: GIFs (still, animated, a picture bomb), JPEGs (baseline,
// progressive, cut short, with an absurd declared size), and the other
// formats the decoder also takes (PNG, BMP, ICO, PPM, XPM).
//   build-fuzz/fuzz/make_picture_corpus fuzz/corpus/fuzz_picture

#include "TestPictures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <cstdio>

namespace {

QImage sample(QSize size, bool alpha)
{
    QImage image(size, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(alpha ? Qt::transparent : Qt::white);
    QPainter p(&image);
    p.setBrush(QColor(30, 90, 200));
    p.drawEllipse(QRect(QPoint(1, 1), size - QSize(2, 2)));
    p.end();
    return image;
}

QByteArray encoded(const QImage &image, const char *format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.setQuality(50);
    writer.write(image);
    return bytes;
}

// The JPEG with the size in its frame header replaced.
QByteArray withDeclaredSize(QByteArray jpeg, int width, int height)
{
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    if (sof >= 0) {
        jpeg[sof + 5] = char(height >> 8);
        jpeg[sof + 6] = char(height);
        jpeg[sof + 7] = char(width >> 8);
        jpeg[sof + 8] = char(width);
    }
    return jpeg;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_picture_corpus FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const QByteArray jpeg = encoded(sample(QSize(16, 12), false), "jpg");
    const struct {
        const char *name;
        QByteArray bytes;
    } seeds[] = {
        { "gif-still", kalvora::test::animatedGif({ 0 }, -1) },
        { "gif-three-frames", kalvora::test::animatedGif({ 0, 7, 15 }) },
        { "gif-bomb", kalvora::test::animatedGif(QList<int>(100, 0), 0, QSize(1000, 1000)) },
        { "gif-large-screen", kalvora::test::animatedGif({ 5 }, 0, QSize(4000, 4000)) },
        { "gif-cut-short", kalvora::test::animatedGif({ 0, 7, 15 }).chopped(20) },
        { "jpeg-baseline", jpeg },
        { "jpeg-progressive", encoded(sample(QSize(24, 16), false), "jpg", true) },
        { "jpeg-cut-in-half", jpeg.left(jpeg.size() / 2) },
        { "jpeg-declares-60000", withDeclaredSize(jpeg, 60000, 60000) },
        { "png-alpha", encoded(sample(QSize(8, 8), true), "png") },
        { "bmp", encoded(sample(QSize(4, 4), false), "bmp") },
        { "ico", encoded(sample(QSize(16, 16), true), "ico") },
        { "ppm", QByteArray("P6\n2 2\n255\n\xff\x00\x00\x00\xff\x00\x00\x00\xff\xff\xff\xff", 23) },
        { "xpm",
          "/* XPM */\nstatic char *x[] = {\"2 2 2 1\", \"a c #FF0000\", \"b c None\", "
          "\"ab\", \"ba\"};\n" },
    };
    for (const auto &seed : seeds) {
        QFile file(folder + u'/' + QString::fromLatin1(seed.name));
        if (!file.open(QIODevice::WriteOnly) || file.write(seed.bytes) != seed.bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", seed.name);
            return 1;
        }
    }
    return 0;
}
