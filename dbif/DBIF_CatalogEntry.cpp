// DBIF_CatalogEntry.cpp: the catalog entry kind's table names and fixed columns.
#include "dbif/DBIF_CatalogEntry.h"

#include "dbif/DBIF_CatalogEntryColumn.h"

const QString DBIF_CatalogEntry::MASTER_TABLE_NAME = DBIF_CatalogEntryColumn::tableSet().masterTableName;
const QString DBIF_CatalogEntry::COLUMN_TABLE_NAME = DBIF_CatalogEntryColumn::tableSet().columnTableName;
const QString DBIF_CatalogEntry::DATA_TABLE_NAME = DBIF_CatalogEntryColumn::tableSet().dataTableName;
const QString DBIF_CatalogEntry::ASSOCIATION_TABLE_NAME = DBIF_CatalogEntryColumn::tableSet().associationTableName;
const int DBIF_CatalogEntry::NO_PARENT_ID = -1;
const int DBIF_CatalogEntry::MAJOR_SCHEMA_VERSION = 0;
const int DBIF_CatalogEntry::MINOR_SCHEMA_VERSION = 1;
const QString DBIF_CatalogEntry::MODE = QStringLiteral("Mode");

const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::APPLICATION(QStringLiteral("application"), true,
                                                                         false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::APPLICATION_VERSION(
    QStringLiteral("application_version"), false, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::RUN_TYPE(QStringLiteral("run_type"), true,
                                                                      false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::SCHEMA_VERSION(QStringLiteral("schema_version"),
                                                                            false, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::MODEL_TEXT(QStringLiteral("model_text"), true,
                                                                        false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::START_TIME(QStringLiteral("start_time"), false,
                                                                        false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::END_TIME(QStringLiteral("end_time"), false,
                                                                      false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::MODIFIED_TIME(QStringLiteral("modified_time"),
                                                                           false, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::CATALOG_ENTRY_ID(
    QStringLiteral("catalog_entry_id"), false, false);

const QList<DBIF_FixedColumn<DBIF_CatalogEntry>>& DBIF_CatalogEntry::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_CatalogEntry>> columns{
        ID,         APPLICATION, APPLICATION_VERSION, RUN_TYPE, SCHEMA_VERSION,  MODEL_TEXT,
        START_TIME, END_TIME,    MODIFIED_TIME,       USER,     CATALOG_ENTRY_ID};
    return columns;
}
