#include "Settings.h"

#include "IniFile.h"
#include "IntConvert.h"

#include <QFileInfo>

#include <variant>

namespace kalvora {

namespace {

using Field = std::variant<QString Settings::*, qint32 Settings::*, quint16 Settings::*>;

struct Key {
    const char16_t *section;
    const char16_t *name;
    Field field;
    const char16_t *comment;
};

// The settings in file order, each with its comment entry text.
const Key kKeys[] = {
    { u"Server", u"ToServerPing", &Settings::sToServer, u"строка опроса сервара" },
    { u"Server", u"FromServePing", &Settings::sFromServer, u"строка опроса от сервера" },
    { u"Server", u"ToServerPort", &Settings::ToServerPort, u"порт посылок серверу" },
    { u"Server", u"FromServerPort", &Settings::FromServerPort, u"порт посылок от сервера" },
    { u"Visualization", u"cx", &Settings::cx, u"вывод лога: координата x" },
    { u"Visualization", u"cy", &Settings::cy, u"вывод лога: координата y" },
    { u"Visualization", u"cw1", &Settings::cw1, u"вывод лога: смещение второго столбца" },
    { u"Visualization", u"cw2", &Settings::cw2, u"вывод лога: смещение третьего столбца" },
    { u"Visualization", u"minl", &Settings::minl, u"вывод лога: минимальная ширина окна лога" },
    { u"Visualization", u"dd", &Settings::dd, u"вывод лога: расстояние между стороками лога" },
    { u"Visualization", u"cs1", &Settings::cs1, u"вывод лога: заголовок первого столбца" },
    { u"Visualization", u"cs2", &Settings::cs2, u"вывод лога: заголовок второго столбца" },
    { u"Visualization", u"cs3", &Settings::cs3, u"вывод лога: заголовок третьего столбца" },
    { u"Visualization", u"bdx", &Settings::bdx, u"вывод счёта: смещение x от центра стола" },
    { u"Visualization", u"bdy", &Settings::bdy, u"вывод счёта: смещение y от центра стола" },
    { u"Logic", u"redSec", &Settings::redSec, u"\"покраснение\" вызова, сек." },
    { u"Logic", u"maxSec", &Settings::maxSec, u"автогашение вызова, сек." },
};

QString str(const char16_t *s)
{
    return QString::fromUtf16(s);
}

QString defaultText(const Key &key)
{
    static const Settings defaults;
    return std::visit(
        [](auto member) {
            const auto &v = defaults.*member;
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, QString>)
                return v;
            else
                return QString::number(v);
        },
        key.field);
}

template<class Fn> Status writeEach(const QString &path, Fn text)
{
    IniFile ini = IniFile::load(path);
    for (const Key &key : kKeys) {
        const auto [name, value] = text(key);
        ini.setValue(str(key.section), name, value);
    }
    return ini.save(path);
}

} // namespace

QString settingsPathFor(const QString &executablePath)
{
    const QFileInfo info(executablePath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    return info.absolutePath() + u'/' + (dot > 0 ? name.left(dot) : name) + QLatin1String(".ini");
}

Status writeSettingComments(const QString &path)
{
    return writeEach(path, [](const Key &key) {
        return std::pair { QString(u';' + str(key.name)), str(key.comment) };
    });
}

Status writeSettingDefaults(const QString &path)
{
    return writeEach(path, [](const Key &key) {
        return std::pair { str(key.name), defaultText(key) };
    });
}

Settings readSettings(const QString &path)
{
    const IniFile ini = IniFile::load(path);
    Settings s;
    for (const Key &key : kKeys) {
        const std::optional<QString> text = ini.value(str(key.section), str(key.name));
        if (!text)
            continue;
        std::visit(
            [&](auto member) {
                auto &target = s.*member;
                using T = std::decay_t<decltype(target)>;
                if constexpr (std::is_same_v<T, QString>) {
                    target = text->left(kMaxSettingLength);
                } else if (const auto v = StrToInt(*text)) {
                    target = static_cast<T>(*v); // ports keep the low 16 bits
                }
            },
            key.field);
    }
    return s;
}

Status settingsError(const Settings &s, const QString &path)
{
    if (s.FromServerPort == 0)
        return QStringLiteral(
                   "Порт FromServerPort в файле настроек \"%1\" равен 0 (берутся младшие "
                   "16 бит значения): на таком порту консоль не может принимать вызовы. "
                   "Укажите порт от 1 до 65535")
            .arg(path);
    return std::nullopt;
}

QStringList settingsWarnings(const Settings &s, const QString &path)
{
    QStringList warnings;
    if (s.FromServerPort == s.ToServerPort && s.sToServer == s.sFromServer)
        warnings.append(QStringLiteral("%1: FromServerPort and ToServerPort are both %2 and "
                                       "ToServerPing equals FromServePing: the console's own ping "
                                       "counts as the server's presence reply")
                            .arg(path, QString::number(s.FromServerPort)));
    if (s.sFromServer.isEmpty())
        warnings.append(QStringLiteral("%1: FromServePing is empty: the server's presence reply "
                                       "cannot be recognised (only a datagram without text would "
                                       "match it)")
                            .arg(path));
    return warnings;
}

} // namespace kalvora
