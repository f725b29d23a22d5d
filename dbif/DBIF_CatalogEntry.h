// DBIF_CatalogEntry: One run of the host application (application, version, run type, start and end, model
// text), a row of catalog_entry with a data table of DBIF_CatalogEntryColumn columns; node of a tree of
// runs through its parent id. A value handle over two explicitly shared records (the in-memory table's and
// the entry's own); the kind's cache holds one per row and connection. Stored and loaded by the storage
// engine attached at construction. Not thread-safe: one thread at a time, like the cache and connection.
#ifndef DBIF_CATALOGENTRY_H
#define DBIF_CATALOGENTRY_H

#include <QDateTime>
#include <QList>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <memory>

#include "dbif/DBAL_EventSending.h"
#include "dbif/DBAL_StorageEngineFactory.h"
#include "dbif/DBIF_CatalogEntryColumn.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataTableEntity.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"
#include "dbif/DBIF_LazyList.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_StorageEngineType.h"

class DBIF_Measurement;
class DBIF_MeasurementCondition;
class DBIF_Setup;
struct DBIF_CatalogEntryRecord;
struct DBIF_CatalogEntryChildren;

class DBIF_EXPORT DBIF_CatalogEntry
    : public DBIF_DataTableEntity<DBIF_CatalogEntry, DBIF_CatalogEntryColumn, DBIF_CatalogEntryRecord> {
public:
    using SharedData = DBIF_CatalogEntryRecord;
    using DBIF_DataTableEntity::get;
    using DBIF_DataTableEntity::reload;

    class DBIF_EXPORT ParameterBlock {
    public:
        ParameterBlock(int parentId, const QString& schemaVersion, const QString& application,
                       const QString& applicationVersion, const QString& runType, const QDateTime& startTime,
                       const QDateTime& endTime, const QString& modelText, const QString& user,
                       DBIF_StorageEngineType storageEngineType);
        // No parent, the current schema version and no model text.
        ParameterBlock(const QString& application, const QString& applicationVersion, const QString& runType,
                       const QDateTime& startTime, const QDateTime& endTime, const QString& user,
                       DBIF_StorageEngineType storageEngineType);
        // "<ce: application|version|run type|start>", the start in milliseconds (see startTimeKey).
        QString computeKey() const;

        int parentId;
        QString schemaVersion;
        QString application;
        QString applicationVersion;
        QString runType;
        QDateTime startTime;
        QDateTime endTime;
        QString modelText;
        QString user;
        DBIF_StorageEngineType storageEngineType;
    };

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
    // "0.1": MAJOR_SCHEMA_VERSION.MINOR_SCHEMA_VERSION.
    static QString currentSchema();

    DBIF_CatalogEntry();  // null handle: no records, isValid() false
    // A new entry (id -1) attached to the engine of the block's type; writes nothing.
    DBIF_CatalogEntry(const DBIF_Connection& connection, const ParameterBlock& block);
    // From a row of the cache select (parent_id, schema_version, application, application_version,
    // run_type, start_time, end_time, model_text, modified_time, user, id, storage_engine): attached to
    // the row's engine, which reads the entry's columns and row count; the data loads on first access.
    DBIF_CatalogEntry(const DBIF_Connection& connection, const QSqlRecord& record);
    DBIF_CatalogEntry(const DBIF_CatalogEntry& other);
    DBIF_CatalogEntry& operator=(const DBIF_CatalogEntry& other);
    ~DBIF_CatalogEntry() override;

    // The cached entry with this key, or a new unsaved one (id -1) that the cache now holds. Entries
    // with equal application, version, run type and start time are one entry, whatever the rest.
    static DBIF_CatalogEntry get(const DBIF_Connection& connection, const QString& application,
                                 const QString& applicationVersion, const QString& runType,
                                 const QDateTime& startTime, const QDateTime& endTime, const QString& user,
                                 DBIF_StorageEngineType storageEngineType);
    static QString computeKey(const QString& application, const QString& applicationVersion,
                              const QString& runType, const QDateTime& startTime,
                              const QDateTime& endTime = QDateTime(), const QString& user = QString(),
                              DBIF_StorageEngineType storageEngineType = DBIF_SPARSE_TABLE_STORAGE);
    // The key's last field: seconds since the epoch times 1000, plus the signed milliseconds from the
    // start's time of day to the local time of day of that whole second (so a local start's
    // milliseconds are subtracted).
    static qint64 startTimeKey(const QDateTime& startTime);

    QString getApplication() const;
    QString getApplicationVersion() const;
    QString getRunType() const;
    QString getSchemaVersion() const;
    QString getModelText() const;
    QDateTime getStartTime() const;
    QDateTime getEndTime() const;
    int getParentId() const;
    // Changes the parent id; a fetched parent with another id is dropped. Does not mark the entry dirty.
    void setParentId(int parentId);
    // A parent id is set, or a parent was fetched.
    bool hasParent() const;
    // The parent, fetched through the cache on first call; a null handle without parent, or (reported
    // by the cache) when the parent id names no row.
    DBIF_CatalogEntry getParent() const;

    // Adds the column to the entry's table and lets the engine define it; returns the catalog column.
    DBIF_CatalogEntryColumn addColumn(const QString& name, const QString& dataType);

    // Takes the row's fields (positions as in the row constructor), recomputes the key, clears the dirty
    // flag and drops the in-memory rows, so that the next access loads them again. Modification time,
    // user, id and engine type stay. A changed parent id drops the fetched parent.
    void reload(const QSqlRecord& record);
    // Copies of the entry's child lists: ids read when the entry was built from its row, and the
    // children added since. Changing a copy does not change the entry.
    DBIF_LazyList<DBIF_Setup> getSetups() const;
    DBIF_LazyList<DBIF_Measurement> getMeasurements() const;
    DBIF_LazyList<DBIF_MeasurementCondition> getMeasurementConditions() const;
    // Append the child as a loaded item and mark the entry dirty; the entry's save() saves it. Nothing
    // is written, and the child's own entry stays. Throws DBIF_ConnectionMismatchException, changing
    // nothing, when the child belongs to another connection.
    void addMeasurement(const DBIF_Measurement& measurement);
    void addMeasurementCondition(const DBIF_MeasurementCondition& condition);

    // Drops the fetched parent and empties the child lists; a reload does not refill them.
    void unloadSubordinates() override;

private:
    friend class DBIF_Setup;
    // A setup made with this entry as owner joins the setup list as a loaded item, so that the entry's
    // save() stores it and links it through catalog_setup.
    void attachNewSetup(const DBIF_Setup& setup);
    friend struct DBAL_StorageEngineTraits<DBIF_CatalogEntry>;
    // Writes the catalog_setup row of every saved setup of the list that has none yet, whoever saved
    // the setup first. The linked ids are read once per entry and then kept.
    void linkOwnedSetups(const QList<DBIF_Setup>& setups);
};

struct DBIF_EXPORT DBIF_CatalogEntryRecord
    : public DBIF_DataTableEntityRecord<
          DBIF_CatalogEntry, DBAL_EventSending3Params<DBIF_CatalogEntry, const QString, const QString>> {
    DBIF_CatalogEntryRecord(const DBIF_Connection& connection,
                            const DBIF_CatalogEntry::ParameterBlock& block);
    ~DBIF_CatalogEntryRecord() override;

    // The query event of all catalog entries, created on first use.
    static QueryEvent& queryEvent();

    QString application;
    QString applicationVersion;
    QString runType;
    QDateTime startTime;
    QDateTime endTime;
    QString modelText;
    QString schemaVersion;
    int parentId;
    // Always exactly one handle: the parent once fetched, a null handle before.
    QList<DBIF_CatalogEntry> parentHolder;
    // The setup, measurement and measurement-condition lists; held by pointer because those kinds'
    // headers include this one.
    std::unique_ptr<DBIF_CatalogEntryChildren> children;
};

// The storage engines' part that is the catalog entry's own: its master-row statements and its parent.
template <>
struct DBIF_EXPORT DBAL_StorageEngineTraits<DBIF_CatalogEntry> : DBAL_StorageEngineTraitsBase {
    static bool insertMasterRow(DBIF_CatalogEntry& entry, const QString& masterTable);
    static bool updateMasterRow(DBIF_CatalogEntry& entry, const QString& masterTable);
    // A parent is saved first (saveSelf) and its id becomes the entry's parent id.
    static void savePrecedents(DBIF_CatalogEntry& entry);
    static void saveSubordinates(DBIF_CatalogEntry& entry);
    static void preparePrecedents(DBIF_CatalogEntry& entry);
    static void prepareSubordinates(DBIF_CatalogEntry& entry);
    static void processAssociation(DBIF_DynamicTableColumn* column, DBIF_CatalogEntry& entry,
                                   const QSqlQuery& row);
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_CatalogEntry> : DBIF_ObjectCacheTraitsBase {
    static bool shouldCacheAll() { return false; }
    static QString cacheSelectStatement() {
        return QStringLiteral(
                   "SELECT parent_id, schema_version, application, application_version, run_type, "
                   "start_time, "
                   "end_time, model_text, modified_time, user, id, storage_engine FROM %1")
            .arg(DBIF_CatalogEntry::MASTER_TABLE_NAME);
    }
};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_CatalogEntry>;
extern template class DBIF_EXPORT DBAL_StorageEngine<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
extern template class DBIF_EXPORT DBAL_SparseTableStorageEngine<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
extern template class DBIF_EXPORT DBAL_MultiTableStorageEngine<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
extern template class DBIF_EXPORT DBAL_StorageEngineFactory<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;

#endif
