#include "TextLabel.h"

#include "Fonts.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

namespace kalvora {

AcceleratedText parseAccelerators(QStringView caption)
{
    AcceleratedText out;
    out.text.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&') {
                out.text += u'&';
                ++i;
            } else if (i + 1 < caption.size()) {
                out.underlined.append(out.text.size());
            }
            continue;
        }
        out.text += caption[i];
    }
    return out;
}

namespace {

// Where each displayed line starts in the text, and its length.
QList<std::pair<qsizetype, qsizetype>> lineSpans(const QString &text)
{
    QList<std::pair<qsizetype, qsizetype>> spans;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            spans.append({ start, i - start });
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    spans.append({ start, text.size() - start });
    return spans;
}

} // namespace

TextLabel::TextLabel(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    relayout();
}

void TextLabel::setText(const QString &text)
{
    if (text == m_caption)
        return;
    m_caption = text;
    relayout();
}

void TextLabel::setLabelFont(const QFont &font)
{
    setFont(font);
    relayout();
}

void TextLabel::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void TextLabel::setCentered(bool centered)
{
    m_centered = centered;
    update();
}

void TextLabel::relayout()
{
    m_shown = parseAccelerators(m_caption);
    m_lines = lineSpans(m_shown.text);
    const QFontMetrics fm(font());
    int w = 0;
    for (const auto &[start, length] : std::as_const(m_lines))
        w = std::max(w, fm.horizontalAdvance(m_shown.text.mid(start, length)));
    resize(w, lineMetrics(font()).height * int(m_lines.size()));
    update();
}

void TextLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(m_color);
    const QFontMetrics fm(font());
    const LineMetrics metrics = lineMetrics(font());
    QFont underlinedFont = font();
    underlinedFont.setUnderline(true);
    int y = 0;
    auto nextUnderline = m_shown.underlined.cbegin();
    for (const auto &[lineStart, length] : std::as_const(m_lines)) {
        const QString line = m_shown.text.mid(lineStart, length);
        const int lineWidth = fm.horizontalAdvance(line);
        int x = m_centered ? (width() - lineWidth) / 2 : 0;
        const int baseline = y + metrics.ascent;
        qsizetype drawn = 0;
        while (nextUnderline != m_shown.underlined.cend() && *nextUnderline < lineStart + length) {
            const qsizetype at = *nextUnderline - lineStart;
            ++nextUnderline;
            if (at < drawn)
                continue;
            const QString before = line.mid(drawn, at - drawn);
            p.drawText(x, baseline, before);
            x += fm.horizontalAdvance(before);
            p.setFont(underlinedFont);
            const QString ch = line.mid(at, 1);
            p.drawText(x, baseline, ch);
            p.setFont(font());
            x += fm.horizontalAdvance(ch);
            drawn = at + 1;
        }
        p.drawText(x, baseline, line.mid(drawn));
        y += metrics.height;
    }
}

void TextLabel::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void TextLabel::mousePressEvent(QMouseEvent *event)
{
    if (onMouseDown)
        onMouseDown(event->button());
    event->accept();
}

} // namespace kalvora
