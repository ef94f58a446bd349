#pragma once

#include <QWidget>

class QLabel;
class QTimer;

namespace kalvora::perf {

// The straightforward design the console's picture controls replaced: the
// same plan, beds and call list made of QLabels, each animated bed picture
// played by its own QMovie (its own decoder and its own timer).
class MoviesWindow : public QWidget {
public:
    // Reads the bed file of dataDir; the first `calls` beds show their active
    // (green) picture and get a line in the call list.
    MoviesWindow(const QString &dataDir, int calls);

private:
    QList<QLabel *> m_timeLabels;
    int m_seconds = 0;
    QTimer *m_tick = nullptr;
};

} // namespace kalvora::perf
