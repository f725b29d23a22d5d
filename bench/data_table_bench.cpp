// data_table_bench: what the library adds to the cost of its own statements when it saves and loads the
// data of one catalog entry (10,000 or 100,000 rows x 4 DOUBLE columns), on SQLite and on the private
// MariaDB, with either storage engine. Each iteration does the library's work and then sends the same
// statement texts straight through Qt (recorded once from the library's trace, replayed on a database in
// the same state), so both sides meet the same machine load; the reported time is the library's, and
// the counters give both rates and "library/raw", the ratio of their total times.
//   Save: a fresh database, the entry built in memory (not timed), then save() in a host transaction
//         (or, for the "no-host-transaction" cases, without one). The raw side binds the rows the
//         fastest way each driver takes them (SQLite's own prepare/bind/step loop; MySQL multi-row
//         prepared statements); on MySQL "library/texts" also puts the library beside the same rows
//         printed into 1,000-row INSERT texts. "peak/table" is the peak resident
//         growth during a library save over the table's own size (8 bytes a cell); "raw peak/table"
//         the same for the replay, whose statement texts exist before it starts.
//   Load: the entry fetched by id through emptied caches, then every cell read with getData(); the raw
//         side runs the same SELECTs and reads every value of every row as a double: SQLite's own step
//         loop on SQLite, QSqlQuery::value() on MySQL.
// Both sides run in every iteration, in turn first, so that a slow spell of the machine falls on both;
// "median library/raw" is the median of the iterations' ratios, and "added cpu/raw" the processor time
// the library's thread spends beyond the raw side's, over the raw time: what the library itself costs,
// untouched by the database server's share of the machine.
// MariaDB when the DBIF_TEST_MYSQL_HOST/PORT/USER/PASSWORD variables name it (as scripts/test exports).
#include <benchmark/benchmark.h>

#include "BenchmarkMain.h"
#include "FreshDatabase.h"
#include "StatementTrace.h"

#include <malloc.h>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_ObjectCache.h"

namespace {

const char* const COLUMNS[] = {"Vd", "Vg", "Id", "Ig"};
constexpr int COLUMN_COUNT = 4;

struct Case {
    QString driver;
    DBIF_StorageEngineType engine;
    int rows;
    bool hostTransaction;
    bool wholeColumns = false;  // Load: read with getColumn rather than getData
};

// Sweep voltages (short texts) beside currents that need every digit, as instruments deliver them.
double cellValue(int row, int column) {
    switch (column) {
        case 0:
            return 0.01 * (row % 500);
        case 1:
            return 0.1 * (row / 500);
        case 2:
            return 1e-4 * std::tanh(row * 1e-3) + 1e-12 * row;
        default:
            return -3e-11 * std::exp(-row * 1e-4);
    }
}

DBIF_CatalogEntry makeEntry(DBIF_Connection& db, const Case& c) {
    const QDateTime start(QDate(2024, 5, 2), QTime(8, 0, 0));
    DBIF_CatalogEntry entry =
        DBIF_CatalogEntry::get(db, "prober", "3.2", "IdVd", start, start, "bench", c.engine);
    QList<DBIF_CatalogEntryColumn> columns;
    for (const char* name : COLUMNS)
        columns.append(entry.addColumn(name, "DB"));
    for (int row = 0; row < c.rows; ++row) {
        entry.addRow();
        for (int column = 0; column < COLUMN_COUNT; ++column)
            entry.set(columns[column], QVariant(cellValue(row, column)));
    }
    return entry;
}

void saveEntry(DBIF_Connection& db, DBIF_CatalogEntry& entry, bool hostTransaction) {
    if (hostTransaction)
        db.beginTransaction();
    entry.save();
    if (hostTransaction)
        db.endTransaction();
}

// Every cell of the stored entry, read the way a host reads them (cell by cell with getData, or a
// column at a time with getColumn); returns their sum.
double loadAndRead(DBIF_Connection& db, int id, bool wholeColumns) {
    const DBIF_CatalogEntry entry = DBIF_ObjectCache<DBIF_CatalogEntry>::get(db, id);
    double sum = 0;
    if (wholeColumns) {
        std::vector<double> values;
        std::vector<bool> present;
        for (const DBIF_CatalogEntryColumn& column : entry.getColumns()) {
            entry.getColumn(column, values, present);
            for (const double value : values)
                sum += value;
        }
        return sum;
    }
    const QStringList keys = entry.getColumnKeys();
    const unsigned rows = entry.rowCount();
    for (unsigned row = 0; row < rows; ++row) {
        for (const QString& key : keys)
            sum += entry.getData(key, row).toDouble();
    }
    return sum;
}

double expectedSum(int rows) {
    double sum = 0;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < COLUMN_COUNT; ++column)
            sum += cellValue(row, column);
    }
    return sum;
}

qint64 statusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<int>(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Runs `work` and returns the peak growth of the resident set during it, in bytes (the peak is reset
// first; freed heap is handed back so that earlier iterations do not hide the growth).
template <typename Work>
qint64 peakGrowth(Work work) {
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
    clear.close();
    const qint64 before = statusKiB("VmRSS:");
    work();
    return (statusKiB("VmHWM:") - before) * 1024;
}

double threadSeconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The time a piece of work took, and the processor time of this thread in it.
struct Timing {
    double seconds = 0;
    double cpuSeconds = 0;
};

// Times `work`; with `peak`, it runs under peakGrowth, which stores the growth there.
template <typename Work>
Timing timed(qint64* peak, Work work) {
    QElapsedTimer timer;
    double cpuStart = 0;
    const auto run = [&] {
        cpuStart = threadSeconds();
        timer.start();
        work();
    };
    if (peak)
        *peak = peakGrowth(run);
    else
        run();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) * 1e-9;
    return {seconds, threadSeconds() - cpuStart};
}

// Both sides' timings over the iterations.
class Comparison {
public:
    // Runs the two sides of iteration `iteration`, the library first in even iterations; returns the
    // library's time.
    template <typename Library, typename Raw>
    double run(int iteration, Library library, Raw raw) {
        Timing mine;
        Timing theirs;
        if (iteration % 2 == 0) {
            mine = library();
            theirs = raw();
        } else {
            theirs = raw();
            mine = library();
        }
        add(librarySide, mine);
        add(rawSide, theirs);
        ratios.push_back(mine.seconds / theirs.seconds);
        return mine.seconds;
    }

    void report(benchmark::State& state, int rows) {
        const double rowsDone = static_cast<double>(rows) * static_cast<double>(state.iterations());
        state.counters["rows/s"] = rowsDone / librarySide.seconds;
        state.counters["raw rows/s"] = rowsDone / rawSide.seconds;
        state.counters["library/raw"] = librarySide.seconds / rawSide.seconds;
        std::sort(ratios.begin(), ratios.end());
        const size_t n = ratios.size();
        state.counters["median library/raw"] = n == 0 ? 0 : (ratios[(n - 1) / 2] + ratios[n / 2]) / 2;
        state.counters["added cpu/raw"] = (librarySide.cpuSeconds - rawSide.cpuSeconds) / rawSide.seconds;
    }

private:
    static void add(Timing& total, const Timing& one) {
        total.seconds += one.seconds;
        total.cpuSeconds += one.cpuSeconds;
    }

    Timing librarySide;
    Timing rawSide;
    std::vector<double> ratios;
};

// The server goes on with work of its own after large writes and dropped databases (purging, flushing
// pages) for a while; the timed iterations start once that is done, so that it does not fall on
// whichever side happens to run first.
void settle(const QString& driver) {
    if (driver == QLatin1String("QMYSQL"))
        QThread::sleep(2);
}

void BM_Save(benchmark::State& state, const Case& c) {
    if (skippedWithoutMariaDb(state, c.driver))
        return;
    // What building the entry sends (the sparse engine widens its table at addColumn) is replayed
    // untimed, so that the raw side starts from the state the library's save started from.
    QList<Statement> building;
    QList<Statement> statements;
    {
        std::unique_ptr<DBIF_Connection> db = freshDatabase(c.driver);
        DBIF_CatalogEntry entry;
        building = recordStatements(*db, [&] { entry = makeEntry(*db, c); });
        statements = recordStatements(*db, [&] { saveEntry(*db, entry, c.hostTransaction); });
        entry = DBIF_CatalogEntry();
        forgetObjects();
    }
    // Each side's save on a fresh database, timed; with `peak`, also its peak memory growth.
    const auto rawSave = [&](qint64* peak, Replay how = Replay::Fastest) {
        std::unique_ptr<DBIF_Connection> db = freshDatabase(c.driver);
        QSqlDatabase qt = QSqlDatabase::database(db->getQtDatabaseKey());
        QString failure = replay(qt, building);
        const Timing elapsed = timed(peak, [&] {
            if (c.hostTransaction)
                qt.transaction();
            if (failure.isEmpty())
                failure = replay(qt, statements, nullptr, how);
            if (c.hostTransaction)
                qt.commit();
        });
        qt = QSqlDatabase();
        if (!failure.isEmpty())
            state.SkipWithError(("replay failed: " + failure).toStdString().c_str());
        return elapsed;
    };
    const auto librarySave = [&](qint64* peak) {
        std::unique_ptr<DBIF_Connection> db = freshDatabase(c.driver);
        DBIF_CatalogEntry entry = makeEntry(*db, c);
        const Timing elapsed = timed(peak, [&] { saveEntry(*db, entry, c.hostTransaction); });
        entry = DBIF_CatalogEntry();
        forgetObjects();
        return elapsed;
    };
    // Memory is measured on saves of their own: handing the free heap back to the system before each
    // (so that the peak shows) would make the timed saves pay for fresh pages.
    qint64 libraryPeak = 0;
    qint64 rawPeak = 0;
    librarySave(&libraryPeak);
    rawSave(&rawPeak);
    settle(c.driver);

    // On MySQL the rows also go as printed 1,000-row INSERT texts, what binding replaced.
    const bool textsToo = c.driver == QLatin1String("QMYSQL");
    double librarySeconds = 0;
    double textSeconds = 0;
    Comparison comparison;
    int iteration = 0;
    for (auto _ : state) {
        const double seconds = comparison.run(
            iteration++, [&] { return librarySave(nullptr); }, [&] { return rawSave(nullptr); });
        state.SetIterationTime(seconds);
        librarySeconds += seconds;
        if (textsToo)
            textSeconds += rawSave(nullptr, Replay::Texts).seconds;
    }
    comparison.report(state, c.rows);
    if (textsToo)
        state.counters["library/texts"] = librarySeconds / textSeconds;
    state.counters["statements"] = statements.size();
    const double tableBytes = 8.0 * COLUMN_COUNT * c.rows;
    state.counters["peak/table"] = static_cast<double>(libraryPeak) / tableBytes;
    state.counters["raw peak/table"] = static_cast<double>(rawPeak) / tableBytes;
}

void BM_Load(benchmark::State& state, const Case& c) {
    if (skippedWithoutMariaDb(state, c.driver))
        return;
    std::unique_ptr<DBIF_Connection> db = freshDatabase(c.driver);
    int id;
    {
        DBIF_CatalogEntry entry = makeEntry(*db, c);
        saveEntry(*db, entry, true);
        id = entry.getId();
    }
    forgetObjects();
    const QList<Statement> statements = recordStatements(*db, [&] { loadAndRead(*db, id, c.wholeColumns); });
    const double expected = expectedSum(c.rows);
    QSqlDatabase qt = QSqlDatabase::database(db->getQtDatabaseKey());
    settle(c.driver);
    Comparison comparison;
    int iteration = 0;
    for (auto _ : state) {
        double sum = 0;
        QString failure;
        const auto library = [&] {
            forgetObjects();
            return timed(nullptr, [&] { sum = loadAndRead(*db, id, c.wholeColumns); });
        };
        const auto raw = [&] {
            double rawSum = 0;
            const Timing timing = timed(nullptr, [&] { failure = replay(qt, statements, &rawSum); });
            benchmark::DoNotOptimize(rawSum);
            return timing;
        };
        state.SetIterationTime(comparison.run(iteration++, library, raw));
        if (std::abs(sum - expected) > 1e-9 * std::abs(expected)) {
            state.SkipWithError("the library read other values than were saved");
            return;
        }
        if (!failure.isEmpty()) {
            state.SkipWithError(("replay failed: " + failure).toStdString().c_str());
            return;
        }
    }
    forgetObjects();
    comparison.report(state, c.rows);
    state.counters["statements"] = statements.size();
}

void registerAll() {
    for (const char* driver : {"QSQLITE", "QMYSQL"}) {
        for (const DBIF_StorageEngineType engine : {DBIF_SPARSE_TABLE_STORAGE, DBIF_MULTI_TABLE_STORAGE}) {
            for (const int rows : {10000, 100000}) {
                const std::string name = std::string("/") + driver +
                                         (engine == DBIF_SPARSE_TABLE_STORAGE ? "/sparse/" : "/multi/") +
                                         std::to_string(rows);
                const int iterations = rows > 10000 ? 4 : 8;
                const Case c{driver, engine, rows, true};
                benchmark::RegisterBenchmark(("Save" + name).c_str(), BM_Save, c)
                    ->Unit(benchmark::kMillisecond)
                    ->Iterations(iterations)
                    ->UseManualTime();
                for (const bool wholeColumns : {false, true}) {
                    Case load = c;
                    load.wholeColumns = wholeColumns;
                    benchmark::RegisterBenchmark(
                        ("Load" + name + (wholeColumns ? "/getColumn" : "/getData")).c_str(), BM_Load, load)
                        ->Unit(benchmark::kMillisecond)
                        ->Iterations(iterations)
                        ->UseManualTime();
                }
                // On SQLite a save without a host transaction should cost what it costs inside one.
                if (QLatin1String(driver) == QLatin1String("QSQLITE") && rows == 10000) {
                    benchmark::RegisterBenchmark(("Save" + name + "/no-host-transaction").c_str(), BM_Save,
                                                 Case{driver, engine, rows, false})
                        ->Unit(benchmark::kMillisecond)
                        ->Iterations(iterations)
                        ->UseManualTime();
                }
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Freed memory stays with the process, as it does in a long-running host: a fresh page costs
    // about 13 us on this virtual machine (some 50 times a bare one), which would otherwise dominate
    // whichever side happens to allocate. The peak measurements hand it back explicitly.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    registerAll();
    return runBenchmarks(argc, argv);
}
