// copy_bench: copying a campaign from a prober's SQLite file into MariaDB with DBIF_RunCopy, beside
// saving the same campaign into MariaDB directly, in the same iterations (each runs both sides, in
// turn first, each into a fresh database). A campaign is one run of 300 measurements (10 dies x 10
// devices x 3 temperatures) of 1,000 rows x 4 DOUBLE columns with its routine, condition and devices.
// The copy reads the source through a connection whose caches start empty, as a new process's would.
// Counters: rows/s of both sides, `copy/direct` the copy's speed over the direct save's (the direct
// time over the copy time) and its median over the iterations. Needs the private MariaDB that the
// DBIF_TEST_MYSQL_HOST/PORT/USER/PASSWORD variables name (as scripts/test exports them).
#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <algorithm>
#include <memory>
#include <vector>

#include "BenchmarkMain.h"
#include "Campaign.h"
#include "FreshDatabase.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_RunCopy.h"

namespace {

constexpr int MEASUREMENTS = CAMPAIGN_MEASUREMENTS;
constexpr int ROWS = 1000;

void storeCampaign(DBIF_Connection& db) {
    storeCampaign(db, DBIF_MULTI_TABLE_STORAGE, ROWS);
}

// The prober's file, made once: a SQLite database beside the benchmarks' fresh ones, which it
// outlives (freshDatabase drops only the database it made last).
QString proberFile() {
    static const QString file = [] {
        const QString path = benchDirectory().filePath(QStringLiteral("prober.db"));
        qputenv("QUARN_SQLITE_SCHEMA_FILE", QByteArray(DBIF_SCHEMA_DIR "/sqlite.sql"));
        DBIF_Connection db("QSQLITE", "", path.toLocal8Bit().constData(), "", "", 0);
        db.beginTransaction();
        db.initializeSchemaIfMissing();
        db.endTransaction();
        storeCampaign(db);
        forgetObjects();
        return path;
    }();
    return file;
}

void BM_CopyToMariaDb(benchmark::State& state) {
    if (skippedWithoutMariaDb(state, QStringLiteral("QMYSQL")))
        return;
    const QString prober = proberFile();
    double copyTime = 0, directTime = 0;
    std::vector<double> ratios;
    bool copyFirst = true;
    for (auto _ : state) {
        double copySeconds = 0, directSeconds = 0;
        for (int side = 0; side < 2; ++side) {
            const bool copying = (side == 0) == copyFirst;
            std::unique_ptr<DBIF_Connection> target = freshDatabase(QStringLiteral("QMYSQL"));
            QElapsedTimer clock;
            if (copying) {
                DBIF_Connection source("QSQLITE", "", prober.toLocal8Bit().constData(), "", "", 0);
                clock.start();
                const DBIF_SingleColumnCondition every(DBIF_CatalogEntry::MASTER_TABLE_NAME,
                                                       QStringLiteral("id"), IsNotNull, QVariant());
                DBIF_RunCopy copy(source, *target);
                const DBIF_RunCopy::Summary summary = copy.copy(DBIF_CatalogEntry::query(source, &every));
                copySeconds = clock.nsecsElapsed() * 1e-9;
                if (summary.measurements != MEASUREMENTS) {
                    state.SkipWithError("the copy did not copy the campaign");
                    return;
                }
            } else {
                clock.start();
                storeCampaign(*target);
                directSeconds = clock.nsecsElapsed() * 1e-9;
            }
            forgetObjects();
        }
        copyFirst = !copyFirst;
        state.SetIterationTime(copySeconds + directSeconds);
        copyTime += copySeconds;
        directTime += directSeconds;
        ratios.push_back(directSeconds / copySeconds);
    }
    std::sort(ratios.begin(), ratios.end());
    const double rows = static_cast<double>(MEASUREMENTS) * ROWS * state.iterations();
    state.counters["copy rows/s"] = rows / copyTime;
    state.counters["direct rows/s"] = rows / directTime;
    state.counters["copy/direct"] = directTime / copyTime;
    state.counters["median copy/direct"] = ratios[ratios.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("CopyCampaign/QSQLITE/QMYSQL", BM_CopyToMariaDb)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5)
        ->UseManualTime();
    return runBenchmarks(argc, argv);
}
