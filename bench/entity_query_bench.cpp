// entity_query_bench: cost of rendering an entity query whose data column lives in 1,000 physical
// measurement tables (1,000 union parts), with the registry already loaded, with a due registry
// refresh per rendering, and on a new connection that must load the registry first; and the run of a
// measurement id query over a column held by 400 tables (SQLite refuses unions of more than 500 parts).
// The SQLite database is built once with the library's own multi-table save.
#include <benchmark/benchmark.h>

#include "BenchmarkMain.h"

#include <QTemporaryDir>

#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_EntityQuery.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

using Table = DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;
constexpr int TABLES = 1000;
constexpr int RUN_TABLES = 400;

QTemporaryDir& directory() {
    static QTemporaryDir made;
    return made;
}

DBIF_Connection openConnection() {
    const QString file = directory().filePath(QStringLiteral("entityquery.db"));
    return DBIF_Connection("QSQLITE", "", file.toLocal8Bit().constData(), "", "", 0);
}

QString key(const QString& name) {
    return DBIF_MeasurementColumn::computeKey(name, "DB");
}

// TABLES tables, each with the column S, its own column U<t>, and the first RUN_TABLES also R; one
// measurement with one data row per table.
void buildDatabase() {
    const QString schema = QStringLiteral(DBIF_SCHEMA_DIR "/sqlite.sql");
    qputenv("QUARN_SQLITE_SCHEMA_FILE", schema.toLocal8Bit());
    DBIF_Connection connection = openConnection();
    connection.beginTransaction();
    connection.initializeSchemaIfMissing();
    const QString shared = DBIF_MeasurementColumn::get(connection, "S", "DB", 2).getKey();
    const QString run = DBIF_MeasurementColumn::get(connection, "R", "DB", 2).getKey();
    connection.query("INSERT INTO measurement (id, temperature) VALUES (1, 25)", DBIF_INSERT_TIMING, __FILE__,
                     __LINE__);
    for (int t = 0; t < TABLES; ++t) {
        const QString own =
            DBIF_MeasurementColumn::get(connection, QStringLiteral("U%1").arg(t), "DB", 2).getKey();
        QStringList keys{shared, own};
        if (t < RUN_TABLES)
            keys << run;
        Table table = Table::get(connection, DBIF_Measurement::COLUMN_TABLE_NAME,
                                 DBIF_Measurement::DATA_TABLE_NAME, keys, false);
        table.save(connection);
        connection.query(
            QStringLiteral("INSERT INTO %1 (measurement_id, \"%2\") VALUES (1, %3)")
                .arg(table.getTableName(), t < RUN_TABLES ? run : shared, QString::number(t + 1)),
            DBIF_INSERT_TIMING, __FILE__, __LINE__);
    }
    connection.endTransaction();
    dbifClearAllCaches();
}

// The measurement ids whose data column is positive.
DBIF_QuarnQuery entityQuery(const DBIF_Connection& connection, const QString& column) {
    DBIF_QuarnQuery query(connection);
    query.addColumnAt(DBIF_Measurement::MASTER_TABLE_NAME, QStringLiteral("id"), 0);
    query.setCondition(DBIF_SingleColumnCondition(DBIF_Measurement::DATA_TABLE_NAME, column, Greater, 0.0));
    query.markDistinct();
    return query;
}

void checkParts(benchmark::State& state, const QString& sql, int expected) {
    if (sql.count(QStringLiteral("\n\nUNION\n\n")) != expected - 1)
        state.SkipWithError("the statement does not have one part per table");
}

// Rendering with the registry loaded, its refresh delay in seconds the argument: within the delay
// (3600) no statement at all; with the refresh due every time (0), one query of 1,000 ids that finds
// nothing new.
void BM_RenderOver1000Tables(benchmark::State& state) {
    const DBIF_Connection connection = openConnection();
    Table::tablesContainingColumns(connection, QStringList{key("S")});
    delayInSeconds = int(state.range(0));
    QString sql;
    for (auto _ : state) {
        DBIF_QuarnQuery query = entityQuery(connection, key("S"));
        sql = query.generateSql(true);
        benchmark::DoNotOptimize(sql);
    }
    checkParts(state, sql, TABLES);
    state.counters["bytes"] = double(sql.size());
    delayInSeconds = 1;
    dbifClearAllCaches();
}
BENCHMARK(BM_RenderOver1000Tables)->ArgName("delay")->Arg(3600)->Arg(0)->Unit(benchmark::kMillisecond);

// The first rendering on a new connection, which loads the registry (two bookkeeping queries per
// table) and the column catalog first.
void BM_FirstRenderOnNewConnection(benchmark::State& state) {
    QString sql;
    for (auto _ : state) {
        state.PauseTiming();
        {
            const DBIF_Connection connection = openConnection();
            DBIF_QuarnQuery query = entityQuery(connection, key("S"));
            state.ResumeTiming();
            sql = query.generateSql(true);
            state.PauseTiming();
        }
        dbifClearAllCaches();  // lets the connection go
        state.ResumeTiming();
    }
    checkParts(state, sql, TABLES);
}
BENCHMARK(BM_FirstRenderOnNewConnection)->Unit(benchmark::kMillisecond)->Iterations(5);

// Rendering and running the id query over the column that RUN_TABLES tables hold.
void BM_QueryIdsOver400Tables(benchmark::State& state) {
    const DBIF_Connection connection = openConnection();
    Table::tablesContainingColumns(connection, QStringList{key("R")});
    delayInSeconds = 3600;
    QList<int> ids;
    for (auto _ : state) {
        DBIF_QuarnQuery query = entityQuery(connection, key("R"));
        ids = queryIds(connection, &query);
    }
    if (ids != QList<int>{1})
        state.SkipWithError("the id query did not return the one measurement");
    delayInSeconds = 1;
    dbifClearAllCaches();
}
BENCHMARK(BM_QueryIdsOver400Tables)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv, buildDatabase);
}
