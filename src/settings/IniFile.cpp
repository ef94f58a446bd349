#include "IniFile.h"

#include "FileAccess.h"
#include "Logging.h"
#include "TextFile.h"

namespace kalvora {

namespace {

bool sameName(QStringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<QStringView> IniFile::sectionName(QStringView line)
{
    const QStringView t = line.trimmed();
    if (t.size() < 2 || t.front() != u'[')
        return std::nullopt;
    const qsizetype close = t.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

std::optional<IniFile::Entry> IniFile::entry(QStringView line)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return std::nullopt;
    const QStringView key = line.left(eq).trimmed();
    if (key.isEmpty())
        return std::nullopt;
    QStringView value = line.mid(eq + 1).trimmed();
    if (value.size() >= 2 && value.front() == u'"' && value.back() == u'"')
        value = value.mid(1, value.size() - 2);
    return Entry { key, value };
}

std::optional<QString> IniFile::value(QStringView section, QStringView key) const
{
    bool inSection = false;
    for (const QString &line : m_lines) {
        if (const auto name = sectionName(line)) {
            inSection = sameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        if (const auto e = entry(line); e && sameName(e->key, key))
            return e->value.toString();
    }
    return std::nullopt;
}

void IniFile::setValue(QStringView section, QStringView key, const QString &value)
{
    const QString newLine = key.toString() + u'=' + value;
    qsizetype lastEntry = -1; // last entry line of the section, or its header
    bool inSection = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (const auto name = sectionName(m_lines[i])) {
            if (inSection)
                break;
            inSection = sameName(*name, section);
            if (inSection)
                lastEntry = i;
            continue;
        }
        if (!inSection)
            continue;
        if (const auto e = entry(m_lines[i])) {
            if (sameName(e->key, key)) {
                m_lines[i] = newLine;
                return;
            }
            lastEntry = i;
        }
    }
    if (lastEntry >= 0) {
        m_lines.insert(lastEntry + 1, newLine);
        return;
    }
    // A new section, separated from the one before by a blank line.
    if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty())
        m_lines.append(QString());
    m_lines.append(u'[' + section.toString() + u']');
    m_lines.append(newLine);
}

QByteArray IniFile::toBytes() const
{
    QByteArray out;
    // A first line that begins with U+FEFF would read back as the file's
    // byte-order mark and lose that character (a line "\uFEFF[Logic]" would
    // turn into a section header): a mark of the file's own keeps it.
    if (!m_lines.isEmpty() && m_lines.first().startsWith(QChar(0xFEFF)))
        out += "\xEF\xBB\xBF";
    for (const QString &line : m_lines) {
        out += line.toUtf8();
        out += '\n';
    }
    return out;
}

IniFile IniFile::load(const QString &path)
{
    const FileRead read = readRegularFile(path, kMaxBytes, Links::Follow);
    if (read.missing())
        return {};
    if (!read.ok()) {
        qCWarning(lcSettings).noquote()
            << readFailureText(path, read) + QLatin1String(": every setting takes its default");
        return {};
    }
    return IniFile(decodeTextLines(read.bytes).lines);
}

Status IniFile::save(const QString &path) const
{
    if (replaceFile(path, toBytes()))
        return QStringLiteral("Unable to write to %1").arg(path);
    return std::nullopt;
}

} // namespace kalvora
