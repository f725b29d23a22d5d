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
#include "Campaign.h"
#include "FreshDatabase.h"
#include "StatementTrace.h"

#include <QSqlDatabase>
#include <map>
#include <memory>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Measurement.h"

namespace {

constexpr int MEASUREMENTS = CAMPAIGN_MEASUREMENTS;
constexpr int ROWS = 50;

void storeCampaign(DBIF_Connection& db, DBIF_StorageEngineType engine) {
    storeCampaign(db, engine, ROWS);
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
