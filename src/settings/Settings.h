#pragma once

#include "Expected.h"

#include <QString>
#include <QStringList>

namespace kalvora {

// Every tunable value of the console, as read from the settings file beside
// the executable. The defaults are those of a file that lacks the key.
struct Settings {
    // [Server]
    QString sToServer = QStringLiteral("#ToDovrelanServer");
    QString sFromServer = QStringLiteral("#FromDovrelanServer");
    quint16 ToServerPort = 5566;
    quint16 FromServerPort = 5567;
    // [Visualization]
    qint32 cx = 20;
    qint32 cy = 20;
    qint32 cw1 = 220;
    qint32 cw2 = 380;
    qint32 minl = 500;
    qint32 dd = 5;
    QString cs1 = QStringLiteral("Ответственный");
    QString cs2 = QStringLiteral("Койка");
    QString cs3 = QStringLiteral("Время");
    qint32 bdx = 30;
    qint32 bdy = -30;
    // [Logic]
    qint32 redSec = 20;
    qint32 maxSec = 60;
};

// The settings file of an executable: its full path with the extension
// replaced by ".ini".   "/opt/kalvora/kalvora" => "/opt/kalvora/kalvora.ini"
QString settingsPathFor(const QString &executablePath);

// Writes the explanatory comment entry of every setting (";key=comment").
// Fails with "Unable to write to <path>".
Status writeSettingComments(const QString &path);
// Writes the default value of every setting.
Status writeSettingDefaults(const QString &path);
// Reads every setting; a missing or malformed value gives its default.
Settings readSettings(const QString &path);

// Settings the console cannot start with: a listening port of 0 (written as
// 0, or as 65536 or another value whose low 16 bits are 0) would make the
// system choose a random port, on which no server sends. The error names the
// key and the file.
Status settingsError(const Settings &s, const QString &path);

// Settings that work but are almost certainly a mistake, one sentence each
// (for the log): equal listening and ping ports with equal ping and reply
// texts (the console's own ping then counts as the server's reply), and an
// empty reply text (which no datagram with text can match).
QStringList settingsWarnings(const Settings &s, const QString &path);

// A string value as the console reads it: at most this many characters.
constexpr qsizetype kMaxSettingLength = 2047;

} // namespace kalvora
