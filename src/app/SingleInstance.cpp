#include "SingleInstance.h"

#include "settings/Logging.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kalvora {

namespace {

constexpr char kLockName[] = "Tesmarin_CHECKEXIST";

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether the folder is the user's alone: a folder (not a link to one) of
// theirs that nobody else may write. One of theirs that others may write is
// made private. Empty when it is, else why not.
QString makePrivate(const QString &folder)
{
    const QByteArray name = QFile::encodeName(folder);
    struct stat st { };
    if (::lstat(name.constData(), &st) != 0)
        return reason(errno);
    if (!S_ISDIR(st.st_mode))
        return S_ISLNK(st.st_mode) ? QStringLiteral("is a symbolic link")
                                   : QStringLiteral("is not a folder");
    if (st.st_uid != ::geteuid())
        return QStringLiteral("belongs to another user");
    if ((st.st_mode & 0077) != 0 && ::chmod(name.constData(), 0700) != 0)
        return QStringLiteral("others may write it, and it cannot be made private: ")
            + reason(errno);
    return {};
}

} // namespace

SessionIdentity SessionIdentity::current()
{
    SessionIdentity s;
    s.runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    s.homeDir = QDir::homePath();
    s.sessionId = qEnvironmentVariable("XDG_SESSION_ID");
    s.display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (s.display.isEmpty())
        s.display = qEnvironmentVariable("DISPLAY");
    s.host = QSysInfo::machineHostName();
    return s;
}

QString SessionIdentity::key() const
{
    QStringList parts;
    for (const QString &part : { host, sessionId, display }) {
        if (!part.isEmpty())
            parts.append(QString::fromLatin1(QUrl::toPercentEncoding(part, {}, "-")));
    }
    // '-' separates the parts, so it is encoded inside them.
    return parts.join(u'-');
}

Expected<QString> SingleInstance::lockPathFor(const SessionIdentity &session)
{
    const QString key = session.key();
    const QString name = QString::fromLatin1(kLockName) + (key.isEmpty() ? QString() : u'-' + key);
    // The runtime folder is the user's own by definition; one that is not
    // (an inherited or planted variable) is not used.
    if (!session.runtimeDir.isEmpty()) {
        const QString problem = makePrivate(session.runtimeDir);
        if (problem.isEmpty())
            return QString(session.runtimeDir + u'/' + name);
        qCWarning(lcApp).noquote() << QStringLiteral("%1 (XDG_RUNTIME_DIR) %2: not used for the "
                                                     "single-instance lock")
                                          .arg(session.runtimeDir, problem);
    }
    if (session.homeDir.isEmpty())
        return Expected<QString>::failure(QStringLiteral("no home folder"));
    const QString folder = session.homeDir + QLatin1String("/.cache/kalvora");
    QDir().mkpath(session.homeDir + QLatin1String("/.cache"));
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    if (const QString problem = makePrivate(folder); !problem.isEmpty())
        return Expected<QString>::failure(folder + u' ' + problem);
    return QString(folder + u'/' + name);
}

QString SingleInstance::defaultLockPath()
{
    const auto path = lockPathFor(SessionIdentity::current());
    if (!path) {
        qCWarning(lcApp).noquote() << QStringLiteral("no private folder for the single-instance "
                                                     "lock: %1")
                                          .arg(path.error());
        return {};
    }
    return path.value();
}

SingleInstance::SingleInstance(QString lockPath)
    : m_path(std::move(lockPath))
{
}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SingleInstance::acquire(int waitMs)
{
    if (m_fd >= 0)
        return true;
    if (m_path.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(m_path);
    const int fd =
        ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(fd);
            return false;
        }
        if (waited.elapsed() >= waitMs) {
            ::close(fd);
            return false;
        }
        QThread::msleep(1);
    }
    m_fd = fd;
    return true;
}

} // namespace kalvora
