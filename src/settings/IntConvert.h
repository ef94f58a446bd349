#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace kalvora {

// The strict integer conversion used for the settings file and the bed file.
// Leading spaces and one sign are allowed, then decimal digits, or hexadecimal
// digits after "$", "x" or "0x" (x in either case); nothing may follow.
// A decimal value must fit in 32 signed bits; a hexadecimal one may have up to
// 32 significant bits and is taken as a signed 32-bit pattern.
//   "  -12" => -12     "$ff" => 255     "0xFFFFFFFF" => -1     "-x10" => -16
//   "12 " => none      "2147483648" => none     "0x" => none
std::optional<qint32> StrToInt(QStringView text);

// The conversion error for a text that is not an integer:
//   '<text>' is not a valid integer value
// with a long text cut short (excerptForError).
QString invalidIntegerError(QStringView text);

} // namespace kalvora
