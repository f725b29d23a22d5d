// multitable_bench: cost of the multi-table registry with 1,000 physical measurement tables in a SQLite
// file: the first refresh of a connection (reads every table's bookkeeping rows), a forced refresh that
// finds nothing new (one query), a lookup within the delay, and the column search that queries run.
// The database is built once with the library's own save (5 columns per table, one of them unique).
#include <benchmark/benchmark.h>

#include "BenchmarkMain.h"

#include <QTemporaryDir>
#include <cstdlib>

#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"

namespace {

using Table = DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;
constexpr int TABLES = 1000;
constexpr int SHARED_COLUMNS = 4;

QTemporaryDir& directory() {
    static QTemporaryDir made;
    return made;
}

QString databaseFile() {
    return directory().filePath(QStringLiteral("multitable.db"));
}

DBIF_Connection openConnection() {
    return DBIF_Connection("QSQLITE", "", databaseFile().toLocal8Bit().constData(), "", "", 0);
}

Table measurementTable(const DBIF_Connection& connection, const QStringList& keys, bool forceReload) {
    return Table::get(connection, DBIF_Measurement::COLUMN_TABLE_NAME, DBIF_Measurement::DATA_TABLE_NAME,
                      keys, forceReload);
}

QString sharedKey(int index) {
    return DBIF_MeasurementColumn::computeKey(QStringLiteral("S%1").arg(index), "DB");
}

QString ownKey(int table) {
    return DBIF_MeasurementColumn::computeKey(QStringLiteral("U%1").arg(table), "DB");
}

// The shipped schema and TABLES saved tables: the shared columns plus one column of their own each.
void buildDatabase() {
    const QString schema = QStringLiteral(DBIF_SCHEMA_DIR "/sqlite.sql");
    qputenv("QUARN_SQLITE_SCHEMA_FILE", schema.toLocal8Bit());
    DBIF_Connection connection = openConnection();
    connection.beginTransaction();
    connection.initializeSchemaIfMissing();
    QStringList shared;
    for (int s = 0; s < SHARED_COLUMNS; ++s)
        shared << DBIF_MeasurementColumn::get(connection, QStringLiteral("S%1").arg(s), "DB", 2).getKey();
    for (int t = 0; t < TABLES; ++t) {
        const QString own =
            DBIF_MeasurementColumn::get(connection, QStringLiteral("U%1").arg(t), "DB", 2).getKey();
        measurementTable(connection, shared + QStringList{own}, false).save(connection);
    }
    connection.endTransaction();
    dbifClearAllCaches();
}

// The first use on a new connection: one id query, then two bookkeeping queries per table and the
// column catalog read once.
void BM_FirstRefreshOf1000Tables(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        {
            const DBIF_Connection connection = openConnection();
            const QStringList shared{sharedKey(0)};
            state.ResumeTiming();
            const QSet<QString> tables = Table::tablesContainingColumns(connection, shared);
            state.PauseTiming();
            if (tables.size() != TABLES)
                state.SkipWithError("the registry did not load every table");
        }
        dbifClearAllCaches();  // lets the connection go
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstRefreshOf1000Tables)->Unit(benchmark::kMillisecond)->Iterations(10);

// A due or forced refresh of a registry that already knows every table: one query of 1,000 ids.
void BM_RefreshOfKnown1000Tables(benchmark::State& state) {
    const DBIF_Connection connection = openConnection();
    const QStringList keys{sharedKey(0)};
    Table::tablesContainingColumns(connection, keys);
    for (auto _ : state)
        benchmark::DoNotOptimize(measurementTable(connection, keys, true));
    dbifClearAllCaches();
}
BENCHMARK(BM_RefreshOfKnown1000Tables)->Unit(benchmark::kMicrosecond);

// The lookup every save and data load makes, within the delay (no statement).
void BM_GetWithinDelay(benchmark::State& state) {
    const DBIF_Connection connection = openConnection();
    QStringList keys;
    for (int s = SHARED_COLUMNS - 1; s >= 0; --s)
        keys << sharedKey(s);
    keys << ownKey(500);
    measurementTable(connection, keys, true);
    delayInSeconds = 3600;
    for (auto _ : state)
        benchmark::DoNotOptimize(measurementTable(connection, keys, false));
    delayInSeconds = 1;
    dbifClearAllCaches();
}
BENCHMARK(BM_GetWithinDelay)->Unit(benchmark::kMicrosecond);

// The search a query makes over the registry, within the delay: a column every table holds (1,000
// names) and a column one table holds.
void BM_TablesContainingColumns(benchmark::State& state) {
    const DBIF_Connection connection = openConnection();
    const QStringList keys{state.range(0) == 0 ? sharedKey(0) : ownKey(500)};
    measurementTable(connection, keys, true);
    delayInSeconds = 3600;
    for (auto _ : state)
        benchmark::DoNotOptimize(Table::tablesContainingColumns(connection, keys));
    delayInSeconds = 1;
    dbifClearAllCaches();
}
BENCHMARK(BM_TablesContainingColumns)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv, buildDatabase);
}
