// kalvora-write-settings: writes the settings file a console writes on its
// first start, so that the package can ship it. Runs at build time only.
//
//   kalvora-write-settings FILE
//
// FILE must not exist yet: the console writes its first-start file only where
// there is none, and so does this tool (it never adds to an existing file).
// Exit status: 0 written, 1 could not write, 2 bad command line or FILE exists.

#include "settings/Settings.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

using namespace kalvora;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fputs("usage: kalvora-write-settings FILE\n", stderr);
        return 2;
    }
    const QString path = args.at(1);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        std::fprintf(stderr, "kalvora-write-settings: %s exists already\n", qPrintable(path));
        return 2;
    }
    // The same two steps, in the same order, as the console's first start.
    for (const auto write : { &writeSettingComments, &writeSettingDefaults }) {
        if (const Status error = write(path)) {
            std::fprintf(stderr, "kalvora-write-settings: %s\n", qPrintable(*error));
            return 1;
        }
    }
    return 0;
}
