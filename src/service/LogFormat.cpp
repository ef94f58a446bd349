#include "LogFormat.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <sys/stat.h>
#include <unistd.h>

namespace kalvora {

QString defaultMessagePattern(bool toJournal)
{
    // Qt's own messages without a category ("default") show none.
    static const QLatin1String category("%{if-category}%{category}: %{endif}");
    if (toJournal)
        return QLatin1String("%{if-debug}<7>%{endif}%{if-info}<6>%{endif}%{if-warning}<4>%{endif}"
                             "%{if-critical}<3>%{endif}%{if-fatal}<2>%{endif}")
            + category + QLatin1String("%{message}");
    return QLatin1String("%{time hh:mm:ss.zzz} ") + category
        + QLatin1String("%{if-warning}warning: %{endif}%{if-critical}error: %{endif}"
                        "%{if-fatal}fatal: %{endif}%{message}");
}

bool standardErrorIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const QList<QByteArray> parts = stream.split(':');
    if (parts.size() != 2)
        return false;
    bool deviceOk = false;
    bool inodeOk = false;
    const qulonglong device = parts[0].toULongLong(&deviceOk);
    const qulonglong inode = parts[1].toULongLong(&inodeOk);
    struct stat st { };
    if (!deviceOk || !inodeOk || ::fstat(STDERR_FILENO, &st) != 0)
        return false;
    return qulonglong(st.st_dev) == device && qulonglong(st.st_ino) == inode;
}

void useConsoleMessagePattern()
{
    qSetMessagePattern(defaultMessagePattern(standardErrorIsJournal()));
}

} // namespace kalvora
