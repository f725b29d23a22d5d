// DBIF_RunCopy.cpp: gathering a run on the source, building it on the target in memory, making its
// schema, and writing it in one unit of work; the latest records a copied run must not take.
#include "dbif/DBIF_RunCopy.h"

#include <QDateTime>
#include <QHash>
#include <QSqlQuery>
#include <algorithm>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "dbif/DBAL_LatestRecord.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_Device.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_EntityRecord.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementCondition.h"
#include "dbif/DBIF_Routine.h"
#include "dbif/DBIF_Setup.h"
#include "dbif/DBIF_SingleColumnCondition.h"
#include "dbif/DBIF_UnitOfWork.h"

namespace {

// The kind's entities that name the run in catalog_entry_id, in id order (the order they were saved).
template <typename E>
QList<E> ofRun(const DBIF_Connection& connection, int runId) {
    const DBIF_SingleColumnCondition byRun(E::MASTER_TABLE_NAME, QStringLiteral("catalog_entry_id"), Equal,
                                           runId);
    QList<E> found = E::query(connection, byRun);
    std::sort(found.begin(), found.end(), [](const E& a, const E& b) { return a.getId() < b.getId(); });
    return found;
}

template <typename E>
bool byId(const E& a, const E& b) {
    return a.getId() < b.getId();
}

// Copies the columns and rows of one entity's data table into another's, which has none yet. Real
// numbers go a column at a time as doubles (bit for bit); other cells (texts, complex values) a row
// at a time as the values the source holds. addColumn(to, column) adds the source column's
// counterpart to `to` and returns it.
template <typename E, typename AddColumn>
void copyTable(const E& from, E& to, AddColumn addColumn) {
    using Column = typename decltype(from.getColumns())::value_type;
    from.ensureDataLoaded();
    QList<QPair<Column, Column>> columns;  // source, target
    for (const Column& column : from.getColumns()) {
        if (!column.isNull())
            columns.append({column, addColumn(to, column)});
    }
    const int rows = static_cast<int>(from.rowCount());
    for (int row = 0; row < rows; ++row) {
        to.addRow();
        for (const auto& [column, made] : std::as_const(columns)) {
            if (column.getDataType() == DOUBLE_DATATYPE)
                continue;
            const QVariant value = from.getData(column.getKey(), static_cast<unsigned>(row));
            if (value.isValid())
                to.set(made, value);
        }
    }
    std::vector<double> values;
    std::vector<bool> present;
    for (const auto& [column, made] : std::as_const(columns)) {
        if (column.getDataType() != DOUBLE_DATATYPE || !from.getColumn(column, values, present))
            continue;
        const std::unique_ptr<bool[]> mask(new bool[present.size() + 1]);
        std::copy(present.begin(), present.end(), mask.get());
        to.setColumn(made, values.data(), rows, mask.get());
    }
    to.setUser(from.getUser());
}

// Takes the object out of the target's cache.
template <typename E>
void forgetObject(const DBIF_Connection& target, E entity) {
    E::getObjectCache().removeFromCache(target, entity);
    // Only the cache would have broken the measurement-setup cycle (and the entry's children) later.
    entity.unloadSubordinates();
}

// Forgets the target's object of the kind when the open unit of work is rolled back: it runs before
// the undo actions registered earlier (they run last first), while the object still holds the id its
// row took, so that neither its key nor that id finds the object afterwards.
template <typename E>
void forgetOnRollback(const DBIF_Connection& target, const E& entity) {
    DBIF_UnitOfWork::onRollback(target, [target, entity] { forgetObject(target, entity); });
}

template <typename E>
void forget(const DBIF_Connection& target, const QList<E>& entities) {
    for (const E& entity : entities)
        forgetObject(target, entity);
}

// The start of the run a setup belongs to, through its measurement or its own run; invalid without one.
QDateTime runStartOf(const DBIF_Setup& setup) {
    if (const DBIF_Measurement* measurement = setup.getMeasurement())
        return measurement->getCatalogEntry()->getStartTime();
    const DBIF_CatalogEntry* entry = setup.getCatalogEntry();
    return entry ? entry->getStartTime() : QDateTime();
}

}  // namespace

// One run: its entities on the source, their counterparts on the target, and how to write them.
class DBIF_RunCopy::RunWriter {
public:
    RunWriter(DBIF_RunCopy& copy, const DBIF_CatalogEntry& run) : copy(copy), run(run) {}

    // Reads what the run owns from the source (no data rows yet). Returns why the run cannot be
    // copied, or an empty text.
    QString gather();
    int measurementCount() const { return static_cast<int>(measurements.size()); }
    qint64 rowCount() const { return rows; }
    // Builds the run on the target, makes its schema and writes it in one unit of work. Throws what
    // the database or the progress callback throws, after the target's caches forgot the run.
    void write(int parentId, Progress& progress);

private:
    // A latest record that a copied entity takes at its save but that stays with the entity of a
    // run that started later.
    struct KeptLatest {
        QString table;
        QString idColumn;
        int keptId;
        std::function<int()> copiedId;
    };

    void build(int parentId);
    void prepare();
    void save(Progress& progress);
    void forgetTargetObjects();
    void releaseData();
    // The id of the latest-measurement (table latest_measurement) or latest-setup row's entity of the
    // combination on the target, 0 for none. A setup's combination includes its path.
    int storedLatest(const QString& table, const QString& idColumn, const QString& path,
                     const DBAL_LatestRecord& latest) const;
    void keepLaterLatest(const QString& table, const QString& idColumn, int storedId,
                         const QDateTime& storedRunStart, std::function<int()> copiedId);
    DBIF_StorageEngineType engineOf(DBIF_StorageEngineType stored) const { return copy.engineFor(stored); }

    DBIF_RunCopy& copy;
    DBIF_CatalogEntry run;
    QList<DBIF_MeasurementCondition> conditions;
    QList<DBIF_Device> devices;
    QList<DBIF_Measurement> measurements;
    QList<DBIF_Setup> setups;
    qint64 rows = 0;

    DBIF_CatalogEntry targetRun;
    QList<DBIF_MeasurementCondition> targetConditions;
    QList<DBIF_Device> targetDevices;
    QList<DBIF_Measurement> targetMeasurements;
    QList<DBIF_Setup> targetSetups;
    QList<KeptLatest> kept;
};

QString DBIF_RunCopy::RunWriter::gather() {
    const int runId = run.getId();
    conditions = ofRun<DBIF_MeasurementCondition>(copy.source, runId);
    devices = ofRun<DBIF_Device>(copy.source, runId);
    measurements = ofRun<DBIF_Measurement>(copy.source, runId);
    QHash<int, DBIF_Setup> linked;
    DBIF_LazyList<DBIF_Setup> runSetups = run.getSetups();
    for (int i = 0; i < runSetups.size(); ++i) {
        const DBIF_Setup setup = runSetups.at(i);
        if (!setup.isNull())
            linked.insert(setup.getId(), setup);
    }
    QSet<int> measurementIds;
    for (const DBIF_Measurement& m : std::as_const(measurements)) {
        measurementIds.insert(m.getId());
        rows += m.rowCount();
        const int deviceRun = m.getDevice().getCatalogEntry()->getId();
        const int conditionRun = m.getMeasurementCondition().getCatalogEntry()->getId();
        if (deviceRun != runId || conditionRun != runId) {
            return QStringLiteral("its measurement %1 uses the %2 of run %3")
                .arg(m.getId())
                .arg(deviceRun != runId
                         ? QStringLiteral("device %1").arg(m.getDevice().getId())
                         : QStringLiteral("condition %1").arg(m.getMeasurementCondition().getId()))
                .arg(deviceRun != runId ? deviceRun : conditionRun);
        }
        for (const DBIF_Setup& setup : m.getSetupMap())
            linked.insert(setup.getId(), setup);
    }
    for (const DBIF_Device& device : std::as_const(devices)) {
        for (const DBIF_Setup& setup : device.getSetups())
            linked.insert(setup.getId(), setup);
    }
    setups = linked.values();
    std::sort(setups.begin(), setups.end(), byId<DBIF_Setup>);
    for (const DBIF_Setup& setup : std::as_const(setups)) {
        const DBIF_Measurement* owner = setup.getMeasurement();
        const DBIF_CatalogEntry* entry = owner ? nullptr : setup.getCatalogEntry();
        if (owner ? !measurementIds.contains(owner->getId()) : !entry || entry->getId() != runId)
            return QStringLiteral("its setup %1 belongs to another run").arg(setup.getId());
    }
    return QString();
}

void DBIF_RunCopy::RunWriter::write(int parentId, Progress& progress) {
    try {
        build(parentId);
        prepare();
        save(progress);
    } catch (...) {
        forgetTargetObjects();
        throw;
    }
    releaseData();
}

// Every target object exists in memory, with its data, before anything is written: the schema the
// run needs can then be made first.
void DBIF_RunCopy::RunWriter::build(int parentId) {
    const DBIF_Connection& target = copy.target;
    targetRun = DBIF_ObjectCache<DBIF_CatalogEntry>::get(
        target, DBIF_CatalogEntry::ParameterBlock(parentId, run.getSchemaVersion(), run.getApplication(),
                                                  run.getApplicationVersion(), run.getRunType(),
                                                  run.getStartTime(), run.getEndTime(), run.getModelText(),
                                                  run.getUser(), engineOf(run.getStorageEngineType())));
    copyTable(run, targetRun, [](DBIF_CatalogEntry& to, const DBIF_CatalogEntryColumn& column) {
        return to.addColumn(column.getName(), column.getDataType());
    });

    QHash<int, DBIF_MeasurementCondition> conditionFor;
    for (const DBIF_MeasurementCondition& condition : std::as_const(conditions)) {
        const DBIF_Routine routine = condition.getRoutine();
        DBIF_MeasurementCondition made = DBIF_MeasurementCondition::get(
            target, condition.getName(), &targetRun,
            DBIF_Routine::get(target, routine.getName(), routine.getDefinition(), routine.getUser()),
            engineOf(condition.getStorageEngineType()));
        copyTable(condition, made,
                  [](DBIF_MeasurementCondition& to, const DBIF_MeasurementConditionColumn& c) {
                      return to.addColumn(c.getName(), c.getDataType(), c.getDescription());
                  });
        targetConditions.append(made);
        conditionFor.insert(condition.getId(), made);
    }
    QHash<int, DBIF_Device> deviceFor;
    for (const DBIF_Device& device : std::as_const(devices)) {
        DBIF_Device made = DBIF_Device::get(target, device.getName(), device.getDeviceType(),
                                            device.getParentSubsiteName(), device.getPositionWithinSubsite(),
                                            &targetRun, engineOf(device.getStorageEngineType()));
        copyTable(device, made, [](DBIF_Device& to, const DBIF_DeviceColumn& c) {
            return to.addColumn(c.getName(), c.getDataType(), c.getCategory());
        });
        targetDevices.append(made);
        deviceFor.insert(device.getId(), made);
    }
    QHash<int, int> measurementAt;  // source id -> position in targetMeasurements
    for (const DBIF_Measurement& m : std::as_const(measurements)) {
        const DBIF_Die die = m.getDie();
        const DBIF_Die madeDie =
            DBIF_Die::get(target, die.getLot(), die.getWafer(), die.getDie(), die.getBlock(), die.getUser());
        DBIF_Measurement made =
            DBIF_Measurement::get(target, madeDie, &targetRun, deviceFor.value(m.getDevice().getId()),
                                  conditionFor.value(m.getMeasurementCondition().getId()), m.getTemperature(),
                                  engineOf(m.getStorageEngineType()));
        copyTable(m, made, [](DBIF_Measurement& to, const DBIF_MeasurementColumn& c) {
            return to.addColumn(c.getName(), c.getDataType());
        });
        DBIF_Measurement(m).releaseData();
        measurementAt.insert(m.getId(), static_cast<int>(targetMeasurements.size()));
        targetMeasurements.append(made);
        // A die new to the target has no measurements there, so no latest record to keep.
        if (madeDie.getId() != -1) {
            const DBAL_LatestRecord latest =
                DBAL_StorageEngineTraits<DBIF_Measurement>::latestRecord(made, QString());
            const int stored = storedLatest(QStringLiteral("latest_measurement"),
                                            QStringLiteral("measurement_id"), QString(), latest);
            if (stored > 0) {
                keepLaterLatest(QStringLiteral("latest_measurement"), QStringLiteral("measurement_id"),
                                stored,
                                DBIF_Measurement::get(target, stored).getCatalogEntry()->getStartTime(),
                                [made] { return made.getId(); });
            }
        }
    }
    QHash<int, DBIF_Setup> setupFor;
    for (const DBIF_Setup& setup : std::as_const(setups)) {
        const DBIF_Measurement* owner = setup.getMeasurement();
        DBIF_Measurement* madeOwner =
            owner ? &targetMeasurements[measurementAt.value(owner->getId())] : nullptr;
        DBIF_Setup made =
            madeOwner
                ? DBIF_Setup::get(target, setup.getName(), setup.getPath(), setup.getRunType(),
                                  setup.getDataOrigin(), madeOwner, engineOf(setup.getStorageEngineType()))
                : DBIF_Setup::get(target, setup.getName(), setup.getPath(), setup.getRunType(),
                                  setup.getDataOrigin(), &targetRun, engineOf(setup.getStorageEngineType()));
        copyTable(setup, made, [&setup](const DBIF_Setup& to, const DBIF_SetupColumn& c) {
            return to.addColumn(c.getName(), c.getDataType(), c.getIsInput(),
                                setup.getQuarnHeader(c.getKey()));
        });
        targetSetups.append(made);
        setupFor.insert(setup.getId(), made);
        const DBAL_LatestRecord latest = madeOwner ? DBAL_StorageEngineTraits<DBIF_Measurement>::latestRecord(
                                                         *madeOwner, made.getDataOrigin())
                                                   : DBAL_LatestRecord();
        if (madeOwner && latest.dieId == -1)
            continue;
        const int stored =
            storedLatest(QStringLiteral("latest_setup"), QStringLiteral("setup_id"), made.getPath(), latest);
        if (stored > 0) {
            keepLaterLatest(QStringLiteral("latest_setup"), QStringLiteral("setup_id"), stored,
                            runStartOf(DBIF_Setup::get(target, stored)), [made] { return made.getId(); });
        }
    }
    // The links, as the owners' saves write them.
    for (int i = 0; i < measurements.size(); ++i) {
        for (const DBIF_Setup& setup : measurements[i].getSetupMap())
            targetMeasurements[i].addSetup(setupFor.value(setup.getId()));
    }
    for (int i = 0; i < devices.size(); ++i) {
        for (const DBIF_Setup& setup : devices[i].getSetups())
            targetDevices[i].addSetup(setupFor.value(setup.getId()), setup.getAssociatedDeviceDataRow());
    }
}

// The schema changes the run needs happen here, outside the run's unit of work: on MySQL each would
// commit what the unit had written. A sparse column was added at addColumn already; a multi-table
// column set gets its table at its first entity's prepareSave. Each save checks its values again
// inside the unit, so one entity of a kind and column set is enough here.
void DBIF_RunCopy::RunWriter::prepare() {
    QSet<QString> prepared;
    const auto prepareOnce = [&prepared](auto& entity) {
        using Kind = std::decay_t<decltype(entity)>;
        const QString set =
            Kind::MASTER_TABLE_NAME + QLatin1Char('|') + entity.getColumnKeys().join(QLatin1Char('|'));
        if (entity.getStorageEngineType() != DBIF_MULTI_TABLE_STORAGE || prepared.contains(set))
            return;
        prepared.insert(set);
        entity.prepareSave(false);
    };
    prepareOnce(targetRun);
    for (DBIF_MeasurementCondition& condition : targetConditions)
        prepareOnce(condition);
    for (DBIF_Device& device : targetDevices)
        prepareOnce(device);
    for (DBIF_Measurement& measurement : targetMeasurements)
        prepareOnce(measurement);
    for (DBIF_Setup& setup : targetSetups)
        prepareOnce(setup);
}

void DBIF_RunCopy::RunWriter::save(Progress& progress) {
    const DBIF_Connection& target = copy.target;
    DBIF_UnitOfWork unit(target);
    targetRun.saveSelf();
    forgetOnRollback(target, targetRun);
    for (DBIF_MeasurementCondition& condition : targetConditions) {
        condition.save();
        forgetOnRollback(target, condition);
    }
    for (DBIF_Device& device : targetDevices) {
        device.save();
        forgetOnRollback(target, device);
    }
    progress.runRowsDone = 0;
    progress.runRows = rows;
    for (DBIF_Measurement& measurement : targetMeasurements) {
        measurement.save();
        forgetOnRollback(target, measurement);
        progress.runRowsDone += measurement.rowCount();
        progress.rowsDone += measurement.rowCount();
        if (copy.progress)
            copy.progress(progress);
    }
    // The run's own setups, linked through catalog_setup; the others were saved by their owners.
    targetRun.save();
    for (DBIF_Setup& setup : targetSetups) {
        setup.save();
        forgetOnRollback(target, setup);
    }
    for (const KeptLatest& latest : std::as_const(kept)) {
        target.boundQuery(
            QStringLiteral("UPDATE %1 SET %2 = ? WHERE %2 = ?").arg(latest.table, latest.idColumn),
            DBIF_UPDATE_TIMING, {latest.keptId, latest.copiedId()}, __FILE__, __LINE__);
    }
    unit.commit();
}

// After a failure nothing of the run is stored, so nothing of it may stay cached: the next copy
// builds the run anew. The column, die and routine caches may index ids that the rollback gave back.
void DBIF_RunCopy::RunWriter::forgetTargetObjects() {
    const DBIF_Connection& target = copy.target;
    forget(target, QList<DBIF_CatalogEntry>{targetRun});
    forget(target, targetConditions);
    forget(target, targetDevices);
    forget(target, targetMeasurements);
    forget(target, targetSetups);
    dbifClearAllCaches();
}

// The rows are stored: neither side needs them in memory any more (they load again on access).
void DBIF_RunCopy::RunWriter::releaseData() {
    DBIF_CatalogEntry(run).releaseData();
    targetRun.releaseData();
    for (DBIF_MeasurementCondition& condition : targetConditions)
        condition.releaseData();
    for (DBIF_Device& device : targetDevices)
        device.releaseData();
    for (DBIF_Measurement& measurement : targetMeasurements)
        measurement.releaseData();
    for (DBIF_Setup& setup : targetSetups)
        setup.releaseData();
}

int DBIF_RunCopy::RunWriter::storedLatest(const QString& table, const QString& idColumn, const QString& path,
                                          const DBAL_LatestRecord& latest) const {
    static const char* const COLUMNS[] = {"die_id",
                                          "device_type",
                                          "device_parent_subsite_name",
                                          "device_position_within_subsite",
                                          "measurement_condition_name",
                                          "measurement_temperature",
                                          "routine_name",
                                          "data_origin",
                                          "mode"};
    static const bool TEXT[] = {false, true, true, false, true, false, true, true, true};
    const QStringList values = latest.statementValues(copy.target);
    QStringList where;
    if (!path.isNull())
        where << QStringLiteral("path = %1").arg(copy.target.quoteText(path));
    for (int i = 0; i < values.size(); ++i) {
        where << QStringLiteral("%1 = %2").arg(QLatin1String(COLUMNS[i]),
                                               TEXT[i] ? QStringLiteral("'%1'").arg(values[i]) : values[i]);
    }
    return copy.target.queryInt(QStringLiteral("SELECT %1 FROM %2 WHERE %3")
                                    .arg(idColumn, table, where.join(QStringLiteral(" AND "))),
                                DBIF_QUERY_TIMING, __FILE__, __LINE__);
}

void DBIF_RunCopy::RunWriter::keepLaterLatest(const QString& table, const QString& idColumn, int storedId,
                                              const QDateTime& storedRunStart,
                                              std::function<int()> copiedId) {
    if (storedRunStart.isValid() && storedRunStart > run.getStartTime())
        kept.append({table, idColumn, storedId, std::move(copiedId)});
}

DBIF_RunCopy::DBIF_RunCopy(const DBIF_Connection& source, const DBIF_Connection& target)
    : source(source), target(target) {
    assert0(source != target, __FILE__, __LINE__,
            QStringLiteral("DBIF_RunCopy: the source and the target are one connection"));
}

DBIF_StorageEngineType DBIF_RunCopy::engineFor(DBIF_StorageEngineType stored) const {
    return engine == DBIF_SPARSE_TABLE_STORAGE || engine == DBIF_MULTI_TABLE_STORAGE
               ? static_cast<DBIF_StorageEngineType>(engine)
               : stored;
}

int DBIF_RunCopy::findOnTarget(const DBIF_CatalogEntry& run, bool* conflict) const {
    const QDateTime start = run.getStartTime();
    const QString sql =
        QStringLiteral("SELECT id, user FROM %1 WHERE %2 AND %3 AND %4 AND start_time %5 ORDER BY id")
            .arg(DBIF_CatalogEntry::MASTER_TABLE_NAME,
                 target.exactTextMatch(QStringLiteral("application"), run.getApplication()),
                 target.exactTextMatch(QStringLiteral("application_version"), run.getApplicationVersion()),
                 target.exactTextMatch(QStringLiteral("run_type"), run.getRunType()),
                 start.isValid() ? QStringLiteral("= ") + DBIF_EntityRecord::sqlTimeLiteral(start)
                                 : QStringLiteral("IS NULL"));
    QSqlQuery found = target.query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    bool other = false;
    while (found.next()) {
        if (found.value(1).toString() == run.getUser())
            return found.value(0).toInt();
        other = true;
    }
    if (conflict)
        *conflict = other;
    return -1;
}

bool DBIF_RunCopy::planRun(const DBIF_CatalogEntry& run, Summary& summary, QHash<int, bool>& planned) {
    if (run.isNull())
        return false;
    const auto known = planned.constFind(run.getId());
    if (known != planned.constEnd())
        return known.value();
    planned.insert(run.getId(), false);  // a parent chain that comes back here refuses the run
    const auto refuse = [&](const QString& why) {
        summary.refused << QStringLiteral("run %1: %2").arg(run.getId()).arg(why);
        return false;
    };
    if (run.getParentId() != DBIF_CatalogEntry::NO_PARENT_ID) {
        const DBIF_CatalogEntry parent = run.getParent();
        if (parent.isNull() || !planRun(parent, summary, planned))
            return refuse(QStringLiteral("its parent run %1 cannot be copied").arg(run.getParentId()));
    }
    bool conflict = false;
    if (findOnTarget(run, &conflict) >= 0) {
        summary.present << run;
        return planned[run.getId()] = true;
    }
    if (conflict) {
        return refuse(
            QStringLiteral("the target holds a run of %1 %2, run type %3, started %4, by another user")
                .arg(run.getApplication(), run.getApplicationVersion(), run.getRunType(),
                     DBIF_EntityRecord::sqlTime(run.getStartTime())));
    }
    const auto writer = std::make_shared<RunWriter>(*this, run);
    const QString reason = writer->gather();
    if (!reason.isEmpty())
        return refuse(reason);
    gathered.insert(run.getId(), writer);
    summary.copied << run;
    summary.measurements += writer->measurementCount();
    summary.rows += writer->rowCount();
    summary.runRows << writer->rowCount();
    return planned[run.getId()] = true;
}

DBIF_RunCopy::Summary DBIF_RunCopy::plan(const QList<DBIF_CatalogEntry>& runs) {
    Summary summary;
    QHash<int, bool> planned;
    gathered.clear();
    for (const DBIF_CatalogEntry& run : runs)
        planRun(run, summary, planned);
    return summary;
}

DBIF_RunCopy::Summary DBIF_RunCopy::copy(const QList<DBIF_CatalogEntry>& runs) {
    Summary summary = plan(runs);
    Progress done;
    done.runs = static_cast<int>(summary.copied.size());
    done.rows = summary.rows;
    const QHash<int, std::shared_ptr<RunWriter>> writers = std::exchange(gathered, {});
    for (const DBIF_CatalogEntry& run : std::as_const(summary.copied)) {
        int parentId = DBIF_CatalogEntry::NO_PARENT_ID;
        if (run.getParentId() != DBIF_CatalogEntry::NO_PARENT_ID)
            parentId = findOnTarget(run.getParent());
        writers.value(run.getId())->write(parentId, done);
        ++done.runsDone;
    }
    if (progress)
        progress(done);
    return summary;
}
