// DBIF_Setup.cpp: the setup kind's table names and fixed columns.
#include "dbif/DBIF_Setup.h"

#include "dbif/DBIF_SetupColumn.h"

const QString DBIF_Setup::MASTER_TABLE_NAME = DBIF_SetupColumn::tableSet().masterTableName;
const QString DBIF_Setup::COLUMN_TABLE_NAME = DBIF_SetupColumn::tableSet().columnTableName;
const QString DBIF_Setup::DATA_TABLE_NAME = DBIF_SetupColumn::tableSet().dataTableName;
const QString DBIF_Setup::ASSOCIATION_TABLE_NAME = DBIF_SetupColumn::tableSet().associationTableName;
const int DBIF_Setup::NO_ASSOCIATED_DEVICE = -1;

const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::NAME(QStringLiteral("name"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::PATH(QStringLiteral("path"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::RUN_TYPE(QStringLiteral("run_type"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::DATA_ORIGIN(QStringLiteral("data_origin"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::MODIFIED_TIME(QStringLiteral("modified_time"), false, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::SETUP_ID(QStringLiteral("setup_id"), false, false);

const QList<DBIF_FixedColumn<DBIF_Setup>>& DBIF_Setup::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_Setup>> columns{ID,          NAME,          PATH, RUN_TYPE,
                                                             DATA_ORIGIN, MODIFIED_TIME, USER, SETUP_ID};
    return columns;
}
