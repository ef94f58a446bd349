#pragma once

#include "Expected.h"
#include "FileAccess.h"

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
    // Where a NUL ended the text: the line it stands in (1-based, 0 when the
    // text held none), and how many lines from it on that still hold text
    // (anything but spaces and control characters) were not read.
    qsizetype nulLine = 0;
    qsizetype linesAfterNul = 0;
};

// Decodes a whole text file. A byte-order mark selects UTF-8, UTF-16 LE or
// UTF-16 BE. Without one the bytes are UTF-8 when they are UTF-8 but for a
// few damaged bytes (see isMostlyUtf8), those bytes becoming U+FFFD, and
// Windows-1251 otherwise. A NUL character ends the text. Lines end at CR LF,
// LF or CR; a line end at the very end opens no further line.
//   "a\r\nb\n\nc\r" => ["a", "b", "", "c"]
TextLines decodeTextLines(const QByteArray &bytes);

// Whether 8-bit text is UTF-8: valid UTF-8, or UTF-8 with a few damaged bytes,
// that is at least four well-formed multi-byte sequences (non-ASCII
// characters) for every ill-formed one. Text in Windows-1251 practically
// never holds well-formed sequences (they would need a capital letter followed
// by a rare sign such as "Ё" or "№"), while UTF-8 Cyrillic text is made of them.
//   "Палата 1" in UTF-8 with one stray 0xFF => true
//   "Палата 1" in Windows-1251 => false      "abc" => true
bool isMostlyUtf8(QByteArrayView bytes);

// Every line followed by CR LF, in the given encoding with its byte-order mark,
// if it has one. Characters Windows-1251 cannot hold become "?".
QByteArray encodeTextLines(const QStringList &lines, TextEncoding encoding);

// Windows-1251 conversions (through iconv).
QString decodeCp1251(const QByteArray &bytes);
QByteArray encodeCp1251(QStringView text);

// Reads and decodes a whole regular file of at most maxBytes, failing with
// the texts of readFailureText.
Expected<TextLines> readTextLines(const QString &path, qint64 maxBytes, Links links);

} // namespace kalvora
