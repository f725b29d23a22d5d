// Listing: `dbif ls runs|dies|devices|measurements`, the entities that satisfy the --where conditions
// as an aligned table (a terminal) or CSV (--csv). Also the identifying fields of a measurement that
// export and plot print beside its data. Stateless; used from one thread.
#ifndef DBIF_TOOLS_LISTING_H
#define DBIF_TOOLS_LISTING_H

#include <QList>
#include <QString>
#include <QStringList>
#include <ostream>
#include <utility>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_QueryCondition.h"

class Listing {
public:
    using Table = QList<QStringList>;  // the header row first

    // Throws ToolError (usage) for an unknown kind.
    static Table list(const DBIF_Connection& connection, const QString& kind,
                      const DBIF_QueryCondition* condition, bool latestOnly);
    static void print(std::ostream& out, const Table& table, bool csv);

    // id, lot, wafer, die, device, device_type, condition, temperature, run.
    static QStringList measurementHeader();
    static QStringList measurementFields(const DBIF_Measurement& measurement);
    // The measurements that satisfy the condition, in id order.
    static QList<DBIF_Measurement> measurements(const DBIF_Connection& connection,
                                                const DBIF_QueryCondition* condition, bool latestOnly);
    // The name of a measurement data column from its key.
    static QString columnName(const DBIF_Connection& connection, const QString& key);
    // The stored measurement column of that data type a user names: by its whole name ("Id [A]"), or by
    // its name without the unit ("Id") when one column of that type has it. Empty when there is none.
    // Throws ToolError (usage) when the name without unit fits columns in several units.
    static QString resolveColumn(const DBIF_Connection& connection, const QString& name,
                                 const QString& dataType);
    // True when the column name is the name given, or it with a unit in brackets.
    static bool namesColumn(const QString& columnName, const QString& name);
    // A column name split into the name and the unit in brackets: "Vg [V]" as "Vg" and "V"; a name
    // without a unit as itself and an empty unit.
    static std::pair<QString, QString> nameAndUnit(const QString& columnName);
};

#endif
