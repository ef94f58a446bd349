// Picture decoding: any bytes as "plan.jpg" or a bed's picture. Decoding
// stays within its limits (frames, and pixels of all frames together), and
// what it gives is either nothing (an unreadable picture, with no size and no
// cycle) or frames that all have the picture's size, the painting format and
// a delay of the console's kind, adding up to the cycle; and decoding the same
// bytes again gives the same picture.
//
// The limits are smaller than the console's, so that each input is quick; the
// seed corpus in fuzz/corpus/fuzz_picture is made by make_picture_corpus.

#include "FuzzSupport.h"
#include "ui/Picture.h"

#include <QGuiApplication>

#include <memory>

using namespace kalvora;
using kalvora::fuzz::check;

namespace {

const PictureLimits kLimits { 1024 * 1024, 64 };

QByteArray describe(const Picture &p)
{
    return "frames " + QByteArray::number(qsizetype(p->frames.size())) + ", size "
        + QByteArray::number(p->size.width()) + "x" + QByteArray::number(p->size.height())
        + ", cycle " + QByteArray::number(p->cycleMs) + " ms"
        + (p->overLimits ? ", over the limits" : "");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.gui.imageio*=false");
    static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const Picture picture = decodePicture(bytes, kLimits);
    check(bool(picture), "no picture data at all");
    check(picture->readable() == !picture->frames.empty(), "readable does not mean frames");

    if (!picture->readable()) {
        check(picture->size.isEmpty() && picture->cycleMs == 0,
              "an unreadable picture has a size or a cycle", describe(picture));
        return 0;
    }
    check(!picture->overLimits, "a picture over the limits has frames", describe(picture));
    check(!picture->size.isEmpty(), "a readable picture has no size", describe(picture));
    const qint64 frames = qint64(picture->frames.size());
    check(frames <= kLimits.frames, "more frames than the limit", describe(picture));
    check(frames * picture->size.width() * picture->size.height() <= kLimits.pixels,
          "more pixels than the limit", describe(picture));
    qint64 cycle = 0;
    for (const PictureData::Frame &frame : picture->frames) {
        check(frame.image.size() == picture->size, "a frame of another size", describe(picture));
        check(frame.image.format() == QImage::Format_ARGB32_Premultiplied,
              "a frame not ready to paint", describe(picture));
        check(frame.delayMs >= 10 && frame.delayMs % 10 == 0,
              "a frame delay that is not whole hundredths of a second",
              QByteArray::number(frame.delayMs));
        cycle += frame.delayMs;
    }
    check(cycle == picture->cycleMs, "the cycle is not the sum of the delays", describe(picture));
    check(picture->animated() == (frames > 1), "animated does not mean several frames");

    const Picture again = decodePicture(bytes, kLimits);
    check(again->frames.size() == picture->frames.size() && again->size == picture->size
              && again->cycleMs == picture->cycleMs,
          "decoding again gives another picture", describe(picture) + " / " + describe(again));
    for (size_t i = 0; i < picture->frames.size(); ++i)
        check(again->frames[i].image == picture->frames[i].image,
              "decoding again gives other pixels", "frame " + QByteArray::number(qsizetype(i)));
    return 0;
}
