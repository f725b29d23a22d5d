// DBIF_StorageEngineType: how an entity's data rows are stored, written as its number into the
// storage_engine column of the entity's master row. Read a stored number back with
// DBIF_InMemoryTable::computeStorageEngineType, which maps every unknown number to the sparse table.
#ifndef DBIF_STORAGEENGINETYPE_H
#define DBIF_STORAGEENGINETYPE_H

enum DBIF_StorageEngineType {
    DBIF_SPARSE_TABLE_STORAGE = 1,  // one wide data table per kind (DBAL_SparseTableStorageEngine)
    DBIF_MULTI_TABLE_STORAGE = 2    // one data table per column set (DBAL_MultiTableStorageEngine)
};

#endif
