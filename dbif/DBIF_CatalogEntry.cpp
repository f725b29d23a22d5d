// DBIF_CatalogEntry.cpp: the catalog entry, its master-row statements, and the one instance per process of
// its cache, its storage engines and their factory.
#include "dbif/DBIF_CatalogEntry.h"

#include <QMetaType>
#include <QSet>
#include <optional>

#include "dbif/DBIF_EntityRecord.h"
#include "dbif/DBIF_Measurement.h"

template class DBIF_ObjectCache<DBIF_CatalogEntry>;
template class DBAL_StorageEngine<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
template class DBAL_SparseTableStorageEngine<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
template class DBAL_MultiTableStorageEngine<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
template class DBAL_StorageEngineFactory<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;

const QString DBIF_CatalogEntry::MASTER_TABLE_NAME = DBIF_CatalogEntryColumn::tableSet().masterTableName;
const QString DBIF_CatalogEntry::COLUMN_TABLE_NAME = DBIF_CatalogEntryColumn::tableSet().columnTableName;
const QString DBIF_CatalogEntry::DATA_TABLE_NAME = DBIF_CatalogEntryColumn::tableSet().dataTableName;
const QString DBIF_CatalogEntry::ASSOCIATION_TABLE_NAME =
    DBIF_CatalogEntryColumn::tableSet().associationTableName;
const int DBIF_CatalogEntry::NO_PARENT_ID = -1;
const int DBIF_CatalogEntry::MAJOR_SCHEMA_VERSION = 0;
const int DBIF_CatalogEntry::MINOR_SCHEMA_VERSION = 1;
const QString DBIF_CatalogEntry::MODE = QStringLiteral("Mode");

const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::ID(QStringLiteral("id"), false, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::APPLICATION(QStringLiteral("application"), true,
                                                                         false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::APPLICATION_VERSION(
    QStringLiteral("application_version"), false, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::RUN_TYPE(QStringLiteral("run_type"), true,
                                                                      false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::SCHEMA_VERSION(QStringLiteral("schema_version"),
                                                                            false, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::MODEL_TEXT(QStringLiteral("model_text"), true,
                                                                        false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::START_TIME(QStringLiteral("start_time"), false,
                                                                        false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::END_TIME(QStringLiteral("end_time"), false,
                                                                      false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::MODIFIED_TIME(QStringLiteral("modified_time"),
                                                                           false, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::USER(QStringLiteral("user"), true, false);
const DBIF_FixedColumn<DBIF_CatalogEntry> DBIF_CatalogEntry::CATALOG_ENTRY_ID(
    QStringLiteral("catalog_entry_id"), false, false);

const QList<DBIF_FixedColumn<DBIF_CatalogEntry>>& DBIF_CatalogEntry::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_CatalogEntry>> columns{
        ID,         APPLICATION, APPLICATION_VERSION, RUN_TYPE, SCHEMA_VERSION,  MODEL_TEXT,
        START_TIME, END_TIME,    MODIFIED_TIME,       USER,     CATALOG_ENTRY_ID};
    return columns;
}

QString DBIF_CatalogEntry::currentSchema() {
    return QStringLiteral("%1.%2").arg(MAJOR_SCHEMA_VERSION).arg(MINOR_SCHEMA_VERSION);
}

// The entry's child lists, all on the entry's connection.
struct DBIF_CatalogEntryChildren {
    explicit DBIF_CatalogEntryChildren(const DBIF_Connection& connection)
        : setups(connection), measurements(connection), conditions(connection) {}

    void clear() {
        setups.clear();
        measurements.clear();
        conditions.clear();
        linkedSetups.reset();
    }

    DBIF_LazyList<DBIF_Setup> setups;
    // The setups catalog_setup links to the entry, once read.
    std::optional<QSet<int>> linkedSetups;
    DBIF_LazyList<DBIF_Measurement> measurements;
    DBIF_LazyList<DBIF_MeasurementCondition> conditions;
};

namespace {

DBIF_CatalogEntry::ParameterBlock blockFromRow(const QSqlRecord& record) {
    return DBIF_CatalogEntry::ParameterBlock(
        record.value(0).toInt(), record.value(1).toString(), record.value(2).toString(),
        record.value(3).toString(), record.value(4).toString(), record.value(5).toDateTime(),
        record.value(6).toDateTime(), record.value(7).toString(), record.value(9).toString(),
        DBIF_InMemoryTable<DBIF_CatalogEntryColumn>::computeStorageEngineType(record.value(11).toInt()));
}

}  // namespace

DBIF_CatalogEntry::ParameterBlock::ParameterBlock(int parentId, const QString& schemaVersion,
                                                  const QString& application,
                                                  const QString& applicationVersion, const QString& runType,
                                                  const QDateTime& startTime, const QDateTime& endTime,
                                                  const QString& modelText, const QString& user,
                                                  DBIF_StorageEngineType storageEngineType)
    : parentId(parentId),
      schemaVersion(schemaVersion),
      application(application),
      applicationVersion(applicationVersion),
      runType(runType),
      startTime(startTime),
      endTime(endTime),
      modelText(modelText),
      user(user),
      storageEngineType(storageEngineType) {}

DBIF_CatalogEntry::ParameterBlock::ParameterBlock(const QString& application,
                                                  const QString& applicationVersion, const QString& runType,
                                                  const QDateTime& startTime, const QDateTime& endTime,
                                                  const QString& user,
                                                  DBIF_StorageEngineType storageEngineType)
    : ParameterBlock(NO_PARENT_ID, currentSchema(), application, applicationVersion, runType, startTime,
                     endTime, QString(), user, storageEngineType) {}

QString DBIF_CatalogEntry::ParameterBlock::computeKey() const {
    return entityKey(QStringLiteral("ce"),
                     {application, applicationVersion, runType, QString::number(startTimeKey(startTime))});
}

qint64 DBIF_CatalogEntry::startTimeKey(const QDateTime& startTime) {
    const qint64 seconds = startTime.toSecsSinceEpoch();
    return seconds * 1000 + startTime.time().msecsTo(QDateTime::fromSecsSinceEpoch(seconds).time());
}

DBIF_CatalogEntryRecord::DBIF_CatalogEntryRecord(const DBIF_Connection& connection,
                                                 const DBIF_CatalogEntry::ParameterBlock& block)
    : application(block.application),
      applicationVersion(block.applicationVersion),
      runType(block.runType),
      startTime(block.startTime),
      endTime(block.endTime),
      modelText(block.modelText),
      schemaVersion(block.schemaVersion),
      parentId(block.parentId),
      parentHolder{DBIF_CatalogEntry()},
      children(new DBIF_CatalogEntryChildren(connection)) {}

DBIF_CatalogEntryRecord::~DBIF_CatalogEntryRecord() = default;

DBIF_CatalogEntryRecord::QueryEvent& DBIF_CatalogEntryRecord::queryEvent() {
    static QueryEvent event;
    return event;
}

DBIF_CatalogEntry::DBIF_CatalogEntry() = default;

DBIF_CatalogEntry::DBIF_CatalogEntry(const DBIF_Connection& connection, const ParameterBlock& block)
    : DBIF_DataTableEntity(connection, block.storageEngineType, new SharedData(connection, block)) {
    setUser(block.user);
    attachEngine(block.computeKey(), block.storageEngineType, false);
}

DBIF_CatalogEntry::DBIF_CatalogEntry(const DBIF_Connection& connection, const QSqlRecord& record)
    : DBIF_DataTableEntity(connection, record.value(8).toDateTime(), record.value(9).toString(),
                           record.value(10).toInt(), record.value(11).toInt(),
                           new SharedData(connection, blockFromRow(record))) {
    attachEngine(blockFromRow(record).computeKey(), getStorageEngineType(), true);
    // Only the ids: reading an entry reads none of its children.
    const QString id = QString::number(getId());
    SharedData* r = this->record("DBIF_CatalogEntry");
    r->children->setups.addItems(
        QStringLiteral("SELECT setup_id FROM catalog_setup WHERE catalog_entry_id = %1").arg(id));
    const QString childIds = QStringLiteral("SELECT id FROM %0 WHERE catalog_entry_id = %1");
    r->children->measurements.addItems(childIds.arg(QStringLiteral("measurement"), id));
    r->children->conditions.addItems(childIds.arg(QStringLiteral("measurement_condition"), id));
}

DBIF_CatalogEntry::DBIF_CatalogEntry(const DBIF_CatalogEntry& other) = default;
DBIF_CatalogEntry& DBIF_CatalogEntry::operator=(const DBIF_CatalogEntry& other) = default;
DBIF_CatalogEntry::~DBIF_CatalogEntry() = default;

DBIF_CatalogEntry DBIF_CatalogEntry::get(const DBIF_Connection& connection, const QString& application,
                                         const QString& applicationVersion, const QString& runType,
                                         const QDateTime& startTime, const QDateTime& endTime,
                                         const QString& user, DBIF_StorageEngineType storageEngineType) {
    return DBIF_ObjectCache<DBIF_CatalogEntry>::get(
        connection, ParameterBlock(application, applicationVersion, runType, startTime, endTime, user,
                                   storageEngineType));
}

QString DBIF_CatalogEntry::computeKey(const QString& application, const QString& applicationVersion,
                                      const QString& runType, const QDateTime& startTime,
                                      const QDateTime& endTime, const QString& user,
                                      DBIF_StorageEngineType storageEngineType) {
    return ParameterBlock(application, applicationVersion, runType, startTime, endTime, user,
                          storageEngineType)
        .computeKey();
}

QString DBIF_CatalogEntry::getApplication() const {
    return entityField(&SharedData::application, "getApplication");
}
QString DBIF_CatalogEntry::getApplicationVersion() const {
    return entityField(&SharedData::applicationVersion, "getApplicationVersion");
}
QString DBIF_CatalogEntry::getRunType() const {
    return entityField(&SharedData::runType, "getRunType");
}
QString DBIF_CatalogEntry::getSchemaVersion() const {
    return entityField(&SharedData::schemaVersion, "getSchemaVersion");
}
QString DBIF_CatalogEntry::getModelText() const {
    return entityField(&SharedData::modelText, "getModelText");
}
QDateTime DBIF_CatalogEntry::getStartTime() const {
    return entityField(&SharedData::startTime, "getStartTime");
}
QDateTime DBIF_CatalogEntry::getEndTime() const {
    return entityField(&SharedData::endTime, "getEndTime");
}
int DBIF_CatalogEntry::getParentId() const {
    return entityField(&SharedData::parentId, "getParentId", NO_PARENT_ID);
}

void DBIF_CatalogEntry::setParentId(int parentId) {
    SharedData* r = record("setParentId");
    if (!r)
        return;
    if (parentId != r->parentId)
        r->parentHolder[0] = DBIF_CatalogEntry();
    r->parentId = parentId;
}

bool DBIF_CatalogEntry::hasParent() const {
    const SharedData* r = record("hasParent");
    return r && (r->parentId != NO_PARENT_ID || !r->parentHolder.first().isNull());
}

DBIF_CatalogEntry DBIF_CatalogEntry::getParent() const {
    SharedData* r = record("getParent");
    if (!r)
        return DBIF_CatalogEntry();
    if (r->parentId != NO_PARENT_ID && r->parentHolder.first().isNull())
        r->parentHolder[0] = get(getConnection(), r->parentId);
    return r->parentHolder.first();
}

DBIF_CatalogEntryColumn DBIF_CatalogEntry::addColumn(const QString& name, const QString& dataType) {
    return addColumnWithEvent(name, dataType);
}

void DBIF_CatalogEntry::reload(const QSqlRecord& stored) {
    SharedData* r = record("reload");
    if (!r)
        return;
    const ParameterBlock row = blockFromRow(stored);
    if (row.parentId != r->parentId)
        r->parentHolder[0] = DBIF_CatalogEntry();
    r->parentId = row.parentId;
    r->schemaVersion = row.schemaVersion;
    r->application = row.application;
    r->applicationVersion = row.applicationVersion;
    r->runType = row.runType;
    r->startTime = row.startTime;
    r->endTime = row.endTime;
    r->modelText = row.modelText;
    setKey(computeKey(row.application, row.applicationVersion, row.runType, row.startTime, row.endTime,
                      getUser(), getStorageEngineType()));
    unloadData();
}

DBIF_LazyList<DBIF_Setup> DBIF_CatalogEntry::getSetups() const {
    const SharedData* r = record("getSetups");
    return r ? r->children->setups : DBIF_LazyList<DBIF_Setup>(getConnection());
}
DBIF_LazyList<DBIF_Measurement> DBIF_CatalogEntry::getMeasurements() const {
    const SharedData* r = record("getMeasurements");
    return r ? r->children->measurements : DBIF_LazyList<DBIF_Measurement>(getConnection());
}
DBIF_LazyList<DBIF_MeasurementCondition> DBIF_CatalogEntry::getMeasurementConditions() const {
    const SharedData* r = record("getMeasurementConditions");
    return r ? r->children->conditions : DBIF_LazyList<DBIF_MeasurementCondition>(getConnection());
}

namespace {

// The rule of both add operations: a valid child of the entry's connection joins the list as a loaded
// item and the entry becomes dirty; a child of another connection throws before anything changes.
template <typename Child>
void addChild(DBIF_CatalogEntry& entry, DBIF_LazyList<Child>& list, const Child& child,
              const QString& where) {
    if (!assert1(child.isValid(), __FILE__, __LINE__, QStringLiteral("%1 of a null handle"), where))
        return;
    checkConnection(where, entry.getConnection(), child);
    entry.setDirty(true);
    list.append(child);
}

}  // namespace

void DBIF_CatalogEntry::addMeasurement(const DBIF_Measurement& measurement) {
    if (SharedData* r = record("addMeasurement"))
        addChild(*this, r->children->measurements, measurement,
                 QStringLiteral("DBIF_CatalogEntry::addMeasurement"));
}

void DBIF_CatalogEntry::addMeasurementCondition(const DBIF_MeasurementCondition& condition) {
    if (SharedData* r = record("addMeasurementCondition"))
        addChild(*this, r->children->conditions, condition,
                 QStringLiteral("DBIF_CatalogEntry::addMeasurementCondition"));
}

void DBIF_CatalogEntry::attachNewSetup(const DBIF_Setup& setup) {
    if (SharedData* r = record("attachNewSetup"))
        r->children->setups.append(setup);
}

// The cache empties its objects this way, quietly: a null handle has nothing to release.
void DBIF_CatalogEntry::unloadSubordinates() {
    if (!isValid())
        return;
    SharedData* r = record("unloadSubordinates");
    r->parentHolder[0] = DBIF_CatalogEntry();
    r->children->clear();
}

DBIF_CatalogEntry* nullCatalogEntryHandle() {
    static DBIF_CatalogEntry none;
    none = DBIF_CatalogEntry();
    return &none;
}

namespace {

// The columns of a catalog entry's master row and its values, bound: texts exactly as the host gave
// them, a run not ended yet as NULL.
const QStringList& masterColumns() {
    static const QStringList columns =
        QStringLiteral(
            "parent_id,schema_version,application,application_version,run_type,start_time,"
            "end_time,model_text,modified_time,user,storage_engine")
            .split(QLatin1Char(','));
    return columns;
}

QVariantList masterValues(const DBIF_CatalogEntry& entry) {
    return {entry.getParentId(),
            entry.getSchemaVersion(),
            entry.getApplication(),
            entry.getApplicationVersion(),
            entry.getRunType(),
            DBIF_EntityRecord::boundTime(entry.getStartTime()),
            DBIF_EntityRecord::boundTime(entry.getEndTime()),
            entry.getModelText(),
            DBIF_EntityRecord::sqlTime(entry.getModifiedTime()),
            entry.getUser(),
            static_cast<int>(entry.getStorageEngineType())};
}

}  // namespace

bool DBAL_StorageEngineTraits<DBIF_CatalogEntry>::insertMasterRow(DBIF_CatalogEntry& entry,
                                                                  const QString& masterTable) {
    entry.setModifiedTimeToNow();
    const DBIF_Connection connection = entry.getConnection();
    connection.insertRow(masterTable, masterColumns(), masterValues(entry), DBIF_UPDATE_TIMING, __FILE__,
                         __LINE__);
    entry.setId(connection.getLastId());
    return true;
}

bool DBAL_StorageEngineTraits<DBIF_CatalogEntry>::updateMasterRow(DBIF_CatalogEntry& entry,
                                                                  const QString& masterTable) {
    entry.setModifiedTimeToNow();
    entry.getConnection().updateRow(masterTable, masterColumns(), masterValues(entry), entry.getId(),
                                    DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    return true;
}

void DBAL_StorageEngineTraits<DBIF_CatalogEntry>::savePrecedents(DBIF_CatalogEntry& entry) {
    if (!entry.hasParent())
        return;
    DBIF_CatalogEntry parent = entry.getParent();
    if (parent.isNull())
        return;  // the parent id names no row (reported by the cache): keep it as it is
    parent.saveSelf();
    entry.setParentId(parent.getId());
}

void DBAL_StorageEngineTraits<DBIF_CatalogEntry>::preparePrecedents(DBIF_CatalogEntry& entry) {
    if (!entry.hasParent())
        return;
    DBIF_CatalogEntry parent = entry.getParent();
    if (!parent.isNull())
        parent.prepareSave(false);
}

void DBAL_StorageEngineTraits<DBIF_CatalogEntry>::prepareSubordinates(DBIF_CatalogEntry& entry) {
    for (DBIF_Measurement measurement : entry.getMeasurements().loadedItems())
        measurement.prepareSave(true);
    for (DBIF_MeasurementCondition condition : entry.getMeasurementConditions().loadedItems())
        condition.prepareSave(true);
    for (DBIF_Setup setup : entry.getSetups().loadedItems())
        setup.prepareSave(true);
}

void DBAL_StorageEngineTraits<DBIF_CatalogEntry>::saveSubordinates(DBIF_CatalogEntry& entry) {
    // Only the children the program holds; those known by id alone are stored as they are.
    for (DBIF_Measurement measurement : entry.getMeasurements().loadedItems())
        measurement.save();
    for (DBIF_MeasurementCondition condition : entry.getMeasurementConditions().loadedItems())
        condition.save();
    const QList<DBIF_Setup> setups = entry.getSetups().loadedItems();
    if (setups.isEmpty())
        return;
    for (DBIF_Setup setup : setups)
        setup.save();
    entry.linkOwnedSetups(setups);
}

// A device or a measurement may have saved an owned setup before the entry did: the link is written by
// whichever save of the entry comes next, so that the setup finds its owner when it is read.
void DBIF_CatalogEntry::linkOwnedSetups(const QList<DBIF_Setup>& setups) {
    SharedData* r = record("linkOwnedSetups");
    if (!r)
        return;
    const DBIF_Connection connection = getConnection();
    const QString entryId = QString::number(getId());
    std::optional<QSet<int>>& linked = r->children->linkedSetups;
    if (!linked) {
        const QList<int> ids = connection.queryScalarList<int>(
            QStringLiteral("SELECT setup_id FROM catalog_setup WHERE catalog_entry_id = %1").arg(entryId),
            DBIF_QUERY_TIMING, __FILE__, __LINE__);
        linked = QSet<int>(ids.begin(), ids.end());
    }
    for (const DBIF_Setup& setup : setups) {
        const int id = setup.getId();
        if (id == -1 || linked->contains(id))
            continue;
        connection.insertRow(QStringLiteral("catalog_setup"),
                             {QStringLiteral("catalog_entry_id"), QStringLiteral("setup_id")}, {getId(), id},
                             DBIF_UPDATE_TIMING, __FILE__, __LINE__);
        linked->insert(id);
        // A rolled-back save removes the row again, and the next save writes it anew.
        const DBIF_CatalogEntry self = *this;
        DBIF_UnitOfWork::onRollback(connection, [self, id]() {
            if (const SharedData* owner = self.record("linkOwnedSetups"))
                if (owner->children->linkedSetups)
                    owner->children->linkedSetups->remove(id);
        });
    }
}

void DBAL_StorageEngineTraits<DBIF_CatalogEntry>::processAssociation(DBIF_DynamicTableColumn* column,
                                                                     DBIF_CatalogEntry& entry,
                                                                     const QSqlQuery&) {
    entry.addColumn(column->getName(), column->getDataType());
}
