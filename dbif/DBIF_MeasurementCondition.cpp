// DBIF_MeasurementCondition.cpp: the measurement condition, its master-row statements, and the one
// instance per process of its cache, its storage engines and their factory.
#include "dbif/DBIF_MeasurementCondition.h"

#include "dbif/DBIF_EntityRecord.h"

template class DBIF_ObjectCache<DBIF_MeasurementCondition>;
template class DBAL_StorageEngine<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
template class DBAL_SparseTableStorageEngine<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
template class DBAL_MultiTableStorageEngine<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
template class DBAL_StorageEngineFactory<DBIF_MeasurementCondition, DBIF_MeasurementConditionColumn>;
template class DBIF_LazyList<DBIF_MeasurementCondition>;

const QString DBIF_MeasurementCondition::MASTER_TABLE_NAME =
    DBIF_MeasurementConditionColumn::tableSet().masterTableName;
const QString DBIF_MeasurementCondition::COLUMN_TABLE_NAME =
    DBIF_MeasurementConditionColumn::tableSet().columnTableName;
const QString DBIF_MeasurementCondition::DATA_TABLE_NAME =
    DBIF_MeasurementConditionColumn::tableSet().dataTableName;
const QString DBIF_MeasurementCondition::ASSOCIATION_TABLE_NAME =
    DBIF_MeasurementConditionColumn::tableSet().associationTableName;

const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::ID(QStringLiteral("id"), false,
                                                                                false);
const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::NAME(QStringLiteral("name"),
                                                                                  true, false);
const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::MODIFIED_TIME(
    QStringLiteral("modified_time"), false, false);
const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::USER(QStringLiteral("user"),
                                                                                  true, false);
const DBIF_FixedColumn<DBIF_MeasurementCondition> DBIF_MeasurementCondition::MEASUREMENT_CONDITION_ID(
    QStringLiteral("measurement_condition_id"), false, false);

const QList<DBIF_FixedColumn<DBIF_MeasurementCondition>>& DBIF_MeasurementCondition::fixedColumns() {
    static const QList<DBIF_FixedColumn<DBIF_MeasurementCondition>> columns{ID, NAME, MODIFIED_TIME, USER,
                                                                            MEASUREMENT_CONDITION_ID};
    return columns;
}

namespace {

const QString WHERE = QStringLiteral("DBIF_MeasurementCondition::DBIF_MeasurementCondition");

}  // namespace

DBIF_MeasurementCondition::ParameterBlock::ParameterBlock(const QString& name,
                                                          const DBIF_CatalogEntry* catalogEntry,
                                                          const DBIF_Routine& routine,
                                                          DBIF_StorageEngineType storageEngineType)
    : name(name), catalogEntry(catalogEntry), routine(routine), storageEngineType(storageEngineType) {}

DBIF_MeasurementCondition::ParameterBlock::ParameterBlock(const QString& name,
                                                          const DBIF_CatalogEntry* catalogEntry,
                                                          const DBIF_Routine& routine, int storageEngineType)
    : ParameterBlock(name, catalogEntry, routine, static_cast<DBIF_StorageEngineType>(storageEngineType)) {}

QString DBIF_MeasurementCondition::ParameterBlock::computeKey() const {
    return entityKey(QStringLiteral("mc"), {name, DBIF_KeyPart::nested(catalogEntry->getKey()),
                                            DBIF_KeyPart::nested(routine.getKey())});
}

DBIF_MeasurementConditionRecord::DBIF_MeasurementConditionRecord(const QString& name,
                                                                 const DBIF_CatalogEntry& catalogEntry,
                                                                 const DBIF_Routine& routine)
    : name(name), catalogEntry(catalogEntry), routine(routine) {}

DBIF_MeasurementConditionRecord::QueryEvent& DBIF_MeasurementConditionRecord::queryEvent() {
    static QueryEvent event;
    return event;
}

DBIF_MeasurementCondition::DBIF_MeasurementCondition() = default;

DBIF_MeasurementCondition::DBIF_MeasurementCondition(const DBIF_Connection& connection,
                                                     const ParameterBlock& block)
    : DBIF_DataTableEntity(connection, block.storageEngineType,
                           new SharedData(block.name, *block.catalogEntry, block.routine)) {
    checkConnection(WHERE, connection, *block.catalogEntry);
    checkConnection(WHERE, connection, block.routine);
    setUser(block.catalogEntry->getUser());
    attachEngine(block.computeKey(), block.storageEngineType, false);
}

DBIF_MeasurementCondition::DBIF_MeasurementCondition(const DBIF_Connection& connection,
                                                     const QSqlRecord& record)
    : DBIF_DataTableEntity(connection, record.value(3).toDateTime(), record.value(4).toString(),
                           record.value(5).toInt(), record.value(6).toInt(),
                           new SharedData(record.value(0).toString(),
                                          DBIF_CatalogEntry::get(connection, record.value(1).toInt()),
                                          DBIF_Routine::get(connection, record.value(2).toInt()))) {
    SharedData* r = this->record("DBIF_MeasurementCondition");
    attachEngine(computeKey(r->name, &r->catalogEntry, r->routine), getStorageEngineType(), true);
}

DBIF_MeasurementCondition::DBIF_MeasurementCondition(const DBIF_MeasurementCondition& other) = default;
DBIF_MeasurementCondition& DBIF_MeasurementCondition::operator=(const DBIF_MeasurementCondition& other) =
    default;
DBIF_MeasurementCondition::~DBIF_MeasurementCondition() = default;

DBIF_MeasurementCondition DBIF_MeasurementCondition::get(const DBIF_Connection& connection,
                                                         const QString& name, DBIF_CatalogEntry* catalogEntry,
                                                         const DBIF_Routine& routine,
                                                         DBIF_StorageEngineType storageEngineType) {
    if (!assert0(catalogEntry != nullptr, __FILE__, __LINE__,
                 QStringLiteral("DBIF_MeasurementCondition::get without a catalog entry")))
        return DBIF_MeasurementCondition();
    checkConnection(WHERE, connection, *catalogEntry);
    checkConnection(WHERE, connection, routine);
    return DBIF_ObjectCache<DBIF_MeasurementCondition>::get(
        connection, ParameterBlock(name, catalogEntry, routine, storageEngineType));
}

QString DBIF_MeasurementCondition::computeKey(const QString& name, const DBIF_CatalogEntry* catalogEntry,
                                              const DBIF_Routine& routine) {
    return ParameterBlock(name, catalogEntry, routine, DBIF_SPARSE_TABLE_STORAGE).computeKey();
}

QString DBIF_MeasurementCondition::getName() const {
    return entityField(&SharedData::name, "getName");
}
DBIF_Routine DBIF_MeasurementCondition::getRoutine() const {
    return entityField(&SharedData::routine, "getRoutine");
}
DBIF_CatalogEntry* DBIF_MeasurementCondition::getCatalogEntry() const {
    SharedData* r = record("getCatalogEntry");
    return r ? &r->catalogEntry : nullCatalogEntryHandle();
}

void DBIF_MeasurementCondition::setCatalogEntry(DBIF_CatalogEntry* catalogEntry) {
    SharedData* r = record("setCatalogEntry");
    if (!r || !assert0(catalogEntry != nullptr, __FILE__, __LINE__,
                       QStringLiteral("DBIF_MeasurementCondition::setCatalogEntry without a catalog entry")))
        return;
    checkConnection(QStringLiteral("DBIF_MeasurementCondition::setcatalogEntry"), getConnection(),
                    *catalogEntry);
    if (catalogEntry == &r->catalogEntry)
        return;
    setDirty(true);
    r->catalogEntry = *catalogEntry;
}

DBIF_MeasurementConditionColumn DBIF_MeasurementCondition::addColumn(const QString& name,
                                                                     const QString& dataType,
                                                                     const QString& description) {
    return addColumnWithEvent(name, dataType, description);
}

void DBIF_MeasurementCondition::reload(const QSqlRecord& row) {
    SharedData* r = record("reload");
    if (!r)
        return;
    const DBIF_Connection connection = getConnection();
    r->name = row.value(0).toString();
    r->catalogEntry = DBIF_CatalogEntry::get(connection, row.value(1).toInt());
    r->routine = DBIF_Routine::get(connection, row.value(2).toInt());
    setKey(computeKey(r->name, &r->catalogEntry, r->routine));
    unloadData();
}

namespace {

const QStringList& conditionColumns() {
    static const QStringList columns =
        QStringLiteral("name,catalog_entry_id,routine_id,modified_time,user,storage_engine")
            .split(QLatin1Char(','));
    return columns;
}

QVariantList conditionValues(const DBIF_MeasurementCondition& condition) {
    return {condition.getName(),
            condition.getCatalogEntry()->getId(),
            condition.getRoutine().getId(),
            DBIF_EntityRecord::sqlTime(condition.getModifiedTime()),
            condition.getUser(),
            static_cast<int>(condition.getStorageEngineType())};
}

}  // namespace

bool DBAL_StorageEngineTraits<DBIF_MeasurementCondition>::insertMasterRow(
    DBIF_MeasurementCondition& condition, const QString& masterTable) {
    condition.setModifiedTimeToNow();
    const DBIF_Connection connection = condition.getConnection();
    connection.insertRow(masterTable, conditionColumns(), conditionValues(condition), DBIF_UPDATE_TIMING,
                         __FILE__, __LINE__);
    condition.setId(connection.getLastId());
    return true;
}

bool DBAL_StorageEngineTraits<DBIF_MeasurementCondition>::updateMasterRow(
    DBIF_MeasurementCondition& condition, const QString& masterTable) {
    condition.setModifiedTimeToNow();
    condition.getConnection().updateRow(masterTable, conditionColumns(), conditionValues(condition),
                                        condition.getId(), DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    return true;
}

void DBAL_StorageEngineTraits<DBIF_MeasurementCondition>::savePrecedents(
    DBIF_MeasurementCondition& condition) {
    DBIF_Routine routine = condition.getRoutine();
    if (!routine.isNull())
        routine.saveSelf();
    if (condition.getCatalogEntry()->isValid())
        condition.getCatalogEntry()->saveSelf();
}

// The routine is a row of its own kind, with nothing to prepare.
void DBAL_StorageEngineTraits<DBIF_MeasurementCondition>::preparePrecedents(
    DBIF_MeasurementCondition& condition) {
    if (condition.getCatalogEntry()->isValid())
        condition.getCatalogEntry()->prepareSave(false);
}

void DBAL_StorageEngineTraits<DBIF_MeasurementCondition>::processAssociation(
    DBIF_DynamicTableColumn* column, DBIF_MeasurementCondition& condition, const QSqlQuery&) {
    condition.addColumn(column->getName(), column->getDataType(),
                        static_cast<DBIF_MeasurementConditionColumn*>(column)->getDescription());
}
