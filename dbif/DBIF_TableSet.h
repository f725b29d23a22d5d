// DBIF_TableSet: the names of the four tables of one entity kind with a data table: master table,
// column catalog, base data table and association table. Each column kind holds one process-wide
// instance, built on first use, and is the single place those names are spelled; the entity classes
// take their table-name constants from it. Plain value, immutable once built.
#ifndef DBIF_TABLESET_H
#define DBIF_TABLESET_H

#include <QString>

struct DBIF_TableSet {
    QString masterTableName;
    QString columnTableName;
    QString dataTableName;
    QString associationTableName;

    DBIF_TableSet(const QString& masterTableName, const QString& columnTableName,
                  const QString& dataTableName, const QString& associationTableName)
        : masterTableName(masterTableName),
          columnTableName(columnTableName),
          dataTableName(dataTableName),
          associationTableName(associationTableName) {}

    // The set of a kind whose tables are its master table name with the suffixes "_column", "_data"
    // and "_association", as every kind's are.
    static DBIF_TableSet forMasterTable(const QString& master) {
        return DBIF_TableSet(master, master + QStringLiteral("_column"), master + QStringLiteral("_data"),
                             master + QStringLiteral("_association"));
    }
};

#endif
