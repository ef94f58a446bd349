#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>

#include <functional>

namespace kalvora {

// A label's text as drawn: a single "&" is not drawn and underlines the next
// character; "&&" shows one "&".
//   "&Bed 2" => text "Bed 2", underline at 0    "A && B" => "A & B", none
struct AcceleratedText {
    QString text;
    QList<qsizetype> underlined; // positions in text
};
AcceleratedText parseAccelerators(QStringView caption);

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

    QString m_caption;
    AcceleratedText m_shown;
    QList<std::pair<qsizetype, qsizetype>> m_lines; // start and length of each shown line
    QColor m_color = Qt::black;
    bool m_centered = false;
};

} // namespace kalvora
