#include "Movies.h"

#include "calls/CallListLayout.h"
#include "ui/Fonts.h"

#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMovie>
#include <QScreen>
#include <QTimer>

namespace kalvora::perf {

namespace {

QLabel *movieLabel(QWidget *parent, const QString &file, bool start)
{
    auto *label = new QLabel(parent);
    auto *movie = new QMovie(file, QByteArray(), label);
    label->setMovie(movie);
    movie->jumpToFrame(0);
    label->resize(movie->currentImage().size());
    if (start)
        movie->start();
    return label;
}

} // namespace

MoviesWindow::MoviesWindow(const QString &dataDir, int calls)
{
    registerConsoleFonts();
    setFont(consoleFont(11, false));
    const auto file = [&](const QString &name) -> QString { return dataDir + u'/' + name; };

    auto *plan = new QLabel(this);
    plan->setPixmap(QPixmap(file(QStringLiteral("plan.jpg"))));
    plan->adjustSize();
    plan->move(0, 0);

    auto *panel = new QWidget(this);
    QPalette tiled = panel->palette();
    tiled.setBrush(QPalette::Window, QBrush(QPixmap(file(QStringLiteral("panel.jpg")))));
    panel->setPalette(tiled);
    panel->setAutoFillBackground(true);
    panel->setGeometry(plan->width(), 0, 500, plan->height());

    const QFont nameFont = consoleFont(13, true);
    QFile tables(file(QStringLiteral("tables.txt")));
    tables.open(QIODevice::ReadOnly);
    int index = 0;
    QStringList callNames;
    for (const QByteArray &raw : tables.readAll().split('\n')) {
        const QStringList f = QString::fromUtf8(raw.trimmed()).split(u';');
        if (f.size() < 6)
            continue;
        const int x = f[1].toInt(), y = f[2].toInt(), kind = f[3].toInt();
        const bool calling = index < calls;
        QLabel *icon = movieLabel(this,
                                  file((calling ? QLatin1String("greenbed") : QLatin1String("bed"))
                                       + QString::number(kind) + QLatin1String(".gif")),
                                  true);
        icon->move(x - icon->width() / 2, y - icon->height() / 2);
        icon->setToolTip(f[4]);
        QLabel *bill = movieLabel(this, file(QStringLiteral("bill.gif")), false);
        bill->hide();
        bill->move(x + 30 - bill->width() / 2, y - 30 - bill->height() / 2);
        auto *name = new QLabel(f[4], this);
        name->setFont(nameFont);
        name->adjustSize();
        name->move(x - name->width() / 2, y - name->height() / 2);
        if (calling)
            callNames.append(f[4]);
        ++index;
    }

    // The call list: column titles and one line per call that fits.
    const QFont listFont = consoleFont(16, true);
    const int lineHeight = QFontMetrics(listFont).height();
    const QString titles[3] = { QStringLiteral("Ответственный"), QStringLiteral("Койка"),
                                QStringLiteral("Время") };
    const int lefts[3] = { 20, 240, 400 };
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const int rows =
        std::min<int>(int(callNames.size()), rowsThatFit(screen.height(), 20, lineHeight, 5));
    for (int r = 0; r <= rows; ++r) {
        for (int c = 0; c < 3; ++c) {
            const QString text = r == 0 ? titles[c]
                : c == 0                ? QStringLiteral("Load test")
                : c == 1                ? callNames[r - 1]
                                        : QString();
            auto *label = new QLabel(text, this);
            label->setFont(listFont);
            label->move(plan->width() + lefts[c], rowTop(0, 20, r, lineHeight, 5));
            label->resize(label->sizeHint().width() + 80, lineHeight);
            if (r > 0 && c == 2)
                m_timeLabels.append(label);
        }
    }
    m_tick = new QTimer(this);
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, [this] {
        ++m_seconds;
        for (QLabel *label : std::as_const(m_timeLabels))
            label->setText(SecondsToText(m_seconds));
    });
    m_tick->start();
    setGeometry(screen);
}

} // namespace kalvora::perf
