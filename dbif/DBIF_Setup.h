// DBIF_Setup: An instrument setup (name, path, run type, data origin) owned by a run or a measurement.
// This file holds the kind's table names and the fixed master-table columns that queries name; the
// entity's handle, record and persistence build on them. Constants only: safe from any thread.
#ifndef DBIF_SETUP_H
#define DBIF_SETUP_H

#include <QList>
#include <QString>

#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"

class DBIF_EXPORT DBIF_Setup {
public:
    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;
    static const int NO_ASSOCIATED_DEVICE;

    static const DBIF_FixedColumn<DBIF_Setup> ID;
    static const DBIF_FixedColumn<DBIF_Setup> NAME;
    static const DBIF_FixedColumn<DBIF_Setup> PATH;
    static const DBIF_FixedColumn<DBIF_Setup> RUN_TYPE;
    static const DBIF_FixedColumn<DBIF_Setup> DATA_ORIGIN;
    static const DBIF_FixedColumn<DBIF_Setup> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_Setup> USER;
    static const DBIF_FixedColumn<DBIF_Setup> SETUP_ID;

    // The fixed columns above, in the order the master table's queries list them.
    static const QList<DBIF_FixedColumn<DBIF_Setup>>& fixedColumns();
};

#endif
