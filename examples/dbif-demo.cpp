// dbif-demo: a host program on the library's embedded default, a SQLite file in the current
// directory. It creates the schema from the shipped file when the database is new, stores the
// dies of a wafer lot and the routine that probed them, and prints what it reads back through the
// caches and through a second, fresh connection. Running it again finds the stored rows.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>
#include <iostream>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_Routine.h"
#include "dbif/DBIF_Utilities.h"

namespace {

const char* const DATABASE_FILE = "dbif-demo.db";
const char* const LOT = "LOT-4711";

// The shipped schema, unless the host's environment already names one.
void pointAtSchemaFile() {
    if (qEnvironmentVariableIsSet("QUARN_SQLITE_SCHEMA_FILE")) return;
    qputenv("QUARN_SQLITE_SCHEMA_FILE", QByteArrayLiteral(DBIF_SCHEMA_DIR "/sqlite.sql"));
}

void storeCampaign(DBIF_Connection& db) {
    db.beginTransaction();
    for (const char* wafer : {"W01", "W02"}) {
        for (int die = 1; die <= 3; ++die) {
            DBIF_Die::get(db, LOT, wafer, QStringLiteral("X%1Y0").arg(die), "B1", "demo").save();
        }
    }
    DBIF_Routine::get(db, "idvg_sweep", "for vg in -1.0:0.05:1.8\n  measure('Id', vg)\nend", "demo").save();
    db.endTransaction();
}

void printCampaign(DBIF_Connection& db, const char* title) {
    std::cout << title << std::endl;
    const QList<int> ids = db.queryScalarList<int>(
        QStringLiteral("SELECT id FROM die WHERE lot = '%1' ORDER BY id").arg(QLatin1String(LOT)), DBIF_QUERY_TIMING,
        __FILE__, __LINE__);
    for (int id : ids) {
        const DBIF_Die die = DBIF_Die::get(db, id);
        std::cout << "  die " << die.getId() << "  " << die.getKey() << "  written "
                  << die.getModifiedTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) << " by " << die.getUser()
                  << std::endl;
    }
    const int routineId = db.queryInt(QStringLiteral("SELECT id FROM routine WHERE name = 'idvg_sweep'"),
                                      DBIF_QUERY_TIMING, __FILE__, __LINE__);
    const DBIF_Routine routine = DBIF_Routine::get(db, routineId);
    if (!routine.isNull()) std::cout << "  routine " << routine.getId() << "  " << routine.getKey() << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    pointAtSchemaFile();
    const QString path = QDir::current().absoluteFilePath(QString::fromLatin1(DATABASE_FILE));
    const bool existed = QFileInfo::exists(path);
    try {
        DBIF_Connection db("QSQLITE", "", path.toLocal8Bit().constData(), "", "", 0);
        if (!db.isValid()) {
            std::cerr << "cannot open " << path << ": " << db.lastError().text() << std::endl;
            return 1;
        }
        // One transaction keeps SQLite from syncing the file after every table.
        db.beginTransaction();
        db.initializeSchemaIfMissing();
        db.endTransaction();
        std::cout << (existed ? "Opened " : "Created ") << path << std::endl;

        storeCampaign(db);
        printCampaign(db, "Read back through this connection's caches:");

        // A second connection has caches of its own and reads the rows from the file.
        DBIF_Connection other("QSQLITE", "", path.toLocal8Bit().constData(), "", "", 0);
        printCampaign(other, "Read back through a second connection:");
        db.dumpTimes();
    } catch (const DBIF_Exception& e) {
        std::cerr << e.what();
        return 1;
    }
    return 0;
}
