#include "TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <unistd.h>

namespace kalvora {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// The text of bytes that are valid UTF-8 (a sequence cut off at the end is
// not), or nothing.
std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    if (!bytes.isValidUtf8())
        return std::nullopt;
    return QString::fromUtf8(bytes);
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

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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
        const QByteArray head = nulByte >= 0 ? bytes.left(nulByte) : bytes;
        if (auto utf8 = strictUtf8(head)) {
            result.encoding = TextEncoding::Utf8;
            text = std::move(*utf8);
        } else {
            result.encoding = TextEncoding::Cp1251;
            text = decodeCp1251(head);
        }
    }
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
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

Expected<QByteArray> readWholeFile(const QString &path)
{
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        const int err = errno;
        return Expected<QByteArray>::failure(
            QStringLiteral("Cannot open file \"%1\". %2")
                .arg(QFileInfo(path).absoluteFilePath(),
                     err ? systemReason(err) : file.errorString()));
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Expected<QByteArray>::failure(
            QStringLiteral("Cannot read file \"%1\". %2")
                .arg(QFileInfo(path).absoluteFilePath(), file.errorString()));
    return bytes;
}

Expected<TextLines> readTextLines(const QString &path)
{
    auto bytes = readWholeFile(path);
    if (!bytes)
        return Expected<TextLines>::failure(bytes.error());
    return decodeTextLines(bytes.value());
}

Status writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    // Without a writable folder QSaveFile would fall back to writing the file in
    // place, which is exactly what must not happen.
    file.setDirectWriteFallback(false);
    const auto failure = [&](int err) {
        return QStringLiteral("Cannot create file \"%1\". %2")
            .arg(QFileInfo(path).absoluteFilePath(), err ? systemReason(err) : file.errorString());
    };
    errno = 0;
    // Unbuffered: a buffered write only fails when commit() flushes it, and
    // commit() then still puts the cut-short file in place of the old one
    // (a full disk would leave an empty bed file).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(errno);
    errno = 0;
    // The data must be on the disk before the new file replaces the old one;
    // commit() ignores the errors of its own sync.
    if (file.write(bytes) != bytes.size() || ::fsync(file.handle()) != 0) {
        const int err = errno;
        file.cancelWriting();
        return failure(err);
    }
    errno = 0;
    if (!file.commit())
        return failure(errno);
    return std::nullopt;
}

} // namespace kalvora
