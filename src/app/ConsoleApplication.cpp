#include "ConsoleApplication.h"

#include "TkrdoMF.h"
#include "settings/Logging.h"
#include "ui/Errors.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QSessionManager>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace kalvora {

namespace {

// The signals that end the console: the system's (shutdown, a service
// manager stopping it), the terminal's hang-up and its interrupt key.
constexpr int kEndSignals[] = { SIGTERM, SIGHUP, SIGINT };

// A socket pair that carries the signals into the event loop: the handler
// writes a byte to [1], the event loop reads [0]. Nothing else is safe to do
// inside a signal handler.
int g_signalPair[2] = { -1, -1 };

void onEndSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPair[1], &byte, 1);
    errno = savedErrno;
}

void restoreDefaultSignals()
{
    struct sigaction action { };
    for (const int signal : kEndSignals) {
        struct sigaction current { };
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == onEndSignal) {
            action.sa_handler = SIG_DFL;
            ::sigaction(signal, &action, nullptr);
        }
    }
}

} // namespace

bool loadQtTranslation(QTranslator &translator)
{
    return translator.load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                           QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

ConsoleApplication::ConsoleApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    if (loadQtTranslation(m_qtTranslation))
        installTranslator(&m_qtTranslation);
    else
        qCWarning(lcApp) << "Qt's Russian translation (qtbase_ru.qm) is not installed in"
                         << QLibraryInfo::path(QLibraryInfo::TranslationsPath)
                         << "- standard buttons and menus read in English";
}

ConsoleApplication::~ConsoleApplication()
{
    restoreDefaultSignals();
    for (int &fd : g_signalPair) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool ConsoleApplication::notify(QObject *receiver, QEvent *event)
{
    bool handled = false;
    guarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void ConsoleApplication::endWithSession(TkrdoMF &window)
{
    m_window = &window;

    // Log-off or shutdown: the session manager asks for the work first. The
    // session may still go on (another program may cancel it), so the
    // console does not end here.
    connect(
        this, &QGuiApplication::commitDataRequest, this,
        [this](QSessionManager &manager) {
            const Status error = m_window->saveAtSessionEnd();
            if (error && manager.allowsErrorInteraction()) {
                // As at closing: the operator sees why, and the console stays.
                showError(*error);
                manager.release();
                manager.cancel();
            }
        },
        Qt::DirectConnection);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalPair) != 0) {
        qCWarning(lcApp) << "Termination signals end the console without saving:"
                         << std::strerror(errno);
        return;
    }
    m_signals = new QSocketNotifier(g_signalPair[0], QSocketNotifier::Read, this);
    connect(m_signals, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(g_signalPair[0], bytes, sizeof bytes) > 0) { }
        endSession();
    });
    struct sigaction action { };
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kEndSignals) {
        // A signal ignored from the start (nohup) stays ignored.
        struct sigaction previous { };
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

bool ConsoleApplication::event(QEvent *event)
{
    // A quit request comes from the session manager ending the console (after
    // it has asked for the work) and once the window has closed. Qt would
    // close the window first, but a failed save at closing keeps it open and
    // the session waiting: the console ends here instead, saving as the
    // session ends (nothing once the window has closed).
    if (event->type() == QEvent::Quit && m_window) {
        endSession();
        return true;
    }
    return QApplication::event(event);
}

void ConsoleApplication::endSession()
{
    // From here on a second signal ends the console at once.
    restoreDefaultSignals();
    if (m_signals)
        m_signals->setEnabled(false);
    m_window->endSession();
    // exit(), not quit(): the console ends even while a box or the bed dialog
    // is open, and without asking its window to close.
    exit(0);
}

} // namespace kalvora
