// Kalvora: the ward's bed-call console.

#include "ConsoleApplication.h"
#include "SingleInstance.h"
#include "TkrdoMF.h"
#include "editing/FormTable.h"
#include "settings/Settings.h"
#include "ui/Errors.h"

using namespace kalvora;

int main(int argc, char *argv[])
{
    ConsoleApplication app(argc, argv);

    SingleInstance guard;
    if (!guard.acquire(10)) {
        messageBox(QStringLiteral("!"),
                   QStringLiteral("Tesmarin: один экземпляр программы уже открыт."), BoxIcon::None);
        return 0;
    }

    const QString exe = QCoreApplication::applicationFilePath();
    TkrdoMF window(
        { settingsPathFor(exe), QCoreApplication::applicationDirPath() + QLatin1String("/data") });
    window.FormCreate();
    TFormTable form(&window.iTable);
    window.setFormTable(&form);
    app.endWithSession(window);
    window.show();
    return app.exec();
}
