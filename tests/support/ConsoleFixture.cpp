#include "ConsoleFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QUdpSocket>

namespace kalvora::test {

namespace {

void copyTree(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files);
    while (it.hasNext()) {
        it.next();
        QFile::copy(it.filePath(), to + u'/' + it.fileName());
        QFile::setPermissions(to + u'/' + it.fileName(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    }
}

} // namespace

ConsoleFixture::ConsoleFixture()
{
    copyTree(QStringLiteral(KALVORA_DEMO_DATA), dataDir());
}

ConsoleFixture::~ConsoleFixture()
{
    destroy();
}

void ConsoleFixture::destroy()
{
    m_console.reset();
}

quint16 ConsoleFixture::freePort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress);
    return probe.localPort();
}

void ConsoleFixture::writeSettings(const QMap<QString, QString> &values)
{
    QMap<QString, QMap<QString, QString>> sections;
    sections[QStringLiteral("Server")][QStringLiteral("FromServerPort")] =
        QString::number(freePort());
    sections[QStringLiteral("Server")][QStringLiteral("ToServerPort")] =
        QString::number(freePort());
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QString section = it.key().section(u'/', 0, 0);
        const QString key = it.key().section(u'/', 1);
        sections[section][key] = it.value();
    }
    QByteArray text;
    for (auto s = sections.begin(); s != sections.end(); ++s) {
        text += '[' + s.key().toUtf8() + "]\n";
        for (auto k = s->begin(); k != s->end(); ++k)
            text += k.key().toUtf8() + '=' + k.value().toUtf8() + '\n';
    }
    QFile file(settingsFile());
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text);
}

void ConsoleFixture::writeBeds(const QStringList &lines)
{
    QFile file(dataFile(QStringLiteral("tables.txt")));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    for (const QString &line : lines)
        file.write(line.toUtf8() + "\r\n");
}

QByteArray ConsoleFixture::readFile(const QString &path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

TkrdoMF &ConsoleFixture::start()
{
    m_console = std::make_unique<TkrdoMF>(TkrdoMF::Files { settingsFile(), dataDir() });
    m_console->FormCreate();
    return *m_console;
}

} // namespace kalvora::test
