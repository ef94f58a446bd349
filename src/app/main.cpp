// Kalvora: the ward's bed-call console.

#include "ConsoleApplication.h"
#include "SingleInstance.h"
#include "TkrdoMF.h"
#include "editing/FormTable.h"
#include "service/LogFormat.h"
#include "service/Supervision.h"
#include "settings/Logging.h"
#include "settings/Settings.h"
#include "ui/Errors.h"

#include <QTimer>

#include <utility>

using namespace kalvora;

namespace {

// The line `systemctl --user status kalvora` shows.
QString statusOf(const TkrdoMF &window)
{
    if (window.isinit)
        return QStringLiteral("Listening on UDP port %1, %2 beds")
            .arg(window.FromServerPort)
            .arg(window.sl.size());
    return QStringLiteral("Start-up failed: no calls are received (the error is in the journal)");
}

} // namespace

int main(int argc, char *argv[])
{
    useConsoleMessagePattern();
    ConsoleApplication app(argc, argv);
    // Started by the user unit, the console reports to systemd and feeds its
    // watchdog from now on; started by hand, this does nothing.
    ServiceNotifier service(readSupervision());

    const QString lock = SingleInstance::defaultLockPath();
    SingleInstance guard(lock);
    if (!guard.acquire(10)) {
        // Under the unit the manager is told that this copy did start, so that
        // its ending well is not taken for a failure to start it again.
        service.ready(QStringLiteral("Another console already runs in this session"));
        qCWarning(lcApp).noquote() << "Another console already runs in this session (it holds"
                                   << lock + u')' << "- this one ends";
        messageBox(QStringLiteral("!"),
                   QStringLiteral("Tesmarin: один экземпляр программы уже открыт."), BoxIcon::None);
        return 0;
    }

    const QString exe = QCoreApplication::applicationFilePath();
    TkrdoMF window(
        { settingsPathFor(exe), QCoreApplication::applicationDirPath() + QLatin1String("/data") });

    // The console has started once start-up is over, or once a step of it has
    // failed and its box is up (inside FormCreate): the console then runs as
    // far as it gets, without listener, until it is started again. Waiting for
    // the box to be closed, the manager would end the console at its start
    // timeout and start it again, box and all, over and over.
    bool reported = false;
    const auto reportStart = [&] {
        if (std::exchange(reported, true))
            return;
        if (!window.isinit)
            qCWarning(lcApp) << "Start-up failed: no calls are received until the console is "
                                "started again";
        service.ready(statusOf(window));
    };
    QTimer boxShown;
    boxShown.setSingleShot(true);
    QObject::connect(&boxShown, &QTimer::timeout, reportStart);
    boxShown.start(0); // fires only in the event loop of a box
    window.FormCreate();
    boxShown.stop();

    TFormTable form(&window.iTable);
    window.setFormTable(&form);
    app.endWithSession(window);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &service, &ServiceNotifier::stopping);
    window.show();
    reportStart();
    return app.exec();
}
