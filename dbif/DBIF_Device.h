// DBIF_Device: A device on a die (name, type, parent subsite and position), with data rows of its own.
// This file holds the kind's table names and the fixed master-table columns that queries name; the
// entity's handle, record and persistence build on them. Constants only: safe from any thread.
#ifndef DBIF_DEVICE_H
#define DBIF_DEVICE_H

#include <QList>
#include <QString>

#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"

class DBIF_EXPORT DBIF_Device {
public:
    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;

    static const DBIF_FixedColumn<DBIF_Device> ID;
    static const DBIF_FixedColumn<DBIF_Device> NAME;
    static const DBIF_FixedColumn<DBIF_Device> DEVICE_TYPE_;
    static const DBIF_FixedColumn<DBIF_Device> PARENT_SUBSITE_NAME;
    static const DBIF_FixedColumn<DBIF_Device> POSITION_WITHIN_SUBSITE;
    static const DBIF_FixedColumn<DBIF_Device> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_Device> USER;
    static const DBIF_FixedColumn<DBIF_Device> DEVICE_ID;

    // The fixed columns above, in the order the master table's queries list them.
    static const QList<DBIF_FixedColumn<DBIF_Device>>& fixedColumns();
};

#endif
