// DBAL_LatestRecord.cpp: the latest-measurement and latest-setup values and their replace-or-insert.
#include "dbif/DBAL_LatestRecord.h"

#include "dbif/DBIF_EntityRecord.h"

QStringList DBAL_LatestRecord::statementValues(const DBIF_Connection& connection) const {
    const auto text = [&connection](const QString& value) {
        return DBIF_EntityRecord::sqlText(connection, value);
    };
    return {QString::number(dieId),
            text(deviceType),
            text(deviceParentSubsiteName),
            QString::number(devicePositionWithinSubsite),
            text(measurementConditionName),
            QString::number(measurementTemperature, 'g', 6),
            text(routineName),
            text(dataOrigin),
            text(mode)};
}

void DBAL_LatestRecord::store(const DBIF_Connection& connection, const QString& deleteSql,
                              const QString& countSql, const QString& insertSql, const QString& updateSql) {
    connection.query(deleteSql, DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    if (connection.queryInt(countSql, DBIF_QUERY_TIMING, __FILE__, __LINE__) == 0)
        connection.query(insertSql, DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    else
        connection.query(updateSql, DBIF_UPDATE_TIMING, __FILE__, __LINE__);
}
