// DBAL_SparseTableStorageEngine<E, C>: storage engine type 1. All data rows of kind E live in the kind's
// one wide base data table (E::DATA_TABLE_NAME); every column ever defined through this engine becomes a
// column of that table the moment it is first defined (ALTER TABLE), and each entity's rows fill only the
// columns it has. Stateless singleton per kind, owned by DBAL_StorageEngineFactory; one thread at a time.
#ifndef DBAL_SPARSETABLESTORAGEENGINE_H
#define DBAL_SPARSETABLESTORAGEENGINE_H

#include <QString>
#include <QStringList>

#include "dbif/DBAL_StorageEngine.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DynamicTableColumn.h"

template <typename E, typename C>
class DBAL_SparseTableStorageEngine
    : public DBAL_ColumnAddingStorageEngine<DBAL_SparseTableStorageEngine<E, C>, E, C> {
public:
    DBAL_SparseTableStorageEngine()
        : DBAL_ColumnAddingStorageEngine<DBAL_SparseTableStorageEngine, E, C>(DBIF_SPARSE_TABLE_STORAGE) {}

    QString dataTableName(DBIF_Connection, QStringList, bool) override { return E::DATA_TABLE_NAME; }
    QString dataTableName(E) override { return E::DATA_TABLE_NAME; }

private:
    friend class DBAL_ColumnAddingStorageEngine<DBAL_SparseTableStorageEngine, E, C>;

    // A sparse-table column the catalog knows is in the base table already. Any other joins the base
    // table at once: a new one, and one made by the multi-table engine, which then belongs to both
    // layouts (its flags gain the sparse bit), so that an entity stored sparse can hold it too. A new
    // column's catalog row is written when an entity that has it is saved. A base-table column of that
    // name without a catalog row (an addColumn whose save never came, or failed) is taken as there: the
    // schema change commits on MySQL and outlives the save.
    template <typename... Extra>
    void addColumn(E& entity, const QString& name, const QString& dataType, const Extra&... extra) {
        const DBIF_Connection connection = entity.getConnection();
        const QString key = C::computeKey(name, dataType, extra...);
        if (C::hasColumn(connection, key) && C::isSparseTableColumn(connection, key))
            return;
        const C column =
            C::get(connection, name, dataType, extra..., DBIF_DynamicTableColumn::SPARSE_TABLE_FLAG);
        const QString table = dataTableName(entity);
        const QStringList existing = connection.columnNames(table);
        if (existing.contains(key))
            return;
        // The one base table holds every entity's columns: a name the database takes for one already
        // there (on MySQL "é" beside "É") is refused with the reason, not with the ALTER's error.
        const QString identity = connection.columnNameIdentity(key);
        for (const QString& name : existing) {
            if (connection.columnNameIdentity(name) != identity)
                continue;
            throw DBIF_Exception(
                QStringLiteral("ALTER TABLE %1 ADD COLUMN %2").arg(table, quoteSqlIdentifier(key)),
                QSqlError(
                    QStringLiteral("Column %1 differs from the column %2 of %3 only in case or accents, "
                                   "which this database does not tell apart in column names")
                        .arg(key, name, table),
                    QString(), QSqlError::StatementError),
                QStringLiteral(__FILE__), __LINE__);
        }
        connection.query(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                             .arg(table, quoteSqlIdentifier(key), column.getDataColumnFormat()),
                         DBIF_ALTER_TIMING, __FILE__, __LINE__);
    }
};

#endif
