// DBIF_MeasurementColumn.cpp: the measurement column kind and its template instances.
#include "dbif/DBIF_MeasurementColumn.h"

template class DBIF_DynamicTableColumnKind<DBIF_MeasurementColumn>;
template class DBIF_PlainColumnKind<DBIF_MeasurementColumn>;
template DBIF_ObjectCache<DBIF_MeasurementColumn>& getObjectCache<DBIF_MeasurementColumn>();
template class DBIF_ObjectCache<DBIF_MeasurementColumn>;

const DBIF_TableSet& DBIF_MeasurementColumn::tableSet() {
    static const DBIF_TableSet tables = DBIF_TableSet::forMasterTable(QStringLiteral("measurement"));
    return tables;
}
