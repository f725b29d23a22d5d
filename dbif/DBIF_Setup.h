// DBIF_Setup: an instrument setup (name, path, run type, data origin) owned by a run (catalog entry) or
// a measurement, with a data table of DBIF_SetupColumn columns and a header text per column (the quarn
// header, stored in setup_association); a row of setup, never updated once inserted. A value handle
// over two explicitly shared records; the kind's cache holds one per row and connection. Each save()
// makes the setup the latest of its path and measurement context (latest_setup). The owner handles are
// heap-held copies, dropped by unloadSubordinates() to break the measurement-setup cycle.
// Engine type: a setup asked for with the sparse type (1) is recorded as sparse throughout (in-memory
// table, master row, engine and key all say 1), so that it reads back through the engine that wrote
// its data; every other requested type is recorded as the multi-table type 2.
// Not thread-safe: one thread at a time, like the cache and connection.
#ifndef DBIF_SETUP_H
#define DBIF_SETUP_H

#include <QList>
#include <QMap>
#include <QPair>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>
#include <memory>

#include "dbif/DBAL_EventSending.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataTableEntity.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_SetupColumn.h"
#include "dbif/DBIF_SingleColumnCondition.h"
#include "dbif/DBIF_StorageEngineType.h"

class DBIF_Measurement;
struct DBIF_SetupRecord;

class DBIF_EXPORT DBIF_Setup : public DBIF_DataTableEntity<DBIF_Setup, DBIF_SetupColumn, DBIF_SetupRecord> {
public:
    using SharedData = DBIF_SetupRecord;
    using DBIF_DataTableEntity::get;
    using DBIF_DataTableEntity::reload;

    class DBIF_EXPORT ParameterBlock {
    public:
        // The block keeps the owner pointer, not a copy; the other owner is null.
        ParameterBlock(const QString& name, const QString& path, const QString& runType,
                       const QString& dataOrigin, const DBIF_CatalogEntry* catalogEntry,
                       DBIF_StorageEngineType storageEngineType);
        ParameterBlock(const QString& name, const QString& path, const QString& runType,
                       const QString& dataOrigin, const DBIF_CatalogEntry* catalogEntry,
                       int storageEngineType);
        ParameterBlock(const QString& name, const QString& path, const QString& runType,
                       const QString& dataOrigin, const DBIF_Measurement* measurement,
                       DBIF_StorageEngineType storageEngineType);
        ParameterBlock(const QString& name, const QString& path, const QString& runType,
                       const QString& dataOrigin, const DBIF_Measurement* measurement, int storageEngineType);
        // No owner.
        ParameterBlock(const QString& name, const QString& path, const QString& runType,
                       const QString& dataOrigin, int storageEngineType);
        // "<s: name|run type|owner key|engine type>", the owner's key empty without owner.
        QString computeKey() const;

        QString name;
        QString path;
        QString runType;
        QString dataOrigin;
        const DBIF_CatalogEntry* catalogEntry = nullptr;
        const DBIF_Measurement* measurement = nullptr;
        DBIF_StorageEngineType storageEngineType;
    };

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

    DBIF_Setup();  // null handle
    // A new setup (id -1, no user yet) holding copies of the block's owner handles; writes nothing.
    DBIF_Setup(const DBIF_Connection& connection, const ParameterBlock& block);
    // From a row of the cache select (name, path, run_type, data_origin, modified_time, user,
    // storage_engine, id). The setup enters the cache's id map first, then its owners are looked up
    // through measurement_setup and catalog_setup (the first linking row of each).
    DBIF_Setup(const DBIF_Connection& connection, const QSqlRecord& record);
    DBIF_Setup(const DBIF_Setup& other);
    DBIF_Setup& operator=(const DBIF_Setup& other);
    ~DBIF_Setup() override;

    // The cached setup with that key or a new unsaved one. No connection checks. A new setup owned by
    // an entry of its connection joins the entry's setup list, so that the entry's save() stores it and
    // links it through catalog_setup; saved on its own first, it is not linked.
    static DBIF_Setup get(const DBIF_Connection& connection, const QString& name, const QString& path,
                          const QString& runType, const QString& dataOrigin, DBIF_CatalogEntry* catalogEntry,
                          DBIF_StorageEngineType storageEngineType);
    static DBIF_Setup get(const DBIF_Connection& connection, const QString& name, const QString& path,
                          const QString& runType, const QString& dataOrigin, DBIF_Measurement* measurement,
                          DBIF_StorageEngineType storageEngineType);

    // The setups that satisfy the condition, answered by the setup storage engines through the kind's
    // query event: empty while no setup has been built in the process, whatever is stored.
    static QList<DBIF_Setup> query(const DBIF_Connection& connection, const DBIF_QueryCondition* condition,
                                   bool latestOnly = false);
    static QList<DBIF_Setup> query(const DBIF_Connection& connection,
                                   const DBIF_SingleColumnCondition& condition, bool latestOnly = false);
    static QList<DBIF_Setup> query(const DBIF_Connection& connection,
                                   const DBIF_CompoundQueryCondition& condition, bool latestOnly = false);
    // The setups whose ids the query yields on its own connection; the query gains setup.id first.
    static QList<DBIF_Setup> query(DBIF_Query* query);
    // The setups that column idColumn (0 or 1) of the statement's rows names, each with the row's other
    // column, in row order; a setup whose row is gone is reported by the cache and left out. Owners read
    // their stored links with it; file and line name the caller in an error report.
    static QList<QPair<DBIF_Setup, QVariant>> getLinked(const DBIF_Connection& connection, const QString& sql,
                                                        int idColumn, const char* file, int line);

    QString getName() const;
    QString getPath() const;
    QString getRunType() const;
    QString getDataOrigin() const;
    // Replace the field only: the setup is neither marked dirty nor re-keyed.
    void setName(const QString& name);
    void setPath(const QString& path);
    void setRunType(const QString& runType);

    // The owning entry, or the owning measurement's entry; null, reported, without owner.
    DBIF_CatalogEntry* getCatalogEntry() const;
    // The setup's own measurement handle, or null.
    DBIF_Measurement* getMeasurement() const;
    int getAssociatedDeviceDataRow() const;
    void setAssociatedDeviceDataRow(int row);

    // The header of one of the setup's columns (empty when none was set); for a key the setup does not
    // have, reported, the empty text.
    QString getQuarnHeader(const QString& columnKey) const;
    // Sets the header without any check; does not mark the setup dirty.
    void setQuarnHeader(const QString& columnKey, const QString& header);
    DBIF_SetupColumn addColumn(const QString& name, const QString& dataType, bool isInput,
                               const QString& header) const;

    // Takes the texts from the row and looks the owners up again; the rest as for every kind.
    void reload(const QSqlRecord& record);
    // Releases the measurement handle, then the entry handle.
    void unloadSubordinates() override;

private:
    friend struct DBAL_StorageEngineTraits<DBIF_Setup>;

    void lookUpOwners();
};

struct DBIF_EXPORT DBIF_SetupRecord
    : public DBIF_DataTableEntityRecord<
          DBIF_Setup, DBAL_EventSending4Params<DBIF_Setup, const QString, const QString, const bool>> {
    DBIF_SetupRecord(const QString& name, const QString& path, const QString& runType,
                     const QString& dataOrigin);
    ~DBIF_SetupRecord() override;

    static QueryEvent& queryEvent();

    QString name;
    QString path;
    QString runType;
    QString dataOrigin;
    int associatedDeviceDataRow;
    std::unique_ptr<DBIF_CatalogEntry> catalogEntry;  // present when a run owns the setup
    std::unique_ptr<DBIF_Measurement> measurement;    // present when a measurement owns the setup
    QMap<QString, QString> quarnHeaders;              // column key -> header
};

// The storage engines' part that is the setup's own: insert-only master row, the header column of the
// association rows, and the latest-setup record as subordinate.
template <>
struct DBIF_EXPORT DBAL_StorageEngineTraits<DBIF_Setup> : DBAL_StorageEngineTraitsBase {
    static bool insertMasterRow(DBIF_Setup& setup, const QString& masterTable);
    static bool updateMasterRow(DBIF_Setup&, const QString&) { return true; }
    static void savePrecedents(DBIF_Setup&) {}
    static void saveSubordinates(DBIF_Setup& setup);
    static void preparePrecedents(DBIF_Setup&) {}
    static void prepareSubordinates(DBIF_Setup&) {}
    static void processAssociation(DBIF_DynamicTableColumn* column, DBIF_Setup& setup, const QSqlQuery& row);
    static QStringList associationFields();
    static QStringList associationValues(const DBIF_Setup& setup, const QString& key);
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_Setup> : DBIF_ObjectCacheTraitsBase {
    static bool shouldCacheAll() { return false; }
    static QString cacheSelectStatement() {
        return QStringLiteral(
                   "SELECT name, path, run_type, data_origin, modified_time, user, storage_engine, id FROM "
                   "%1")
            .arg(DBIF_Setup::MASTER_TABLE_NAME);
    }
};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_Setup>;
extern template class DBIF_EXPORT DBAL_StorageEngine<DBIF_Setup, DBIF_SetupColumn>;
extern template class DBIF_EXPORT DBAL_SparseTableStorageEngine<DBIF_Setup, DBIF_SetupColumn>;
extern template class DBIF_EXPORT DBAL_MultiTableStorageEngine<DBIF_Setup, DBIF_SetupColumn>;
extern template class DBIF_EXPORT DBAL_StorageEngineFactory<DBIF_Setup, DBIF_SetupColumn>;
extern template class DBIF_EXPORT DBIF_LazyList<DBIF_Setup>;

#endif
