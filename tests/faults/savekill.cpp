// kalvora-savekill: a console that saves its bed file and is killed in the
// middle of it, for tst_savekill.
//
//   kalvora-savekill SETTINGS DATA POINT   moves every bed, saves, and raises
//       SIGKILL at POINT of the save (printing "reached POINT" first):
//       before-backup, backup-half, backup-written, between, before-bed,
//       bed-half, bed-written, bed-named, after
//   kalvora-savekill SETTINGS DATA loop    saves again and again, bed k moved
//       by k pixels in save k, printing "saved k" after each, until killed
//
// The kill points are found by defining the system calls the save makes
// (write, and the renames and links that name a finished file and put it in
// place) in this executable, where they take precedence over the C library's
// for every library of the process.

#include "NetworkGuard.h"
#include "app/TkrdoMF.h"
#include "plan/Ttable.h"

#include <QApplication>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace kalvora;

namespace {

enum class Phase { Idle, Backup, BedFile, Done };

Phase g_phase = Phase::Idle;
const char *g_point = "";
QByteArray g_dataDir; // with a trailing "/"

void reached(const char *point)
{
    if (std::strcmp(point, g_point) != 0)
        return;
    char line[64];
    const int n = std::snprintf(line, sizeof line, "reached %s\n", point);
    ::syscall(SYS_write, 1, line, size_t(n));
    ::raise(SIGKILL);
}

bool inDataDir(int fd)
{
    if (g_dataDir.isEmpty() || fd < 3)
        return false;
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    return n > 0 && std::strncmp(target, g_dataDir.constData(), size_t(g_dataDir.size())) == 0;
}

// The last part of a path: the save names files relative to their folder.
const char *baseName(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool named(const char *path, const char *name)
{
    return std::strcmp(baseName(path), name) == 0;
}

// A temporary name beside the file: "tables.txt.XXXXXX".
bool temporaryNameOf(const char *path, const char *name)
{
    const char *base = baseName(path);
    const size_t n = std::strlen(name);
    return std::strncmp(base, name, n) == 0 && base[n] == '.';
}

// Around a rename or link that names a finished new backup or bed file
// (its own name, or a temporary one beside it).
void beforeRename(const char *to)
{
    if (g_phase == Phase::Backup && (named(to, "tables.bac") || temporaryNameOf(to, "tables.bac")))
        reached("backup-written");
    else if (g_phase == Phase::BedFile
             && (named(to, "tables.txt") || temporaryNameOf(to, "tables.txt")))
        reached("bed-written");
}

void afterRename(const char *to, long result)
{
    if (result != 0)
        return;
    if (g_phase == Phase::BedFile && temporaryNameOf(to, "tables.txt")) {
        reached("bed-named"); // under a temporary name beside the old file
        return;
    }
    if (g_phase == Phase::Backup && named(to, "tables.bac")) {
        g_phase = Phase::BedFile;
        reached("between");
    } else if (g_phase == Phase::BedFile && named(to, "tables.txt")) {
        g_phase = Phase::Done;
        reached("after");
    }
}

} // namespace

extern "C" {

ssize_t write(int fd, const void *buffer, size_t size)
{
    if ((g_phase == Phase::Backup || g_phase == Phase::BedFile) && size > 0 && inDataDir(fd)) {
        const bool backup = g_phase == Phase::Backup;
        reached(backup ? "before-backup" : "before-bed");
        if (std::strcmp(g_point, backup ? "backup-half" : "bed-half") == 0) {
            ::syscall(SYS_write, fd, buffer, size / 2);
            reached(g_point);
        }
    }
    return ::syscall(SYS_write, fd, buffer, size);
}

int rename(const char *from, const char *to)
{
    beforeRename(to);
    const long r = ::syscall(SYS_rename, from, to);
    afterRename(to, r);
    return int(r);
}

int renameat(int fromDir, const char *from, int toDir, const char *to)
{
    beforeRename(to);
    const long r = ::syscall(SYS_renameat, fromDir, from, toDir, to);
    afterRename(to, r);
    return int(r);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned int flags)
{
    beforeRename(to);
    const long r = ::syscall(SYS_renameat2, fromDir, from, toDir, to, flags);
    afterRename(to, r);
    return int(r);
}

// A finished unnamed file's first name: its own where no file has it yet,
// else a temporary one that is then renamed over the old file.
int linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    beforeRename(to);
    const long r = ::syscall(SYS_linkat, fromDir, from, toDir, to, flags);
    afterRename(to, r);
    return int(r);
}

} // extern "C"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: kalvora-savekill SETTINGS DATA POINT|loop\n");
        return 2;
    }
    if (!test::inPrivateNetwork()) {
        std::fprintf(stderr,
                     "kalvora-savekill builds a console: run it in a private network namespace\n");
        return 2;
    }
    const QString settings = QFile::decodeName(argv[1]);
    const QString data = QFile::decodeName(argv[2]);
    const QByteArray mode = argv[3];

    TkrdoMF w({ settings, data });
    w.FormCreate();
    if (!w.isinit)
        return 3;
    g_dataDir = QFile::encodeName(data) + '/';

    QList<qint32> baseX;
    for (const auto &item : w.sl)
        baseX.append(item.object->dx);

    if (mode == "loop") {
        for (int k = 1;; ++k) {
            for (qsizetype i = 0; i < w.sl.size(); ++i)
                w.sl.at(i)->dx = baseX[i] + k;
            g_phase = Phase::Backup;
            w.SaveTablesFile();
            g_phase = Phase::Idle;
            std::printf("saved %d\n", k);
            std::fflush(stdout);
        }
    }

    g_point = argv[3];
    for (const auto &item : w.sl) {
        item.object->dx += 1;
        item.object->l += QStringLiteral(" (moved)");
    }
    g_phase = Phase::Backup;
    w.SaveTablesFile();
    g_phase = Phase::Idle;
    std::printf("saved without reaching %s\n", g_point);
    return 4;
}
