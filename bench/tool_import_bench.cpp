// tool_import_bench: what `dbif import csv` adds to the library's own cost, and how it compares with
// what engineers use otherwise. A wafer of 1,000 sweep files (10 dies x 100 devices) of 100 rows x 4
// numeric columns is written once; the library side stores the same measurements straight through
// the API, with the entities the tool builds, in one transaction; the tool side runs the dbif program
// on the files' manifest. Both start from a fresh database with the schema and report files/s and
// rows/s; the ratio of their times is the tool's share (parsing, the already-stored test, process
// start). SQLite always; the private MariaDB when the DBIF_TEST_MYSQL_* variables name it.
// LargeFile imports one file of 1,000,000 rows x 5 numeric columns into a new SQLite file with the
// dbif program and with pandas (read_csv, then DataFrame.to_sql), one after the other in each
// iteration so that both see the same load, and reports the speed ratio and both peak memories (the
// children's maximum resident sets), the tool's also over the data's 8 bytes a cell. It needs
// python3 with pandas (Debian: apt-get install python3-pandas; DBIF_BENCH_PYTHON names another
// python) and is skipped, saying so, without it. One thread.
#include <benchmark/benchmark.h>

#include "BenchmarkMain.h"
#include "FreshDatabase.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dbif/DBIF_Measurement.h"

namespace {

constexpr int DIES = 10;
constexpr int DEVICES = 100;
constexpr int FILES = DIES * DEVICES;
constexpr int ROWS = 100;
const char* const COLUMNS[] = {"Vd", "Vg", "Id", "Ig"};

double cell(int file, int row, int column) {
    return (0.0123 * row + column) * (1 + 1e-3 * file);
}

QString dieName(int die) {
    return QStringLiteral("X%1Y1").arg(die);
}
QString deviceName(int device) {
    return QStringLiteral("M%1").arg(device, 3, 10, QLatin1Char('0'));
}

// The files and their manifest, written on first use; returns the manifest's path.
QString manifest() {
    static QString path;
    if (!path.isEmpty())
        return path;
    path = benchDirectory().filePath(QStringLiteral("manifest.csv"));
    QFile list(path);
    list.open(QIODevice::WriteOnly);
    QTextStream lines(&list);
    lines << "file,lot,wafer,die,device,temperature\n";
    for (int file = 0; file < FILES; ++file) {
        const QString name = QStringLiteral("sweep%1.csv").arg(file);
        lines << name << ",LOT1,W01," << dieName(file / DEVICES) << ',' << deviceName(file % DEVICES)
              << ",25\n";
        QFile sweep(benchDirectory().filePath(name));
        sweep.open(QIODevice::WriteOnly);
        QTextStream out(&sweep);
        out << "Vd [V],Vg [V],Id [A],Ig [A]\n";
        for (int row = 0; row < ROWS; ++row) {
            for (int c = 0; c < 4; ++c)
                out << (c ? "," : "") << QString::number(cell(file, row, c), 'g', 9);
            out << '\n';
        }
    }
    return path;
}

// The measurements the tool stores, through the library, in one transaction.
void storeSweeps(DBIF_Connection& db) {
    db.beginTransaction();
    const QDateTime start(QDate(2024, 5, 2), QTime(8, 0, 0));
    DBIF_CatalogEntry run = DBIF_CatalogEntry::get(db, "dbif", "0.1.0", "import", start, start, "bench",
                                                   DBIF_MULTI_TABLE_STORAGE);
    for (int file = 0; file < FILES; ++file) {
        const DBIF_Die die = DBIF_Die::get(db, "LOT1", "W01", dieName(file / DEVICES), "B1", "bench");
        const DBIF_Routine routine = DBIF_Routine::get(db, "csv-import", "dbif import csv", "bench");
        const DBIF_MeasurementCondition condition =
            DBIF_MeasurementCondition::get(db, "default", &run, routine, DBIF_MULTI_TABLE_STORAGE);
        const DBIF_Device device = DBIF_Device::get(db, deviceName(file % DEVICES), "device", "B1", 0, &run,
                                                    DBIF_MULTI_TABLE_STORAGE);
        DBIF_Measurement m =
            DBIF_Measurement::get(db, die, &run, device, condition, 25, DBIF_MULTI_TABLE_STORAGE);
        QList<DBIF_MeasurementColumn> columns;
        for (const char* name : COLUMNS)
            columns.append(m.addColumn(name, "DB"));
        for (int row = 0; row < ROWS; ++row) {
            m.addRow();
            for (int c = 0; c < columns.size(); ++c)
                m.set(columns[c], QVariant(QString::number(cell(file, row, c), 'g', 9).toDouble()));
        }
        m.save();
    }
    db.endTransaction();
}

void count(benchmark::State& state) {
    state.counters["files/s"] =
        benchmark::Counter(FILES * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["rows/s"] = benchmark::Counter(FILES * ROWS * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}

void BM_Library(benchmark::State& state, const QString& driver) {
    if (skippedWithoutMariaDb(state, driver))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<DBIF_Connection> db = freshDatabase(driver);
        state.ResumeTiming();
        storeSweeps(*db);
        state.PauseTiming();
        forgetObjects();
        db.reset();
        state.ResumeTiming();
    }
    count(state);
}

void BM_Tool(benchmark::State& state, const QString& driver) {
    if (skippedWithoutMariaDb(state, driver))
        return;
    const QString files = manifest();
    for (auto _ : state) {
        state.PauseTiming();
        QString name;
        freshDatabase(driver, &name).reset();
        forgetObjects();
        const QString location = driver == "QMYSQL" ? QStringLiteral("mysql://%1@%2:%3/%4")
                                                          .arg(environment("DBIF_TEST_MYSQL_USER"),
                                                               environment("DBIF_TEST_MYSQL_HOST"),
                                                               environment("DBIF_TEST_MYSQL_PORT"), name)
                                                    : name;
        QProcess tool;
        QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
        variables.insert(QStringLiteral("DBIF_PASSWORD"), environment("DBIF_TEST_MYSQL_PASSWORD"));
        tool.setProcessEnvironment(variables);
        state.ResumeTiming();
        tool.start(QStringLiteral(DBIF_TOOL),
                   {QStringLiteral("--db"), location, QStringLiteral("import"), QStringLiteral("csv"),
                    QStringLiteral("--manifest"), files, QStringLiteral("--quiet")});
        tool.waitForFinished(-1);
        if (tool.exitCode() != 0) {
            state.SkipWithError(("dbif failed: " + tool.readAllStandardError().left(300)).constData());
            break;
        }
    }
    count(state);
}

constexpr int LARGE_ROWS = 1000000;
constexpr int LARGE_COLUMNS = 5;

// The large sweep, written on first use with every number in full (17 digits), as a simulator
// writes it; returns its path.
QString largeFile() {
    static QString path;
    if (!path.isEmpty())
        return path;
    path = benchDirectory().filePath(QStringLiteral("large-sweep.csv"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("Vd [V],Vg [V],Id [A],Ig [A],T [K]\n");
    std::mt19937_64 random(22);
    std::uniform_real_distribution<double> unit(0, 1);
    std::string lines;
    for (int row = 0; row < LARGE_ROWS; ++row) {
        const double cells[LARGE_COLUMNS] = {row * 1e-6, unit(random) * 1.8, unit(random) * 1e-3,
                                             (unit(random) - 0.5) * 1e-9, 300 + unit(random)};
        for (int c = 0; c < LARGE_COLUMNS; ++c) {
            char text[32];
            const std::to_chars_result end = std::to_chars(text, text + sizeof text, cells[c]);
            lines.append(text, end.ptr);
            lines += c + 1 < LARGE_COLUMNS ? ',' : '\n';
        }
        if (lines.size() > (1 << 20)) {
            file.write(lines.data(), static_cast<qint64>(lines.size()));
            lines.clear();
        }
    }
    file.write(lines.data(), static_cast<qint64>(lines.size()));
    return path;
}

// What a program run cost: its time, its peak resident memory, and what it said on failure.
struct ChildRun {
    bool ok = false;
    double seconds = 0;
    double peakBytes = 0;
    std::string errors;
};

// Runs a program (found on PATH) with its output discarded, and its own peak memory from wait4:
// getrusage(RUSAGE_CHILDREN) would give the largest of all children so far.
ChildRun runChild(const std::vector<std::string>& arguments) {
    ChildRun run;
    const std::string errorsPath =
        benchDirectory().filePath(QStringLiteral("child-errors.txt")).toStdString();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        run.errors = arguments[0] + ": " + std::strerror(spawned);
        return run;
    }
    int status = 0;
    struct rusage usage {};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakBytes = usage.ru_maxrss * 1024.0;  // kilobytes on Linux
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!run.ok) {
        QFile said(QString::fromStdString(errorsPath));
        said.open(QIODevice::ReadOnly);
        run.errors = arguments[0] + ": " + said.read(300).toStdString();
    }
    return run;
}

// The python that has pandas, or an empty text.
std::string pythonWithPandas() {
    const QString named = environment("DBIF_BENCH_PYTHON");
    for (const QString& python : {named, QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        if (!python.isEmpty() && runChild({python.toStdString(), "-c", "import pandas"}).ok)
            return python.toStdString();
    }
    return std::string();
}

const char* const PANDAS_IMPORT =
    "import sqlite3, sys, pandas\n"
    "frame = pandas.read_csv(sys.argv[1])\n"
    "with sqlite3.connect(sys.argv[2]) as db:\n"
    "    frame.to_sql('sweep', db, index=False)\n";

void BM_LargeFile(benchmark::State& state) {
    const std::string python = pythonWithPandas();
    if (python.empty()) {
        state.SkipWithError("python3 with pandas not found (apt-get install python3-pandas): no comparison");
        return;
    }
    const std::string file = largeFile().toStdString();
    const QString toolDatabase = benchDirectory().filePath(QStringLiteral("large-tool.db"));
    const QString pandasDatabase = benchDirectory().filePath(QStringLiteral("large-pandas.db"));
    double toolSeconds = 0, pandasSeconds = 0, toolPeak = 0, pandasPeak = 0;
    for (auto _ : state) {
        QFile::remove(toolDatabase);
        QFile::remove(pandasDatabase);
        const ChildRun tool =
            runChild({DBIF_TOOL, "--db", toolDatabase.toStdString(), "import", "csv", file, "--lot", "LOT1",
                      "--wafer", "W01", "--die", "X1Y1", "--device", "M1", "--temperature", "25", "--quiet"});
        const ChildRun pandas = runChild({python, "-c", PANDAS_IMPORT, file, pandasDatabase.toStdString()});
        if (!tool.ok || !pandas.ok) {
            state.SkipWithError((tool.ok ? pandas.errors : tool.errors).c_str());
            break;
        }
        state.SetIterationTime(tool.seconds);
        toolSeconds += tool.seconds;
        pandasSeconds += pandas.seconds;
        toolPeak = std::max(toolPeak, tool.peakBytes);
        pandasPeak = std::max(pandasPeak, pandas.peakBytes);
    }
    if (toolSeconds == 0)
        return;
    const double rows = static_cast<double>(LARGE_ROWS) * state.iterations();
    const double data = 8.0 * LARGE_ROWS * LARGE_COLUMNS;
    state.counters["rows/s"] = rows / toolSeconds;
    state.counters["pandas rows/s"] = rows / pandasSeconds;
    // Above 1: the tool is faster than pandas.
    state.counters["speed/pandas"] = pandasSeconds / toolSeconds;
    state.counters["peak MB"] = toolPeak / 1e6;
    state.counters["pandas peak MB"] = pandasPeak / 1e6;
    state.counters["peak/data"] = toolPeak / data;
}

void registerAll() {
    for (const char* driver : {"QSQLITE", "QMYSQL"}) {
        for (const auto& [side, function] :
             {std::pair{"Library/", BM_Library}, std::pair{"Tool/", BM_Tool}}) {
            benchmark::RegisterBenchmark((side + std::string(driver)).c_str(), function, QString(driver))
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3)
                ->UseRealTime();
        }
    }
    benchmark::RegisterBenchmark("LargeFile/QSQLITE", BM_LargeFile)
        ->Unit(benchmark::kSecond)
        ->Iterations(3)
        ->UseManualTime();
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    return runBenchmarks(argc, argv);
}
