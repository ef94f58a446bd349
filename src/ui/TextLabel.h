#pragma once

#include <QColor>
#include <QFont>
#include <QGlyphRun>
#include <QSize>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QPainter;

namespace kalvora {

// A label's text as drawn: a single "&" is not drawn and underlines the next
// character; "&&" shows one "&".
//   "&Bed 2" => text "Bed 2", underline at 0    "A && B" => "A & B", none
struct AcceleratedText {
    QString text;
    QList<qsizetype> underlined; // positions in text
};
AcceleratedText parseAccelerators(QStringView caption);

// A caption as a label lays it out in a font: the text it draws, where each of
// its lines starts and how long it is, and the size the label takes (as wide
// as its widest line, one line height per line).
//   "ab\r\nwide line" => lines {0, 2} and {2, 9}, width of "wide line", two lines high
struct LabelLayout {
    AcceleratedText shown;
    QList<std::pair<qsizetype, qsizetype>> lines; // start and length in shown.text
    QList<int> widths; // of each line
    QSize size;
};
LabelLayout layLabel(const QString &caption, const QFont &font);
// The two halves of layLabel: the lines of a caption, then their measures.
LabelLayout splitLabel(const QString &caption);
void measureLabel(LabelLayout &layout, const QFont &font);

// Draws a laid-out caption in the painter's pen with the label's top-left
// corner at `origin`, each line left-justified or centred in the label's width.
void drawLabel(QPainter &p, const LabelLayout &layout, const QFont &font, QPoint origin,
               bool centered);

// A transparent text control that sizes itself to its text (one line per line
// end in the text), in a given font and colour, left-justified or centred.
// Pointer moves over it stop here; presses go to its button-down handler.
class TextLabel : public QWidget {
    Q_OBJECT
public:
    explicit TextLabel(QWidget *parent);

    void setText(const QString &text);
    const QString &text() const { return m_caption; }
    void setLabelFont(const QFont &font);
    void setColor(const QColor &color);
    QColor color() const { return m_color; }
    void setCentered(bool centered);

    std::function<void(Qt::MouseButton)> onMouseDown;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void relayout();

    // What paintEvent draws, worked out once per text and font: measuring and
    // shaping text is the dearest part of painting a label, and on a ward's plan
    // hundreds of labels lie over beds whose pictures change. A piece that is
    // not underlined keeps its shaped glyphs, with a generous outline of each
    // glyph's ink; drawn, they give the same pixels as drawing the text afresh.
    struct Piece {
        QString text;
        int x = 0; // from the start of its line
        bool underlined = false;
        bool shaped = false; // false: drawn afresh
        qreal ascent = 0; // of the shaped line: the baseline lies this far below the origin
        QList<QGlyphRun> runs; // positions from the origin
        QList<QList<QRectF>> inks; // per run and glyph, from the origin
    };
    struct DrawnLine {
        std::vector<Piece> pieces;
        int width = 0;
    };
    void preparePainting();
    Piece makePiece(const QString &text, int x, bool underlined, bool plainFont);
    static void drawShaped(QPainter &p, const Piece &piece, QPointF origin, const QRegion &area);

    QString m_caption;
    LabelLayout m_layout;
    QColor m_color = Qt::black;
    bool m_centered = false;
    std::vector<DrawnLine> m_drawn; // valid while m_drawnFont is the font and the text is unchanged
    QFont m_drawnFont;
    bool m_drawnValid = false;
    int m_ascent = 0;
    int m_lineHeight = 0;
};

} // namespace kalvora
