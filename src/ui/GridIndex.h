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
// the item is removed (to move an item: remove, change, insert). An item that
// is about to be destroyed may be forgotten instead of removed: that costs
// nothing at once, and what it left in the cells is swept out in one pass
// now and then, so destroying every item of a dense plan stays linear.
template<class T> class GridIndex {
public:
    static constexpr int kCellShift = 5; // cells of 32 by 32 pixels
    static constexpr qint64 kMaxCells = 64;

    void insert(T *item)
    {
        if (!m_forgotten.empty()) {
            // A new item where a forgotten one was: its leftovers go first.
            const auto it = m_forgotten.find(item);
            if (it != m_forgotten.end()) {
                removeAt(item, it->second);
                m_forgotten.erase(it);
            }
        }
        const QRect r = item->geometry();
        if (r.isEmpty())
            return; // meets nothing
        ++m_size;
        if (isLarge(r)) {
            m_large.push_back(item);
            return;
        }
        forEachCell(r, [&](qint64 key) { m_cells[key].push_back({ item, r }); });
    }

    void remove(T *item)
    {
        const QRect r = item->geometry();
        if (r.isEmpty())
            return;
        --m_size;
        removeAt(item, r);
    }

    // Takes an item out that is about to be destroyed; it is never reported
    // again. Its pointer is not followed after this call.
    void forget(const T *item)
    {
        const QRect r = item->geometry();
        if (r.isEmpty())
            return;
        --m_size;
        m_forgotten.emplace(item, r);
        if (m_forgotten.size() > 64 && qsizetype(m_forgotten.size()) * 8 > m_size)
            sweep();
    }

    // Calls f(item) once for every item whose rectangle meets `area`, in no
    // particular order.
    template<class F> void forEachMeeting(const QRect &area, F &&f) const
    {
        if (area.isEmpty())
            return;
        const bool anyForgotten = !m_forgotten.empty();
        const auto live = [&](const T *item) { return !anyForgotten || !m_forgotten.count(item); };
        for (T *item : m_large) {
            if (live(item) && item->geometry().intersects(area))
                f(item);
        }
        // An item in several cells of the area is reported by the cell that
        // holds the top-left corner of what it shares with the area.
        const auto inCell = [&](qint64 key, const std::vector<Entry> &entries) {
            for (const Entry &e : entries) {
                const QRect shared = e.rect & area;
                if (!shared.isEmpty() && keyOf(shared.left(), shared.top()) == key && live(e.item))
                    f(e.item);
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
    void removeAt(const T *item, const QRect &r)
    {
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

    // Drops what forgotten items left in the cells.
    void sweep()
    {
        const auto forgotten = [this](const T *item) { return m_forgotten.count(item) > 0; };
        std::erase_if(m_large, forgotten);
        for (auto it = m_cells.begin(); it != m_cells.end();) {
            std::erase_if(it->second, [&](const Entry &e) { return forgotten(e.item); });
            it = it->second.empty() ? m_cells.erase(it) : std::next(it);
        }
        m_forgotten.clear();
    }

    static int cellOf(int v) { return v >> kCellShift; } // rounds toward minus infinity
    static qint64 keyOf(int x, int y) { return qint64(cellOf(x)) << 32 | quint32(cellOf(y)); }
    static qint64 cellCount(const QRect &r)
    {
        const qint64 w = qint64(cellOf(r.right())) - cellOf(r.left()) + 1;
        const qint64 h = qint64(cellOf(r.bottom())) - cellOf(r.top()) + 1;
        return w * h;
    }
    static bool isLarge(const QRect &r) { return cellCount(r) > kMaxCells; }
    template<class F> static void forEachCell(const QRect &r, F &&f)
    {
        const int x0 = cellOf(r.left()), x1 = cellOf(r.right());
        const int y0 = cellOf(r.top()), y1 = cellOf(r.bottom());
        for (int cx = x0; cx <= x1; ++cx) {
            for (int cy = y0; cy <= y1; ++cy)
                f(qint64(cx) << 32 | quint32(cy));
        }
    }
    static void erase(std::vector<T *> &items, const T *item)
    {
        const auto it = std::find(items.begin(), items.end(), item);
        if (it == items.end())
            return;
        *it = items.back();
        items.pop_back();
    }
    // The rectangle kept beside the item: a query looks at no item it does
    // not report.
    struct Entry {
        T *item;
        QRect rect;
    };
    static void erase(std::vector<Entry> &entries, const T *item)
    {
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [item](const Entry &e) { return e.item == item; });
        if (it == entries.end())
            return;
        *it = entries.back();
        entries.pop_back();
    }

    std::unordered_map<qint64, std::vector<Entry>> m_cells;
    std::vector<T *> m_large;
    std::unordered_map<const T *, QRect> m_forgotten; // and where they were
    qsizetype m_size = 0;
};

} // namespace kalvora
