#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>

namespace kalvora::test {

// A 2x2 GIF89a with a four-colour table (0 red, 1 green, 2 blue, 3 white) and
// one frame per delay (in hundredths of a second). Frame i is filled with
// colour i % 4, except that a frame 2 is a blue/white checker board. The loop
// extension is written only when loopCount >= 0. A larger logical screen
// makes every frame that large once decoded, while the file stays tiny (a
// picture bomb): the 2x2 images sit in its top-left corner.
inline QByteArray animatedGif(const QList<int> &delays, int loopCount = 0,
                              QSize screen = QSize(2, 2))
{
    QByteArray gif("GIF89a");
    const auto le16 = [&gif](int v) {
        gif.append(char(v & 0xff));
        gif.append(char((v >> 8) & 0xff));
    };
    le16(screen.width());
    le16(screen.height());
    gif.append("\x81\x00\x00", 3); // global table of 4 colours
    gif.append("\xff\x00\x00"
               "\x00\xff\x00"
               "\x00\x00\xff"
               "\xff\xff\xff",
               12);
    if (loopCount >= 0) {
        gif.append("\x21\xff\x0b"
                   "NETSCAPE2.0"
                   "\x03\x01",
                   16);
        le16(loopCount);
        gif.append('\0');
    }
    for (int i = 0; i < delays.size(); ++i) {
        gif.append("\x21\xf9\x04\x04", 4); // control block, disposal "leave in place"
        le16(delays[i]);
        gif.append("\x00\x00", 2);
        gif.append('\x2c');
        le16(0);
        le16(0);
        le16(2);
        le16(2);
        gif.append('\0');
        const int pixels[4] = { i % 4, i == 2 ? 3 : i % 4, i == 2 ? 3 : i % 4, i % 4 };
        // LZW with a minimum code size of 2: 3-bit codes, a clear code (4)
        // before every pixel so that the code size never grows, then the end
        // code (5).
        QList<int> codes;
        for (int p : pixels)
            codes << 4 << p;
        codes << 5;
        QByteArray packed;
        int bits = 0;
        int used = 0;
        for (int code : std::as_const(codes)) {
            bits |= code << used;
            used += 3;
            while (used >= 8) {
                packed.append(char(bits & 0xff));
                bits >>= 8;
                used -= 8;
            }
        }
        if (used > 0)
            packed.append(char(bits & 0xff));
        gif.append('\x02');
        gif.append(char(packed.size()));
        gif.append(packed);
        gif.append('\0');
    }
    gif.append('\x3b');
    return gif;
}

} // namespace kalvora::test
