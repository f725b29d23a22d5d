// DBIF_MeasurementCondition: A named measurement condition of a run, with the routine that produced it.
// This file holds the kind's table names and the fixed master-table columns that queries name; the
// entity's handle, record and persistence build on them. Constants only: safe from any thread.
#ifndef DBIF_MEASUREMENTCONDITION_H
#define DBIF_MEASUREMENTCONDITION_H

#include <QList>
#include <QString>

#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"

class DBIF_EXPORT DBIF_MeasurementCondition {
public:
    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;

    static const DBIF_FixedColumn<DBIF_MeasurementCondition> ID;
    static const DBIF_FixedColumn<DBIF_MeasurementCondition> NAME;
    static const DBIF_FixedColumn<DBIF_MeasurementCondition> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_MeasurementCondition> USER;
    static const DBIF_FixedColumn<DBIF_MeasurementCondition> MEASUREMENT_CONDITION_ID;

    // The fixed columns above, in the order the master table's queries list them.
    static const QList<DBIF_FixedColumn<DBIF_MeasurementCondition>>& fixedColumns();
};

#endif
