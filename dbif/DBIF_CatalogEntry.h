// DBIF_CatalogEntry: One run of the host application (application, version, run type, start and end, model
// text); owner of the run's measurement conditions, measurements and setups, and node of a tree of runs. This
// file holds the kind's table names and the fixed master-table columns that queries name; the entity's
// handle, record and persistence build on them. Constants only: safe from any thread.
#ifndef DBIF_CATALOGENTRY_H
#define DBIF_CATALOGENTRY_H

#include <QList>
#include <QString>

#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"

class DBIF_EXPORT DBIF_CatalogEntry {
public:
    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;
    static const int NO_PARENT_ID;
    static const int MAJOR_SCHEMA_VERSION;
    static const int MINOR_SCHEMA_VERSION;
    // The catalog-entry data column that holds the run's mode.
    static const QString MODE;

    static const DBIF_FixedColumn<DBIF_CatalogEntry> ID;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> APPLICATION;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> APPLICATION_VERSION;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> RUN_TYPE;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> SCHEMA_VERSION;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> MODEL_TEXT;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> START_TIME;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> END_TIME;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> USER;
    static const DBIF_FixedColumn<DBIF_CatalogEntry> CATALOG_ENTRY_ID;

    // The fixed columns above, in the order the master table's queries list them.
    static const QList<DBIF_FixedColumn<DBIF_CatalogEntry>>& fixedColumns();
};

#endif
