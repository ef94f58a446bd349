#include "JournalSettings.h"

#include "settings/IniFile.h"
#include "settings/IntConvert.h"
#include "settings/Settings.h"

#include <QDir>

namespace kalvora::journal {

JournalSettings readJournalSettings(const QString &settingsFile, const QString &dataDir)
{
    const IniFile ini = IniFile::load(settingsFile);
    const auto integer = [&](QStringView key, qint32 fallback) {
        const std::optional<QString> text = ini.value(u"Journal", key);
        const std::optional<qint32> value = text ? StrToInt(*text) : std::nullopt;
        return value.value_or(fallback);
    };

    JournalSettings s;
    const QString file = ini.value(u"Journal", u"File").value_or(QString()).left(kMaxSettingLength);
    if (!file.isEmpty())
        s.file = QDir::cleanPath(QDir(dataDir).absoluteFilePath(file));
    s.restoreCalls = integer(u"RestoreCalls", 0) != 0;
    s.keepDays = integer(u"KeepDays", 0);
    return s;
}

} // namespace kalvora::journal
