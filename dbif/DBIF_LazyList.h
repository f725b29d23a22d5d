// DBIF_LazyList<T>: the children of a catalog entry (setups, measurements, measurement conditions) as ids
// read from the database, beside the children the program added or loaded, so that reading an entry
// reads none of its children. A plain value: copies are independent (no shared record). Items load
// through T's object cache only when accessed by position. Instantiated in the kinds' source files for
// DBIF_Setup, DBIF_Measurement and DBIF_MeasurementCondition. One thread at a time, like the caches.
#ifndef DBIF_LAZYLIST_H
#define DBIF_LAZYLIST_H

#include <QList>
#include <QPair>
#include <QString>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Utilities.h"
#include "dbif/DBIF_WeakConnection.h"

template <typename T>
class DBIF_LazyList {
public:
    // (loaded, id): entry i describes item i; an unloaded entry's item is a null handle.
    using Entry = QPair<bool, int>;

    explicit DBIF_LazyList(const DBIF_Connection& connection) : connection(connection) {}
    DBIF_LazyList(const DBIF_LazyList& other) = default;
    DBIF_LazyList& operator=(const DBIF_LazyList& other) = default;
    ~DBIF_LazyList() = default;

    // Appends an unloaded entry for every id in column 0 of the statement's rows, in row order.
    // Builds no object. Throws DBIF_Exception when the statement fails.
    void addItems(const QString& sql) {
        const QList<int> ids =
            connection.queryScalarList<int>(sql, DBIF_QUERY_TIMING, "dbif/DBIF_LazyList", 36);
        for (int id : ids) {
            entries.append(Entry(false, id));
            items.append(T());
        }
    }
    // A loaded entry with the item's id as it is now: an item saved later keeps -1 here.
    void append(const T& item) {
        entries.append(Entry(true, item.getId()));
        items.append(item);
    }
    void clear() {
        entries.clear();
        items.clear();
    }
    // The items of the loaded entries, in list order; unloaded entries are not fetched.
    QList<T> loadedItems() const {
        QList<T> loaded;
        for (int i = 0; i < entries.size(); ++i) {
            if (entries[i].first)
                loaded.append(items[i]);
        }
        return loaded;
    }

    int size() const { return static_cast<int>(entries.size()); }
    QList<Entry> getEntries() const { return entries; }
    const DBIF_Connection& getConnection() const { return connection; }

    // The item at the index, fetched through T's cache when its entry is unloaded (the entry is then
    // loaded). A null handle for an index out of range or an id whose row is gone (both reported); such
    // an entry stays unloaded.
    T at(int index) {
        if (!assert1(index >= 0 && index < entries.size(), __FILE__, __LINE__,
                     QStringLiteral("DBIF_LazyList::at: no item at index %1"), QString::number(index)))
            return T();
        if (!entries[index].first) {
            const T item = T::get(connection, entries[index].second);
            if (item.isNull())
                return item;
            items[index] = item;
            entries[index].first = true;
        }
        return items[index];
    }

private:
    DBIF_WeakConnection connection;
    QList<Entry> entries;
    QList<T> items;
};

#endif
