// campaign_bench: the cost of storing a measurement campaign through the library against the cost of
// its own statements sent straight through Qt. A campaign is 300 measurements (10 dies x 10 devices x
// 3 temperatures) of 50 rows x 4 DOUBLE columns (filled a column at a time) with their run, routine,
// condition and devices, saved in one transaction on a fresh database. The library side builds the
// entities and saves them; the raw side replays, on another fresh database, the statements the library
// sent (recorded once from its trace) in one transaction, bound rows the fastest way each driver takes
// them (see StatementTrace.h). Both report measurements/s; the ratio of their times is what the
// library adds. SQLite always; the private MariaDB when the DBIF_TEST_MYSQL_HOST/PORT/USER/PASSWORD
// variables name it (as scripts/test exports them).
#include <benchmark/benchmark.h>

#include "BenchmarkMain.h"
#include "FreshDatabase.h"
#include "StatementTrace.h"

#include <QSqlDatabase>
#include <map>
#include <memory>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Measurement.h"

namespace {

constexpr int DIES = 10;
constexpr int DEVICES = 10;
constexpr double TEMPERATURES[] = {-40, 25, 125};
constexpr int MEASUREMENTS = DIES * DEVICES * 3;
constexpr int ROWS = 50;
const char* const COLUMNS[] = {"Vd", "Vg", "Id", "Ig"};

// The whole campaign through the library, in one transaction.
void storeCampaign(DBIF_Connection& db, DBIF_StorageEngineType engine) {
    db.beginTransaction();
    const QDateTime start(QDate(2024, 5, 2), QTime(8, 0, 0));
    DBIF_CatalogEntry run =
        DBIF_CatalogEntry::get(db, "prober", "3.2", "IdVd", start, start, "bench", engine);
    const DBIF_Routine routine = DBIF_Routine::get(db, "idvd", "sweep", "bench");
    const DBIF_MeasurementCondition bias =
        DBIF_MeasurementCondition::get(db, "Vg=1.2", &run, routine, engine);
    for (int die = 0; die < DIES; ++die) {
        const DBIF_Die chip = DBIF_Die::get(db, "LOT1", "W01", QStringLiteral("X%1").arg(die), "B", "bench");
        for (int device = 0; device < DEVICES; ++device) {
            const DBIF_Device transistor =
                DBIF_Device::get(db, QStringLiteral("M%1").arg(device), "nmos", "S1", device, &run, engine);
            for (const double temperature : TEMPERATURES) {
                DBIF_Measurement m =
                    DBIF_Measurement::get(db, chip, &run, transistor, bias, temperature, engine);
                QList<DBIF_MeasurementColumn> columns;
                for (const char* name : COLUMNS)
                    columns.append(m.addColumn(name, "DB"));
                // A column at a time, as an instrument hands its sweeps over.
                double values[ROWS];
                for (int c = 0; c < columns.size(); ++c) {
                    for (int row = 0; row < ROWS; ++row)
                        values[row] = 0.01 * row + c + temperature * 1e-3;
                    m.setColumn(columns[c], values, ROWS);
                }
                m.save();
            }
        }
    }
    db.endTransaction();
}

// The statements one library campaign sends, in order.
QList<Statement> recordCampaign(const QString& driver, DBIF_StorageEngineType engine) {
    std::unique_ptr<DBIF_Connection> db = freshDatabase(driver);
    const QList<Statement> statements = recordStatements(*db, [&] { storeCampaign(*db, engine); });
    forgetObjects();
    return statements;
}

const QList<Statement>& statementsOf(const QString& driver, DBIF_StorageEngineType engine) {
    static std::map<std::pair<QString, int>, QList<Statement>> recorded;
    QList<Statement>& statements = recorded[{driver, engine}];
    if (statements.isEmpty())
        statements = recordCampaign(driver, engine);
    return statements;
}

void BM_Library(benchmark::State& state, const QString& driver, DBIF_StorageEngineType engine) {
    if (skippedWithoutMariaDb(state, driver))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<DBIF_Connection> db = freshDatabase(driver);
        state.ResumeTiming();
        storeCampaign(*db, engine);
        state.PauseTiming();
        forgetObjects();
        db.reset();
        state.ResumeTiming();
    }
    state.counters["measurements/s"] = benchmark::Counter(
        MEASUREMENTS * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The library's own statements, straight through Qt on the library's session (same settings), in one
// transaction.
void BM_RawQt(benchmark::State& state, const QString& driver, DBIF_StorageEngineType engine) {
    if (skippedWithoutMariaDb(state, driver))
        return;
    const QList<Statement>& statements = statementsOf(driver, engine);
    state.counters["statements"] = statements.size();
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<DBIF_Connection> db = freshDatabase(driver);
        QSqlDatabase qt = QSqlDatabase::database(db->getQtDatabaseKey());
        state.ResumeTiming();
        qt.transaction();
        const QString failure = replay(qt, statements);
        if (!failure.isEmpty()) {
            state.SkipWithError(("replay failed: " + failure).toStdString().c_str());
            break;
        }
        qt.commit();
        state.PauseTiming();
        qt = QSqlDatabase();  // the library closes its Qt connection with the record
        db.reset();
        state.ResumeTiming();
    }
    state.counters["measurements/s"] = benchmark::Counter(
        MEASUREMENTS * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void registerAll() {
    for (const char* driver : {"QSQLITE", "QMYSQL"}) {
        for (const DBIF_StorageEngineType engine : {DBIF_SPARSE_TABLE_STORAGE, DBIF_MULTI_TABLE_STORAGE}) {
            const std::string suffix =
                std::string("/") + driver + (engine == DBIF_SPARSE_TABLE_STORAGE ? "/sparse" : "/multi");
            for (const auto& [side, function] :
                 {std::pair{"Library", BM_Library}, std::pair{"RawQt", BM_RawQt}}) {
                benchmark::RegisterBenchmark((side + suffix).c_str(), function, QString(driver), engine)
                    ->Unit(benchmark::kMillisecond)
                    ->Iterations(3)
                    ->UseRealTime();
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    return runBenchmarks(argc, argv);
}
