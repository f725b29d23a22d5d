// DBIF_MeasurementCondition.cpp: the measurement condition kind's table names and fixed columns.
#include "dbif/DBIF_MeasurementCondition.h"

#include "dbif/DBIF_MeasurementConditionColumn.h"

const QString DBIF_MeasurementCondition::MASTER_TABLE_NAME =
    DBIF_MeasurementConditionColumn::tableSet().masterTableName;
const QString DBIF_MeasurementCondition::COLUMN_TABLE_NAME =
    DBIF_MeasurementConditionColumn::tableSet().columnTableName;
const QString DBIF_MeasurementCondition::DATA_TABLE_NAME =
    DBIF_MeasurementConditionColumn::tableSet().dataTableName;
const QString DBIF_MeasurementCondition::ASSOCIATION_TABLE_NAME =
    QStringLiteral("measurement_condition_association");

const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::ID(QStringLiteral("id"), false,
                                                                                false);
const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::NAME(QStringLiteral("name"),
                                                                                  true, false);
const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::MODIFIED_TIME(
    QStringLiteral("modified_time"), false, false);
const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::USER(QStringLiteral("user"),
                                                                                  true, false);
const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::MEASUREMENT_CONDITION_ID(
    QStringLiteral("measurement_condition_id"), false, false);

const QList<DBIF_FixedColumn<DBIF_MeasurementCondition>>& DBIF_MeasurementCondition::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_MeasurementCondition>> columns{ID, NAME, MODIFIED_TIME, USER,
                                                                            MEASUREMENT_CONDITION_ID};
    return columns;
}
