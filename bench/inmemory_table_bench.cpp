// inmemory_table_bench: time and memory of filling a DBIF_InMemoryTable the way a host or a storage
// engine does (addRow, then one set per column), for a table of real numbers and one of texts, and
// the cost of getAllData. Memory is the heap growth (mallinfo2, small and mmap'd blocks) and the
// resident-set growth (VmRSS) while one filled table is alive.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include "BenchmarkMain.h"

#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_InMemoryTable.h"
#include "dbif/DBIF_MeasurementColumn.h"

namespace {

using Table = DBIF_InMemoryTable<DBIF_MeasurementColumn>;
constexpr int COLUMNS = 10;

// The table never touches the database; the connection only has to exist.
DBIF_Connection& benchConnection() {
    static QTemporaryDir directory;
    static DBIF_Connection connection("QSQLITE", "", directory.filePath("bench.db").toLocal8Bit().constData(),
                                      "", "", 0);
    return connection;
}

QList<DBIF_MeasurementColumn> makeColumns(const QString& dataType) {
    QList<DBIF_MeasurementColumn> columns;
    for (int c = 0; c < COLUMNS; ++c)
        columns.append(
            DBIF_MeasurementColumn(benchConnection(), QStringLiteral("V%1").arg(c), dataType, 1, -1));
    return columns;
}

Table makeTable(const QList<DBIF_MeasurementColumn>& columns) {
    Table table(benchConnection(), -1, DBIF_MULTI_TABLE_STORAGE);
    for (const DBIF_MeasurementColumn& column : columns)
        table.addColumn(column.getKey());
    return table;
}

void fillDoubles(Table& table, const QList<DBIF_MeasurementColumn>& columns, int rows) {
    for (int r = 0; r < rows; ++r) {
        table.addRow();
        for (int c = 0; c < COLUMNS; ++c)
            table.set(columns[c], QVariant(r * 0.5 + c));
    }
}

// Texts take the variant path. The texts are made beforehand and shared, so that what is measured
// is the table's own storage, not the strings.
void fillTexts(Table& table, const QList<DBIF_MeasurementColumn>& columns, int rows) {
    static const QVector<QVariant> texts = [] {
        QVector<QVariant> made;
        for (int i = 0; i < 1000; ++i)
            made.append(QVariant(QStringLiteral("v%1").arg(i)));
        return made;
    }();
    for (int r = 0; r < rows; ++r) {
        table.addRow();
        for (int c = 0; c < COLUMNS; ++c)
            table.set(columns[c], texts[r % 1000]);
    }
}

double heapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

double residentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() * 1024;
    }
    return 0;
}

// Fills one table outside the timed loop and reports what it holds, in MB.
template <typename Fill>
void reportMemory(benchmark::State& state, const QList<DBIF_MeasurementColumn>& columns, int rows,
                  Fill fill) {
    malloc_trim(0);
    const double heapBefore = heapBytes();
    const double residentBefore = residentBytes();
    {
        Table table = makeTable(columns);
        fill(table, columns, rows);
        state.counters["heap_MB"] = (heapBytes() - heapBefore) / 1e6;
        state.counters["rss_MB"] = (residentBytes() - residentBefore) / 1e6;
    }
    malloc_trim(0);
}

template <typename Fill>
void benchmarkFill(benchmark::State& state, const QString& dataType, Fill fill) {
    const int rows = static_cast<int>(state.range(0));
    const QList<DBIF_MeasurementColumn> columns = makeColumns(dataType);
    reportMemory(state, columns, rows, fill);
    for (auto _ : state) {
        Table table = makeTable(columns);
        fill(table, columns, rows);
        benchmark::DoNotOptimize(table.rowCount());
        state.PauseTiming();
        table = Table();  // the release is not part of the fill
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * rows * COLUMNS);
}

void BM_FillDoubleTable(benchmark::State& state) {
    benchmarkFill(state, QStringLiteral("DB"), fillDoubles);
}
BENCHMARK(BM_FillDoubleTable)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FillTextTable(benchmark::State& state) {
    benchmarkFill(state, QStringLiteral("TX"), fillTexts);
}
BENCHMARK(BM_FillTextTable)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_GetAllDataOfDoubleTable(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    const QList<DBIF_MeasurementColumn> columns = makeColumns(QStringLiteral("DB"));
    Table table = makeTable(columns);
    fillDoubles(table, columns, rows);
    for (auto _ : state)
        benchmark::DoNotOptimize(table.getAllData());
    state.SetItemsProcessed(state.iterations() * rows * COLUMNS);
}
BENCHMARK(BM_GetAllDataOfDoubleTable)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return runBenchmarks(argc, argv);
}
