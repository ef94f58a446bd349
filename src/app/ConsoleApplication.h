#pragma once

#include <QApplication>
#include <QTranslator>

class QSocketNotifier;

namespace kalvora {

class TkrdoMF;

// The application object. Every handler of the console guards itself; this is
// the last line behind them: an error that still reaches the event loop is
// shown like any other and the console goes on, instead of ending.
//
// It also speaks Russian for Qt's own texts (the standard buttons of the
// boxes, the edit fields' context menus), as every other text of the console
// does.
class ConsoleApplication : public QApplication {
    Q_OBJECT
public:
    ConsoleApplication(int &argc, char **argv);
    ~ConsoleApplication() override;
    bool notify(QObject *receiver, QEvent *event) override;

    // Ties the console's life to its session, so that no work of the operator
    // is lost when the session or the system ends it: when the session
    // manager asks for the work to be saved (log-off, shutdown), the window
    // saves its beds, and a failed save, where the session manager lets the
    // console ask, is shown and the log-off is cancelled; when the session
    // manager, the system (SIGTERM, SIGHUP) or the terminal (SIGINT) ends the
    // console, the window saves its beds and the console ends, even when the
    // save fails.
    void endWithSession(TkrdoMF &window);

protected:
    bool event(QEvent *event) override;

private:
    void endSession();

    QTranslator m_qtTranslation;
    TkrdoMF *m_window = nullptr;
    QSocketNotifier *m_signals = nullptr;
};

// Loads Qt's own Russian translation from the system's Qt translations
// folder. False when it is not installed; Qt's texts then stay English.
bool loadQtTranslation(QTranslator &translator);

} // namespace kalvora
