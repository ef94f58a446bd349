#pragma once

#include "Expected.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kalvora {

// A profile (INI) file kept as its lines, so that rewriting it keeps every
// line, comment and order as the person who edited it left them.
//
// Reading: section and key names compare case-insensitively and ignore spaces
// around them; a value is trimmed of spaces and loses one pair of enclosing
// double quotes.   " Port = \"5567\" " => key "Port", value "5567"
// Writing: a key that exists in its section has its value replaced in place;
// otherwise the entry is appended after the section's last entry, and a missing
// section is appended at the end of the file.
class IniFile {
public:
    IniFile() = default;
    explicit IniFile(const QStringList &lines)
        : m_lines(lines)
    {
    }

    std::optional<QString> value(QStringView section, QStringView key) const;
    void setValue(QStringView section, QStringView key, const QString &value);

    const QStringList &lines() const { return m_lines; }
    // The file's bytes: UTF-8 without byte-order mark, lines ending in LF.
    QByteArray toBytes() const;

    // The largest profile file read (a real one holds a few kilobytes).
    static constexpr qint64 kMaxBytes = 1024 * 1024;

    // A missing file is an empty profile; so is one that cannot be read, is
    // not a regular file (a FIFO, a device, or a link to one) or is larger
    // than kMaxBytes, which is also logged.
    static IniFile load(const QString &path);
    Status save(const QString &path) const;

private:
    struct Entry {
        QStringView key;
        QStringView value;
    };
    static std::optional<QStringView> sectionName(QStringView line);
    static std::optional<Entry> entry(QStringView line);

    QStringList m_lines;
};

} // namespace kalvora
