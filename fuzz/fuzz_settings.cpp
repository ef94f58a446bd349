// Settings files: any bytes as "kalvora.ini" must read without a crash, and
// every setting must come out either as its default or as what its entry
// says; writing a setting into the same lines must read back as written.

#include "FuzzSupport.h"
#include "settings/IniFile.h"
#include "settings/IntConvert.h"
#include "settings/Settings.h"
#include "settings/TextFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

using namespace kalvora;
using kalvora::fuzz::check;
using kalvora::fuzz::visible;

namespace {

QString settingsPath()
{
    static const std::unique_ptr<QTemporaryDir> dir = [] {
        const QString shm = QStringLiteral("/dev/shm");
        return std::make_unique<QTemporaryDir>((QDir(shm).exists() ? shm : QDir::tempPath())
                                               + QLatin1String("/kalvora-fuzz-XXXXXX"));
    }();
    return dir->path() + QLatin1String("/kalvora.ini");
}

struct IntKey {
    const char16_t *section;
    const char16_t *name;
    qint32 value;
    qint32 fallback;
};

// The value a setting must have: its entry's text when that is an integer,
// otherwise the default.
qint32 expectedInt(const IniFile &ini, QStringView section, QStringView name, qint32 fallback)
{
    const auto text = ini.value(section, name);
    if (!text)
        return fallback;
    const auto v = StrToInt(*text);
    return v ? *v : fallback;
}

QString expectedText(const IniFile &ini, QStringView section, QStringView name,
                     const QString &fallback)
{
    const auto text = ini.value(section, name);
    return text ? text->left(kMaxSettingLength) : fallback;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(settingsPath());
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                  && file.write(bytes) == bytes.size(),
              "cannot write the settings file");
    }
    const Settings s = readSettings(settingsPath());
    const Settings d;
    const IniFile ini(decodeTextLines(bytes).lines);

    const IntKey ints[] = {
        { u"Visualization", u"cx", s.cx, d.cx },       { u"Visualization", u"cy", s.cy, d.cy },
        { u"Visualization", u"cw1", s.cw1, d.cw1 },    { u"Visualization", u"cw2", s.cw2, d.cw2 },
        { u"Visualization", u"minl", s.minl, d.minl }, { u"Visualization", u"dd", s.dd, d.dd },
        { u"Visualization", u"bdx", s.bdx, d.bdx },    { u"Visualization", u"bdy", s.bdy, d.bdy },
        { u"Logic", u"redSec", s.redSec, d.redSec },   { u"Logic", u"maxSec", s.maxSec, d.maxSec },
    };
    for (const IntKey &k : ints) {
        const QStringView section(k.section), name(k.name);
        const qint32 want = expectedInt(ini, section, name, k.fallback);
        check(k.value == want, "an integer setting is neither its default nor its entry",
              visible(name) + ": read " + QByteArray::number(k.value) + ", expected "
                  + QByteArray::number(want));
    }
    // Ports keep the low 16 bits of the number.
    check(s.ToServerPort == quint16(expectedInt(ini, u"Server", u"ToServerPort", d.ToServerPort)),
          "ToServerPort is neither its default nor its entry");
    check(s.FromServerPort
              == quint16(expectedInt(ini, u"Server", u"FromServerPort", d.FromServerPort)),
          "FromServerPort is neither its default nor its entry");

    const struct {
        const char16_t *section;
        const char16_t *name;
        const QString &value;
        const QString &fallback;
    } texts[] = {
        { u"Server", u"ToServerPing", s.sToServer, d.sToServer },
        { u"Server", u"FromServePing", s.sFromServer, d.sFromServer },
        { u"Visualization", u"cs1", s.cs1, d.cs1 },
        { u"Visualization", u"cs2", s.cs2, d.cs2 },
        { u"Visualization", u"cs3", s.cs3, d.cs3 },
    };
    for (const auto &t : texts) {
        const QString want = expectedText(ini, t.section, t.name, t.fallback);
        check(t.value == want, "a text setting is neither its default nor its entry",
              visible(QStringView(t.name)) + ": read \"" + visible(t.value) + "\", expected \""
                  + visible(want) + '"');
        check(t.value.size() <= kMaxSettingLength, "a text setting is longer than allowed");
    }

    // A value written into these lines reads back as written, and the other
    // settings keep theirs.
    IniFile edited = ini;
    edited.setValue(u"Logic", u"redSec", QStringLiteral("17"));
    check(edited.value(u"Logic", u"redSec") == QStringLiteral("17"),
          "a written setting does not read back", visible(edited.lines()));
    check(edited.value(u"Visualization", u"cs1") == ini.value(u"Visualization", u"cs1"),
          "writing one setting changed another", visible(edited.lines()));
    const IniFile reread(decodeTextLines(edited.toBytes()).lines);
    check(reread.value(u"Logic", u"redSec") == QStringLiteral("17"),
          "a written setting does not survive the file", visible(reread.lines()));
    return 0;
}
