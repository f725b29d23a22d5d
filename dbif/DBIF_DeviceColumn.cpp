// DBIF_DeviceColumn.cpp: the device column kind, its categories and its template instances.
#include "dbif/DBIF_DeviceColumn.h"

template class DBIF_DynamicTableColumnKind<DBIF_DeviceColumn>;
template class DBIF_AttributedColumnKind<DBIF_DeviceColumn, QString>;
template DBIF_ObjectCache<DBIF_DeviceColumn>& getObjectCache<DBIF_DeviceColumn>();
template class DBIF_ObjectCache<DBIF_DeviceColumn>;

const char* const DBIF_DeviceColumn::ID_CATEGORY = "ID";
const char* const DBIF_DeviceColumn::PHYSICAL_CATEGORY = "PHYSICAL";
const char* const DBIF_DeviceColumn::CALIBRATION_CATEGORY = "CALIBRATION";
const char* const DBIF_DeviceColumn::NODE_CATEGORY = "NODE";
const char* const DBIF_DeviceColumn::TECHNOLOGY_CATEGORY = "TECHNOLOGY";
const char* const DBIF_DeviceColumn::IS_MEASUREMENT_CATEGORY = "IS_MEASUREMENT";
const char* const DBIF_DeviceColumn::IS_MEASUREMENT_COLUMN_NAME = "is_measurement";

QString DBIF_DeviceColumn::computeKey(const QString& name, const QString& dataType, const QString& category) {
    return composeKey(name, {dataType, category});
}

const DBIF_TableSet& DBIF_DeviceColumn::tableSet() {
    static const DBIF_TableSet tables = DBIF_TableSet::forMasterTable(QStringLiteral("device"));
    return tables;
}
