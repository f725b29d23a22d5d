// DBIF_Measurement.cpp: the measurement kind's table names and fixed columns.
#include "dbif/DBIF_Measurement.h"

#include "dbif/DBIF_MeasurementColumn.h"

const QString DBIF_Measurement::MASTER_TABLE_NAME = DBIF_MeasurementColumn::tableSet().masterTableName;
const QString DBIF_Measurement::COLUMN_TABLE_NAME = DBIF_MeasurementColumn::tableSet().columnTableName;
const QString DBIF_Measurement::DATA_TABLE_NAME = DBIF_MeasurementColumn::tableSet().dataTableName;
const QString DBIF_Measurement::ASSOCIATION_TABLE_NAME =
    DBIF_MeasurementColumn::tableSet().associationTableName;
const QString DBIF_Measurement::DATA_ORIGIN = QStringLiteral("DataOrigin");

const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::TEMPERATURE(QStringLiteral("temperature"), false,
                                                                       true, DBIF_DEFAULT_RELATIVE_TOLERANCE,
                                                                       1e-10);
const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::MODIFIED_TIME(QStringLiteral("modified_time"),
                                                                         false, false);
const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::MEASUREMENT_ID(QStringLiteral("measurement_id"),
                                                                          false, false);

const QList<DBIF_FixedColumn<DBIF_Measurement>>& DBIF_Measurement::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_Measurement>> columns{ID, TEMPERATURE, MODIFIED_TIME, USER,
                                                                   MEASUREMENT_ID};
    return columns;
}
