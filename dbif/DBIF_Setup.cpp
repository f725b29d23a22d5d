// DBIF_Setup.cpp: the setup, its owner look-ups, headers, query event and latest-setup record, and the
// one instance per process of its cache, its storage engines and their factory.
#include "dbif/DBIF_Setup.h"

#include "dbif/DBAL_LatestRecord.h"
#include "dbif/DBIF_EntityRecord.h"
#include "dbif/DBIF_Measurement.h"

template class DBIF_ObjectCache<DBIF_Setup>;
template class DBAL_StorageEngine<DBIF_Setup, DBIF_SetupColumn>;
template class DBAL_SparseTableStorageEngine<DBIF_Setup, DBIF_SetupColumn>;
template class DBAL_MultiTableStorageEngine<DBIF_Setup, DBIF_SetupColumn>;
template class DBAL_StorageEngineFactory<DBIF_Setup, DBIF_SetupColumn>;
template class DBIF_LazyList<DBIF_Setup>;

const QString DBIF_Setup::MASTER_TABLE_NAME = DBIF_SetupColumn::tableSet().masterTableName;
const QString DBIF_Setup::COLUMN_TABLE_NAME = DBIF_SetupColumn::tableSet().columnTableName;
const QString DBIF_Setup::DATA_TABLE_NAME = DBIF_SetupColumn::tableSet().dataTableName;
const QString DBIF_Setup::ASSOCIATION_TABLE_NAME = DBIF_SetupColumn::tableSet().associationTableName;
const int DBIF_Setup::NO_ASSOCIATED_DEVICE = -1;

const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::NAME(QStringLiteral("name"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::PATH(QStringLiteral("path"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::RUN_TYPE(QStringLiteral("run_type"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::DATA_ORIGIN(QStringLiteral("data_origin"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::MODIFIED_TIME(QStringLiteral("modified_time"), false, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_Setup> DBIF_Setup::SETUP_ID(QStringLiteral("setup_id"), false, false);

const QList<DBIF_FixedColumn<DBIF_Setup>>& DBIF_Setup::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_Setup>> columns{ID,          NAME,          PATH, RUN_TYPE,
                                                             DATA_ORIGIN, MODIFIED_TIME, USER, SETUP_ID};
    return columns;
}

namespace {

// What the in-memory table, and so the master row, records for a requested engine type: sparse stays
// sparse, everything else is the multi-table type (see the header).
DBIF_StorageEngineType recordedType(int requested) {
    return requested == DBIF_SPARSE_TABLE_STORAGE ? DBIF_SPARSE_TABLE_STORAGE : DBIF_MULTI_TABLE_STORAGE;
}

QString ownerKey(const DBIF_CatalogEntry* catalogEntry, const DBIF_Measurement* measurement) {
    if (catalogEntry)
        return catalogEntry->getKey();
    return measurement ? measurement->getKey() : QString();
}

QString setupKey(const QString& name, const QString& runType, const QString& owner, int type) {
    return entityKey(QStringLiteral("s"),
                     {name, runType, DBIF_KeyPart::nested(owner), QString::number(type)});
}

}  // namespace

DBIF_Setup::ParameterBlock::ParameterBlock(const QString& name, const QString& path, const QString& runType,
                                           const QString& dataOrigin, int storageEngineType)
    : name(name),
      path(path),
      runType(runType),
      dataOrigin(dataOrigin),
      storageEngineType(static_cast<DBIF_StorageEngineType>(storageEngineType)) {}

DBIF_Setup::ParameterBlock::ParameterBlock(const QString& name, const QString& path, const QString& runType,
                                           const QString& dataOrigin, const DBIF_CatalogEntry* catalogEntry,
                                           DBIF_StorageEngineType storageEngineType)
    : ParameterBlock(name, path, runType, dataOrigin, static_cast<int>(storageEngineType)) {
    this->catalogEntry = catalogEntry;
}

DBIF_Setup::ParameterBlock::ParameterBlock(const QString& name, const QString& path, const QString& runType,
                                           const QString& dataOrigin, const DBIF_CatalogEntry* catalogEntry,
                                           int storageEngineType)
    : ParameterBlock(name, path, runType, dataOrigin, storageEngineType) {
    this->catalogEntry = catalogEntry;
}

DBIF_Setup::ParameterBlock::ParameterBlock(const QString& name, const QString& path, const QString& runType,
                                           const QString& dataOrigin, const DBIF_Measurement* measurement,
                                           DBIF_StorageEngineType storageEngineType)
    : ParameterBlock(name, path, runType, dataOrigin, static_cast<int>(storageEngineType)) {
    this->measurement = measurement;
}

DBIF_Setup::ParameterBlock::ParameterBlock(const QString& name, const QString& path, const QString& runType,
                                           const QString& dataOrigin, const DBIF_Measurement* measurement,
                                           int storageEngineType)
    : ParameterBlock(name, path, runType, dataOrigin, storageEngineType) {
    this->measurement = measurement;
}

QString DBIF_Setup::ParameterBlock::computeKey() const {
    return setupKey(name, runType, ownerKey(catalogEntry, measurement), storageEngineType);
}

DBIF_SetupRecord::DBIF_SetupRecord(const QString& name, const QString& path, const QString& runType,
                                   const QString& dataOrigin)
    : name(name),
      path(path),
      runType(runType),
      dataOrigin(dataOrigin),
      associatedDeviceDataRow(DBIF_Setup::NO_ASSOCIATED_DEVICE) {}

// Here, where DBIF_Measurement is complete.
DBIF_SetupRecord::~DBIF_SetupRecord() = default;

DBIF_SetupRecord::QueryEvent& DBIF_SetupRecord::queryEvent() {
    static QueryEvent event;
    return event;
}

DBIF_Setup::DBIF_Setup() = default;

DBIF_Setup::DBIF_Setup(const DBIF_Connection& connection, const ParameterBlock& block)
    : DBIF_DataTableEntity(connection, recordedType(block.storageEngineType),
                           new SharedData(block.name, block.path, block.runType, block.dataOrigin)) {
    SharedData* r = record("DBIF_Setup");
    if (block.catalogEntry)
        r->catalogEntry = std::make_unique<DBIF_CatalogEntry>(*block.catalogEntry);
    if (block.measurement)
        r->measurement = std::make_unique<DBIF_Measurement>(*block.measurement);
    attachEngine(block.computeKey(), block.storageEngineType, false);
    // The owning entry saves its new setups and links them; one of another connection could not be.
    if (r->catalogEntry && r->catalogEntry->isValid() && r->catalogEntry->getConnection() == connection)
        r->catalogEntry->attachNewSetup(*this);
}

DBIF_Setup::DBIF_Setup(const DBIF_Connection& connection, const QSqlRecord& record)
    : DBIF_DataTableEntity(connection, record.value(4).toDateTime(), record.value(5).toString(),
                           record.value(7).toInt(), recordedType(record.value(6).toString().toInt()),
                           new SharedData(record.value(0).toString(), record.value(1).toString(),
                                          record.value(2).toString(), record.value(3).toString())) {
    // A measurement built during the look-ups that lists this setup must find this record.
    DBIF_ObjectCache<DBIF_Setup>::prestoreIdKey(connection, getId(), *this);
    lookUpOwners();
    const int type = record.value(6).toString().toInt();
    SharedData* r = this->record("DBIF_Setup");
    attachEngine(setupKey(r->name, r->runType, ownerKey(r->catalogEntry.get(), r->measurement.get()), type),
                 static_cast<DBIF_StorageEngineType>(type), true);
}

DBIF_Setup::DBIF_Setup(const DBIF_Setup& other) = default;
DBIF_Setup& DBIF_Setup::operator=(const DBIF_Setup& other) = default;
DBIF_Setup::~DBIF_Setup() = default;

void DBIF_Setup::lookUpOwners() {
    const DBIF_Connection connection = getConnection();
    const QString id = QString::number(getId());
    // The first linking row of a table, or -1 without one.
    const auto owner = [&](const QString& column, const QString& table) {
        if (connection.queryInt(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE setup_id = %2").arg(table, id),
                                DBIF_QUERY_TIMING, __FILE__, __LINE__) <= 0)
            return -1;
        return connection.queryInt(
            QStringLiteral("SELECT %1 FROM %2 WHERE setup_id = %3").arg(column, table, id), DBIF_QUERY_TIMING,
            __FILE__, __LINE__);
    };
    const int measurementId = owner(QStringLiteral("measurement_id"), QStringLiteral("measurement_setup"));
    const int entryId = owner(QStringLiteral("catalog_entry_id"), QStringLiteral("catalog_setup"));
    SharedData* r = record("lookUpOwners");
    r->measurement.reset();
    r->catalogEntry.reset();
    if (measurementId != -1)
        r->measurement = std::make_unique<DBIF_Measurement>(DBIF_Measurement::get(connection, measurementId));
    if (entryId != -1)
        r->catalogEntry = std::make_unique<DBIF_CatalogEntry>(DBIF_CatalogEntry::get(connection, entryId));
}

DBIF_Setup DBIF_Setup::get(const DBIF_Connection& connection, const QString& name, const QString& path,
                           const QString& runType, const QString& dataOrigin, DBIF_CatalogEntry* catalogEntry,
                           DBIF_StorageEngineType storageEngineType) {
    return DBIF_ObjectCache<DBIF_Setup>::get(
        connection, ParameterBlock(name, path, runType, dataOrigin, catalogEntry, storageEngineType));
}

DBIF_Setup DBIF_Setup::get(const DBIF_Connection& connection, const QString& name, const QString& path,
                           const QString& runType, const QString& dataOrigin, DBIF_Measurement* measurement,
                           DBIF_StorageEngineType storageEngineType) {
    return DBIF_ObjectCache<DBIF_Setup>::get(
        connection, ParameterBlock(name, path, runType, dataOrigin, measurement, storageEngineType));
}

QList<DBIF_Setup> DBIF_Setup::query(const DBIF_Connection& connection, const DBIF_QueryCondition* condition,
                                    bool latestOnly) {
    DBIF_QuarnQuery query(connection);
    query.addColumnAt(MASTER_TABLE_NAME, QStringLiteral("id"), 0);
    query.setCondition(condition);
    query.markDistinct(true);
    query.markLatestOnly(latestOnly);
    QVariant result;
    SharedData::queryEvent().notify(&query, result);
    return result.value<QList<DBIF_Setup>>();
}

QList<DBIF_Setup> DBIF_Setup::query(const DBIF_Connection& connection,
                                    const DBIF_SingleColumnCondition& condition, bool latestOnly) {
    return query(connection, static_cast<const DBIF_QueryCondition*>(&condition), latestOnly);
}

QList<DBIF_Setup> DBIF_Setup::query(const DBIF_Connection& connection,
                                    const DBIF_CompoundQueryCondition& condition, bool latestOnly) {
    return query(connection, static_cast<const DBIF_QueryCondition*>(&condition), latestOnly);
}

QList<QPair<DBIF_Setup, QVariant>> DBIF_Setup::getLinked(const DBIF_Connection& connection,
                                                         const QString& sql, int idColumn, const char* file,
                                                         int line) {
    // The rows are read whole first: building a setup runs statements of its own.
    QList<QPair<int, QVariant>> rows;
    QSqlQuery result = connection.query(sql, DBIF_QUERY_TIMING, file, line);
    while (result.next())
        rows.append(qMakePair(result.value(idColumn).toInt(), result.value(1 - idColumn)));
    QList<QPair<DBIF_Setup, QVariant>> linked;
    for (const auto& row : rows) {
        const DBIF_Setup setup = get(connection, row.first);
        if (!setup.isNull())
            linked.append(qMakePair(setup, row.second));
    }
    return linked;
}

QList<DBIF_Setup> DBIF_Setup::query(DBIF_Query* query) {
    return queryViaCache<DBIF_Setup>(query->getConnection(), MASTER_TABLE_NAME, query);
}

QString DBIF_Setup::getName() const {
    return entityField(&SharedData::name, "getName");
}
QString DBIF_Setup::getPath() const {
    return entityField(&SharedData::path, "getPath");
}
QString DBIF_Setup::getRunType() const {
    return entityField(&SharedData::runType, "getRunType");
}
QString DBIF_Setup::getDataOrigin() const {
    return entityField(&SharedData::dataOrigin, "getDataOrigin");
}
void DBIF_Setup::setName(const QString& name) {
    setEntityField(&SharedData::name, name, "setName");
}
void DBIF_Setup::setPath(const QString& path) {
    setEntityField(&SharedData::path, path, "setPath");
}
void DBIF_Setup::setRunType(const QString& runType) {
    setEntityField(&SharedData::runType, runType, "setRunType");
}

DBIF_CatalogEntry* DBIF_Setup::getCatalogEntry() const {
    SharedData* r = record("getCatalogEntry");
    if (!r)
        return nullCatalogEntryHandle();
    if (r->catalogEntry)
        return r->catalogEntry.get();
    if (r->measurement)
        return r->measurement->getCatalogEntry();
    assert1(false, __FILE__, __LINE__, QStringLiteral("Setup has neither catalog entry nor measurement"),
            QString::number(getId()));
    return nullptr;
}

DBIF_Measurement* DBIF_Setup::getMeasurement() const {
    SharedData* r = record("getMeasurement");
    return r ? r->measurement.get() : nullptr;
}
int DBIF_Setup::getAssociatedDeviceDataRow() const {
    return entityField(&SharedData::associatedDeviceDataRow, "getAssociatedDeviceDataRow",
                       static_cast<int>(NO_ASSOCIATED_DEVICE));
}
void DBIF_Setup::setAssociatedDeviceDataRow(int row) {
    setEntityField(&SharedData::associatedDeviceDataRow, row, "setAssociatedDeviceDataRow");
}

QString DBIF_Setup::getQuarnHeader(const QString& columnKey) const {
    SharedData* r = record("getQuarnHeader");
    if (!r ||
        !assert1(hasColumn(columnKey), __FILE__, __LINE__,
                 QStringLiteral("Can't get quarnHeader: the setup doesn't have a column '%1'"), columnKey))
        return QString();
    return r->quarnHeaders.value(columnKey);
}

void DBIF_Setup::setQuarnHeader(const QString& columnKey, const QString& header) {
    if (SharedData* r = record("setQuarnHeader"))
        r->quarnHeaders.insert(columnKey, header);
}

DBIF_SetupColumn DBIF_Setup::addColumn(const QString& name, const QString& dataType, bool isInput,
                                       const QString& header) const {
    SharedData* r = record("addColumn");
    if (!r)
        return DBIF_SetupColumn();
    // The header is in place before the event, so that an engine that stores at once finds it.
    r->quarnHeaders.insert(DBIF_SetupColumn::computeKey(name, dataType, isInput), header);
    DBIF_Setup handle(*this);
    return handle.addColumnWithEvent(name, dataType, isInput);
}

void DBIF_Setup::reload(const QSqlRecord& row) {
    SharedData* r = record("reload");
    if (!r)
        return;
    r->name = row.value(0).toString();
    r->path = row.value(1).toString();
    r->runType = row.value(2).toString();
    r->dataOrigin = row.value(3).toString();
    lookUpOwners();
    setKey(setupKey(r->name, r->runType, ownerKey(r->catalogEntry.get(), r->measurement.get()),
                    row.value(6).toString().toInt()));
    unloadData();
}

// The cache empties its objects this way, quietly: a null handle has nothing to release.
void DBIF_Setup::unloadSubordinates() {
    if (!isValid())
        return;
    SharedData* r = record("unloadSubordinates");
    r->measurement.reset();
    r->catalogEntry.reset();
}

bool DBAL_StorageEngineTraits<DBIF_Setup>::insertMasterRow(DBIF_Setup& setup, const QString& masterTable) {
    // The run's user, as for every other kind of a run; a setup without owner keeps its own.
    const DBIF_Setup::SharedData* r = setup.record("save");
    const DBIF_CatalogEntry* entry = !r                ? nullptr
                                     : r->catalogEntry ? r->catalogEntry.get()
                                     : r->measurement  ? r->measurement->getCatalogEntry()
                                                       : nullptr;
    if (entry)
        setup.setUser(entry->getUser());
    const DBIF_Connection connection = setup.getConnection();
    static const QStringList columns =
        QStringLiteral("name,path,run_type,data_origin,modified_time,user,storage_engine")
            .split(QLatin1Char(','));
    connection.insertRow(masterTable, columns,
                         {setup.getName(), setup.getPath(), setup.getRunType(), setup.getDataOrigin(),
                          DBIF_EntityRecord::sqlTime(setup.getModifiedTime()), setup.getUser(),
                          static_cast<int>(setup.getStorageEngineType())},
                         DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    setup.setId(connection.getLastId());
    return true;
}

void DBAL_StorageEngineTraits<DBIF_Setup>::saveSubordinates(DBIF_Setup& setup) {
    const DBIF_Connection connection = setup.getConnection();
    DBAL_LatestRecord latest;
    if (const DBIF_Measurement* measurement = setup.getMeasurement())
        latest =
            DBAL_StorageEngineTraits<DBIF_Measurement>::latestRecord(*measurement, setup.getDataOrigin());
    const QString id = QString::number(setup.getId());
    const QString path = DBIF_EntityRecord::sqlText(connection, setup.getPath());
    const QStringList v = latest.statementValues(connection);
    DBAL_LatestRecord::store(
        connection, QStringLiteral("DELETE FROM latest_setup WHERE setup_id = %1").arg(id),
        QStringLiteral("SELECT count(*) FROM latest_setup WHERE path                           = '%1' AND "
                       "die_id                         =  %2  AND device_type                    = '%3' AND "
                       "device_parent_subsite_name     = '%4' AND device_position_within_subsite =  %5  AND "
                       "measurement_condition_name     = '%6' AND measurement_temperature        =  %7  AND "
                       "routine_name                   = '%8' AND data_origin                    = '%9' AND "
                       "mode                           = '%10'    ")
            .arg(path, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]),
        QStringLiteral(
            "INSERT INTO latest_setup (  setup_id, path, die_id, device_type, "
            "device_parent_subsite_name, device_position_within_subsite,  measurement_condition_name, "
            "measurement_temperature, routine_name, data_origin, mode)VALUES (%1, '%2', %3, '%4', "
            "'%5', %6, '%7', %8, '%9', '%10', '%11')")
            .arg(id, path, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]),
        QStringLiteral(
            "UPDATE latest_setup SET setup_id = %1 WHERE path                           = '%2' AND "
            "die_id                         =  %3  AND device_type                    = '%4' AND "
            "device_parent_subsite_name     = '%5' AND device_position_within_subsite =  %6  AND "
            "measurement_condition_name     = '%7' AND measurement_temperature        =  %8  AND "
            "routine_name                   = '%9' AND data_origin                    = '%10' AND "
            "mode                           = '%11'     ")
            .arg(id, path, v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]));
}

void DBAL_StorageEngineTraits<DBIF_Setup>::processAssociation(DBIF_DynamicTableColumn* column,
                                                              DBIF_Setup& setup, const QSqlQuery& row) {
    setup.addColumn(column->getName(), column->getDataType(),
                    static_cast<DBIF_SetupColumn*>(column)->getIsInput(), row.value(1).toString());
}

QStringList DBAL_StorageEngineTraits<DBIF_Setup>::associationFields() {
    return {QStringLiteral("quarn_header")};
}

QStringList DBAL_StorageEngineTraits<DBIF_Setup>::associationValues(const DBIF_Setup& setup,
                                                                    const QString& key) {
    return {setup.getQuarnHeader(key)};
}
