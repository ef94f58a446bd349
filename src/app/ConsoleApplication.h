#pragma once

#include <QApplication>

namespace kalvora {

// The application object. Every handler of the console guards itself; this is
// the last line behind them: an error that still reaches the event loop is
// shown like any other and the console goes on, instead of ending.
class ConsoleApplication : public QApplication {
    Q_OBJECT
public:
    ConsoleApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace kalvora
