// tool_import_bench: what `dbif import csv` adds to the library's own cost. A wafer of 1,000 sweep
// files (10 dies x 100 devices) of 100 rows x 4 numeric columns is written once; the library side
// stores the same measurements straight through the API, with the entities the tool builds, in one
// transaction; the tool side runs the dbif program on the files' manifest. Both start from a fresh
// database with the schema and report files/s and rows/s; the ratio of their times is the tool's
// share (parsing, the already-stored test, process start). SQLite always; the private MariaDB when
// the DBIF_TEST_MYSQL_* variables name it.
#include <benchmark/benchmark.h>

#include "BenchmarkMain.h"
#include "FreshDatabase.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTextStream>

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
}

}  // namespace

int main(int argc, char** argv) {
    registerAll();
    return runBenchmarks(argc, argv);
}
