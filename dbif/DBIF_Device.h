// DBIF_Device: a measured structure on a die (name, device type, parent subsite, position within it)
// of a run (catalog entry), with a data table of DBIF_DeviceColumn columns whose every row carries the
// text column is_measurement; a row of device. A new device identical to a stored row takes that row's
// id instead of a second row. A value handle over two explicitly shared records; the kind's cache holds
// one per row and connection. Not thread-safe: one thread at a time, like the cache and connection.
#ifndef DBIF_DEVICE_H
#define DBIF_DEVICE_H

#include <QList>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>

#include "dbif/DBAL_EventSending.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataTableEntity.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_Setup.h"
#include "dbif/DBIF_StorageEngineType.h"

struct DBIF_DeviceRecord;

class DBIF_EXPORT DBIF_Device
    : public DBIF_DataTableEntity<DBIF_Device, DBIF_DeviceColumn, DBIF_DeviceRecord> {
public:
    using SharedData = DBIF_DeviceRecord;
    using DBIF_DataTableEntity::get;
    using DBIF_DataTableEntity::reload;

    class DBIF_EXPORT ParameterBlock {
    public:
        // REQUIRES: catalogEntry is not null; the block keeps the pointer, not a copy.
        ParameterBlock(const QString& name, const QString& deviceType, const QString& parentSubsiteName,
                       int positionWithinSubsite, const DBIF_CatalogEntry* catalogEntry,
                       DBIF_StorageEngineType storageEngineType);
        // "<device: name|type|subsite|position|catalog entry key>".
        QString computeKey() const;

        QString name;
        QString deviceType;
        QString parentSubsiteName;
        int positionWithinSubsite;
        const DBIF_CatalogEntry* catalogEntry;
        DBIF_StorageEngineType storageEngineType;
    };

    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;

    static const DBIF_FixedColumn<DBIF_Device> ID;
    static const DBIF_FixedColumn<DBIF_Device> NAME;
    static const DBIF_FixedColumn<DBIF_Device> DEVICE_TYPE_;
    static const DBIF_FixedColumn<DBIF_Device> PARENT_SUBSITE_NAME;
    static const DBIF_FixedColumn<DBIF_Device> POSITION_WITHIN_SUBSITE;
    static const DBIF_FixedColumn<DBIF_Device> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_Device> USER;
    static const DBIF_FixedColumn<DBIF_Device> DEVICE_ID;

    // The fixed columns above, in the order the master table's queries list them.
    static const QList<DBIF_FixedColumn<DBIF_Device>>& fixedColumns();

    DBIF_Device();  // null handle
    // A new device (id -1) with the entry's user, attached to the engine of the block's type. Throws
    // DBIF_ConnectionMismatchException when the entry belongs to another connection.
    DBIF_Device(const DBIF_Connection& connection, const ParameterBlock& block);
    // From a row of the cache select (name, device_type, parent_subsite_name, position_within_subsite,
    // catalog_entry_id, modified_time, user, id, storage_engine); the entry comes through its cache.
    DBIF_Device(const DBIF_Connection& connection, const QSqlRecord& record);
    DBIF_Device(const DBIF_Device& other);
    DBIF_Device& operator=(const DBIF_Device& other);
    ~DBIF_Device() override;

    // Checks the entry against the connection (DBIF_ConnectionMismatchException, nothing created), then
    // returns the cached device with that key or a new unsaved one.
    static DBIF_Device get(const DBIF_Connection& connection, const QString& name, const QString& deviceType,
                           const QString& parentSubsiteName, int positionWithinSubsite,
                           DBIF_CatalogEntry* catalogEntry, DBIF_StorageEngineType storageEngineType);

    QString getName() const;
    QString getDeviceType() const;
    QString getParentSubsiteName() const;
    int getPositionWithinSubsite() const;
    // A different value marks the device dirty; the key stays until the device is reloaded.
    void setName(const QString& name);
    void setDeviceType(const QString& deviceType);
    void setParentSubsiteName(const QString& parentSubsiteName);
    void setPositionWithinSubsite(int positionWithinSubsite);
    // The device's own handle on its entry; valid as long as the device's record.
    DBIF_CatalogEntry* getCatalogEntry() const;

    // A copy of the setups linked to the device (a setup may appear more than once).
    QList<DBIF_Setup> getSetups() const;
    // Appends the setup and makes its associated device data row deviceDataRow (every handle of the
    // setup sees it). The device's next save() rewrites its device_setup rows from the whole list.
    // Throws DBIF_ConnectionMismatchException, changing nothing, for a setup of another connection.
    void addSetup(const DBIF_Setup& setup, int deviceDataRow);
    // Whether the stored device_setup rows must be rewritten: set by addSetup, cleared by save().
    bool mayNeedToAttachSetups() const;
    void setMayNeedToAttachSetups(bool mayNeed) const;
    // Appends the setups of the device's stored device_setup rows with their data rows; setups whose
    // row is gone are reported by the cache and left out. The cache calls it once per device it reads.
    void loadSubordinates() override;

    DBIF_DeviceColumn addColumn(const QString& name, const QString& dataType, const QString& category);
    // Appends a row and marks it in is_measurement: "y" for the first row of the table, "n" after.
    void addRow() override;

    // Takes the fields and the entry from the row, recomputes the key, clears the dirty flag and drops
    // the in-memory rows. The setup list stays.
    void reload(const QSqlRecord& record);
};

struct DBIF_EXPORT DBIF_DeviceRecord
    : public DBIF_DataTableEntityRecord<
          DBIF_Device, DBAL_EventSending4Params<DBIF_Device, const QString, const QString, const QString>> {
    DBIF_DeviceRecord(const QString& name, const QString& deviceType, const QString& parentSubsiteName,
                      int positionWithinSubsite, const DBIF_CatalogEntry& catalogEntry);

    static QueryEvent& queryEvent();

    QString name;
    QString deviceType;
    QString parentSubsiteName;
    int positionWithinSubsite;
    QList<DBIF_Setup> setups;
    DBIF_CatalogEntry catalogEntry;  // the device's own handle; getCatalogEntry() hands out its address
    bool mayNeedToAttachSetups = false;
};

// The storage engines' part that is the device's own: the identical-row look-up before the insert, the
// master-row statements, the entry first and the setup links last.
template <>
struct DBIF_EXPORT DBAL_StorageEngineTraits<DBIF_Device> : DBAL_StorageEngineTraitsBase {
    static bool insertMasterRow(DBIF_Device& device, const QString& masterTable);
    static bool updateMasterRow(DBIF_Device& device, const QString& masterTable);
    static void savePrecedents(DBIF_Device& device);
    // Saves the setups and, after an addSetup, rewrites the device's device_setup rows.
    static void saveSubordinates(DBIF_Device& device);
    static void preparePrecedents(DBIF_Device& device);
    static void prepareSubordinates(DBIF_Device& device);
    static void processAssociation(DBIF_DynamicTableColumn* column, DBIF_Device& device,
                                   const QSqlQuery& row);
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_Device> : DBIF_ObjectCacheTraitsBase {
    static bool shouldCacheAll() { return false; }
    static QString cacheSelectStatement() {
        return QStringLiteral(
                   "SELECT name, device_type, parent_subsite_name, position_within_subsite, "
                   "catalog_entry_id, modified_time, user, id, storage_engine FROM %1")
            .arg(DBIF_Device::MASTER_TABLE_NAME);
    }
    static bool loadSubordinatesOnLoad() { return true; }
};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_Device>;
extern template class DBIF_EXPORT DBAL_StorageEngine<DBIF_Device, DBIF_DeviceColumn>;
extern template class DBIF_EXPORT DBAL_SparseTableStorageEngine<DBIF_Device, DBIF_DeviceColumn>;
extern template class DBIF_EXPORT DBAL_MultiTableStorageEngine<DBIF_Device, DBIF_DeviceColumn>;
extern template class DBIF_EXPORT DBAL_StorageEngineFactory<DBIF_Device, DBIF_DeviceColumn>;

#endif
