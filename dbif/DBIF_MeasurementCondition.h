// DBIF_MeasurementCondition: a named measurement condition of a run (catalog entry), produced by a
// routine, with a data table of DBIF_MeasurementConditionColumn columns; a row of measurement_condition.
// A value handle over two explicitly shared records (the in-memory table's and the condition's own); the
// kind's cache holds one per row and connection. Stored and loaded by the storage engine attached at
// construction. Not thread-safe: one thread at a time, like the cache and connection.
#ifndef DBIF_MEASUREMENTCONDITION_H
#define DBIF_MEASUREMENTCONDITION_H

#include <QList>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>

#include "dbif/DBAL_EventSending.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataTableEntity.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"
#include "dbif/DBIF_MeasurementConditionColumn.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_Routine.h"
#include "dbif/DBIF_StorageEngineType.h"

struct DBIF_MeasurementConditionRecord;

class DBIF_EXPORT DBIF_MeasurementCondition
    : public DBIF_DataTableEntity<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn,
                                  DBIF_MeasurementConditionRecord> {
public:
    using SharedData = DBIF_MeasurementConditionRecord;
    using DBIF_DataTableEntity::get;
    using DBIF_DataTableEntity::reload;

    class DBIF_EXPORT ParameterBlock {
    public:
        // REQUIRES: catalogEntry is not null; the block keeps the pointer, not a copy.
        ParameterBlock(const QString& name, const DBIF_CatalogEntry* catalogEntry,
                       const DBIF_Routine& routine, DBIF_StorageEngineType storageEngineType);
        ParameterBlock(const QString& name, const DBIF_CatalogEntry* catalogEntry,
                       const DBIF_Routine& routine, int storageEngineType);
        // "<mc: name|catalog entry key|routine key>".
        QString computeKey() const;

        QString name;
        const DBIF_CatalogEntry* catalogEntry;
        DBIF_Routine routine;
        DBIF_StorageEngineType storageEngineType;
    };

    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;

    static const DBIF_FixedColumn<DBIF_MeasurementCondition> ID;
    static const DBIF_FixedColumn<DBIF_MeasurementCondition> NAME;
    static const DBIF_FixedColumn<DBIF_MeasurementCondition> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_MeasurementCondition> USER;
    static const DBIF_FixedColumn<DBIF_MeasurementCondition> MEASUREMENT_CONDITION_ID;

    // The fixed columns above, in the order the master table's queries list them.
    static const QList<DBIF_FixedColumn<DBIF_MeasurementCondition>>& fixedColumns();

    DBIF_MeasurementCondition();  // null handle
    // A new condition (id -1) with the entry's user, attached to the engine of the block's type. Throws
    // DBIF_ConnectionMismatchException when the entry or the routine belongs to another connection.
    DBIF_MeasurementCondition(const DBIF_Connection& connection, const ParameterBlock& block);
    // From a row of the cache select (name, catalog_entry_id, routine_id, modified_time, user, id,
    // storage_engine); entry and routine are fetched through their caches.
    DBIF_MeasurementCondition(const DBIF_Connection& connection, const QSqlRecord& record);
    DBIF_MeasurementCondition(const DBIF_MeasurementCondition& other);
    DBIF_MeasurementCondition& operator=(const DBIF_MeasurementCondition& other);
    ~DBIF_MeasurementCondition() override;

    // Checks the entry, then the routine, against the connection (DBIF_ConnectionMismatchException,
    // nothing created), then returns the cached condition with that key or a new unsaved one.
    static DBIF_MeasurementCondition get(const DBIF_Connection& connection, const QString& name,
                                         DBIF_CatalogEntry* catalogEntry, const DBIF_Routine& routine,
                                         DBIF_StorageEngineType storageEngineType);
    static QString computeKey(const QString& name, const DBIF_CatalogEntry* catalogEntry,
                              const DBIF_Routine& routine);

    QString getName() const;
    DBIF_Routine getRoutine() const;
    // The condition's own handle on its entry; valid as long as the condition's record.
    DBIF_CatalogEntry* getCatalogEntry() const;
    // Moves the condition to another entry and marks it dirty; the key stays until a reload. The same
    // handle (getCatalogEntry()) changes nothing. Throws DBIF_ConnectionMismatchException, changing
    // nothing, for an entry of another connection.
    void setCatalogEntry(DBIF_CatalogEntry* catalogEntry);

    DBIF_MeasurementConditionColumn addColumn(const QString& name, const QString& dataType,
                                              const QString& description);

    // Takes name, entry and routine from the row, recomputes the key, clears the dirty flag and drops
    // the in-memory rows. Modification time, user, id and engine type stay.
    void reload(const QSqlRecord& record);
};

struct DBIF_EXPORT DBIF_MeasurementConditionRecord
    : public DBIF_DataTableEntityRecord<
          DBIF_MeasurementCondition,
          DBAL_EventSending4Params<DBIF_MeasurementCondition, const QString, const QString, const QString>> {
    DBIF_MeasurementConditionRecord(const QString& name, const DBIF_CatalogEntry& catalogEntry,
                                    const DBIF_Routine& routine);

    static QueryEvent& queryEvent();

    QString name;
    DBIF_CatalogEntry catalogEntry;  // the condition's own handle; getCatalogEntry() hands out its address
    DBIF_Routine routine;
};

// The storage engines' part that is the condition's own: master-row statements, routine and entry first.
template <>
struct DBIF_EXPORT DBAL_StorageEngineTraits<DBIF_MeasurementCondition> : DBAL_StorageEngineTraitsBase {
    static bool insertMasterRow(DBIF_MeasurementCondition& condition, const QString& masterTable);
    static bool updateMasterRow(DBIF_MeasurementCondition& condition, const QString& masterTable);
    static void savePrecedents(DBIF_MeasurementCondition& condition);
    static void saveSubordinates(DBIF_MeasurementCondition&) {}
    static void preparePrecedents(DBIF_MeasurementCondition& condition);
    static void prepareSubordinates(DBIF_MeasurementCondition&) {}
    static void processAssociation(DBIF_DynamicTableColumn* column, DBIF_MeasurementCondition& condition,
                                   const QSqlQuery& row);
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_MeasurementCondition> : DBIF_ObjectCacheTraitsBase {
    static bool shouldCacheAll() { return false; }
    static QString cacheSelectStatement() {
        return QStringLiteral(
                   "SELECT name, catalog_entry_id, routine_id, modified_time, user, id, storage_engine FROM "
                   "%1")
            .arg(DBIF_MeasurementCondition::MASTER_TABLE_NAME);
    }
};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_MeasurementCondition>;
extern template class DBIF_EXPORT
    DBAL_StorageEngine<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
extern template class DBIF_EXPORT
    DBAL_SparseTableStorageEngine<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
extern template class DBIF_EXPORT
    DBAL_MultiTableStorageEngine<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
extern template class DBIF_EXPORT
    DBAL_StorageEngineFactory<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
extern template class DBIF_EXPORT DBIF_LazyList<DBIF_MeasurementCondition>;

#endif
