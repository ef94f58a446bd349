#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <vector>

namespace kalvora {

// Decoded picture data, shared (never copied) by every control that shows the
// same picture: a thousand beds of one kind hold one set of frames.
struct PictureData {
    struct Frame {
        QImage image; // premultiplied ARGB, ready to paint
        int delayMs = 0; // how long the frame stays when animated
    };
    std::vector<Frame> frames; // empty when the data is not a readable picture
    QSize size;
    qint64 cycleMs = 0; // sum of the frame delays
    // The bytes were a picture beyond the decoding limits (then unreadable).
    bool overLimits = false;

    bool readable() const { return !frames.empty(); }
    bool animated() const { return frames.size() > 1; }
};

using Picture = std::shared_ptr<const PictureData>;

// A frame delay as stored in a GIF, in hundredths of a second, becomes this
// many milliseconds on the console: a delay of 0 counts as 5 (50 ms).
//   0 => 50   7 => 70   15 => 150
int frameDelayMs(int hundredths);

// How much a picture may cost when decoded: its frames together, each at the
// picture's full size, and their number. A picture beyond either is treated
// as one that is not readable, without being decoded where its header tells
// (a GIF of 1000 frames of 1000 x 1000 pixels fits in 23 KB and would need
// 4 GB). The default admits a floor plan of 8192 x 8192 pixels (256 MB
// decoded), or 1000 frames of 256 x 256.
struct PictureLimits {
    qint64 pixels = qint64(8192) * 8192;
    int frames = 1000;
};

// Decodes picture bytes (JPEG or GIF, animated GIFs with every frame). Bytes
// that are not a readable picture, or a picture beyond the limits, give data
// without frames.
Picture decodePicture(const QByteArray &bytes, const PictureLimits &limits = {});

// Outcome of loading a file into a picture holder.
enum class LoadOutcome {
    Loaded, // the file was a readable picture
    NotOpened, // the file could not be opened: the holder keeps its old data
    NotAPicture, // the file opened but is not a picture: the holder now holds unreadable data
};

// The picture part of a picture control: what it shows, loaded from a file or
// copied from another holder.
class PictureHolder {
public:
    PictureHolder() = default;
    explicit PictureHolder(Picture picture)
        : m_picture(std::move(picture))
    {
    }

    // The largest picture file read; a larger one is not a readable picture.
    static constexpr qint64 kMaxFileBytes = 64 * 1024 * 1024;

    // Loading never raises an error. Only a regular file is opened, without
    // blocking: a FIFO, socket or device (or a link to one) counts as a file
    // that cannot be opened. Files are decoded once per process and shared
    // while any holder still shows them. A picture that is beyond the limits,
    // or a file that cannot be opened for another reason than its absence, is
    // logged (category kalvora.data).
    LoadOutcome loadFromFile(const QString &path);

    // The data for a copy of this holder. A holder with no readable picture
    // raises KalvoraError "Could not load image. Invalid format".
    Picture copyPicture() const;

    const Picture &picture() const { return m_picture; }
    void setPicture(Picture picture) { m_picture = std::move(picture); }
    bool hasReadablePicture() const { return m_picture && m_picture->readable(); }

private:
    Picture m_picture;
};

// The bill picture the console carries with it: 25 by 25 pixels, three frames
// of 150 ms, transparent background.
Picture builtInBillPicture();

} // namespace kalvora
