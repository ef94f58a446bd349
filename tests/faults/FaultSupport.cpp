#include "FaultSupport.h"

#include "plan/BedFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace kalvora::test {

namespace {

constexpr char kChildVariable[] = "KALVORA_FAULTS_MOUNT_CHILD";

// Sets or clears one capability in the calling thread's effective set.
bool setEffectiveCapability(int capability, bool on)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[2] {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const quint32 bit = 1u << (capability % 32);
    auto &word = data[capability / 32];
    if (on && !(word.permitted & bit))
        return false;
    word.effective = on ? (word.effective | bit) : (word.effective & ~bit);
    return ::syscall(SYS_capset, &header, data) == 0;
}

bool hasEffectiveCapability(int capability)
{
    __user_cap_header_struct header { _LINUX_CAPABILITY_VERSION_3, 0 };
    __user_cap_data_struct data[2] {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return data[capability / 32].effective & (1u << (capability % 32));
}

bool canCreateFileIn(const QString &folder)
{
    const QByteArray probe = QFile::encodeName(folder + QLatin1String("/.write-probe"));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    ::unlink(probe.constData());
    return true;
}

} // namespace

FolderWriteLock::FolderWriteLock(QString folder)
    : m_folder(std::move(folder))
{
    ::chmod(QFile::encodeName(m_folder).constData(), 0555);
    if (hasEffectiveCapability(CAP_DAC_OVERRIDE))
        m_droppedCapability = setEffectiveCapability(CAP_DAC_OVERRIDE, false);
    m_engaged = !canCreateFileIn(m_folder);
}

FolderWriteLock::~FolderWriteLock()
{
    release();
}

void FolderWriteLock::release()
{
    if (m_droppedCapability)
        setEffectiveCapability(CAP_DAC_OVERRIDE, true);
    m_droppedCapability = false;
    ::chmod(QFile::encodeName(m_folder).constData(), 0700);
    m_engaged = false;
}

bool mountNamespaceAvailable()
{
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    if (unshare.isEmpty())
        return false;
    QProcess probe;
    probe.start(unshare, { QStringLiteral("--mount"), QStringLiteral("true") });
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit
        && probe.exitCode() == 0;
}

bool inChildMountNamespace()
{
    return qEnvironmentVariableIntValue(kChildVariable) == 1;
}

ChildRun runChildInMountNamespace(const QString &functionAndTag, bool ownNetwork, int timeoutMs)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args { QStringLiteral("--mount"), QStringLiteral("--propagation"),
                       QStringLiteral("private") };
    if (ownNetwork)
        args.append(QStringLiteral("--net"));
    args << QCoreApplication::applicationFilePath() << functionAndTag;
    child.start(QStandardPaths::findExecutable(QStringLiteral("unshare")), args);
    ChildRun run;
    if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished();
        run.output = child.readAll() + "\n(the child did not finish in time)";
        return run;
    }
    run.output = child.readAll();
    run.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    return run;
}

Status mountTmpfs(const QString &folder, qint64 bytes)
{
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0700";
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.constData())
        != 0)
        return QStringLiteral("mount tmpfs on %1: %2")
            .arg(folder, QString::fromLocal8Bit(strerror(errno)));
    return std::nullopt;
}

Status remountTmpfs(const QString &folder, bool readOnly)
{
    const unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    if (::mount(nullptr, QFile::encodeName(folder).constData(), nullptr, flags, nullptr) != 0)
        return QStringLiteral("remount %1: %2")
            .arg(folder, QString::fromLocal8Bit(strerror(errno)));
    return std::nullopt;
}

void unmount(const QString &folder)
{
    ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
}

Expected<QString> fillFileSystem(const QString &folder, int pagesFree)
{
    const QString path = folder + QLatin1String("/filler");
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return Expected<QString>::failure(QStringLiteral("cannot create the filler"));
    const QByteArray page(4096, 'x');
    off_t size = 0;
    while (true) {
        const ssize_t n = ::write(fd, page.constData(), size_t(page.size()));
        if (n <= 0)
            break;
        size += n;
    }
    const bool full = errno == ENOSPC;
    // Whole pages only: a partly used last page would count as free room.
    size -= size % 4096;
    size -= off_t(pagesFree) * 4096;
    const bool ok = full && size >= 0 && ::ftruncate(fd, size) == 0;
    ::close(fd);
    if (!ok)
        return Expected<QString>::failure(QStringLiteral("cannot fill the file system"));
    return path;
}

Expected<QList<BedRecord>> loadBeds(const QString &dataDir)
{
    const auto lines = BedFile { dataDir }.loadLines();
    if (!lines)
        return Expected<QList<BedRecord>>::failure(lines.error());
    QList<BedRecord> beds;
    for (const QString &line : *lines) {
        const auto bed = parseBedLine(line);
        if (!bed)
            return Expected<QList<BedRecord>>::failure(bed.error());
        beds.append(*bed);
    }
    return beds;
}

QStringList strayFiles(const QString &folder, const QStringList &expected)
{
    QStringList stray;
    const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!expected.contains(name)
            && (name.startsWith(QLatin1String("tables")) || name.startsWith(u'.')))
            stray.append(name);
    }
    return stray;
}

void copyDemoData(const QString &to)
{
    QDir().mkpath(to);
    QDirIterator it(QStringLiteral(KALVORA_DEMO_DATA), QDir::Files);
    while (it.hasNext()) {
        it.next();
        QFile::copy(it.filePath(), to + u'/' + it.fileName());
        QFile::setPermissions(to + u'/' + it.fileName(), QFile::ReadOwner | QFile::WriteOwner);
    }
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

} // namespace kalvora::test
