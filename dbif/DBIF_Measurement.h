// DBIF_Measurement: one set of data taken on a device of a die, under a measurement condition, at a
// temperature, within a run (catalog entry), with a data table of DBIF_MeasurementColumn columns; a row
// of measurement. Each save() makes it the latest measurement of its combination (latest_measurement),
// which latest-only queries read. A value handle over two explicitly shared records; the kind's cache
// holds one per row and connection. Not thread-safe: one thread at a time, like the cache and connection.
#ifndef DBIF_MEASUREMENT_H
#define DBIF_MEASUREMENT_H

#include <QList>
#include <QMap>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

#include "dbif/DBAL_EventSending.h"
#include "dbif/DBAL_LatestRecord.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_DataTableEntity.h"
#include "dbif/DBIF_Device.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_Export.h"
#include "dbif/DBIF_FixedColumn.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_MeasurementCondition.h"
#include "dbif/DBIF_ObjectCache.h"
#include "dbif/DBIF_Setup.h"
#include "dbif/DBIF_StorageEngineType.h"

struct DBIF_MeasurementRecord;

class DBIF_EXPORT DBIF_Measurement
    : public DBIF_DataTableEntity<DBIF_Measurement, DBIF_MeasurementColumn, DBIF_MeasurementRecord> {
public:
    using SharedData = DBIF_MeasurementRecord;
    using DBIF_DataTableEntity::get;
    using DBIF_DataTableEntity::reload;

    class DBIF_EXPORT ParameterBlock {
    public:
        // REQUIRES: catalogEntry is not null; the block keeps the pointer, not a copy.
        ParameterBlock(const DBIF_Die& die, const DBIF_CatalogEntry* catalogEntry, const DBIF_Device& device,
                       const DBIF_MeasurementCondition& condition, double temperature,
                       DBIF_StorageEngineType storageEngineType);
        // "<meas: die key|entry key|condition key|device key|temperature>", the temperature with six
        // significant digits.
        QString computeKey() const;

        DBIF_Die die;
        const DBIF_CatalogEntry* catalogEntry;
        DBIF_Device device;
        DBIF_MeasurementCondition condition;
        double temperature;
        DBIF_StorageEngineType storageEngineType;
    };

    static const QString MASTER_TABLE_NAME;
    static const QString COLUMN_TABLE_NAME;
    static const QString DATA_TABLE_NAME;
    static const QString ASSOCIATION_TABLE_NAME;
    // The measurement data column that holds the data origin text.
    static const QString DATA_ORIGIN;
    // The data origins hosts write; any other text is stored and compared as well.
    static const QString MEASURED;
    static const QString SIMULATED;

    static const DBIF_FixedColumn<DBIF_Measurement> ID;
    static const DBIF_FixedColumn<DBIF_Measurement> TEMPERATURE;
    static const DBIF_FixedColumn<DBIF_Measurement> MODIFIED_TIME;
    static const DBIF_FixedColumn<DBIF_Measurement> USER;
    static const DBIF_FixedColumn<DBIF_Measurement> MEASUREMENT_ID;

    // The fixed columns above, in the order the master table's queries list them.
    static const QList<DBIF_FixedColumn<DBIF_Measurement>>& fixedColumns();
    // The temperature as keys and the latest-measurement table write it: six significant digits.
    static QString temperatureText(double temperature);

    DBIF_Measurement();  // null handle
    // A new measurement (id -1) with the entry's user, attached to the engine of the block's type.
    // Throws DBIF_ConnectionMismatchException when die, entry, device or condition (checked in this
    // order) belongs to another connection.
    DBIF_Measurement(const DBIF_Connection& connection, const ParameterBlock& block);
    // From a row of the cache select (die_id, catalog_entry_id, device_id, measurement_condition_id,
    // temperature, modified_time, user, id, storage_engine); entry, condition, device and die are
    // fetched through their caches in this order.
    DBIF_Measurement(const DBIF_Connection& connection, const QSqlRecord& record);
    DBIF_Measurement(const DBIF_Measurement& other);
    DBIF_Measurement& operator=(const DBIF_Measurement& other);
    ~DBIF_Measurement() override;

    // Checks die, entry, device and condition against the connection (DBIF_ConnectionMismatchException,
    // nothing created), then returns the cached measurement with that key or a new unsaved one.
    static DBIF_Measurement get(const DBIF_Connection& connection, const DBIF_Die& die,
                                DBIF_CatalogEntry* catalogEntry, const DBIF_Device& device,
                                const DBIF_MeasurementCondition& condition, double temperature,
                                DBIF_StorageEngineType storageEngineType);

    DBIF_Die getDie() const;
    DBIF_Device getDevice() const;
    DBIF_MeasurementCondition getMeasurementCondition() const;
    // The measurement's own handle on its entry; valid as long as the measurement's record.
    DBIF_CatalogEntry* getCatalogEntry() const;
    double getTemperature() const;

    // A copy of the setups held by path.
    QMap<QString, DBIF_Setup> getSetupMap() const;
    // Appends the paths of the setups linked in measurement_setup, in row order, duplicates kept; the
    // setup map is not consulted.
    void getSetupPaths(QStringList& paths) const;
    // Puts the setup into the map under its path (replacing one with the same path); the next save()
    // links every setup of the map that is not linked yet. Throws DBIF_ConnectionMismatchException,
    // changing nothing, for a setup of another connection.
    void addSetup(const DBIF_Setup& setup);
    // Takes the setup's path out of the map; its stored link stays.
    void removeSetup(const DBIF_Setup& setup);
    // Whether save() must link the map's setups: set by addSetup, cleared by every save().
    bool mayNeedToAttachSetup() const;
    void setMayNeedToAttachSetup(bool mayNeed) const;
    // Puts the setups linked in measurement_setup into the map by path (without emptying it first);
    // setups whose row is gone are reported by the cache and left out.
    void loadSubordinates() override;

    DBIF_MeasurementColumn addColumn(const QString& name, const QString& dataType);

    // Takes entry, temperature, condition, device and die from the row, recomputes the key, clears the
    // dirty flag and drops the in-memory rows. The setup map stays.
    void reload(const QSqlRecord& record);
    // Empties the setup map (breaking the measurement-setup cycle).
    void unloadSubordinates() override;
};

struct DBIF_EXPORT DBIF_MeasurementRecord
    : public DBIF_DataTableEntityRecord<
          DBIF_Measurement, DBAL_EventSending3Params<DBIF_Measurement, const QString, const QString>> {
    DBIF_MeasurementRecord(const DBIF_Die& die, const DBIF_CatalogEntry& catalogEntry,
                           const DBIF_Device& device, const DBIF_MeasurementCondition& condition,
                           double temperature);

    static QueryEvent& queryEvent();

    DBIF_Die die;
    DBIF_CatalogEntry catalogEntry;  // the measurement's own handle; getCatalogEntry() hands out its address
    DBIF_Device device;
    DBIF_MeasurementCondition condition;
    QMap<QString, DBIF_Setup> setups;  // path -> setup
    double temperature;
    bool mayNeedToAttachSetup = false;
};

// The storage engines' part that is the measurement's own: master-row statements, die, device, condition
// and entry first, and the setups with their links and the latest-measurement record as subordinates.
template <>
struct DBIF_EXPORT DBAL_StorageEngineTraits<DBIF_Measurement> : DBAL_StorageEngineTraitsBase {
    static bool insertMasterRow(DBIF_Measurement& measurement, const QString& masterTable);
    static bool updateMasterRow(DBIF_Measurement& measurement, const QString& masterTable);
    static void savePrecedents(DBIF_Measurement& measurement);
    static void saveSubordinates(DBIF_Measurement& measurement);
    static void preparePrecedents(DBIF_Measurement& measurement);
    static void prepareSubordinates(DBIF_Measurement& measurement);
    // Throws DBIF_Exception for a temperature a database cannot store (NaN, an infinity).
    static void refuseUnstorableValues(const DBIF_Measurement& measurement);
    static void processAssociation(DBIF_DynamicTableColumn* column, DBIF_Measurement& measurement,
                                   const QSqlQuery& row);
    // The combination the measurement stands for; the data origin is its DataOrigin cell of row 0, or
    // dataOriginWithoutColumn when it has no such column; the mode the entry's Mode cell of row 0.
    static DBAL_LatestRecord latestRecord(const DBIF_Measurement& measurement,
                                          const QString& dataOriginWithoutColumn);
};

template <>
struct DBIF_ObjectCacheTraits<DBIF_Measurement> : DBIF_ObjectCacheTraitsBase {
    static bool shouldCacheAll() { return false; }
    static QString cacheSelectStatement() {
        return QStringLiteral(
                   "SELECT die_id, catalog_entry_id, device_id, measurement_condition_id, temperature, "
                   "modified_time, user, id, storage_engine FROM %1")
            .arg(DBIF_Measurement::MASTER_TABLE_NAME);
    }
    static bool loadSubordinatesOnLoad() { return true; }
};

extern template class DBIF_EXPORT DBIF_ObjectCache<DBIF_Measurement>;
extern template class DBIF_EXPORT DBAL_StorageEngine<DBIF_Measurement, DBIF_MeasurementColumn>;
extern template class DBIF_EXPORT DBAL_SparseTableStorageEngine<DBIF_Measurement, DBIF_MeasurementColumn>;
extern template class DBIF_EXPORT DBAL_MultiTableStorageEngine<DBIF_Measurement, DBIF_MeasurementColumn>;
extern template class DBIF_EXPORT DBAL_StorageEngineFactory<DBIF_Measurement, DBIF_MeasurementColumn>;
extern template class DBIF_EXPORT DBIF_LazyList<DBIF_Measurement>;

#endif
