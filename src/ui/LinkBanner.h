#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace kalvora {

// The lost-link banner: white bold text on red across the top of the call
// list's panel, over the column titles and the top of the list. It takes no
// pointer input (the beds and the panel beneath get every press and move),
// and while shown it stays above the window's other controls, also those
// made after it, such as the labels of new call list lines.
class LinkBanner final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinimumHeight = 32;
    static QColor background() { return QColor(192, 0, 0); }

    explicit LinkBanner(QWidget *parent);
    Q_DISABLE_COPY_MOVE(LinkBanner)

    // Lines are separated by "\n"; each is centred, and wrapped where the
    // panel is too narrow for it. The lines lie a call list row's pitch apart.
    void setText(const QString &text);
    const QString &text() const { return m_text; }

    // Lays the banner across the top of the panel: its left, its top and its
    // width; as high as the text needs, at least coverHeight (so that it
    // covers the column titles) and at least kMinimumHeight.
    void placeOver(const QRect &panel, int coverHeight);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QStringList wrappedLines(int width) const;
    int neededHeight(int lines) const;

    QString m_text;
    QStringList m_lines; // as wrapped at the banner's width
    int m_coverHeight = 0;
};

} // namespace kalvora
