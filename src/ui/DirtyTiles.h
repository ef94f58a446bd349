#pragma once

#include <QList>
#include <QRect>
#include <QRegion>

#include <algorithm>
#include <bit>
#include <limits>
#include <utility>
#include <vector>

namespace kalvora {

// Areas to repaint, gathered on a grid of 8 by 8 pixel tiles and given back as
// few rectangles: areas that touch or lie close together become one, so a
// thousand changed pictures of a crowded plan are a handful of rectangles to
// paint, and far-apart pictures stay apart. Each area grows to the tiles it
// touches (at most 7 pixels on each side).
//   add (3, 3, 10, 10), add (12, 3, 10, 10) => one rectangle (0, 0, 24, 16)
class DirtyTiles {
public:
    static constexpr int kShift = 3; // tiles of 8 by 8 pixels

    // The area the tiles cover, from (0, 0); forgets what was added.
    void resize(QSize size)
    {
        m_size = size;
        m_words = ((std::max(0, size.width()) + (1 << kShift) - 1) >> kShift) / 64 + 1;
        m_rows = (std::max(0, size.height()) + (1 << kShift) - 1) >> kShift;
        m_bits.assign(size_t(m_words) * size_t(m_rows), 0);
        m_first = m_rows;
        m_last = -1;
    }

    void add(const QRect &area)
    {
        const QRect r = area & QRect(QPoint(0, 0), m_size);
        if (r.isEmpty())
            return;
        const int x0 = r.left() >> kShift, x1 = r.right() >> kShift;
        const int y0 = r.top() >> kShift, y1 = r.bottom() >> kShift;
        for (int y = y0; y <= y1; ++y) {
            quint64 *row = &m_bits[size_t(y) * size_t(m_words)];
            for (int x = x0; x <= x1;) {
                const int bit = x & 63;
                const int n = std::min(64 - bit, x1 - x + 1);
                row[x >> 6] |= (n == 64 ? ~quint64(0) : ((quint64(1) << n) - 1)) << bit;
                x += n;
            }
        }
        m_first = std::min(m_first, y0);
        m_last = std::max(m_last, y1);
    }

    bool isEmpty() const { return m_last < 0; }
    // A pixel of the first row of tiles still to repaint; nothing when empty.
    QRect firstPixel() const { return isEmpty() ? QRect() : QRect(0, m_first << kShift, 1, 1); }

    // What was added, as a region of tile rectangles, at most `rows` rows of
    // tiles of it from the top; forgets what it gives.
    //   add (0, 0, 10, 40), take(2) => (0, 0, 16, 16); take() => (0, 16, 16, 24)
    QRegion take(int rows = std::numeric_limits<int>::max())
    {
        QList<QRect> rects;
        std::vector<std::pair<int, int>> band, previous; // runs of tiles: first, last
        qsizetype bandStart = 0;
        const int tile = 1 << kShift;
        const int last = rows >= m_last - m_first + 1 ? m_last : m_first + rows - 1;
        for (int y = m_first; y <= last; ++y) {
            quint64 *row = &m_bits[size_t(y) * size_t(m_words)];
            band.clear();
            for (int w = 0; w < m_words; ++w) {
                quint64 bits = row[w];
                row[w] = 0;
                while (bits) {
                    const int start = std::countr_zero(bits);
                    const int length = std::countr_one(bits >> start);
                    const int first = w * 64 + start;
                    if (!band.empty() && band.back().second == first - 1)
                        band.back().second = first + length - 1; // across words
                    else
                        band.push_back({ first, first + length - 1 });
                    bits =
                        length + start >= 64 ? 0 : bits & ~(((quint64(1) << length) - 1) << start);
                }
            }
            const int top = y * tile;
            const int height = std::min(tile, m_size.height() - top);
            if (!band.empty() && band == previous) {
                for (qsizetype i = bandStart; i < rects.size(); ++i)
                    rects[i].setHeight(rects[i].height() + height);
                continue;
            }
            bandStart = rects.size();
            for (const auto &[from, to] : band) {
                const int left = from * tile;
                const int right = std::min((to + 1) * tile, m_size.width());
                rects.append(QRect(left, top, right - left, height));
            }
            previous = band;
        }
        if (last == m_last) {
            m_first = m_rows;
            m_last = -1;
        } else {
            m_first = last + 1;
        }
        QRegion region;
        if (!rects.isEmpty())
            region.setRects(rects.constData(), int(rects.size()));
        return region;
    }

private:
    QSize m_size;
    int m_words = 0; // per row
    int m_rows = 0;
    std::vector<quint64> m_bits;
    int m_first = 0; // rows with tiles set
    int m_last = -1;
};

} // namespace kalvora
