// DBIF_Device.cpp: the device kind's table names and fixed columns.
#include "dbif/DBIF_Device.h"

#include "dbif/DBIF_DeviceColumn.h"

const QString DBIF_Device::MASTER_TABLE_NAME = DBIF_DeviceColumn::tableSet().masterTableName;
const QString DBIF_Device::COLUMN_TABLE_NAME = DBIF_DeviceColumn::tableSet().columnTableName;
const QString DBIF_Device::DATA_TABLE_NAME = DBIF_DeviceColumn::tableSet().dataTableName;
const QString DBIF_Device::ASSOCIATION_TABLE_NAME = DBIF_DeviceColumn::tableSet().associationTableName;

const DBIF_FixedColumn<DBIF_Device> DBIF_Device::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::NAME(QStringLiteral("name"), true, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::DEVICE_TYPE_(QStringLiteral("device_type"), true, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::PARENT_SUBSITE_NAME(QStringLiteral("parent_subsite_name"),
                                                                     true, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::POSITION_WITHIN_SUBSITE(
    QStringLiteral("position_within_subsite"), false, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::MODIFIED_TIME(QStringLiteral("modified_time"), false, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::DEVICE_ID(QStringLiteral("device_id"), false, false);

const QList<DBIF_FixedColumn<DBIF_Device>>& DBIF_Device::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_Device>> columns{
        ID, NAME, DEVICE_TYPE_, PARENT_SUBSITE_NAME, POSITION_WITHIN_SUBSITE, MODIFIED_TIME, USER, DEVICE_ID};
    return columns;
}
