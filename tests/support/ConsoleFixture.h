#pragma once

#include "app/TkrdoMF.h"

#include <QMap>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace kalvora::test {

// A console on temporary files: a folder holding the settings file and a copy
// of the demo data folder, ready to be changed before the console starts.
class ConsoleFixture {
public:
    ConsoleFixture();
    ~ConsoleFixture();

    QString dir() const { return m_dir.path(); }
    QString dataDir() const { return m_dir.path() + QLatin1String("/data"); }
    QString settingsFile() const { return m_dir.path() + QLatin1String("/kalvora.ini"); }
    QString dataFile(const QString &name) const { return dataDir() + u'/' + name; }

    // Writes a settings file with these [section/key] values (others default),
    // and a free listening port unless one is given.
    void writeSettings(const QMap<QString, QString> &values = {});
    // Replaces the bed file with these lines (CR LF, UTF-8).
    void writeBeds(const QStringList &lines);
    QByteArray readFile(const QString &path) const;

    // Builds the console and runs its start-up sequence.
    TkrdoMF &start();
    TkrdoMF &console() { return *m_console; }
    void destroy();

    // A UDP port no one listens on right now.
    static quint16 freePort();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TkrdoMF> m_console;
};

} // namespace kalvora::test
