#pragma once

#include <QRect>

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace kalvora {

// Items with rectangles, filed in the square cells of a grid they cover, so
// that the items meeting a small area are found without looking at the rest:
// a repaint or a pointer event on a plan of a hundred thousand markers looks
// at the few near it. An item covering more than kMaxCells cells is kept in a
// list of its own that every query looks at.
//
// T needs `QRect geometry() const`, which must stay as it was inserted until
// the item is removed (to move an item: remove, change, insert).
template<class T>
class GridIndex {
public:
    static constexpr int kCellShift = 5; // cells of 32 by 32 pixels
    static constexpr qint64 kMaxCells = 64;

    void insert(T *item)
    {
        const QRect r = item->geometry();
        if (r.isEmpty())
            return; // meets nothing
        ++m_size;
        if (isLarge(r)) {
            m_large.push_back(item);
            return;
        }
        forEachCell(r, [&](qint64 key) { m_cells[key].push_back(item); });
    }

    void remove(T *item)
    {
        const QRect r = item->geometry();
        if (r.isEmpty())
            return;
        --m_size;
        if (isLarge(r)) {
            erase(m_large, item);
            return;
        }
        forEachCell(r, [&](qint64 key) {
            const auto it = m_cells.find(key);
            if (it == m_cells.end())
                return;
            erase(it->second, item);
            if (it->second.empty())
                m_cells.erase(it);
        });
    }

    // Calls f(item) once for every item whose rectangle meets `area`, in no
    // particular order.
    template<class F>
    void forEachMeeting(const QRect &area, F &&f) const
    {
        if (area.isEmpty())
            return;
        for (T *item : m_large) {
            if (item->geometry().intersects(area))
                f(item);
        }
        // An item in several cells of the area is reported by the cell that
        // holds the top-left corner of what it shares with the area.
        const auto inCell = [&](qint64 key, const std::vector<T *> &items) {
            for (T *item : items) {
                const QRect shared = item->geometry() & area;
                if (!shared.isEmpty() && keyOf(shared.left(), shared.top()) == key)
                    f(item);
            }
        };
        if (cellCount(area) > qint64(m_cells.size())) {
            for (const auto &[key, items] : m_cells)
                inCell(key, items);
            return;
        }
        forEachCell(area, [&](qint64 key) {
            const auto it = m_cells.find(key);
            if (it != m_cells.end())
                inCell(key, it->second);
        });
    }

    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

private:
    static int cellOf(int v) { return v >> kCellShift; } // rounds toward minus infinity
    static qint64 keyOf(int x, int y)
    {
        return qint64(cellOf(x)) << 32 | quint32(cellOf(y));
    }
    static qint64 cellCount(const QRect &r)
    {
        const qint64 w = qint64(cellOf(r.right())) - cellOf(r.left()) + 1;
        const qint64 h = qint64(cellOf(r.bottom())) - cellOf(r.top()) + 1;
        return w * h;
    }
    static bool isLarge(const QRect &r) { return cellCount(r) > kMaxCells; }
    template<class F>
    static void forEachCell(const QRect &r, F &&f)
    {
        const int x0 = cellOf(r.left()), x1 = cellOf(r.right());
        const int y0 = cellOf(r.top()), y1 = cellOf(r.bottom());
        for (int cx = x0; cx <= x1; ++cx) {
            for (int cy = y0; cy <= y1; ++cy)
                f(qint64(cx) << 32 | quint32(cy));
        }
    }
    static void erase(std::vector<T *> &items, T *item)
    {
        const auto it = std::find(items.begin(), items.end(), item);
        if (it == items.end())
            return;
        *it = items.back();
        items.pop_back();
    }

    std::unordered_map<qint64, std::vector<T *>> m_cells;
    std::vector<T *> m_large;
    qsizetype m_size = 0;
};

} // namespace kalvora
