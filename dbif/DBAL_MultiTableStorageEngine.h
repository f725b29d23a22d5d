// DBAL_MultiTableStorageEngine<E, C>: storage engine type 2. Each distinct set of column keys of kind E
// gets a physical data table of its own (DBAL_MultiTable, e.g. measurement_data_3), created when the
// first entity with that set is saved; adding a column only records it in the catalog with the
// multi-table flag. Stateless singleton per kind, owned by DBAL_StorageEngineFactory; the table
// registry it reads is process-wide and unguarded: one thread at a time.
#ifndef DBAL_MULTITABLESTORAGEENGINE_H
#define DBAL_MULTITABLESTORAGEENGINE_H

#include <QString>
#include <QStringList>

#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBAL_StorageEngine.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DynamicTableColumn.h"

template <typename E, typename C>
class DBAL_MultiTableStorageEngine
    : public DBAL_ColumnAddingStorageEngine<DBAL_MultiTableStorageEngine<E, C>, E, C> {
public:
    DBAL_MultiTableStorageEngine()
        : DBAL_ColumnAddingStorageEngine<DBAL_MultiTableStorageEngine, E, C>(DBIF_MULTI_TABLE_STORAGE) {}

    // The physical table of the entity's column set, created if it is new, in a unit of its own.
    void makeTables(const E& entity) override {
        const DBIF_Connection connection = entity.getConnection();
        table(connection, DBAL_StorageEngine<E, C>::savableKeys(entity), false).save(connection);
    }

    // The physical table of the column set, or the placeholder while that set was never saved.
    QString dataTableName(DBIF_Connection connection, QStringList keys, bool forceReload) override {
        return table(connection, keys, forceReload).getTableName();
    }
    QString dataTableName(E) override { return E::DATA_TABLE_NAME; }

private:
    friend class DBAL_ColumnAddingStorageEngine<DBAL_MultiTableStorageEngine, E, C>;

    static DBAL_MultiTable<E, C> table(const DBIF_Connection& connection, const QStringList& keys,
                                       bool forceReload) {
        return DBAL_MultiTable<E, C>::get(connection, E::COLUMN_TABLE_NAME, E::DATA_TABLE_NAME, keys,
                                          forceReload);
    }

    // Finds or creates the catalog column and gives it the multi-table flag; the table comes at save.
    template <typename... Extra>
    static void addColumn(E& entity, const QString& name, const QString& dataType, const Extra&... extra) {
        C::get(entity.getConnection(), name, dataType, extra..., DBIF_DynamicTableColumn::MULTI_TABLE_FLAG);
    }
};

#endif
