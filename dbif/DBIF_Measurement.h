// DBIF_Measurement: A measurement of a device on a die under a condition and temperature, with its data.
// This file holds the kind's table names and the fixed master-table columns that queries name; the
// entity's handle, record and persistence build on them. Constants only: safe from any thread.
#ifndef DBIF_MEASUREMENT_H
#define DBIF_MEASUREMENT_H

#include <QList>
#include <QString>

#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"

class DBIF_EXPORT DBIF_Measurement {
public:
    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;
    // The measurement data column that holds the data origin text.
    static const QString DATA_ORIGIN;

    static const DBIF_FixedColumn<DBIF_Measurement> ID;
    static const DBIF_FixedColumn<DBIF_Measurement> TEMPERATURE;
    static const DBIF_FixedColumn<DBIF_Measurement> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_Measurement> USER;
    static const DBIF_FixedColumn<DBIF_Measurement> MEASUREMENT_ID;

    // The fixed columns above, in the order the master table's queries list them.
    static const QList<DBIF_FixedColumn<DBIF_Measurement>>& fixedColumns();
};

#endif
