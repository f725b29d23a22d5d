// DBIF_EntityQuery.cpp: the id query over a master table and a condition, which every entity kind's
// query operations run.
#include "dbif/DBIF_EntityQuery.h"

QList<int> queryIds(const DBIF_Connection& connection, const QString& table,
                    const DBIF_QueryCondition* condition, bool latestOnly) {
    DBIF_QuarnQuery query(connection);
    query.addColumnAt(table, QStringLiteral("id"), 0);
    query.setCondition(condition);
    query.markLatestOnly(latestOnly);
    return queryIds(connection, &query);
}
