#include "TextFile.h"

#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace kalvora {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// Counts the well-formed multi-byte sequences of 8-bit text and its
// ill-formed parts, each maximal ill-formed part once (as a decoder replaces
// it by one U+FFFD). Sequences follow the table of well-formed UTF-8.
struct Utf8Census {
    qsizetype multiByte = 0;
    qsizetype illFormed = 0;
};

Utf8Census utf8Census(QByteArrayView bytes)
{
    Utf8Census census;
    const qsizetype n = bytes.size();
    const auto at = [&bytes](qsizetype i) { return quint8(bytes[i]); };
    for (qsizetype i = 0; i < n;) {
        const quint8 lead = at(i);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        quint8 low = 0x80, high = 0xBF; // range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            ++census.illFormed;
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        for (int k = 0; k < more; ++k, ++j) {
            const quint8 lo = k == 0 ? low : 0x80, hi = k == 0 ? high : 0xBF;
            if (j >= n || at(j) < lo || at(j) > hi)
                break;
        }
        if (j == i + 1 + more)
            ++census.multiByte;
        else
            ++census.illFormed;
        i = j;
    }
    return census;
}

// Runs iconv over the whole input; characters it cannot convert are replaced
// by `replacement` (already in the target encoding).
QByteArray iconvConvert(const char *to, const char *from, const QByteArray &input,
                        const QByteArray &replacement, int inputUnit)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray out;
    out.resize(input.size() * 4 + 16);
    char *in = const_cast<char *>(input.constData());
    size_t inLeft = size_t(input.size());
    char *outPtr = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        if (r != size_t(-1))
            break;
        if (errno == E2BIG) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = size_t(out.size() - used);
            continue;
        }
        // An input character the target cannot hold: write the replacement.
        if (outLeft < size_t(replacement.size())) {
            const qsizetype used = outPtr - out.data();
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = size_t(out.size() - used);
        }
        std::memcpy(outPtr, replacement.constData(), size_t(replacement.size()));
        outPtr += replacement.size();
        outLeft -= size_t(replacement.size());
        size_t skip = size_t(inputUnit);
        if (inputUnit == 2 && inLeft >= 4 && (uchar(in[1]) & 0xFC) == 0xD8
            && (uchar(in[3]) & 0xFC) == 0xDC)
            skip = 4; // a surrogate pair is one character
        skip = std::min(skip, inLeft);
        in += skip;
        inLeft -= skip;
    }
    iconv_close(cd);
    out.resize(outPtr - out.data());
    return out;
}

// Unpaired surrogates (a damaged UTF-16 file) become U+FFFD, as ill-formed
// UTF-8 does: no encoding could write them back as they were read.
void replaceUnpairedSurrogates(QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (text.at(i).isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
}

QStringList splitLines(QStringView text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c == u'\r' || c == u'\n') {
            lines.append(text.mid(start, i - start).toString());
            if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < n)
        lines.append(text.mid(start).toString());
    return lines;
}

uint unit(char c)
{
    return uchar(c);
}
uint unit(QChar c)
{
    return c.unicode();
}

// Line ends in the text (CR LF counting once).
template<class View> qsizetype countLineEnds(View text)
{
    qsizetype ends = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const uint c = unit(text[i]);
        if (c == '\r' || c == '\n') {
            ++ends;
            if (c == '\r' && i + 1 < text.size() && unit(text[i + 1]) == '\n')
                ++i;
        }
    }
    return ends;
}

// Lines that hold a character above U+0020 (in 8-bit text every non-ASCII
// byte is one), as a reader would keep them.
template<class View> qsizetype countTextLines(View text)
{
    qsizetype lines = 0;
    bool holdsText = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const uint c = unit(text[i]);
        if (c == '\r' || c == '\n') {
            lines += holdsText ? 1 : 0;
            holdsText = false;
        } else if (c > 0x20) {
            holdsText = true;
        }
    }
    return lines + (holdsText ? 1 : 0);
}

} // namespace

QString decodeCp1251(const QByteArray &bytes)
{
    // Every byte has a meaning in Windows-1251 except 0x98; UTF-16 output.
    const QByteArray utf16 =
        iconvConvert("UTF-16LE", "WINDOWS-1251", bytes, QByteArray("\xFD\xFF", 2), 1);
    return QString(reinterpret_cast<const QChar *>(utf16.constData()), utf16.size() / 2);
}

QByteArray encodeCp1251(QStringView text)
{
    const QByteArray utf16(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    return iconvConvert("WINDOWS-1251", "UTF-16LE", utf16, QByteArray("?"), 2);
}

bool isMostlyUtf8(QByteArrayView bytes)
{
    if (bytes.isValidUtf8())
        return true;
    const Utf8Census census = utf8Census(bytes);
    return census.multiByte >= 4 * census.illFormed;
}

TextLines decodeTextLines(const QByteArray &bytes)
{
    TextLines result;
    QString text;
    // The byte-order mark is taken off here; the decoders must keep a second
    // one, which is text (they would drop it too by default).
    constexpr auto flags =
        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom;
    if (bytes.startsWith(kUtf8Bom)) {
        result.encoding = TextEncoding::Utf8Bom;
        text = QStringDecoder(QStringDecoder::Utf8, flags).decode(bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE")) {
        result.encoding = TextEncoding::Utf16Le;
        text = QStringDecoder(QStringDecoder::Utf16LE, flags).decode(bytes.mid(2));
        replaceUnpairedSurrogates(text);
    } else if (bytes.startsWith("\xFE\xFF")) {
        result.encoding = TextEncoding::Utf16Be;
        text = QStringDecoder(QStringDecoder::Utf16BE, flags).decode(bytes.mid(2));
        replaceUnpairedSurrogates(text);
    } else {
        // In an 8-bit text the NUL that ends it is a zero byte: what follows
        // (junk left by a crash, say) must not decide the encoding.
        const qsizetype nulByte = bytes.indexOf('\0');
        const QByteArrayView head =
            QByteArrayView(bytes).first(nulByte >= 0 ? nulByte : bytes.size());
        if (nulByte >= 0) {
            result.nulLine = countLineEnds(head) + 1;
            result.linesAfterNul = countTextLines(QByteArrayView(bytes).sliced(nulByte + 1));
        }
        if (isMostlyUtf8(head)) {
            result.encoding = TextEncoding::Utf8;
            text = QString::fromUtf8(head);
        } else {
            result.encoding = TextEncoding::Cp1251;
            text = decodeCp1251(head.toByteArray());
        }
        result.lines = splitLines(text);
        return result;
    }
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0) {
        result.nulLine = countLineEnds(QStringView(text).left(nul)) + 1;
        result.linesAfterNul = countTextLines(QStringView(text).mid(nul + 1));
        text.truncate(nul);
    }
    result.lines = splitLines(text);
    return result;
}

QByteArray encodeTextLines(const QStringList &lines, TextEncoding encoding)
{
    QString text;
    qsizetype total = 0;
    for (const QString &line : lines)
        total += line.size() + 2;
    text.reserve(total);
    for (const QString &line : lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    switch (encoding) {
    case TextEncoding::Utf8:
        return text.toUtf8();
    case TextEncoding::Utf8Bom:
        return QByteArray(kUtf8Bom) + text.toUtf8();
    case TextEncoding::Utf16Le: {
        QStringEncoder enc(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
        return enc.encode(text);
    }
    case TextEncoding::Utf16Be: {
        QStringEncoder enc(QStringEncoder::Utf16BE, QStringEncoder::Flag::WriteBom);
        return enc.encode(text);
    }
    case TextEncoding::Cp1251:
        return encodeCp1251(text);
    }
    return {};
}

Expected<TextLines> readTextLines(const QString &path, qint64 maxBytes, Links links)
{
    const FileRead read = readRegularFile(path, maxBytes, links);
    if (!read.ok())
        return Expected<TextLines>::failure(readFailureText(path, read));
    return decodeTextLines(read.bytes);
}

} // namespace kalvora
