#include "TestFiles.h"
#include "settings/IniFile.h"
#include "settings/Settings.h"
#include "settings/TextFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kalvora;
using namespace Qt::StringLiterals;
using kalvora::test::entries;
using kalvora::test::readAll;
using kalvora::test::writeAll;

namespace {

// The file a first start leaves beside the executable.
const QString kFirstStartFile = u"[Server]\n"
                                u";ToServerPing=строка опроса сервара\n"
                                u";FromServePing=строка опроса от сервера\n"
                                u";ToServerPort=порт посылок серверу\n"
                                u";FromServerPort=порт посылок от сервера\n"
                                u"ToServerPing=#ToDovrelanServer\n"
                                u"FromServePing=#FromDovrelanServer\n"
                                u"ToServerPort=5566\n"
                                u"FromServerPort=5567\n"
                                u"\n"
                                u"[Visualization]\n"
                                u";cx=вывод лога: координата x\n"
                                u";cy=вывод лога: координата y\n"
                                u";cw1=вывод лога: смещение второго столбца\n"
                                u";cw2=вывод лога: смещение третьего столбца\n"
                                u";minl=вывод лога: минимальная ширина окна лога\n"
                                u";dd=вывод лога: расстояние между стороками лога\n"
                                u";cs1=вывод лога: заголовок первого столбца\n"
                                u";cs2=вывод лога: заголовок второго столбца\n"
                                u";cs3=вывод лога: заголовок третьего столбца\n"
                                u";bdx=вывод счёта: смещение x от центра стола\n"
                                u";bdy=вывод счёта: смещение y от центра стола\n"
                                u"cx=20\n"
                                u"cy=20\n"
                                u"cw1=220\n"
                                u"cw2=380\n"
                                u"minl=500\n"
                                u"dd=5\n"
                                u"cs1=Ответственный\n"
                                u"cs2=Койка\n"
                                u"cs3=Время\n"
                                u"bdx=30\n"
                                u"bdy=-30\n"
                                u"\n"
                                u"[Logic]\n"
                                u";redSec=\"покраснение\" вызова, сек.\n"
                                u";maxSec=автогашение вызова, сек.\n"
                                u"redSec=20\n"
                                u"maxSec=60\n"_s;

// Every setting as "key=value", in file order.
QStringList fields(const Settings &s)
{
    const auto n = [](qint32 v) { return QString::number(v); };
    return { u"ToServerPing=" + s.sToServer,
             u"FromServePing=" + s.sFromServer,
             u"ToServerPort=" + n(s.ToServerPort),
             u"FromServerPort=" + n(s.FromServerPort),
             u"cx=" + n(s.cx),
             u"cy=" + n(s.cy),
             u"cw1=" + n(s.cw1),
             u"cw2=" + n(s.cw2),
             u"minl=" + n(s.minl),
             u"dd=" + n(s.dd),
             u"cs1=" + s.cs1,
             u"cs2=" + s.cs2,
             u"cs3=" + s.cs3,
             u"bdx=" + n(s.bdx),
             u"bdy=" + n(s.bdy),
             u"redSec=" + n(s.redSec),
             u"maxSec=" + n(s.maxSec) };
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

private slots:
    void firstStartWritesCommentsThenDefaults();
    void readsEachValue_data();
    void readsEachValue();
    void cutsLongStringValues();
    void settingsFileThatIsNoRegularFileGivesDefaults_data();
    void settingsFileThatIsNoRegularFileGivesDefaults();
    void settingsThatCannotWorkAreReported_data();
    void settingsThatCannotWorkAreReported();
    void readingNeverWritesTheFile_data();
    void readingNeverWritesTheFile();
    void settingsFileSitsBesideTheExecutable_data();
    void settingsFileSitsBesideTheExecutable();
    void writeFailsWhereTheFileCannotBeCreated_data();
    void writeFailsWhereTheFileCannotBeCreated();
    void setValuePlacesEntries_data();
    void setValuePlacesEntries();
};

void TestSettings::firstStartWritesCommentsThenDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kalvora.ini"_s);
    QCOMPARE(writeSettingComments(path), std::nullopt);
    QCOMPARE(writeSettingDefaults(path), std::nullopt);
    QCOMPARE(QString::fromUtf8(readAll(path)), kFirstStartFile); // readable diff on failure
    QCOMPARE(readAll(path), kFirstStartFile.toUtf8());
    QCOMPARE(fields(readSettings(path)), fields(Settings()));
}

void TestSettings::readsEachValue_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("changed"); // the one setting that is not its default, or empty
    const auto row = [](const char *name, const char *file, const QString &changed = {}) {
        QTest::addRow("%s", name) << QByteArray(file) << changed;
    };
    row("empty section", "[Logic]\n");
    row("port keeps its low 16 bits", "[Server]\nToServerPort=70000\n", u"ToServerPort=4464"_s);
    row("negative port wraps", "[Server]\nFromServerPort=-1\n", u"FromServerPort=65535"_s);
    row("not an integer gives the default", "[Visualization]\nbdy=abc\n");
    row("trailing text gives the default", "[Visualization]\ncx=12px\n");
    row("empty integer gives the default", "[Visualization]\ncx=\n");
    row("out of range gives the default", "[Visualization]\ncx=2147483648\n");
    row("negative integer", "[Visualization]\nbdx=-7\n", u"bdx=-7"_s);
    row("dollar hex", "[Visualization]\ncw1=$FF\n", u"cw1=255"_s);
    row("0x hex", "[Visualization]\ndd=0x10\n", u"dd=16"_s);
    row("hex all ones", "[Visualization]\nminl=0xFFFFFFFF\n", u"minl=-1"_s);
    row("names in another case", "[LOGIC]\nREDSEC=5\n", u"redSec=5"_s);
    row("spaces around names and value", "[ Logic ]\n  maxSec  =  90  \n", u"maxSec=90"_s);
    row("quoted integer", "[Logic]\nmaxSec=\"90\"\n", u"maxSec=90"_s);
    row("quotes keep inner spaces", "[Visualization]\ncs1=\" Врач \"\n", u"cs1= Врач "_s);
    row("one pair of quotes dropped", "[Visualization]\ncs2=\"\"x\"\"\n", u"cs2=\"x\""_s);
    row("lone quote kept", "[Visualization]\ncs3=\"abc\n", u"cs3=\"abc"_s);
    row("empty string value", "[Visualization]\ncs1=\n", u"cs1="_s);
    row("value with an equals sign", "[Server]\nToServerPing=#a=b\n", u"ToServerPing=#a=b"_s);
    row("key of another section not read", "[Server]\ncx=5\n");
    row("comment entry is not the setting", "[Logic]\n;redSec=5\n");
    row("first of two equal keys wins", "[Logic]\nredSec=1\nredsec=2\n", u"redSec=1"_s);
    row("section given twice", "[Logic]\n[Server]\n[Logic]\nredSec=3\n", u"redSec=3"_s);
    row("CR LF line ends", "[Logic]\r\nmaxSec=90\r\n", u"maxSec=90"_s);
    row("UTF-8 byte-order mark", "\xEF\xBB\xBF[Visualization]\ncs2=Место\n", u"cs2=Место"_s);
}

void TestSettings::readsEachValue()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, changed);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kalvora.ini"_s);
    QVERIFY(writeAll(path, file));

    QStringList expected = fields(Settings());
    if (!changed.isEmpty()) {
        const QString key = changed.section(u'=', 0, 0) + u'=';
        const auto it = std::find_if(expected.begin(), expected.end(),
                                     [&](const QString &f) { return f.startsWith(key); });
        QVERIFY(it != expected.end());
        *it = changed;
    }
    QCOMPARE(fields(readSettings(path)), expected);
}

void TestSettings::cutsLongStringValues()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kalvora.ini"_s);
    const QString exact(2047, u'я');
    QVERIFY(
        writeAll(path, (u"[Visualization]\ncs1=" + exact + u"\ncs2=" + exact + u"щ\n").toUtf8()));
    const Settings s = readSettings(path);
    QCOMPARE(s.cs1, exact);
    QCOMPARE(s.cs2, exact);
}

void TestSettings::settingsFileThatIsNoRegularFileGivesDefaults_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addRow("FIFO") << u"fifo"_s; // would block the start in open()
    QTest::addRow("link to /dev/zero") << u"zero link"_s; // would be read until memory ran out
    QTest::addRow("folder") << u"folder"_s;
    QTest::addRow("file over the limit") << u"large"_s;
}

void TestSettings::settingsFileThatIsNoRegularFileGivesDefaults()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kalvora.ini"_s);
    const QByteArray name = QFile::encodeName(path);
    if (kind == u"fifo")
        QCOMPARE(::mkfifo(name.constData(), 0644), 0);
    else if (kind == u"zero link")
        QVERIFY(QFile::link(u"/dev/zero"_s, path));
    else if (kind == u"folder")
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(writeAll(path, "[Logic]\nredSec=5\n" + QByteArray(IniFile::kMaxBytes, ';')));
    QTest::ignoreMessage(
        QtWarningMsg,
        QRegularExpression(u"^Cannot open file .*: every setting takes its default$"_s));
    QCOMPARE(fields(readSettings(path)), fields(Settings()));
}

void TestSettings::settingsThatCannotWorkAreReported_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("error");
    QTest::addColumn<QStringList>("warnings"); // what each warning names
    const auto row = [](const char *name, const char *file, bool error,
                        const QStringList &warnings = {}) {
        QTest::addRow("%s", name) << QByteArray(file) << error << warnings;
    };
    row("defaults", "", false);
    row("listening port 0", "[Server]\nFromServerPort=0\n", true);
    row("listening port 65536, low 16 bits 0", "[Server]\nFromServerPort=65536\n", true);
    row("listening port 65537 is 1", "[Server]\nFromServerPort=65537\n", false);
    row("ping port 0 is the system's business", "[Server]\nToServerPort=0\n", false);
    row("equal ports, equal texts",
        "[Server]\nToServerPort=6000\nFromServerPort=6000\nToServerPing=#x\nFromServePing=#x\n",
        false, { u"FromServerPort and ToServerPort are both 6000"_s });
    row("equal ports, other texts", "[Server]\nToServerPort=6000\nFromServerPort=6000\n", false);
    row("equal texts, other ports", "[Server]\nToServerPing=#x\nFromServePing=#x\n", false);
    row("empty reply text", "[Server]\nFromServePing=\n", false, { u"FromServePing is empty"_s });
    row("everything at once",
        "[Server]\nToServerPort=0\nFromServerPort=65536\nToServerPing=\nFromServePing=\n", true,
        { u"both 0"_s, u"FromServePing is empty"_s });
}

void TestSettings::settingsThatCannotWorkAreReported()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, error);
    QFETCH(QStringList, warnings);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kalvora.ini"_s);
    QVERIFY(writeAll(path, file));
    const Settings s = readSettings(path);

    const Status refused = settingsError(s, path);
    QCOMPARE(refused.has_value(), error);
    if (error) {
        QVERIFY2(refused->contains(u"FromServerPort"_s) && refused->contains(path)
                     && refused->contains(u" 0 "_s),
                 qPrintable(*refused));
    }
    const QStringList said = settingsWarnings(s, path);
    QCOMPARE(said.size(), warnings.size());
    for (qsizetype i = 0; i < said.size(); ++i) {
        QVERIFY2(said[i].startsWith(path + u": ") && said[i].contains(warnings[i]),
                 qPrintable(said[i]));
    }
}

void TestSettings::readingNeverWritesTheFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addRow("empty file") << QByteArray();
    QTest::addRow("file with one key") << QByteArray("[Logic]\r\nredSec=5");
    QTest::addRow("file with an empty section") << QByteArray("[Server]\n");
}

void TestSettings::readingNeverWritesTheFile()
{
    QFETCH(QByteArray, file);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kalvora.ini"_s);
    QVERIFY(writeAll(path, file));
    (void)readSettings(path);
    QCOMPARE(readAll(path), file); // not completed with the missing keys
    QCOMPARE(entries(dir.path()), QStringList { u"kalvora.ini"_s });

    const QString missing = dir.filePath(u"other.ini"_s);
    QCOMPARE(fields(readSettings(missing)), fields(Settings()));
    QVERIFY(!QFile::exists(missing));
}

void TestSettings::settingsFileSitsBesideTheExecutable_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("settings");
    QTest::addRow("no extension") << u"/opt/k/kalvora"_s << u"/opt/k/kalvora.ini"_s;
    QTest::addRow("extension replaced") << u"/a/b/k.exe"_s << u"/a/b/k.ini"_s;
    QTest::addRow("last extension replaced") << u"/a/b/k.v2.bin"_s << u"/a/b/k.v2.ini"_s;
    QTest::addRow("dot in a folder name") << u"/a/b.d/kalvora"_s << u"/a/b.d/kalvora.ini"_s;
}

void TestSettings::settingsFileSitsBesideTheExecutable()
{
    QFETCH(QString, executable);
    QFETCH(QString, settings);
    QCOMPARE(settingsPathFor(executable), settings);
}

void TestSettings::writeFailsWhereTheFileCannotBeCreated_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::addRow("read-only folder") << true;
    QTest::addRow("folder that is a plain file") << false;
}

void TestSettings::writeFailsWhereTheFileCannotBeCreated()
{
    QFETCH(bool, readOnlyFolder);
    QTemporaryDir dir;
    const QString folder = dir.filePath(u"folder"_s);
    const auto writable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if (readOnlyFolder) {
        QVERIFY(QDir().mkdir(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        if (writeAll(folder + u"/probe", "x")) {
            QFile::setPermissions(folder, writable);
            QSKIP("Folder permissions do not stop this user (root) from writing");
        }
    } else {
        QVERIFY(writeAll(folder, "not a folder"));
    }
    const QString path = folder + u"/kalvora.ini";

    QCOMPARE(writeSettingComments(path), u"Unable to write to " + path);
    QCOMPARE(writeSettingDefaults(path), u"Unable to write to " + path);
    QVERIFY(!QFile::exists(path));
    if (readOnlyFolder) {
        QCOMPARE(entries(folder), QStringList()); // no temporary file left either
        QFile::setPermissions(folder, writable);
    }
}

void TestSettings::setValuePlacesEntries_data()
{
    // Lines joined by "|"; every row sets the key to 9.
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("after");
    const auto row = [](const char *name, const char16_t *before, const char16_t *section,
                        const char16_t *key, const char16_t *after) {
        // Not fromUtf16, which would take a leading U+FEFF for a byte-order mark.
        QTest::addRow("%s", name) << QStringView(before).toString() << QString::fromUtf16(section)
                                  << QString::fromUtf16(key) << QStringView(after).toString();
    };
    row("replaced in place", u"[A]|x=1|y=2||[B]|x=3", u"A", u"x", u"[A]|x=9|y=2||[B]|x=3");
    row("other case replaced in place", u"[a]| X = 1 |y=2", u"A", u"x", u"[a]|x=9|y=2");
    row("same key in a later section", u"[A]|x=1||[B]|x=3", u"B", u"x", u"[A]|x=1||[B]|x=9");
    row("appended after the last entry", u"[A]|x=1||[B]|z=3", u"A", u"y", u"[A]|x=1|y=9||[B]|z=3");
    row("section without entries", u"[A]||[B]|z=3", u"A", u"y", u"[A]|y=9||[B]|z=3");
    row("comment entry is another key", u"[A]|;x=note", u"A", u"x", u"[A]|;x=note|x=9");
    row("new section after a blank line", u"[A]|x=1", u"B", u"z", u"[A]|x=1||[B]|z=9");
    row("existing blank line reused", u"[A]|x=1|", u"B", u"z", u"[A]|x=1||[B]|z=9");
    row("new section in an empty file", u"", u"B", u"z", u"[B]|z=9");
    row("stray mark before the first header", u"\uFEFF[A]|x=1||[B]|z=3", u"B", u"x",
        u"\uFEFF[A]|x=1||[B]|z=3|x=9");
}

void TestSettings::setValuePlacesEntries()
{
    QFETCH(QString, before);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, after);
    IniFile ini(before.isEmpty() ? QStringList() : before.split(u'|'));
    ini.setValue(section, key, u"9"_s);
    QCOMPARE(ini.lines().join(u'|'), after);
    QCOMPARE(ini.value(section, key), u"9"_s);
    // Written and read again, the file holds the same lines.
    QCOMPARE(IniFile(decodeTextLines(ini.toBytes()).lines).lines(), ini.lines());
}

QTEST_APPLESS_MAIN(TestSettings)
#include "tst_settings.moc"
