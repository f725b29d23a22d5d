// DBIF_Measurement.cpp: the measurement, its master-row statements and latest-measurement record, and
// the one instance per process of its cache, its storage engines and their factory.
#include "dbif/DBIF_Measurement.h"

#include <memory>

#include "dbif/DBIF_EntityRecord.h"
#include "dbif/DBIF_UnitOfWork.h"

template class DBIF_ObjectCache<DBIF_Measurement>;
template class DBAL_StorageEngine<DBIF_Measurement, DBIF_MeasurementColumn>;
template class DBAL_SparseTableStorageEngine<DBIF_Measurement, DBIF_MeasurementColumn>;
template class DBAL_MultiTableStorageEngine<DBIF_Measurement, DBIF_MeasurementColumn>;
template class DBAL_StorageEngineFactory<DBIF_Measurement, DBIF_MeasurementColumn>;
template class DBIF_LazyList<DBIF_Measurement>;

const QString DBIF_Measurement::MASTER_TABLE_NAME = DBIF_MeasurementColumn::tableSet().masterTableName;
const QString DBIF_Measurement::COLUMN_TABLE_NAME = DBIF_MeasurementColumn::tableSet().columnTableName;
const QString DBIF_Measurement::DATA_TABLE_NAME = DBIF_MeasurementColumn::tableSet().dataTableName;
const QString DBIF_Measurement::ASSOCIATION_TABLE_NAME =
    DBIF_MeasurementColumn::tableSet().associationTableName;
const QString DBIF_Measurement::DATA_ORIGIN = QStringLiteral("DataOrigin");
const QString DBIF_Measurement::MEASURED = QStringLiteral("MEASURED");
const QString DBIF_Measurement::SIMULATED = QStringLiteral("SIMULATED");

const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::TEMPERATURE(QStringLiteral("temperature"), false,
                                                                       true, DBIF_DEFAULT_RELATIVE_TOLERANCE,
                                                                       1e-10);
const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::MODIFIED_TIME(QStringLiteral("modified_time"),
                                                                         false, false);
const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_Measurement> DBIF_Measurement::MEASUREMENT_ID(QStringLiteral("measurement_id"),
                                                                          false, false);

const QList<DBIF_FixedColumn<DBIF_Measurement>>& DBIF_Measurement::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_Measurement>> columns{ID, TEMPERATURE, MODIFIED_TIME, USER,
                                                                   MEASUREMENT_ID};
    return columns;
}

QString DBIF_Measurement::temperatureText(double temperature) {
    return QString::number(temperature, 'g', 6);
}

namespace {

const QString WHERE = QStringLiteral("DBIF_Measurement::DBIF_Measurement");

// The four things a measurement links to must share its connection; the first that does not throws.
void checkLinks(const DBIF_Connection& connection, const DBIF_Die& die, const DBIF_CatalogEntry& entry,
                const DBIF_Device& device, const DBIF_MeasurementCondition& condition) {
    checkConnection(WHERE, connection, die);
    checkConnection(WHERE, connection, entry);
    checkConnection(WHERE, connection, device);
    checkConnection(WHERE, connection, condition);
}

// The text of a cell of row 0 of a text column the table may have, or the fallback without it.
template <typename Table, typename Column>
QString firstRowText(const Table& table, const Column& column, const QString& fallback) {
    if (!table.hasColumn(column.getKey()))
        return fallback;
    if (table.rowCount() == 0)
        return QString();
    const std::unique_ptr<DBIF_DataType> value(table.getDataElement(column, 0));
    return value ? value->toString() : QString();
}

}  // namespace

DBIF_Measurement::ParameterBlock::ParameterBlock(const DBIF_Die& die, const DBIF_CatalogEntry* catalogEntry,
                                                 const DBIF_Device& device,
                                                 const DBIF_MeasurementCondition& condition,
                                                 double temperature, DBIF_StorageEngineType storageEngineType)
    : die(die),
      catalogEntry(catalogEntry),
      device(device),
      condition(condition),
      temperature(temperature),
      storageEngineType(storageEngineType) {}

QString DBIF_Measurement::ParameterBlock::computeKey() const {
    return entityKey(QStringLiteral("meas"),
                     {DBIF_KeyPart::nested(die.getKey()), DBIF_KeyPart::nested(catalogEntry->getKey()),
                      DBIF_KeyPart::nested(condition.getKey()), DBIF_KeyPart::nested(device.getKey()),
                      temperatureText(temperature)});
}

DBIF_MeasurementRecord::DBIF_MeasurementRecord(const DBIF_Die& die, const DBIF_CatalogEntry& catalogEntry,
                                               const DBIF_Device& device,
                                               const DBIF_MeasurementCondition& condition, double temperature)
    : die(die), catalogEntry(catalogEntry), device(device), condition(condition), temperature(temperature) {}

DBIF_MeasurementRecord::QueryEvent& DBIF_MeasurementRecord::queryEvent() {
    static QueryEvent event;
    return event;
}

DBIF_Measurement::DBIF_Measurement() = default;

DBIF_Measurement::DBIF_Measurement(const DBIF_Connection& connection, const ParameterBlock& block)
    : DBIF_DataTableEntity(
          connection, block.storageEngineType,
          new SharedData(block.die, *block.catalogEntry, block.device, block.condition, block.temperature)) {
    checkLinks(connection, block.die, *block.catalogEntry, block.device, block.condition);
    setUser(block.catalogEntry->getUser());
    attachEngine(block.computeKey(), block.storageEngineType, false);
}

namespace {

// The entry, condition, device and die of a measurement row, fetched in this order.
DBIF_MeasurementRecord* recordFromRow(const DBIF_Connection& connection, const QSqlRecord& record) {
    const DBIF_CatalogEntry entry = DBIF_CatalogEntry::get(connection, record.value(1).toInt());
    const DBIF_MeasurementCondition condition =
        DBIF_MeasurementCondition::get(connection, record.value(3).toInt());
    const DBIF_Device device = DBIF_Device::get(connection, record.value(2).toInt());
    const DBIF_Die die = DBIF_Die::get(connection, record.value(0).toInt());
    return new DBIF_MeasurementRecord(die, entry, device, condition, record.value(4).toDouble());
}

}  // namespace

DBIF_Measurement::DBIF_Measurement(const DBIF_Connection& connection, const QSqlRecord& record)
    : DBIF_DataTableEntity(connection, record.value(5).toDateTime(), record.value(6).toString(),
                           record.value(7).toInt(), record.value(8).toInt(),
                           recordFromRow(connection, record)) {
    SharedData* r = this->record("DBIF_Measurement");
    attachEngine(ParameterBlock(r->die, &r->catalogEntry, r->device, r->condition, r->temperature,
                                getStorageEngineType())
                     .computeKey(),
                 getStorageEngineType(), true);
}

DBIF_Measurement::DBIF_Measurement(const DBIF_Measurement& other) = default;
DBIF_Measurement& DBIF_Measurement::operator=(const DBIF_Measurement& other) = default;
DBIF_Measurement::~DBIF_Measurement() = default;

DBIF_Measurement DBIF_Measurement::get(const DBIF_Connection& connection, const DBIF_Die& die,
                                       DBIF_CatalogEntry* catalogEntry, const DBIF_Device& device,
                                       const DBIF_MeasurementCondition& condition, double temperature,
                                       DBIF_StorageEngineType storageEngineType) {
    if (!assert0(catalogEntry != nullptr, __FILE__, __LINE__,
                 QStringLiteral("DBIF_Measurement::get without a catalog entry")))
        return DBIF_Measurement();
    checkLinks(connection, die, *catalogEntry, device, condition);
    return DBIF_ObjectCache<DBIF_Measurement>::get(
        connection, ParameterBlock(die, catalogEntry, device, condition, temperature, storageEngineType));
}

DBIF_Die DBIF_Measurement::getDie() const {
    return entityField(&SharedData::die, "getDie");
}
DBIF_Device DBIF_Measurement::getDevice() const {
    return entityField(&SharedData::device, "getDevice");
}
DBIF_MeasurementCondition DBIF_Measurement::getMeasurementCondition() const {
    return entityField(&SharedData::condition, "getMeasurementCondition");
}
DBIF_CatalogEntry* DBIF_Measurement::getCatalogEntry() const {
    SharedData* r = record("getCatalogEntry");
    return r ? &r->catalogEntry : nullCatalogEntryHandle();
}
double DBIF_Measurement::getTemperature() const {
    return entityField(&SharedData::temperature, "getTemperature", 0.0);
}

QMap<QString, DBIF_Setup> DBIF_Measurement::getSetupMap() const {
    return entityField(&SharedData::setups, "getSetupMap");
}
void DBIF_Measurement::getSetupPaths(QStringList& paths) const {
    if (!hasEntityRecord("getSetupPaths"))
        return;
    paths += getConnection().queryScalarList<QString>(
        QStringLiteral(
            "SELECT %0.path FROM measurement_setup, %0 WHERE measurement_setup.measurement_id = %1 "
            "AND measurement_setup.setup_id = %0.id")
            .arg(DBIF_Setup::MASTER_TABLE_NAME, QString::number(getId())),
        DBIF_QUERY_TIMING, "dbif/DBIF_Measurement", 276);
}

void DBIF_Measurement::addSetup(const DBIF_Setup& setup) {
    SharedData* r = record("addSetup");
    if (!r || !assert0(setup.isValid(), __FILE__, __LINE__,
                       QStringLiteral("DBIF_Measurement::addSetup of a null setup")))
        return;
    checkConnection(QStringLiteral("DBIF_Measurement::addSetup"), getConnection(), setup);
    r->mayNeedToAttachSetup = true;
    r->setups.insert(setup.getPath(), setup);
}

void DBIF_Measurement::removeSetup(const DBIF_Setup& setup) {
    SharedData* r = record("removeSetup");
    if (r && setup.isValid())
        r->setups.remove(setup.getPath());
}

bool DBIF_Measurement::mayNeedToAttachSetup() const {
    return entityField(&SharedData::mayNeedToAttachSetup, "mayNeedToAttachSetup");
}
void DBIF_Measurement::setMayNeedToAttachSetup(bool mayNeed) const {
    setEntityField(&SharedData::mayNeedToAttachSetup, mayNeed, "setMayNeedToAttachSetup");
}

void DBIF_Measurement::loadSubordinates() {
    SharedData* r = record("loadSubordinates");
    if (!r)
        return;
    const auto links = DBIF_Setup::getLinked(
        getConnection(),
        QStringLiteral(
            "SELECT %0.path, setup_id FROM measurement_setup, %0 WHERE measurement_setup.setup_id = "
            "%0.id AND measurement_setup.measurement_id = %1")
            .arg(DBIF_Setup::MASTER_TABLE_NAME, QString::number(getId())),
        1, "dbif/DBIF_Measurement", 374);
    for (const auto& link : links)
        r->setups.insert(link.second.toString(), link.first);
}

DBIF_MeasurementColumn DBIF_Measurement::addColumn(const QString& name, const QString& dataType) {
    return addColumnWithEvent(name, dataType);
}

void DBIF_Measurement::reload(const QSqlRecord& stored) {
    SharedData* r = record("reload");
    if (!r)
        return;
    const std::unique_ptr<DBIF_MeasurementRecord> row(recordFromRow(getConnection(), stored));
    r->catalogEntry = row->catalogEntry;
    r->temperature = row->temperature;
    r->condition = row->condition;
    r->device = row->device;
    r->die = row->die;
    setKey(ParameterBlock(r->die, &r->catalogEntry, r->device, r->condition, r->temperature,
                          getStorageEngineType())
               .computeKey());
    unloadData();
}

// The cache empties its objects this way, quietly: a null handle has nothing to release.
void DBIF_Measurement::unloadSubordinates() {
    if (isValid())
        record("unloadSubordinates")->setups.clear();
}

namespace {

const QStringList& masterColumns() {
    static const QStringList columns = QStringLiteral(
                                           "die_id,catalog_entry_id,device_id,measurement_condition_id,"
                                           "temperature,modified_time,user,storage_engine")
                                           .split(QLatin1Char(','));
    return columns;
}

// The temperature is bound as a double: the stored value is the measurement's to the last bit on both
// drivers (a printed text would round, or read back as 0 for the smallest doubles on SQLite).
QVariantList masterValues(const DBIF_Measurement& measurement) {
    return {measurement.getDie().getId(),    measurement.getCatalogEntry()->getId(),
            measurement.getDevice().getId(), measurement.getMeasurementCondition().getId(),
            measurement.getTemperature(),    DBIF_EntityRecord::sqlTime(measurement.getModifiedTime()),
            measurement.getUser(),           static_cast<int>(measurement.getStorageEngineType())};
}

}  // namespace

bool DBAL_StorageEngineTraits<DBIF_Measurement>::insertMasterRow(DBIF_Measurement& measurement,
                                                                 const QString& masterTable) {
    measurement.setModifiedTimeToNow();
    const DBIF_Connection connection = measurement.getConnection();
    connection.insertRow(masterTable, masterColumns(), masterValues(measurement), DBIF_UPDATE_TIMING,
                         __FILE__, __LINE__);
    measurement.setId(connection.getLastId());
    return true;
}

bool DBAL_StorageEngineTraits<DBIF_Measurement>::updateMasterRow(DBIF_Measurement& measurement,
                                                                 const QString& masterTable) {
    measurement.setModifiedTimeToNow();
    measurement.getConnection().updateRow(masterTable, masterColumns(), masterValues(measurement),
                                          measurement.getId(), DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    return true;
}

void DBAL_StorageEngineTraits<DBIF_Measurement>::refuseUnstorableValues(const DBIF_Measurement& measurement) {
    const double temperature = measurement.getTemperature();
    if (std::isfinite(temperature))
        return;
    throw DBIF_Exception(
        QStringLiteral("INSERT INTO measurement (..., temperature, ...) ..."),
        QSqlError(QStringLiteral("The temperature of %1 is %2; a database column cannot store it")
                      .arg(measurement.getKey(), QString::number(temperature)),
                  QString(), QSqlError::StatementError),
        QStringLiteral(__FILE__), __LINE__);
}

void DBAL_StorageEngineTraits<DBIF_Measurement>::savePrecedents(DBIF_Measurement& measurement) {
    DBIF_Die die = measurement.getDie();
    DBIF_Device device = measurement.getDevice();
    DBIF_MeasurementCondition condition = measurement.getMeasurementCondition();
    if (!die.isNull())
        die.saveSelf();
    if (device.isValid())
        device.saveSelf();
    if (condition.isValid())
        condition.saveSelf();
    if (measurement.getCatalogEntry()->isValid())
        measurement.getCatalogEntry()->saveSelf();
}

// The die is a row of its own kind, with nothing to prepare.
void DBAL_StorageEngineTraits<DBIF_Measurement>::preparePrecedents(DBIF_Measurement& measurement) {
    DBIF_Device device = measurement.getDevice();
    DBIF_MeasurementCondition condition = measurement.getMeasurementCondition();
    if (device.isValid())
        device.prepareSave(false);
    if (condition.isValid())
        condition.prepareSave(false);
    if (measurement.getCatalogEntry()->isValid())
        measurement.getCatalogEntry()->prepareSave(false);
}

void DBAL_StorageEngineTraits<DBIF_Measurement>::prepareSubordinates(DBIF_Measurement& measurement) {
    for (DBIF_Setup setup : measurement.getSetupMap())
        setup.prepareSave(true);
}

DBAL_LatestRecord DBAL_StorageEngineTraits<DBIF_Measurement>::latestRecord(
    const DBIF_Measurement& measurement, const QString& dataOriginWithoutColumn) {
    const DBIF_Connection connection = measurement.getConnection();
    const DBIF_Device device = measurement.getDevice();
    const DBIF_MeasurementCondition condition = measurement.getMeasurementCondition();
    DBAL_LatestRecord latest;
    latest.dieId = measurement.getDie().getId();
    latest.deviceType = device.getDeviceType();
    latest.deviceParentSubsiteName = device.getParentSubsiteName();
    latest.devicePositionWithinSubsite = device.getPositionWithinSubsite();
    latest.measurementConditionName = condition.getName();
    latest.measurementTemperature = measurement.getTemperature();
    latest.routineName = condition.getRoutine().getName();
    latest.dataOrigin =
        firstRowText(measurement,
                     DBIF_MeasurementColumn::get(connection, DBIF_Measurement::DATA_ORIGIN, TEXT_DATATYPE,
                                                 DBIF_DynamicTableColumn::MULTI_TABLE_FLAG),
                     dataOriginWithoutColumn);
    latest.mode =
        firstRowText(*measurement.getCatalogEntry(),
                     DBIF_CatalogEntryColumn::get(connection, DBIF_CatalogEntry::MODE, TEXT_DATATYPE,
                                                  DBIF_DynamicTableColumn::MULTI_TABLE_FLAG),
                     QString());
    return latest;
}

void DBAL_StorageEngineTraits<DBIF_Measurement>::saveSubordinates(DBIF_Measurement& measurement) {
    const DBIF_Connection connection = measurement.getConnection();
    const QString id = QString::number(measurement.getId());
    // Links are looked for only after an addSetup: a measurement saved again and again costs no
    // measurement_setup statement.
    const bool linkable = ownerIsSaved(measurement.getId(), "Attaching setups to unsaved measurement");
    const bool attach = linkable && measurement.mayNeedToAttachSetup();
    for (DBIF_Setup setup : measurement.getSetupMap()) {
        setup.save();
        if (!attach)
            continue;
        const QString setupId = QString::number(setup.getId());
        if (connection.queryInt(
                QStringLiteral("SELECT count(*) FROM measurement_setup WHERE measurement_id = "
                               "%1 AND setup_id = %2")
                    .arg(id, setupId),
                DBIF_QUERY_TIMING, __FILE__, __LINE__) == 0)
            connection.insertRow(QStringLiteral("measurement_setup"),
                                 {QStringLiteral("measurement_id"), QStringLiteral("setup_id")},
                                 {measurement.getId(), setup.getId()}, DBIF_UPDATE_TIMING, __FILE__,
                                 __LINE__);
    }
    // Without an id the links are still owed; a rolled-back save owes them again.
    if (attach) {
        measurement.setMayNeedToAttachSetup(false);
        DBIF_UnitOfWork::onRollback(connection,
                                    [measurement]() { measurement.setMayNeedToAttachSetup(true); });
    }
    const QStringList v = latestRecord(measurement, QString()).statementValues(connection);
    DBAL_LatestRecord::store(
        connection, QStringLiteral("DELETE FROM latest_measurement WHERE measurement_id = %1").arg(id),
        QStringLiteral(
            "SELECT count(*) FROM latest_measurement WHERE die_id                         =  %1  AND "
            "device_type                    = '%2' AND device_parent_subsite_name     = '%3' AND "
            "device_position_within_subsite =  %4  AND measurement_condition_name     = '%5' AND "
            "measurement_temperature        =  %6  AND routine_name                   = '%7' AND "
            "data_origin                    = '%8' AND mode                           = '%9'     ")
            .arg(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]),
        QStringLiteral(
            "INSERT INTO latest_measurement (  measurement_id, die_id, device_type, "
            "device_parent_subsite_name, device_position_within_subsite,  measurement_condition_name, "
            "measurement_temperature, routine_name, data_origin, mode)VALUES (%1, %2, '%3', '%4', %5, "
            "'%6', %7, '%8', '%9', '%10')")
            .arg(id, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]),
        QStringLiteral(
            "UPDATE latest_measurement SET measurement_id = %1 WHERE die_id                         =  "
            "%2  AND device_type                    = '%3' AND device_parent_subsite_name     = '%4' "
            "AND device_position_within_subsite =  %5  AND measurement_condition_name     = '%6' AND "
            "measurement_temperature        =  %7  AND routine_name                   = '%8' AND "
            "data_origin                    = '%9' AND mode                           = '%10'    ")
            .arg(id, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]));
}

void DBAL_StorageEngineTraits<DBIF_Measurement>::processAssociation(DBIF_DynamicTableColumn* column,
                                                                    DBIF_Measurement& measurement,
                                                                    const QSqlQuery&) {
    measurement.addColumn(column->getName(), column->getDataType());
}
