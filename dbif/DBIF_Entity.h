// DBIF_Entity: what the fixed-table entity kinds (die, routine) share as value handles: the
// explicitly shared record, the lookups through the kind's object cache, cache membership, the
// accessors of the common fields and the static query operations. T is the kind (CRTP), Record its
// shared record, derived from DBIF_EntityRecord. Copies share the record and see each other's
// changes; no copy-on-write. Not thread-safe: a kind's cache and a connection serve one thread at a time.
#ifndef DBIF_ENTITY_H
#define DBIF_ENTITY_H

#include <QDateTime>
#include <QExplicitlySharedDataPointer>
#include <QString>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_EntityQuery.h"
#include "dbif/DBIF_EntityRecord.h"
#include "dbif/DBIF_ObjectCache.h"

template <typename T, typename Record>
class DBIF_Entity : public DBIF_EntityQueryOperations<T> {
public:
    // The stored entity, or a null handle (reported through the assertions).
    static T get(const DBIF_Connection& connection, int id) {
        return DBIF_ObjectCache<T>::get(connection, id);
    }
    static T get(const DBIF_Connection& connection, const QString& key) {
        return DBIF_ObjectCache<T>::get(connection, key);
    }

    static DBIF_ObjectCache<T>& getObjectCache() {
        static DBIF_ObjectCache<T> cache;
        return cache;
    }
    static void clearCache() { DBIF_ObjectCache<T>::emptyCache(); }

    // On a null handle every accessor reports once and returns an empty value (id -1, empty texts, a
    // connection of no database); the operations report and do nothing.
    bool isNull() const { return !d; }
    int getId() const { return field(&Record::id, "getId", -1); }
    QString getKey() const { return field(&Record::key, "getKey"); }
    QString getUser() const { return field(&Record::user, "getUser"); }
    QDateTime getModifiedTime() const { return field(&Record::modifiedTime, "getModifiedTime"); }
    bool isModified() const { return field(&Record::modified, "isModified"); }
    DBIF_Connection getConnection() const {
        return hasRecord("getConnection") ? d->connection : DBIF_Connection::nullConnection();
    }
    void setModifiedTimeToNow() {
        if (hasRecord("setModifiedTimeToNow"))
            d->modifiedTime = now();
    }

    // Re-reads the row (another connection may have changed it) and refiles the entity under its key.
    void reload() {
        if (hasRecord("reload"))
            DBIF_ObjectCache<T>::reload(self());
    }
    bool isCached() const {
        return hasRecord("isCached") && getObjectCache().contains(d->connection, d->key);
    }
    void removeFromCache() {
        if (hasRecord("removeFromCache"))
            getObjectCache().removeFromCache(d->connection, self());
    }

    bool operator==(const T& other) const { return d == other.d; }
    bool operator!=(const T& other) const { return d != other.d; }

protected:
    DBIF_Entity() = default;
    explicit DBIF_Entity(Record* record) : d(record) {}
    ~DBIF_Entity() = default;

    bool hasRecord(const char* operation) const {
        return checkHandle(static_cast<bool>(d), __FILE__, __LINE__, operation);
    }
    // The record's field, or the fallback (reported) on a null handle.
    template <typename F, typename R>
    F field(F R::*member, const char* operation, F fallback = F()) const {
        return hasRecord(operation) ? static_cast<const R&>(*d).*member : fallback;
    }

    QExplicitlySharedDataPointer<Record> d;

private:
    const T& self() const { return static_cast<const T&>(*this); }
};

#endif
