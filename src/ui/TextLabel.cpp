#include "TextLabel.h"

#include "Fonts.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>

#include <algorithm>

namespace kalvora {

namespace {

// Hands run(text, underlined) the runs of one line in order: each marked
// character alone and underlined, the text between them plain, and last the
// rest of the line (perhaps empty). `next` walks the marks of the whole text.
template <typename Run>
void forEachRun(const QString &line, qsizetype lineStart, QList<qsizetype>::const_iterator &next,
                QList<qsizetype>::const_iterator end, Run run)
{
    qsizetype done = 0;
    while (next != end && *next < lineStart + line.size()) {
        const qsizetype at = *next - lineStart;
        ++next;
        if (at < done)
            continue;
        run(line.mid(done, at - done), false);
        run(line.mid(at, 1), true);
        done = at + 1;
    }
    run(line.mid(done), false);
}

} // namespace

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

LabelLayout splitLabel(const QString &caption)
{
    LabelLayout layout;
    layout.shown = parseAccelerators(caption);
    layout.lines = lineSpans(layout.shown.text);
    return layout;
}

LabelLayout layLabel(const QString &caption, const QFont &font)
{
    LabelLayout layout = splitLabel(caption);
    measureLabel(layout, font);
    return layout;
}

void measureLabel(LabelLayout &layout, const QFont &font)
{
    const QFontMetrics fm(font);
    int w = 0;
    layout.widths.clear();
    layout.widths.reserve(layout.lines.size());
    for (const auto &[start, length] : std::as_const(layout.lines)) {
        const int lineWidth = fm.horizontalAdvance(layout.shown.text.mid(start, length));
        layout.widths.append(lineWidth);
        w = std::max(w, lineWidth);
    }
    layout.size = QSize(w, lineMetrics(font).height * int(layout.lines.size()));
}

void drawLabel(QPainter &p, const LabelLayout &layout, const QFont &font, QPoint origin,
               bool centered)
{
    const QFontMetrics fm(font);
    const LineMetrics metrics = lineMetrics(font);
    QFont underlinedFont = font;
    underlinedFont.setUnderline(true);
    p.setFont(font);
    auto nextUnderline = layout.shown.underlined.cbegin();
    int y = origin.y();
    for (qsizetype n = 0; n < layout.lines.size(); ++n) {
        const auto [lineStart, length] = layout.lines[n];
        const QString line = layout.shown.text.mid(lineStart, length);
        int x = origin.x() + (centered ? (layout.size.width() - layout.widths[n]) / 2 : 0);
        const int baseline = y + metrics.ascent;
        forEachRun(line, lineStart, nextUnderline, layout.shown.underlined.cend(),
                   [&](const QString &text, bool underlined) {
                       if (underlined)
                           p.setFont(underlinedFont);
                       p.drawText(x, baseline, text);
                       if (underlined)
                           p.setFont(font);
                       x += fm.horizontalAdvance(text);
                   });
        y += metrics.height;
    }
}

TextLabel::TextLabel(QWidget *parent)
    : QWidget(parent)
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
    m_layout = layLabel(m_caption, font());
    m_drawnValid = false;
    resize(m_layout.size);
    update();
}

TextLabel::Piece TextLabel::makePiece(const QString &text, int x, bool underlined, bool plainFont)
{
    Piece piece { text, x, underlined, false, 0, {}, {} };
    // Underlines, overlines and strike-outs are drawn afresh, and so is text
    // that a layout would break into lines.
    const bool breaks = std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == QChar::LineSeparator || c == QChar::ParagraphSeparator || c == u'\n'
            || c == u'\r' || c == u'\v' || c == u'\f' || c == QChar(0x85);
    });
    if (underlined || !plainFont || text.isEmpty() || breaks)
        return piece;
    QTextLayout layout(text, font(), this);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(layoutDirection());
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
        layout.endLayout();
        return piece;
    }
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    piece.ascent = line.ascent();
    piece.runs = layout.glyphRuns();
    for (const QGlyphRun &run : std::as_const(piece.runs)) {
        const QRawFont raw = run.rawFont();
        // Antialiasing, hinting and synthetic bold reach a little beyond the
        // outline; the margin is far wider than that.
        const qreal margin = 3 + raw.pixelSize() / 4;
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        QList<QRectF> inks;
        inks.reserve(glyphs.size());
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            inks.append(raw.boundingRect(glyphs[i])
                            .translated(positions[i])
                            .adjusted(-margin, -margin, margin, margin));
        }
        piece.inks.append(inks);
    }
    piece.shaped = true;
    return piece;
}

void TextLabel::preparePainting()
{
    m_drawn.clear();
    m_drawnFont = font();
    const bool plainFont = !font().underline() && !font().overline() && !font().strikeOut();
    const QFontMetrics fm(font());
    const LineMetrics metrics = lineMetrics(font());
    m_ascent = metrics.ascent;
    m_lineHeight = metrics.height;
    auto nextUnderline = m_layout.shown.underlined.cbegin();
    for (const auto &[lineStart, length] : std::as_const(m_layout.lines)) {
        const QString line = m_layout.shown.text.mid(lineStart, length);
        DrawnLine drawn;
        drawn.width = fm.horizontalAdvance(line);
        int x = 0;
        forEachRun(line, lineStart, nextUnderline, m_layout.shown.underlined.cend(),
                   [&](const QString &text, bool underlined) {
                       drawn.pieces.push_back(makePiece(text, x, underlined, plainFont));
                       x += fm.horizontalAdvance(text);
                   });
        m_drawn.push_back(std::move(drawn));
    }
    m_drawnValid = true;
}

void TextLabel::paintEvent(QPaintEvent *event)
{
    if (!m_drawnValid || !m_drawnFont.isCopyOf(font()))
        preparePainting();
    QPainter p(this);
    p.setPen(m_color);
    const QRegion &area = event->region();
    int y = 0;
    for (const DrawnLine &line : m_drawn) {
        const int x = m_centered ? (width() - line.width) / 2 : 0;
        const int baseline = y + m_ascent;
        for (const Piece &piece : line.pieces) {
            if (piece.shaped) {
                drawShaped(p, piece, QPointF(x + piece.x, baseline - piece.ascent), area);
            } else if (!piece.underlined) {
                p.drawText(x + piece.x, baseline, piece.text);
            } else {
                QFont underlinedFont = font();
                underlinedFont.setUnderline(true);
                p.setFont(underlinedFont);
                p.drawText(x + piece.x, baseline, piece.text);
                p.setFont(font());
            }
        }
        y += m_lineHeight;
    }
}

void TextLabel::drawShaped(QPainter &p, const Piece &piece, QPointF origin, const QRegion &area)
{
    // A label over a bed whose picture changed is painted again only where
    // the picture is, and most of its glyphs lie elsewhere. Glyphs are drawn
    // one over another in order, so leaving out those that reach no pixel of
    // the area changes no pixel.
    for (qsizetype r = 0; r < piece.runs.size(); ++r) {
        const QGlyphRun &run = piece.runs[r];
        const QList<QRectF> &inks = piece.inks[r];
        const QList<quint32> allGlyphs = run.glyphIndexes();
        const QList<QPointF> allPositions = run.positions();
        QList<quint32> glyphs;
        QList<QPointF> positions;
        bool all = true;
        for (qsizetype i = 0; i < inks.size(); ++i) {
            if (area.intersects(inks[i].translated(origin).toAlignedRect())) {
                glyphs.append(allGlyphs[i]);
                positions.append(allPositions[i]);
            } else {
                all = false;
            }
        }
        if (all) {
            p.drawGlyphRun(origin, run);
        } else if (!glyphs.isEmpty()) {
            QGlyphRun part = run;
            part.setGlyphIndexes(glyphs);
            part.setPositions(positions);
            p.drawGlyphRun(origin, part);
        }
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
