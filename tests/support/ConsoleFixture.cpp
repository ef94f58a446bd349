#include "ConsoleFixture.h"

#include <QCoreApplication>
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
    // Below the system's ephemeral range (32768 and up on Linux): a port the
    // system handed out here would be free only until it hands it out again,
    // for example to the sending socket of a console in a test running beside
    // this one. Each process starts at its own place in the range.
    static quint32 next = quint32(QCoreApplication::applicationPid()) * 7919u;
    constexpr quint32 first = 20000;
    constexpr quint32 count = 12000;
    for (quint32 tries = 0; tries < count; ++tries) {
        const quint16 port = quint16(first + next++ % count);
        QUdpSocket probe;
        if (probe.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress))
            return port;
    }
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
