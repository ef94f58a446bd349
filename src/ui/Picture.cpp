#include "Picture.h"

#include "Errors.h"
#include "settings/FileAccess.h"
#include "settings/Logging.h"

#include <QBuffer>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QPainter>

namespace kalvora {

int frameDelayMs(int hundredths)
{
    return hundredths <= 0 ? 50 : hundredths * 10;
}

namespace {

// Qt's limit for one decoded image, in MB: above the largest frame the
// console's own limits admit (8192 x 8192 pixels of 4 bytes, 256 MB).
constexpr int kQtAllocationLimitMb = 288;

// A decoder's frame delay is in milliseconds; the console counts it in
// hundredths of a second, a delay of 0 standing for 5.
int consoleDelay(int readerDelayMs)
{
    return frameDelayMs(readerDelayMs / 10);
}

// The delay of every image of a GIF as stored, in hundredths of a second (0
// for an image without a graphic control block). Qt's decoder reports its own
// replacement for delays of 0 and 1, so the console reads them itself. Empty
// when the bytes are not a GIF; stops at the first damaged block.
QList<int> gifDelays(const QByteArray &bytes)
{
    QList<int> delays;
    if (!bytes.startsWith("GIF87a") && !bytes.startsWith("GIF89a"))
        return delays;
    const auto byteAt = [&bytes](qsizetype i) { return i < bytes.size() ? quint8(bytes[i]) : 0; };
    const auto colourTable = [](quint8 flags) { return flags & 0x80 ? 3 << ((flags & 7) + 1) : 0; };
    // Skips data sub-blocks; returns the position after the terminator.
    const auto skipSubBlocks = [&](qsizetype i) {
        while (i < bytes.size() && byteAt(i) != 0)
            i += 1 + byteAt(i);
        return i + 1;
    };
    qsizetype i = 13 + colourTable(byteAt(10));
    int pending = 0;
    while (i < bytes.size()) {
        const quint8 block = byteAt(i);
        if (block == 0x21) {
            if (byteAt(i + 1) == 0xf9 && byteAt(i + 2) >= 4)
                pending = byteAt(i + 4) | (byteAt(i + 5) << 8);
            i = skipSubBlocks(i + 2);
        } else if (block == 0x2c) {
            delays.append(pending);
            pending = 0;
            i = skipSubBlocks(i + 10 + colourTable(byteAt(i + 9)) + 1);
        } else {
            break;
        }
    }
    return delays;
}

// The logical screen of a GIF, at which size every frame is composed; empty
// when the bytes are not a GIF.
QSize gifScreen(const QByteArray &bytes)
{
    if (bytes.size() < 10 || (!bytes.startsWith("GIF87a") && !bytes.startsWith("GIF89a")))
        return {};
    const auto le16 = [&bytes](int i) { return quint8(bytes[i]) | (quint8(bytes[i + 1]) << 8); };
    return QSize(le16(6), le16(8));
}

// Files decoded in this process, shared while any holder uses them. The key
// includes size and modification time, so a changed file is decoded anew.
QHash<QString, std::weak_ptr<const PictureData>> &pictureCache()
{
    static QHash<QString, std::weak_ptr<const PictureData>> cache;
    return cache;
}

} // namespace

Picture decodePicture(const QByteArray &bytes, const PictureLimits &limits)
{
    // Qt refuses a single image of more than 128 MB by default, which a plan
    // of 6000 x 6000 pixels (144 MB) already is; the console's own limits
    // decide instead, and Qt's stays a little above the largest frame they let
    // through.
    static const bool qtLimitRaised = [] {
        QImageReader::setAllocationLimit(kQtAllocationLimitMb);
        return true;
    }();
    Q_UNUSED(qtLimitRaised);

    auto data = std::make_shared<PictureData>();
    const auto overLimits = [&data] {
        data->frames.clear();
        data->size = QSize();
        data->cycleMs = 0;
        data->overLimits = true;
        return Picture(data);
    };
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QList<int> storedDelays = gifDelays(bytes);
    // What the header tells is checked before anything is decoded: every
    // frame of a GIF has the size of its logical screen.
    const QSize screen = gifScreen(bytes);
    if (const QSize declared = screen.isEmpty() ? reader.size() : screen; declared.isValid()) {
        const qint64 frames = std::max<qint64>(1, storedDelays.size());
        const qint64 framePixels = qint64(declared.width()) * declared.height();
        if (frames > limits.frames || framePixels > limits.pixels / frames)
            return overLimits();
    }
    qint64 pixels = 0;
    // Frames are composed by the decoder; read them all.
    while (true) {
        QImage image = reader.read();
        if (image.isNull())
            break;
        const qsizetype index = qsizetype(data->frames.size());
        if (index >= limits.frames)
            return overLimits();
        const int delay = index < storedDelays.size() ? frameDelayMs(storedDelays[index])
                                                      : consoleDelay(reader.nextImageDelay());
        if (data->frames.empty())
            data->size = image.size();
        else if (image.size() != data->size)
            image = image.copy(QRect(QPoint(0, 0), data->size));
        pixels += qint64(data->size.width()) * data->size.height();
        if (pixels > limits.pixels)
            return overLimits();
        data->frames.push_back(
            { std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied), delay });
        data->cycleMs += delay;
        if (!reader.supportsAnimation() || reader.imageCount() == 1)
            break;
        if (reader.imageCount() > 0 && int(data->frames.size()) >= reader.imageCount())
            break;
    }
    if (data->frames.empty())
        data->size = QSize();
    return data;
}

LoadOutcome PictureHolder::loadFromFile(const QString &path)
{
    const FileRead read = readRegularFile(path, kMaxFileBytes, Links::Follow);
    if (!read.ok() && read.problem != ReadProblem::TooLarge) {
        if (!read.missing())
            qCWarning(lcData).noquote()
                << readFailureText(path, read) + QLatin1String(": not loaded");
        return LoadOutcome::NotOpened;
    }
    const QString key = QFileInfo(path).absoluteFilePath() + u'|' + QString::number(read.size)
        + u'|' + QString::number(read.modifiedNs);
    Picture picture;
    {
        const auto it = pictureCache().constFind(key);
        if (it != pictureCache().constEnd())
            picture = it->lock();
    }
    if (!picture) {
        if (read.ok()) {
            picture = decodePicture(read.bytes);
        } else {
            auto tooLarge = std::make_shared<PictureData>();
            tooLarge->overLimits = true;
            picture = tooLarge;
        }
        if (picture->overLimits)
            qCWarning(lcData).noquote()
                << QStringLiteral(
                       "%1: the picture is larger than the console shows (at most %2 MB as a "
                       "file, %3 pixels in all its frames together, %4 frames): not shown")
                       .arg(QFileInfo(path).absoluteFilePath(),
                            QString::number(kMaxFileBytes / (1024 * 1024)),
                            QString::number(PictureLimits().pixels),
                            QString::number(PictureLimits().frames));
        pictureCache().insert(key, picture);
    }
    m_picture = picture;
    return picture->readable() ? LoadOutcome::Loaded : LoadOutcome::NotAPicture;
}

Picture PictureHolder::copyPicture() const
{
    if (!hasReadablePicture())
        throw KalvoraError(QStringLiteral("Could not load image. Invalid format"));
    return m_picture;
}

Picture builtInBillPicture()
{
    static const Picture picture = [] {
        auto data = std::make_shared<PictureData>();
        data->size = QSize(25, 25);
        const QColor rims[3] = { QColor(176, 120, 0), QColor(210, 150, 0), QColor(240, 185, 20) };
        for (int i = 0; i < 3; ++i) {
            QImage image(data->size, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            const qreal r = 9.0 + i;
            p.setPen(QPen(rims[i], 2));
            p.setBrush(QColor(255, 215, 64));
            p.drawEllipse(QPointF(12.5, 12.5), r, r);
            p.setPen(QPen(QColor(120, 70, 0), 2));
            p.drawLine(QPointF(10, 7), QPointF(10, 18));
            p.drawArc(QRectF(7.5, 7, 8, 6), -90 * 16, 180 * 16);
            p.drawLine(QPointF(8, 15.5), QPointF(14, 15.5));
            p.end();
            data->frames.push_back({ image, 150 });
            data->cycleMs += 150;
        }
        return Picture(data);
    }();
    return picture;
}

} // namespace kalvora
