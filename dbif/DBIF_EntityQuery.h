// DBIF_EntityQuery: the layer that answers a query with entities rather than rows. queryIds turns a
// master table and a condition into row ids through one DBIF_QuarnQuery; getObjectsFromIds and
// queryViaCache turn ids into the cached handles of kind T (T::get(connection, id)); and
// DBIF_EntityQueryOperations<T> gives a kind its static query operations over its
// T::MASTER_TABLE_NAME. Conditions and queries stay the caller's; the functions clone what they keep.
// Same threading as the object caches: one thread at a time per kind and connection.
#ifndef DBIF_ENTITYQUERY_H
#define DBIF_ENTITYQUERY_H

#include <QList>
#include <QString>

#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_QueryCondition.h"
#include "dbif/DBIF_SingleColumnCondition.h"

// The distinct ids of table's rows that satisfy the condition (joined with whatever tables it names),
// in the order the database returns them; with latestOnly only the latest measurements or setups.
// One SELECT; a failing statement throws DBIF_Exception.
DBIF_EXPORT QList<int> queryIds(const DBIF_Connection& connection, const QString& table,
                                const DBIF_QueryCondition* condition, bool latestOnly);

// One handle per id, in id order: the cached entity, or the null handle (reported by the cache) for
// an id without a row, so the list is always as long as ids. Costs one SELECT per id not yet cached.
template <typename T>
QList<T> getObjectsFromIds(const DBIF_Connection& connection, const QList<int>& ids) {
    QList<T> objects;
    objects.reserve(ids.size());
    for (const int id : ids)
        objects.append(T::get(connection, id));
    return objects;
}

template <typename T>
QList<T> queryViaCache(const DBIF_Connection& connection, const QString& table,
                       const DBIF_QueryCondition* condition, bool latestOnly) {
    return getObjectsFromIds<T>(connection, queryIds(connection, table, condition, latestOnly));
}

// Changes the caller's query: table's id becomes its first selected column (unless already selected)
// and the query is left marked distinct.
template <typename T>
QList<T> queryViaCache(const DBIF_Connection& connection, const QString& table, DBIF_Query* query) {
    query->addColumnAt(table, QStringLiteral("id"), 0);
    return getObjectsFromIds<T>(connection, queryIds(connection, query));
}

// The static query operations of entity kind T, which supplies static get(connection, id) and
// MASTER_TABLE_NAME. A kind whose queries differ hides the overloads it replaces.
template <typename T>
class DBIF_EntityQueryOperations {
public:
    // The entities whose master row, joined with the tables the condition names, satisfies it.
    static QList<T> query(const DBIF_Connection& connection, const DBIF_QueryCondition* condition,
                          bool latestOnly = false) {
        return queryViaCache<T>(connection, T::MASTER_TABLE_NAME, condition, latestOnly);
    }
    static QList<T> query(const DBIF_Connection& connection, const DBIF_SingleColumnCondition& condition,
                          bool latestOnly = false) {
        return T::query(connection, static_cast<const DBIF_QueryCondition*>(&condition), latestOnly);
    }
    static QList<T> query(const DBIF_Connection& connection, const DBIF_CompoundQueryCondition& condition,
                          bool latestOnly = false) {
        return T::query(connection, static_cast<const DBIF_QueryCondition*>(&condition), latestOnly);
    }
    // The entities whose ids the caller's query yields; the query gains the master table's id as its
    // first column and is left marked distinct.
    static QList<T> query(const DBIF_Connection& connection, DBIF_Query* userQuery) {
        return queryViaCache<T>(connection, T::MASTER_TABLE_NAME, userQuery);
    }

protected:
    DBIF_EntityQueryOperations() = default;
    ~DBIF_EntityQueryOperations() = default;
};

#endif
