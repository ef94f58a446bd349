#pragma once

#include "settings/Expected.h"

#include <QString>

namespace kalvora {

// What tells one log-on session from another: the same user may be logged
// on at two displays (or on two PCs sharing a home folder) and runs a
// console in each.
struct SessionIdentity {
    QString runtimeDir; // $XDG_RUNTIME_DIR: the user's private runtime folder
    QString homeDir;
    QString sessionId; // $XDG_SESSION_ID
    QString display; // $WAYLAND_DISPLAY, else $DISPLAY
    QString host;

    // The identity of this process's session.
    static SessionIdentity current();
    // The part of the lock's name that tells this session from others.
    // Each part is percent-encoded, '-' included, and the parts are joined by '-'.
    //   {host "ward-pc", sessionId "3", display ":0"} => "ward%2Dpc-3-%3A0"
    QString key() const;
};

// Makes sure one copy of the console runs per log-on session. The guard is a
// lock on a file in a folder that only the user can write: the user's
// runtime folder, or "~/.cache/kalvora" where there is none (never the shared
// temporary folder, where anybody could plant a file of that name). The
// system releases the lock when the process ends, however it ends, so a
// crashed copy never keeps the next one out.
class SingleInstance {
public:
    // "Tesmarin_CHECKEXIST-<session key>" in the session's private folder,
    // which is made (mode 0700) where it is missing; fails when no folder is
    // private to the user (one that is a link, belongs to someone else, or
    // that others may write and that cannot be made private).
    static Expected<QString> lockPathFor(const SessionIdentity &session);
    // For this process's session; empty where there is no private folder.
    static QString defaultLockPath();

    explicit SingleInstance(QString lockPath = defaultLockPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Takes the guard, waiting at most waitMs for it. False when another copy
    // holds it, or when the lock cannot be made at all (no path, or a lock
    // file that is not a regular file of the user's own).
    bool acquire(int waitMs = 10);
    bool held() const { return m_fd >= 0; }

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace kalvora
