#pragma once

#include <QString>

namespace kalvora {

// Makes sure one copy of the console runs per user. The guard is a lock on a
// file in the user's runtime folder; the system releases it when the process
// ends, however it ends, so a crashed copy never keeps the next one out.
class SingleInstance {
public:
    // The lock file: "Tesmarin_CHECKEXIST" in $XDG_RUNTIME_DIR, or a
    // per-user name in the temporary folder where there is none.
    static QString defaultLockPath();

    explicit SingleInstance(QString lockPath = defaultLockPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // Takes the guard, waiting at most waitMs for it. False when another copy
    // holds it, or when the lock cannot be made at all.
    bool acquire(int waitMs = 10);
    bool held() const { return m_fd >= 0; }

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace kalvora
