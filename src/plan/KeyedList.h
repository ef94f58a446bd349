#pragma once

#include <QHash>
#include <QString>
#include <QVarLengthArray>

#include <algorithm>
#include <memory>
#include <vector>

namespace kalvora {

// An ordered list of (key, object) items that owns its objects. Lookup by key
// compares case-insensitively and returns the first match in list order, as a
// linear search would, but through an index, so it costs the same with ten
// items or ten thousand. New items are only ever appended, which keeps each
// index bucket in list order.
template<class T> class KeyedList {
public:
    struct Item {
        QString key;
        std::unique_ptr<T> object;
    };

    KeyedList() = default;
    KeyedList(const KeyedList &) = delete;
    KeyedList &operator=(const KeyedList &) = delete;

    qsizetype size() const { return qsizetype(m_items.size()); }
    bool isEmpty() const { return m_items.empty(); }
    const QString &keyAt(qsizetype i) const { return m_items[size_t(i)].key; }
    T *at(qsizetype i) const { return m_items[size_t(i)].object.get(); }

    // The object of the first item whose key matches, ignoring case, or null.
    T *find(QStringView key) const
    {
        const auto it = m_index.constFind(fold(key));
        return it == m_index.constEnd() ? nullptr : it->front();
    }

    T *append(const QString &key, std::unique_ptr<T> object)
    {
        T *raw = object.get();
        m_index[fold(key)].append(raw);
        m_items.push_back(Item { key, std::move(object) });
        return raw;
    }

    // Position of the item holding the object, or -1.
    qsizetype indexOf(const T *object) const
    {
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (m_items[i].object.get() == object)
                return qsizetype(i);
        }
        return -1;
    }

    // Removes the item and hands its object to the caller.
    std::unique_ptr<T> takeAt(qsizetype i)
    {
        Item item = std::move(m_items[size_t(i)]);
        m_items.erase(m_items.begin() + i);
        unindex(item);
        return std::move(item.object);
    }

    // Moves the item to the end of the list under the same key.
    void moveToEnd(qsizetype i)
    {
        const QString key = keyAt(i);
        append(key, takeAt(i));
    }

    // Removes, in list order, every item whose object satisfies pred, and hands
    // them to the caller in that order.
    template<class Pred> std::vector<std::unique_ptr<T>> takeIf(Pred pred)
    {
        std::vector<std::unique_ptr<T>> taken;
        auto keep = m_items.begin();
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (pred(*it->object)) {
                unindex(*it);
                taken.push_back(std::move(it->object));
            } else {
                if (keep != it)
                    *keep = std::move(*it);
                ++keep;
            }
        }
        m_items.erase(keep, m_items.end());
        return taken;
    }

    // Removes every item and hands the objects over in list order.
    std::vector<std::unique_ptr<T>> takeAll()
    {
        return takeIf([](const T &) { return true; });
    }

    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    static QString fold(QStringView key) { return key.toString().toCaseFolded(); }

    void unindex(const Item &item)
    {
        const auto it = m_index.find(fold(item.key));
        if (it == m_index.end())
            return;
        auto &bucket = *it;
        const auto pos = std::find(bucket.begin(), bucket.end(), item.object.get());
        if (pos != bucket.end())
            bucket.erase(pos);
        if (bucket.isEmpty())
            m_index.erase(it);
    }

    std::vector<Item> m_items;
    QHash<QString, QVarLengthArray<T *, 1>> m_index;
};

} // namespace kalvora
