#include "Picture.h"

#include "Errors.h"

#include <QBuffer>
#include <QDateTime>
#include <QFile>
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

// Files decoded in this process, shared while any holder uses them. The key
// includes size and modification time, so a changed file is decoded anew.
QHash<QString, std::weak_ptr<const PictureData>> &pictureCache()
{
    static QHash<QString, std::weak_ptr<const PictureData>> cache;
    return cache;
}

} // namespace

Picture decodePicture(const QByteArray &bytes)
{
    auto data = std::make_shared<PictureData>();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QList<int> storedDelays = gifDelays(bytes);
    // Frames are composed by the decoder; read them all.
    while (true) {
        QImage image = reader.read();
        if (image.isNull())
            break;
        const qsizetype index = qsizetype(data->frames.size());
        const int delay = index < storedDelays.size() ? frameDelayMs(storedDelays[index])
                                                      : consoleDelay(reader.nextImageDelay());
        if (data->frames.empty())
            data->size = image.size();
        else if (image.size() != data->size)
            image = image.copy(QRect(QPoint(0, 0), data->size));
        data->frames.push_back(
            { image.convertToFormat(QImage::Format_ARGB32_Premultiplied), delay });
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return LoadOutcome::NotOpened;
    const QFileInfo info(path);
    const QString key = info.absoluteFilePath() + u'|' + QString::number(info.size()) + u'|'
        + QString::number(info.lastModified().toMSecsSinceEpoch());
    Picture picture;
    {
        const auto it = pictureCache().constFind(key);
        if (it != pictureCache().constEnd())
            picture = it->lock();
    }
    if (!picture) {
        picture = decodePicture(file.readAll());
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
