#include "SafetySettings.h"

#include "settings/IniFile.h"
#include "settings/IntConvert.h"
#include "settings/Settings.h"

#include <limits>

namespace kalvora {

namespace {

constexpr QStringView kSection = u"Safety";

class Reader {
public:
    explicit Reader(const QString &path)
        : m_ini(IniFile::load(path))
    {
    }

    void integer(QStringView key, qint32 &target) const
    {
        if (const auto text = m_ini.value(kSection, key)) {
            if (const auto v = StrToInt(*text))
                target = *v;
        }
    }

    void flag(QStringView key, bool &target) const
    {
        qint32 v = target ? 1 : 0;
        integer(key, v);
        target = v != 0;
    }

    void string(QStringView key, QString &target) const
    {
        if (const auto text = m_ini.value(kSection, key))
            target = text->left(kMaxSettingLength);
    }

private:
    IniFile m_ini;
};

} // namespace

SafetySettings readSafetySettings(const QString &settingsFile)
{
    const Reader read(settingsFile);
    SafetySettings s;
    read.integer(u"LinkLossSec", s.LinkLossSec);
    read.string(u"FaultSound", s.FaultSound);
    read.integer(u"ReminderSec", s.ReminderSec);
    QString click;
    read.string(u"ClickAction", click);
    if (click.compare(u"acknowledge", Qt::CaseInsensitive) == 0)
        s.ClickAction = OnClick::Acknowledge;
    read.flag(u"KeepUntilCancelled", s.KeepUntilCancelled);
    read.flag(u"ShowOverflow", s.ShowOverflow);
    read.string(u"OverdueSound", s.OverdueSound);
    return s;
}

QString dataSoundFile(const QString &dataDir, const QString &name)
{
    return name.isEmpty() ? QString() : dataDir + u'/' + name;
}

qint32 effectiveMaxSec(qint32 maxSec, bool keepUntilCancelled)
{
    return keepUntilCancelled ? std::numeric_limits<qint32>::max() : maxSec;
}

} // namespace kalvora
