// DBIF_Device.cpp: the device, its is_measurement rows, its master-row statements with the identical-row
// look-up, and the one instance per process of its cache, its storage engines and their factory.
#include "dbif/DBIF_Device.h"

#include "dbif/DBIF_EntityRecord.h"
#include "dbif/DBIF_UnitOfWork.h"

template class DBIF_ObjectCache<DBIF_Device>;
template class DBAL_StorageEngine<DBIF_Device, DBIF_DeviceColumn>;
template class DBAL_SparseTableStorageEngine<DBIF_Device, DBIF_DeviceColumn>;
template class DBAL_MultiTableStorageEngine<DBIF_Device, DBIF_DeviceColumn>;
template class DBAL_StorageEngineFactory<DBIF_Device, DBIF_DeviceColumn>;

const QString DBIF_Device::MASTER_TABLE_NAME = DBIF_DeviceColumn::tableSet().masterTableName;
const QString DBIF_Device::COLUMN_TABLE_NAME = DBIF_DeviceColumn::tableSet().columnTableName;
const QString DBIF_Device::DATA_TABLE_NAME = DBIF_DeviceColumn::tableSet().dataTableName;
const QString DBIF_Device::ASSOCIATION_TABLE_NAME = DBIF_DeviceColumn::tableSet().associationTableName;

const DBIF_FixedColumn<DBIF_Device> DBIF_Device::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::NAME(QStringLiteral("name"), true, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::DEVICE_TYPE_(QStringLiteral("device_type"), true, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::PARENT_SUBSITE_NAME(QStringLiteral("parent_subsite_name"),
                                                                     true, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::POSITION_WITHIN_SUBSITE(
    QStringLiteral("position_within_subsite"), false, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::MODIFIED_TIME(QStringLiteral("modified_time"), false, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_Device> DBIF_Device::DEVICE_ID(QStringLiteral("device_id"), false, false);

const QList<DBIF_FixedColumn<DBIF_Device>>& DBIF_Device::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_Device>> columns{
        ID, NAME, DEVICE_TYPE_, PARENT_SUBSITE_NAME, POSITION_WITHIN_SUBSITE, MODIFIED_TIME, USER, DEVICE_ID};
    return columns;
}

namespace {

const QString WHERE = QStringLiteral("DBIF_Device::DBIF_Device");

// A setter's rule: a different value marks the device dirty; the key is left as it is. A null handle
// (no field) was reported by the caller.
template <typename Value>
void change(Value* field, const Value& value, DBIF_Device& device) {
    if (!field || *field == value)
        return;
    device.setDirty(true);
    *field = value;
}

}  // namespace

DBIF_Device::ParameterBlock::ParameterBlock(const QString& name, const QString& deviceType,
                                            const QString& parentSubsiteName, int positionWithinSubsite,
                                            const DBIF_CatalogEntry* catalogEntry,
                                            DBIF_StorageEngineType storageEngineType)
    : name(name),
      deviceType(deviceType),
      parentSubsiteName(parentSubsiteName),
      positionWithinSubsite(positionWithinSubsite),
      catalogEntry(catalogEntry),
      storageEngineType(storageEngineType) {}

QString DBIF_Device::ParameterBlock::computeKey() const {
    return entityKey(QStringLiteral("device"),
                     {name, deviceType, parentSubsiteName, QString::number(positionWithinSubsite),
                      DBIF_KeyPart::nested(catalogEntry->getKey())});
}

DBIF_DeviceRecord::DBIF_DeviceRecord(const QString& name, const QString& deviceType,
                                     const QString& parentSubsiteName, int positionWithinSubsite,
                                     const DBIF_CatalogEntry& catalogEntry)
    : name(name),
      deviceType(deviceType),
      parentSubsiteName(parentSubsiteName),
      positionWithinSubsite(positionWithinSubsite),
      catalogEntry(catalogEntry) {}

DBIF_DeviceRecord::QueryEvent& DBIF_DeviceRecord::queryEvent() {
    static QueryEvent event;
    return event;
}

DBIF_Device::DBIF_Device() = default;

DBIF_Device::DBIF_Device(const DBIF_Connection& connection, const ParameterBlock& block)
    : DBIF_DataTableEntity(connection, block.storageEngineType,
                           new SharedData(block.name, block.deviceType, block.parentSubsiteName,
                                          block.positionWithinSubsite, *block.catalogEntry)) {
    checkConnection(WHERE, connection, *block.catalogEntry);
    setUser(block.catalogEntry->getUser());
    attachEngine(block.computeKey(), block.storageEngineType, false);
}

DBIF_Device::DBIF_Device(const DBIF_Connection& connection, const QSqlRecord& record)
    : DBIF_DataTableEntity(connection, record.value(5).toDateTime(), record.value(6).toString(),
                           record.value(7).toInt(), record.value(8).toInt(),
                           new SharedData(record.value(0).toString(), record.value(1).toString(),
                                          record.value(2).toString(), record.value(3).toInt(),
                                          DBIF_CatalogEntry::get(connection, record.value(4).toInt()))) {
    SharedData* r = this->record("DBIF_Device");
    attachEngine(ParameterBlock(r->name, r->deviceType, r->parentSubsiteName, r->positionWithinSubsite,
                                &r->catalogEntry, getStorageEngineType())
                     .computeKey(),
                 getStorageEngineType(), true);
}

DBIF_Device::DBIF_Device(const DBIF_Device& other) = default;
DBIF_Device& DBIF_Device::operator=(const DBIF_Device& other) = default;
DBIF_Device::~DBIF_Device() = default;

DBIF_Device DBIF_Device::get(const DBIF_Connection& connection, const QString& name,
                             const QString& deviceType, const QString& parentSubsiteName,
                             int positionWithinSubsite, DBIF_CatalogEntry* catalogEntry,
                             DBIF_StorageEngineType storageEngineType) {
    if (!assert0(catalogEntry != nullptr, __FILE__, __LINE__,
                 QStringLiteral("DBIF_Device::get without a catalog entry")))
        return DBIF_Device();
    checkConnection(WHERE, connection, *catalogEntry);
    return DBIF_ObjectCache<DBIF_Device>::get(
        connection, ParameterBlock(name, deviceType, parentSubsiteName, positionWithinSubsite, catalogEntry,
                                   storageEngineType));
}

QString DBIF_Device::getName() const {
    return entityField(&SharedData::name, "getName");
}
QString DBIF_Device::getDeviceType() const {
    return entityField(&SharedData::deviceType, "getDeviceType");
}
QString DBIF_Device::getParentSubsiteName() const {
    return entityField(&SharedData::parentSubsiteName, "getParentSubsiteName");
}
int DBIF_Device::getPositionWithinSubsite() const {
    return entityField(&SharedData::positionWithinSubsite, "getPositionWithinSubsite", -1);
}
void DBIF_Device::setName(const QString& name) {
    SharedData* r = record("setName");
    change(r ? &r->name : nullptr, name, *this);
}
void DBIF_Device::setDeviceType(const QString& deviceType) {
    SharedData* r = record("setDeviceType");
    change(r ? &r->deviceType : nullptr, deviceType, *this);
}
void DBIF_Device::setParentSubsiteName(const QString& parentSubsiteName) {
    SharedData* r = record("setParentSubsiteName");
    change(r ? &r->parentSubsiteName : nullptr, parentSubsiteName, *this);
}
void DBIF_Device::setPositionWithinSubsite(int positionWithinSubsite) {
    SharedData* r = record("setPositionWithinSubsite");
    change(r ? &r->positionWithinSubsite : nullptr, positionWithinSubsite, *this);
}
DBIF_CatalogEntry* DBIF_Device::getCatalogEntry() const {
    SharedData* r = record("getCatalogEntry");
    return r ? &r->catalogEntry : nullCatalogEntryHandle();
}

QList<DBIF_Setup> DBIF_Device::getSetups() const {
    return entityField(&SharedData::setups, "getSetups");
}
bool DBIF_Device::mayNeedToAttachSetups() const {
    return entityField(&SharedData::mayNeedToAttachSetups, "mayNeedToAttachSetups");
}
void DBIF_Device::setMayNeedToAttachSetups(bool mayNeed) const {
    setEntityField(&SharedData::mayNeedToAttachSetups, mayNeed, "setMayNeedToAttachSetups");
}

void DBIF_Device::addSetup(const DBIF_Setup& setup, int deviceDataRow) {
    SharedData* r = record("addSetup");
    if (!r || !assert0(setup.isValid(), __FILE__, __LINE__,
                       QStringLiteral("DBIF_Device::addSetup of a null setup")))
        return;
    checkConnection(QStringLiteral("DBIF_Device::addSetup"), getConnection(), setup);
    r->mayNeedToAttachSetups = true;
    DBIF_Setup linked = setup;
    linked.setAssociatedDeviceDataRow(deviceDataRow);
    r->setups.append(linked);
}

void DBIF_Device::loadSubordinates() {
    SharedData* r = record("loadSubordinates");
    if (!r)
        return;
    const auto links = DBIF_Setup::getLinked(
        getConnection(),
        QStringLiteral("SELECT setup_id, device_data_row FROM device_setup WHERE device_setup.device_id = %1")
            .arg(QString::number(getId())),
        0, "dbif/DBIF_Device", 359);
    for (auto link : links) {
        link.first.setAssociatedDeviceDataRow(link.second.toInt());
        r->setups.append(link.first);
    }
}

DBIF_DeviceColumn DBIF_Device::addColumn(const QString& name, const QString& dataType,
                                         const QString& category) {
    return addColumnWithEvent(name, dataType, category);
}

void DBIF_Device::addRow() {
    DBIF_DataTableEntity::addRow();
    const DBIF_DeviceColumn isMeasurement =
        addColumn(DBIF_DeviceColumn::IS_MEASUREMENT_COLUMN_NAME, TEXT_DATATYPE,
                  DBIF_DeviceColumn::IS_MEASUREMENT_CATEGORY);
    set(isMeasurement, rowCount() == 1 ? "y" : "n");
}

void DBIF_Device::reload(const QSqlRecord& row) {
    SharedData* r = record("reload");
    if (!r)
        return;
    r->name = row.value(0).toString();
    r->deviceType = row.value(1).toString();
    r->parentSubsiteName = row.value(2).toString();
    r->positionWithinSubsite = row.value(3).toInt();
    r->catalogEntry = DBIF_CatalogEntry::get(getConnection(), row.value(4).toInt());
    setKey(ParameterBlock(r->name, r->deviceType, r->parentSubsiteName, r->positionWithinSubsite,
                          &r->catalogEntry, getStorageEngineType())
               .computeKey());
    unloadData();
}

namespace {

const QStringList& deviceColumns() {
    static const QStringList columns = QStringLiteral(
                                           "name,device_type,parent_subsite_name,position_within_subsite,"
                                           "catalog_entry_id,modified_time,user,storage_engine")
                                           .split(QLatin1Char(','));
    return columns;
}

QVariantList deviceValues(const DBIF_Device& device) {
    return {device.getName(),
            device.getDeviceType(),
            device.getParentSubsiteName(),
            device.getPositionWithinSubsite(),
            device.getCatalogEntry()->getId(),
            DBIF_EntityRecord::sqlTime(device.getModifiedTime()),
            device.getUser(),
            static_cast<int>(device.getStorageEngineType())};
}

}  // namespace

bool DBAL_StorageEngineTraits<DBIF_Device>::insertMasterRow(DBIF_Device& device, const QString& masterTable) {
    const DBIF_Connection connection = device.getConnection();
    const QString entryId = QString::number(device.getCatalogEntry()->getId());
    // Only exactly the same texts name the same device: "M1" and "m1 " are other devices.
    const QString lookUp =
        QStringLiteral(
            "SELECT id, storage_engine FROM %1 WHERE %2 AND %3 AND %4 AND position_within_subsite = "
            "%5 AND catalog_entry_id = %6")
            .arg(masterTable, connection.exactTextMatch(QStringLiteral("name"), device.getName()),
                 connection.exactTextMatch(QStringLiteral("device_type"), device.getDeviceType()),
                 connection.exactTextMatch(QStringLiteral("parent_subsite_name"),
                                           device.getParentSubsiteName()),
                 QString::number(device.getPositionWithinSubsite()), entryId);
    QSqlQuery identical = connection.query(lookUp, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    if (identical.next()) {
        // The stored rows are read and written by the engine that stored them; this device's engine
        // could neither read nor keep them.
        const int stored = DBIF_Device::computeStorageEngineType(identical.value(1).toInt());
        if (stored != device.getStorageEngineType()) {
            throw DBIF_Exception(
                lookUp,
                QSqlError(
                    QStringLiteral("Device %1 is stored with storage engine %2; get it with that engine "
                                   "to add to it")
                        .arg(device.getKey(), QString::number(stored)),
                    QString(), QSqlError::StatementError),
                QStringLiteral(__FILE__), __LINE__);
        }
        device.setId(identical.value(0).toInt());
        return false;
    }
    device.setModifiedTimeToNow();
    connection.insertRow(masterTable, deviceColumns(), deviceValues(device), DBIF_UPDATE_TIMING, __FILE__,
                         __LINE__);
    device.setId(connection.getLastId());
    return true;
}

bool DBAL_StorageEngineTraits<DBIF_Device>::updateMasterRow(DBIF_Device& device, const QString& masterTable) {
    device.setModifiedTimeToNow();
    device.getConnection().updateRow(masterTable, deviceColumns(), deviceValues(device), device.getId(),
                                     DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    return true;
}

void DBAL_StorageEngineTraits<DBIF_Device>::savePrecedents(DBIF_Device& device) {
    if (device.getCatalogEntry()->isValid())
        device.getCatalogEntry()->saveSelf();
}

void DBAL_StorageEngineTraits<DBIF_Device>::preparePrecedents(DBIF_Device& device) {
    if (device.getCatalogEntry()->isValid())
        device.getCatalogEntry()->prepareSave(false);
}

void DBAL_StorageEngineTraits<DBIF_Device>::prepareSubordinates(DBIF_Device& device) {
    for (DBIF_Setup setup : device.getSetups())
        setup.prepareSave(true);
}

void DBAL_StorageEngineTraits<DBIF_Device>::processAssociation(DBIF_DynamicTableColumn* column,
                                                               DBIF_Device& device, const QSqlQuery&) {
    device.addColumn(column->getName(), column->getDataType(),
                     static_cast<DBIF_DeviceColumn*>(column)->getCategory());
}

void DBAL_StorageEngineTraits<DBIF_Device>::saveSubordinates(DBIF_Device& device) {
    const bool linkable = ownerIsSaved(device.getId(), "Attaching setups to unsaved device");
    const QList<DBIF_Setup> setups = device.getSetups();
    for (DBIF_Setup setup : setups)
        setup.save();
    if (!linkable || !device.mayNeedToAttachSetups())
        return;
    // The rows are rewritten from the list as a whole: a setup added twice, or moved to another data
    // row, leaves no stale row behind.
    const DBIF_Connection connection = device.getConnection();
    const QString id = QString::number(device.getId());
    connection.query(QStringLiteral("DELETE FROM device_setup WHERE device_id = %1").arg(id),
                     DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    for (const DBIF_Setup& setup : setups) {
        connection.insertRow(
            QStringLiteral("device_setup"),
            {QStringLiteral("device_id"), QStringLiteral("setup_id"), QStringLiteral("device_data_row")},
            {device.getId(), setup.getId(), setup.getAssociatedDeviceDataRow()}, DBIF_UPDATE_TIMING, __FILE__,
            __LINE__);
    }
    device.setMayNeedToAttachSetups(false);
    DBIF_UnitOfWork::onRollback(connection, [device]() { device.setMayNeedToAttachSetups(true); });
}
