// WhereExpression: the --where grammar "FIELD OP VALUE" turned into the library's condition objects,
// so user text reaches SQL only as a quoted value. FIELD is an entity field (die.lot, device.type,
// measurement.temperature, catalog_entry.run_type, ...) or the name of a measurement data column;
// OP is one of = != < <= > >= ~ (like). A plain value; parse() needs the connection only to find
// data columns.
#ifndef DBIF_TOOLS_WHEREEXPRESSION_H
#define DBIF_TOOLS_WHEREEXPRESSION_H

#include <QString>
#include <QStringList>
#include <memory>

#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_SingleColumnCondition.h"

class WhereExpression {
public:
    // All expressions joined with AND; null when there are none. Throws ToolError (usage) for a
    // malformed expression, an unknown field (the message lists the fields there are) or a value
    // that is not a finite number where the field holds numbers.
    static std::unique_ptr<DBIF_QueryCondition> parseAll(const DBIF_Connection& connection,
                                                         const QStringList& expressions);
    static DBIF_SingleColumnCondition parse(const DBIF_Connection& connection, const QString& expression);
    // The entity fields, as the error message lists them.
    static QStringList fieldNames();
};

#endif
