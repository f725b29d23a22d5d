// DBAL_LatestRecord: the combination that a saved measurement or setup stands for in latest_measurement
// or latest_setup (die, device type, subsite, position, condition, temperature, routine, data origin,
// mode), in the forms the bookkeeping statements write, and the replace-or-insert that makes an entity
// the latest of its combination. Internal to the storage engines' kind traits; a plain value.
#ifndef DBAL_LATESTRECORD_H
#define DBAL_LATESTRECORD_H

#include <QString>
#include <QStringList>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Export.h"

class DBIF_EXPORT DBAL_LatestRecord {
public:
    // The values of an entity without measurement context: no die, device, condition or temperature.
    DBAL_LatestRecord() = default;

    // The nine values in statement order: integers in decimal, the temperature with six significant
    // digits, texts escaped for a place between single quotes of the connection's dialect.
    QStringList statementValues(const DBIF_Connection& connection) const;

    // Deletes the entity's own row (deleteSql), counts the rows of its combination (countSql) and
    // either inserts a row (insertSql) or points the existing ones at the entity (updateSql).
    static void store(const DBIF_Connection& connection, const QString& deleteSql, const QString& countSql,
                      const QString& insertSql, const QString& updateSql);

    int dieId = -1;
    QString deviceType;
    QString deviceParentSubsiteName;
    int devicePositionWithinSubsite = -1;
    QString measurementConditionName;
    double measurementTemperature = -1;
    QString routineName;
    QString dataOrigin;
    QString mode;
};

#endif
