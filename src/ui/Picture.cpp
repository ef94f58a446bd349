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
    // Frames are composed by the decoder; read them all.
    while (true) {
        QImage image = reader.read();
        if (image.isNull())
            break;
        const int delay = consoleDelay(reader.nextImageDelay());
        if (data->frames.empty())
            data->size = image.size();
        else if (image.size() != data->size)
            image = image.copy(QRect(QPoint(0, 0), data->size));
        data->frames.push_back({ image.convertToFormat(QImage::Format_ARGB32_Premultiplied), delay });
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
