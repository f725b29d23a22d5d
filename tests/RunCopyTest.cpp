// RunCopyTest: DBIF_RunCopy between two fresh databases, over pairs of drivers and storage engines. A
// small campaign (a parent run, two runs with conditions, devices, measurements with numbers, texts and
// complex values, setups of a run, of a measurement and of a device) is copied while a progress
// callback fails in the middle of a run, then copied whole, then again; every value is compared with
// the source through a fresh connection on the target.
#include <gtest/gtest.h>

#include <QSqlQuery>
#include <cfloat>
#include <memory>
#include <stdexcept>

#include "DatabaseTest.h"
#include "FreshTestDatabase.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_ComplexNumber.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_RunCopy.h"

namespace {

struct CopyCase {
    const char* source;
    const char* target;
    DBIF_StorageEngineType sourceEngine;
    int targetEngine;  // 0: each entity keeps its own
};

void PrintTo(const CopyCase& copyCase, std::ostream* out) {
    *out << copyCase.source << " to " << copyCase.target << ", engine " << copyCase.sourceEngine << " to "
         << copyCase.targetEngine;
}

std::string caseName(const ::testing::TestParamInfo<CopyCase>& info) {
    const auto engine = [](int type) {
        return type == DBIF_SPARSE_TABLE_STORAGE  ? "sparse"
               : type == DBIF_MULTI_TABLE_STORAGE ? "multi"
                                                  : "kept";
    };
    return std::string(info.param.source + 1) + "_to_" + (info.param.target + 1) + "_" +
           engine(info.param.sourceEngine) + "_to_" + engine(info.param.targetEngine);
}

const QDateTime AT_EIGHT(QDate(2024, 5, 2), QTime(8, 0, 0));

template <typename E>
QList<E> ofRun(const DBIF_Connection& db, int runId) {
    QList<E> found = E::query(
        db,
        DBIF_SingleColumnCondition(E::MASTER_TABLE_NAME, QStringLiteral("catalog_entry_id"), Equal, runId));
    std::sort(found.begin(), found.end(), [](const E& a, const E& b) { return a.getId() < b.getId(); });
    return found;
}

// A cell as a text that differs wherever the values differ (the library's exact text), a missing
// cell apart from an empty text.
QString cellText(const QVariant& cell) {
    return cell.isValid() ? exactText(cell) : QStringLiteral("<missing>");
}

// Columns (name, type, the kind's own attribute) and every cell, in order.
template <typename E, typename Attribute>
void expectSameTable(const E& source, const E& copied, Attribute attribute, const QString& what) {
    SCOPED_TRACE(what.toStdString());
    const auto columns = source.getColumns();
    const auto copiedColumns = copied.getColumns();
    ASSERT_EQ(columns.size(), copiedColumns.size());
    ASSERT_EQ(source.rowCount(), copied.rowCount());
    for (int c = 0; c < columns.size(); ++c) {
        EXPECT_EQ(columns[c].getName(), copiedColumns[c].getName());
        EXPECT_EQ(columns[c].getDataType(), copiedColumns[c].getDataType());
        EXPECT_EQ(attribute(source, columns[c]), attribute(copied, copiedColumns[c]));
        for (unsigned row = 0; row < source.rowCount(); ++row) {
            EXPECT_EQ(cellText(source.getData(columns[c], row)),
                      cellText(copied.getData(copiedColumns[c], row)))
                << "column " << columns[c].getName().toStdString() << " row " << row;
        }
    }
}

const auto NO_ATTRIBUTE = [](const auto&, const auto&) { return QString(); };

}  // namespace

class RunCopyTest : public ::testing::TestWithParam<CopyCase> {
protected:
    void SetUp() override {
        for (const char* driver : {GetParam().source, GetParam().target}) {
            if (std::string(driver) == "QMYSQL" && !FreshTestDatabase::mysqlConfigured()) {
                if (std::getenv("CI") != nullptr)
                    FAIL() << "CI run without the private MariaDB server";
                GTEST_SKIP() << "no MariaDB server configured (run scripts/test)";
            }
        }
        for (auto* database : {&sourceDatabase, &targetDatabase}) {
            *database = std::make_unique<FreshTestDatabase>(database == &sourceDatabase ? GetParam().source
                                                                                        : GetParam().target);
            ASSERT_TRUE((*database)->connection() != nullptr) << (*database)->error().toStdString();
            (*database)->installSchema();
        }
    }
    void TearDown() override {
        FreshTestDatabase::emptyEntityCaches();
        dbifClearAllCaches();
        sourceDatabase.reset();
        targetDatabase.reset();
    }
    DBIF_Connection& source() { return *sourceDatabase->connection(); }
    DBIF_Connection& target() { return *targetDatabase->connection(); }
    DBIF_StorageEngineType engine() const { return GetParam().sourceEngine; }
    static void commit(DBIF_Connection& db) {
        db.beginTransaction();
        db.endTransaction();
    }

    // A run of the prober starting `hours` after eight, with a Mode cell; the model text names it.
    static DBIF_CatalogEntry run(DBIF_Connection& db, double hours, const QString& runType,
                                 DBIF_StorageEngineType type) {
        const QDateTime start = AT_EIGHT.addSecs(static_cast<int>(hours * 3600));
        DBIF_CatalogEntry entry = DBIF_ObjectCache<DBIF_CatalogEntry>::get(
            db, DBIF_CatalogEntry::ParameterBlock(DBIF_CatalogEntry::NO_PARENT_ID, "0.1", "prober", "3.2",
                                                  runType, start, start.addSecs(1800), "model of " + runType,
                                                  "alice", type));
        const DBIF_CatalogEntryColumn mode = entry.addColumn(DBIF_CatalogEntry::MODE, "TX");
        entry.addRow();
        entry.set(mode, "fast");
        return entry;
    }
    static DBIF_Die die(DBIF_Connection& db, const QString& name) {
        return DBIF_Die::get(db, "LOT7", "W01", name, "B", "alice");
    }
    static DBIF_MeasurementCondition condition(DBIF_Connection& db, DBIF_CatalogEntry& entry,
                                               DBIF_StorageEngineType type) {
        DBIF_MeasurementCondition made = DBIF_MeasurementCondition::get(
            db, "Vg=1.2", &entry, DBIF_Routine::get(db, "IdVdSweep", "sweep Vd\n0..1.2", "alice"), type);
        made.addRow();
        made.set(made.addColumn("Vg", "DB", "gate bias"), 1.2);
        return made;
    }
    static DBIF_Device device(DBIF_Connection& db, DBIF_CatalogEntry& entry, const QString& name,
                              const QString& type, int position, DBIF_StorageEngineType engine) {
        DBIF_Device made = DBIF_Device::get(db, name, type, "S1", position, &entry, engine);
        made.addRow();
        made.set(made.addColumn("W", "DB", DBIF_DeviceColumn::PHYSICAL_CATEGORY), 1e-6 * position);
        return made;
    }
    // Doubles over the whole range, a missing cell, texts and complex values.
    static DBIF_Measurement measurement(DBIF_Connection& db, DBIF_CatalogEntry& entry, const DBIF_Die& die,
                                        const DBIF_Device& device, const DBIF_MeasurementCondition& condition,
                                        double temperature, DBIF_StorageEngineType type) {
        DBIF_Measurement m = DBIF_Measurement::get(db, die, &entry, device, condition, temperature, type);
        const DBIF_MeasurementColumn id = m.addColumn("Id [A]", "DB");
        const DBIF_MeasurementColumn note = m.addColumn("Note", "TX");
        const DBIF_MeasurementColumn z = m.addColumn("Z", "CN");
        const char* const notes[] = {"a|b", "", "it's", nullptr, "\\x", "\xc3\x9cmlaut"};
        for (int row = 0; row < 6; ++row) {
            m.addRow();
            if (notes[row])
                m.set(note, QString::fromUtf8(notes[row]));
            if (row % 2 == 0)
                m.set(z, QVariant::fromValue(DBIF_ComplexNumber(1.5 * row + temperature, -2.25e-300)));
        }
        const double values[] = {5e-324,         DBL_MAX, 0.1, 9007199254740993.0, -1.0000000000000002,
                                 0.0001025227058};
        const bool present[] = {true, true, true, false, true, true};
        m.setColumn(id, values, 6, present);
        return m;
    }

    // The rows of every table of the target, by table.
    QMap<QString, int> rowCounts() {
        const QString list = GetParam().target == std::string("QMYSQL")
                                 ? QStringLiteral("SHOW TABLES")
                                 : QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'");
        QMap<QString, int> counts;
        for (const QString& table :
             target().queryScalarList<QString>(list, DBIF_QUERY_TIMING, __FILE__, __LINE__))
            counts.insert(table, target().queryInt("SELECT COUNT(*) FROM " + table, DBIF_QUERY_TIMING,
                                                   __FILE__, __LINE__));
        return counts;
    }

    std::unique_ptr<FreshTestDatabase> sourceDatabase;
    std::unique_ptr<FreshTestDatabase> targetDatabase;
};

TEST_P(RunCopyTest, CopiesRunsWholeOnceAtomicallyAndExactly) {
    const DBIF_StorageEngineType type = engine();
    // The source: a calibration run, the Id-Vd run A at eight and its re-measurement B at nine,
    // whose parent is the calibration run.
    DBIF_Connection& db = source();
    DBIF_CatalogEntry calibration = run(db, -1, "Calib", type);
    calibration.save();
    DBIF_CatalogEntry a = run(db, 0, "IdVd", type);
    DBIF_MeasurementCondition bias = condition(db, a, type);
    DBIF_Device m1 = device(db, a, "M1", "nmos", 2, type);
    DBIF_Device m2 = device(db, a, "M2", "pmos", 3, type);
    const DBIF_Die x1 = die(db, "X1Y1"), x2 = die(db, "X2Y1");
    QList<DBIF_Measurement> measured = {
        measurement(db, a, x1, m1, bias, 25, type), measurement(db, a, x1, m2, bias, 25, type),
        measurement(db, a, x2, m1, bias, 125, type), measurement(db, a, x1, m1, bias, -40, type)};
    DBIF_Setup chuck = DBIF_Setup::get(db, "chuck", "/inst/chuck.cfg", "IdVd", "measured", &a, type);
    chuck.addRow();
    chuck.set(chuck.addColumn("T", "DB", true, "degC"), 25.0);
    DBIF_Setup smu = DBIF_Setup::get(db, "smu", "/inst/smu.cfg", "IdVd", "measured", &measured[0], type);
    smu.addRow();
    smu.set(smu.addColumn("Range", "DB", false, "[A]"), 0.01);
    measured[0].addSetup(smu);
    m1.addSetup(chuck, 0);
    a.save();
    m1.save();
    m2.save();
    for (DBIF_Measurement& m : measured)
        m.save();
    DBIF_CatalogEntry b = run(db, 1, "IdVd", type);
    b.setParentId(calibration.getId());
    DBIF_MeasurementCondition biasB = condition(db, b, type);
    DBIF_Device m1b = device(db, b, "M1", "nmos", 2, type);
    b.save();
    measurement(db, b, x1, m1b, biasB, 25, type).save();
    commit(db);

    // The target holds a later measurement (run L at ten) of the combination of A's first.
    DBIF_Connection& to = target();
    DBIF_CatalogEntry later = run(to, 2, "IdVd", DBIF_MULTI_TABLE_STORAGE);
    DBIF_Measurement kept =
        measurement(to, later, die(to, "X1Y1"), device(to, later, "M1", "nmos", 2, DBIF_MULTI_TABLE_STORAGE),
                    condition(to, later, DBIF_MULTI_TABLE_STORAGE), 25, DBIF_MULTI_TABLE_STORAGE);
    kept.save();
    commit(to);

    DBIF_RunCopy copy(db, to);
    copy.setStorageEngine(GetParam().targetEngine);
    const QMap<QString, int> before = rowCounts();
    const DBIF_RunCopy::Summary planned = copy.plan({a, b});
    EXPECT_EQ(planned.copied, (QList<DBIF_CatalogEntry>{a, calibration, b}));
    EXPECT_EQ(planned.measurements, 5);
    EXPECT_EQ(planned.rows, 30);
    EXPECT_TRUE(planned.refused.isEmpty()) << planned.refused.join('\n').toStdString();

    // A failure after A's first measurement was written leaves nothing of A. Column catalogs,
    // multi-table bookkeeping and SQLite's sequences are schema, made before the run's transaction.
    int calls = 0;
    copy.setProgressCallback([&calls](const DBIF_RunCopy::Progress& progress) {
        if (++calls == 2)
            throw std::runtime_error("pulled the cable");
        EXPECT_EQ(progress.runs, 1);
        EXPECT_EQ(progress.rowsDone, 6);
    });
    EXPECT_THROW(copy.copy({a}), std::runtime_error);
    const QMap<QString, int> after = rowCounts();
    for (const QString& table : after.keys()) {
        if (!table.endsWith("_column") && !table.startsWith("multi_table") && !table.startsWith("sqlite_")) {
            EXPECT_EQ(after.value(table), before.value(table)) << table.toStdString();
        }
    }
    EXPECT_EQ(copy.findOnTarget(a), -1);

    // The next copy takes A whole, B with its parent first; the one after finds all three there.
    copy.setProgressCallback(nullptr);
    const DBIF_RunCopy::Summary copied = copy.copy({a, b});
    EXPECT_EQ(copied.copied, (QList<DBIF_CatalogEntry>{a, calibration, b}));
    commit(to);
    const QMap<QString, int> stored = rowCounts();
    const DBIF_RunCopy::Summary again = copy.copy({a, b});
    EXPECT_TRUE(again.copied.isEmpty());
    EXPECT_EQ(again.present, (QList<DBIF_CatalogEntry>{a, calibration, b}));
    EXPECT_EQ(rowCounts(), stored);

    // Every value, read through a connection whose caches are empty.
    DBIF_Connection fresh = targetDatabase->openAnother();
    const auto engineOf = [&](DBIF_StorageEngineType stored) {
        return GetParam().targetEngine ? GetParam().targetEngine : stored;
    };
    QList<int> copiedMeasurements;
    for (const DBIF_CatalogEntry& run : {a, calibration, b}) {
        const DBIF_CatalogEntry twin = DBIF_CatalogEntry::get(fresh, copy.findOnTarget(run));
        ASSERT_TRUE(twin.isValid());
        EXPECT_EQ(twin.getApplication(), run.getApplication());
        EXPECT_EQ(twin.getApplicationVersion(), run.getApplicationVersion());
        EXPECT_EQ(twin.getRunType(), run.getRunType());
        EXPECT_EQ(twin.getStartTime(), run.getStartTime());
        EXPECT_EQ(twin.getEndTime(), run.getEndTime());
        EXPECT_EQ(twin.getUser(), run.getUser());
        EXPECT_EQ(twin.getModelText(), run.getModelText());
        EXPECT_EQ(twin.getSchemaVersion(), run.getSchemaVersion());
        EXPECT_EQ(twin.getStorageEngineType(), engineOf(run.getStorageEngineType()));
        EXPECT_EQ(twin.hasParent(), run.hasParent());
        if (run.hasParent()) {
            EXPECT_EQ(twin.getParent().getRunType(), run.getParent().getRunType());
        }
        expectSameTable(run, twin, NO_ATTRIBUTE, "run");
        DBIF_LazyList<DBIF_Setup> setups = run.getSetups(), twinSetups = twin.getSetups();
        ASSERT_EQ(setups.size(), twinSetups.size());
        for (int i = 0; i < setups.size(); ++i)
            EXPECT_EQ(setups.at(i).getPath(), twinSetups.at(i).getPath());

        const auto conditions = ofRun<DBIF_MeasurementCondition>(db, run.getId());
        const auto twinConditions = ofRun<DBIF_MeasurementCondition>(fresh, twin.getId());
        ASSERT_EQ(conditions.size(), twinConditions.size());
        for (int i = 0; i < conditions.size(); ++i) {
            EXPECT_EQ(twinConditions[i].getName(), conditions[i].getName());
            EXPECT_EQ(twinConditions[i].getRoutine().getDefinition(),
                      conditions[i].getRoutine().getDefinition());
            expectSameTable(
                conditions[i], twinConditions[i],
                [](const auto&, const DBIF_MeasurementConditionColumn& c) { return c.getDescription(); },
                "condition");
        }
        const auto devices = ofRun<DBIF_Device>(db, run.getId());
        const auto twinDevices = ofRun<DBIF_Device>(fresh, twin.getId());
        ASSERT_EQ(devices.size(), twinDevices.size());
        for (int i = 0; i < devices.size(); ++i) {
            EXPECT_EQ(twinDevices[i].getKey().section('|', 0, 3), devices[i].getKey().section('|', 0, 3));
            EXPECT_EQ(twinDevices[i].getStorageEngineType(), engineOf(devices[i].getStorageEngineType()));
            expectSameTable(
                devices[i], twinDevices[i],
                [](const auto&, const DBIF_DeviceColumn& c) { return c.getCategory(); }, "device");
            ASSERT_EQ(twinDevices[i].getSetups().size(), devices[i].getSetups().size());
            for (int s = 0; s < devices[i].getSetups().size(); ++s) {
                EXPECT_EQ(twinDevices[i].getSetups()[s].getPath(), devices[i].getSetups()[s].getPath());
                EXPECT_EQ(twinDevices[i].getSetups()[s].getAssociatedDeviceDataRow(),
                          devices[i].getSetups()[s].getAssociatedDeviceDataRow());
            }
        }
        const auto measurements = ofRun<DBIF_Measurement>(db, run.getId());
        const auto twinMeasurements = ofRun<DBIF_Measurement>(fresh, twin.getId());
        ASSERT_EQ(measurements.size(), twinMeasurements.size());
        for (int i = 0; i < measurements.size(); ++i) {
            const DBIF_Measurement &m = measurements[i], &t = twinMeasurements[i];
            copiedMeasurements << t.getId();
            EXPECT_EQ(t.getDie().getKey(), m.getDie().getKey());
            EXPECT_EQ(t.getDevice().getName(), m.getDevice().getName());
            EXPECT_EQ(t.getMeasurementCondition().getName(), m.getMeasurementCondition().getName());
            EXPECT_EQ(cellText(t.getTemperature()), cellText(m.getTemperature()));
            EXPECT_EQ(t.getUser(), m.getUser());
            EXPECT_EQ(t.getStorageEngineType(), engineOf(m.getStorageEngineType()));
            expectSameTable(m, t, NO_ATTRIBUTE, "measurement");
            const auto setupsOf = m.getSetupMap(), twinSetupsOf = t.getSetupMap();
            ASSERT_EQ(twinSetupsOf.keys(), setupsOf.keys());
            for (const QString& path : setupsOf.keys()) {
                EXPECT_EQ(twinSetupsOf[path].getName(), setupsOf[path].getName());
                EXPECT_EQ(twinSetupsOf[path].getDataOrigin(), setupsOf[path].getDataOrigin());
                EXPECT_EQ(twinSetupsOf[path].getQuarnHeader(twinSetupsOf[path].getColumnKeys().value(0)),
                          setupsOf[path].getQuarnHeader(setupsOf[path].getColumnKeys().value(0)));
                expectSameTable(
                    setupsOf[path], twinSetupsOf[path],
                    [](const auto&, const DBIF_SetupColumn& c) { return c.getIsInput(); }, "setup");
            }
        }
    }
    ASSERT_EQ(copiedMeasurements.size(), 5);
    // L, started last, keeps the latest of its combination; A's measurements on a die new to the
    // target, and at other temperatures, are the latest of theirs.
    const auto latest = [&](int id) {
        return fresh.queryInt(
            QStringLiteral("SELECT COUNT(*) FROM latest_measurement WHERE measurement_id = %1").arg(id),
            DBIF_QUERY_TIMING, __FILE__, __LINE__);
    };
    EXPECT_EQ(latest(kept.getId()), 1);
    EXPECT_EQ(latest(copiedMeasurements[0]), 0);
    EXPECT_EQ(latest(copiedMeasurements[2]), 1);
    EXPECT_EQ(latest(copiedMeasurements[3]), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, RunCopyTest,
    ::testing::Values(CopyCase{"QSQLITE", "QMYSQL", DBIF_SPARSE_TABLE_STORAGE, DBIF_MULTI_TABLE_STORAGE},
                      CopyCase{"QSQLITE", "QMYSQL", DBIF_MULTI_TABLE_STORAGE, 0},
                      CopyCase{"QMYSQL", "QSQLITE", DBIF_MULTI_TABLE_STORAGE, DBIF_SPARSE_TABLE_STORAGE},
                      CopyCase{"QMYSQL", "QSQLITE", DBIF_SPARSE_TABLE_STORAGE, 0},
                      CopyCase{"QSQLITE", "QSQLITE", DBIF_SPARSE_TABLE_STORAGE, DBIF_MULTI_TABLE_STORAGE},
                      CopyCase{"QSQLITE", "QSQLITE", DBIF_MULTI_TABLE_STORAGE, 0}),
    caseName);
