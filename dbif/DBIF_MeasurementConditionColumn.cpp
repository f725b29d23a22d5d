// DBIF_MeasurementConditionColumn.cpp: the measurement-condition column kind and its template instances.
#include "dbif/DBIF_MeasurementConditionColumn.h"

template class DBIF_DynamicTableColumnKind<DBIF_MeasurementConditionColumn>;
template class DBIF_AttributedColumnKind<DBIF_MeasurementConditionColumn, QString>;
template DBIF_ObjectCache<DBIF_MeasurementConditionColumn>& getObjectCache<DBIF_MeasurementConditionColumn>();
template class DBIF_ObjectCache<DBIF_MeasurementConditionColumn>;

QString DBIF_MeasurementConditionColumn::computeKey(const QString& name, const QString& dataType,
                                                    const QString&) {
    return composeKey(name, {dataType});
}

const DBIF_TableSet& DBIF_MeasurementConditionColumn::tableSet() {
    static const DBIF_TableSet tables =
        DBIF_TableSet::forMasterTable(QStringLiteral("measurement_condition"));
    return tables;
}
