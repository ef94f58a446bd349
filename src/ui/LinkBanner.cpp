#include "LinkBanner.h"

#include "Fonts.h"

#include <QChildEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace kalvora {

namespace {

constexpr int kPadding = 4;

} // namespace

LinkBanner::LinkBanner(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("linkBanner"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(consoleFont(16, true));
    hide();
    if (parent)
        parent->installEventFilter(this);
}

void LinkBanner::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_lines = wrappedLines(width());
    const int needed = neededHeight(int(m_lines.size()));
    if (needed != height())
        resize(width(), needed);
    update();
}

void LinkBanner::placeOver(const QRect &panel, int coverHeight)
{
    m_coverHeight = std::max(0, coverHeight);
    const int width = std::max(0, panel.width());
    setGeometry(panel.x(), panel.y(), width, neededHeight(int(wrappedLines(width).size())));
}

QStringList LinkBanner::wrappedLines(int width) const
{
    QStringList lines;
    if (m_text.isEmpty())
        return lines;
    const qreal room = std::max(1, width - 2 * kPadding);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    for (const QString &paragraph : m_text.split(u'\n')) {
        QTextLayout layout(paragraph, font());
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(room);
            lines << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
    }
    return lines;
}

int LinkBanner::neededHeight(int lines) const
{
    const int text = lines > 0 ? lines * lineMetrics(font()).height + 2 * kPadding : 0;
    return std::max({ kMinimumHeight, m_coverHeight, text });
}

void LinkBanner::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_lines = wrappedLines(width());
}

void LinkBanner::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), background());
    p.setPen(Qt::white);
    p.setFont(font());
    // The lines are centred as a block, one list row's pitch apart.
    const int pitch = lineMetrics(font()).height;
    int y = (height() - int(m_lines.size()) * pitch) / 2;
    for (const QString &line : std::as_const(m_lines)) {
        p.drawText(QRect(kPadding, y, width() - 2 * kPadding, pitch), Qt::AlignCenter, line);
        y += pitch;
    }
}

void LinkBanner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    raise();
}

bool LinkBanner::eventFilter(QObject *watched, QEvent *event)
{
    // Controls made while the banner shows would lie above it.
    if (watched == parent() && event->type() == QEvent::ChildAdded && isVisible()
        && static_cast<QChildEvent *>(event)->child()->isWidgetType())
        raise();
    return QWidget::eventFilter(watched, event);
}

} // namespace kalvora
