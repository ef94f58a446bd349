#include "FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kalvora {

namespace {

// A file descriptor closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {
    }
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    int m_fd;
};

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

const QString kLinkReason = QStringLiteral("Is a symbolic link");
const QString kNotRegularReason = QStringLiteral("Is not a regular file");

// The reason for a file that exists but is no regular file.
QString notRegularReason(mode_t mode)
{
    if (S_ISLNK(mode))
        return kLinkReason;
    if (S_ISDIR(mode))
        return systemReason(EISDIR);
    return kNotRegularReason;
}

// Writes all bytes at the descriptor's position; 0 or the errno.
int writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        data += n;
        size -= n;
    }
    return 0;
}

int syncFile(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

QByteArray randomSuffix()
{
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, '\0');
    for (char &c : suffix)
        c = kChars[QRandomGenerator::system()->bounded(int(sizeof kChars - 1))];
    return suffix;
}

// The new content's file, created in the target's folder: unnamed (it gets a
// name only once it is whole) or, where the file system cannot do that, under
// a fresh name of its own.
struct NewFile {
    Fd fd;
    QByteArray name; // empty while unnamed
};

// 0 or the errno of the creation.
int createNewFile(int dir, const QByteArray &target, NewFile &file)
{
    // The mode is the one QSaveFile would give a new file: 0666 less the umask.
    const int unnamed = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (unnamed >= 0) {
        file.fd = Fd(unnamed);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return errno;
    for (int attempt = 0; attempt < 64; ++attempt) {
        const QByteArray name = target + '.' + randomSuffix();
        const int fd = ::openat(dir, name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file.fd = Fd(fd);
            file.name = name;
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

// Gives an unnamed file the name `name` in the folder; fails with EEXIST when
// the name is taken.
int nameUnnamed(int fd, int dir, const QByteArray &name)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), dir, name.constData(), AT_SYMLINK_FOLLOW) != 0)
        return errno;
    return 0;
}

// Puts the finished new file in place of the target; 0 or the errno.
int putInPlace(int dir, const QByteArray &target, bool targetExists, NewFile &file)
{
    if (file.name.isEmpty()) {
        // Where no file has the name yet, the new one simply takes it.
        if (!targetExists) {
            const int error = nameUnnamed(file.fd.get(), dir, target);
            if (error != EEXIST)
                return error;
        }
        for (int attempt = 0;; ++attempt) {
            const QByteArray name = target + '.' + randomSuffix();
            const int error = nameUnnamed(file.fd.get(), dir, name);
            if (error == 0) {
                file.name = name;
                break;
            }
            if (error != EEXIST || attempt == 63)
                return error;
        }
    }
    if (::renameat(dir, file.name.constData(), dir, target.constData()) != 0) {
        const int error = errno;
        ::unlinkat(dir, file.name.constData(), 0);
        return error;
    }
    return 0;
}

// Rewrites an existing regular file in place; an empty string on success,
// else the reason.
QString rewriteInPlace(int dir, const QByteArray &target, const QByteArray &bytes)
{
    const Fd fd(
        ::openat(dir, target.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd)
        return errno == ELOOP ? kLinkReason : systemReason(errno);
    struct stat st { };
    if (::fstat(fd.get(), &st) != 0)
        return systemReason(errno);
    if (!S_ISREG(st.st_mode))
        return notRegularReason(st.st_mode);
    const qint64 oldSize = st.st_size;

    // Room first: where the disk cannot take the new content, nothing changes.
    if (bytes.size() > oldSize) {
        const int error = ::posix_fallocate(fd.get(), 0, off_t(bytes.size()));
        if (error != 0) {
            ::ftruncate(fd.get(), off_t(oldSize));
            return systemReason(error);
        }
    }
    // The old content, to put back should the write still fail.
    QByteArray old(qsizetype(oldSize), Qt::Uninitialized);
    const bool haveOld = ::pread(fd.get(), old.data(), size_t(oldSize), 0) == ssize_t(oldSize);

    int error = ::lseek(fd.get(), 0, SEEK_SET) == 0 ? 0 : errno;
    if (error == 0)
        error = writeAll(fd.get(), bytes.constData(), bytes.size());
    if (error == 0 && ::ftruncate(fd.get(), off_t(bytes.size())) != 0)
        error = errno;
    if (error == 0)
        error = syncFile(fd.get());
    if (error == 0)
        return {};
    if (haveOld && ::lseek(fd.get(), 0, SEEK_SET) == 0
        && writeAll(fd.get(), old.constData(), old.size()) == 0)
        ::ftruncate(fd.get(), off_t(oldSize));
    syncFile(fd.get());
    return systemReason(error);
}

} // namespace

bool FileRead::missing() const
{
    return problem == ReadProblem::CannotOpen && error == ENOENT;
}

FileRead readRegularFile(const QString &path, qint64 maxBytes, Links links)
{
    FileRead read;
    const auto fail = [&read](ReadProblem problem, int error = 0) {
        read.problem = problem;
        read.error = error;
        read.bytes.clear();
        return read;
    };
    const QByteArray name = QFile::encodeName(path);
    // Looked at before it is opened: opening a device can have effects of its own.
    struct stat st { };
    const int looked =
        links == Links::Refuse ? ::lstat(name.constData(), &st) : ::stat(name.constData(), &st);
    if (looked != 0)
        return fail(ReadProblem::CannotOpen, errno);
    if (S_ISLNK(st.st_mode))
        return fail(ReadProblem::Link);
    if (!S_ISREG(st.st_mode))
        return fail(ReadProblem::NotRegular, S_ISDIR(st.st_mode) ? EISDIR : 0);

    const int flags =
        O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    const Fd fd(::open(name.constData(), flags));
    if (!fd)
        return errno == ELOOP && links == Links::Refuse ? fail(ReadProblem::Link)
                                                        : fail(ReadProblem::CannotOpen, errno);
    // The file may have been swapped since it was looked at: the descriptor decides.
    if (::fstat(fd.get(), &st) != 0)
        return fail(ReadProblem::ReadFailed, errno);
    if (!S_ISREG(st.st_mode))
        return fail(ReadProblem::NotRegular, S_ISDIR(st.st_mode) ? EISDIR : 0);
    read.size = st.st_size;
    read.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;

    // One byte more than the limit tells a file that is too large; the size
    // reported is only a hint, as the file may still grow.
    const qint64 capacity = maxBytes + 1;
    QByteArray bytes(qsizetype(std::min<qint64>(std::max<qint64>(st.st_size, 0), maxBytes) + 1),
                     Qt::Uninitialized);
    qint64 used = 0;
    while (true) {
        if (used == bytes.size()) {
            if (bytes.size() >= capacity)
                return fail(ReadProblem::TooLarge);
            bytes.resize(qsizetype(std::min<qint64>(bytes.size() * 2, capacity)));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + used, size_t(bytes.size() - used));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(ReadProblem::ReadFailed, errno);
        }
        if (n == 0)
            break;
        used += n;
    }
    bytes.truncate(qsizetype(used));
    read.bytes = std::move(bytes);
    return read;
}

QString readFailureText(const QString &path, const FileRead &read)
{
    const QString shown = QFileInfo(path).absoluteFilePath();
    QString reason;
    switch (read.problem) {
    case ReadProblem::None:
        return {};
    case ReadProblem::CannotOpen:
        reason = systemReason(read.error);
        break;
    case ReadProblem::Link:
        reason = kLinkReason;
        break;
    case ReadProblem::NotRegular:
        reason = read.error == EISDIR ? systemReason(EISDIR) : kNotRegularReason;
        break;
    case ReadProblem::TooLarge:
        reason = systemReason(EFBIG);
        break;
    case ReadProblem::ReadFailed:
        return QStringLiteral("Cannot read file \"%1\". %2").arg(shown, systemReason(read.error));
    }
    return QStringLiteral("Cannot open file \"%1\". %2").arg(shown, reason);
}

Status replaceFile(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    const auto failure = [&info](const QString &reason) -> Status {
        return QStringLiteral("Cannot create file \"%1\". %2").arg(info.absoluteFilePath(), reason);
    };
    const QByteArray target = QFile::encodeName(info.fileName());
    const Fd dir(::open(QFile::encodeName(info.absolutePath()).constData(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return failure(systemReason(errno));

    struct stat old { };
    bool exists = false;
    if (::fstatat(dir.get(), target.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        exists = true;
        if (!S_ISREG(old.st_mode))
            return failure(notRegularReason(old.st_mode));
        // A file this user may not write is not replaced by another one either.
        if (::faccessat(dir.get(), target.constData(), W_OK, AT_EACCESS) != 0)
            return failure(systemReason(errno));
    } else if (errno != ENOENT) {
        return failure(systemReason(errno));
    }

    NewFile file;
    if (const int error = createNewFile(dir.get(), target, file)) {
        // A folder the user may not write: the file itself may still be.
        if (exists && (error == EACCES || error == EPERM)) {
            const QString reason = rewriteInPlace(dir.get(), target, bytes);
            return reason.isEmpty() ? Status() : failure(reason);
        }
        return failure(systemReason(error));
    }
    const auto discard = [&] {
        if (!file.name.isEmpty())
            ::unlinkat(dir.get(), file.name.constData(), 0);
    };
    if (const int error = writeAll(file.fd.get(), bytes.constData(), bytes.size())) {
        discard();
        return failure(systemReason(error));
    }
    if (exists) {
        // The next member of the group must be able to save too: the old
        // file's group (where this user may give it) and mode.
        if (::fchown(file.fd.get(), uid_t(-1), old.st_gid) != 0) {
            // Not a member of that group: the folder's or the user's group stays.
        }
        ::fchmod(file.fd.get(), old.st_mode & 0777);
    }
    // The data must be on the disk before the new file replaces the old one.
    if (const int error = syncFile(file.fd.get())) {
        discard();
        return failure(systemReason(error));
    }
    if (const int error = putInPlace(dir.get(), target, exists, file))
        return failure(systemReason(error));
    syncFile(dir.get()); // the new name on the disk too; the file is in place either way
    return std::nullopt;
}

} // namespace kalvora
