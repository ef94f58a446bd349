#pragma once

#include "Expected.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kalvora {

// How a text file was (or is to be) encoded.
enum class TextEncoding {
    Utf8, // no byte-order mark
    Utf8Bom,
    Utf16Le, // always with its byte-order mark
    Utf16Be, // always with its byte-order mark
    Cp1251, // the 8-bit code page of files carried over from older consoles
};

struct TextLines {
    QStringList lines;
    TextEncoding encoding = TextEncoding::Utf8;
};

// Decodes a whole text file. A byte-order mark selects UTF-8, UTF-16 LE or
// UTF-16 BE; without one the bytes are UTF-8 when they are valid UTF-8 and
// Windows-1251 otherwise. A NUL character ends the text. Lines end at CR LF,
// LF or CR; a line end at the very end opens no further line.
//   "a\r\nb\n\nc\r" => ["a", "b", "", "c"]
TextLines decodeTextLines(const QByteArray &bytes);

// Every line followed by CR LF, in the given encoding with its byte-order mark,
// if it has one. Characters Windows-1251 cannot hold become "?".
QByteArray encodeTextLines(const QStringList &lines, TextEncoding encoding);

// Windows-1251 conversions (through iconv).
QString decodeCp1251(const QByteArray &bytes);
QByteArray encodeCp1251(QStringView text);

// Whole-file access with the error texts the console shows:
//   Cannot open file "<path>". <reason>     Cannot create file "<path>". <reason>
Expected<QByteArray> readWholeFile(const QString &path);
Expected<TextLines> readTextLines(const QString &path);

// Replaces the file atomically: the new content goes to a temporary file in the
// same folder, which is then renamed over the old one, so a crash or a full
// disk never leaves a truncated file behind.
Status writeFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace kalvora
