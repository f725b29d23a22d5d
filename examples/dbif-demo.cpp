// dbif-demo: a host program on the library's embedded default, a SQLite file in the current
// directory. It creates the schema from the shipped file when the database is new, stores the
// dies of a wafer lot and the routine that probed them, defines the data columns of an I-V sweep,
// gives their column set a physical data table, holds a sweep in memory, and queries dies with
// conditions, also through a second, fresh connection. Running it again finds the stored rows.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBIF_ComplexMatrix.h"
#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_InMemoryTable.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_Routine.h"
#include "dbif/DBIF_SingleColumnCondition.h"
#include "dbif/DBIF_Utilities.h"

namespace {

const char* const DATABASE_FILE = "dbif-demo.db";
const char* const LOT = "LOT-4711";

// The shipped schema, unless the host's environment already names one.
void pointAtSchemaFile() {
    if (qEnvironmentVariableIsSet("QUARN_SQLITE_SCHEMA_FILE"))
        return;
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

using SweepTable = DBIF_InMemoryTable<DBIF_MeasurementColumn>;
using MeasurementTables = DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;

// The data columns of an Id-Vg sweep, shared by every measurement of the database, and the physical
// data table that holds their column set in the multi-table layout.
QList<DBIF_MeasurementColumn> defineSweepColumns(DBIF_Connection& db) {
    db.beginTransaction();
    QList<DBIF_MeasurementColumn> columns;
    QStringList keys;
    for (const char* name : {"Vg", "Id", "S11"}) {
        const char* type = QByteArray(name) == "S11" ? "CM" : "DB";
        DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(db, name, type, 2);
        column.save();
        columns.append(column);
        keys.append(column.getKey());
    }
    MeasurementTables table = MeasurementTables::get(db, DBIF_Measurement::COLUMN_TABLE_NAME,
                                                     DBIF_Measurement::DATA_TABLE_NAME, keys, false);
    table.save(db);
    db.endTransaction();
    std::cout << "Sweep columns " << keys.join(QStringLiteral(", ")) << " live in data table "
              << table.getTableName() << std::endl;
    return columns;
}

// An in-memory sweep: rows of typed cells keyed by column.
void holdSweep(DBIF_Connection& db, const QList<DBIF_MeasurementColumn>& columns) {
    SweepTable sweep(db, -1, DBIF_MULTI_TABLE_STORAGE);
    for (const DBIF_MeasurementColumn& column : columns)
        sweep.addColumn(column.getKey());
    for (int step = 0; step <= 36; ++step) {
        const double vg = 0.05 * step;
        sweep.addRow();
        sweep.set(columns[0], vg);
        sweep.set(columns[1], vg > 0.4 ? 2.5e-4 * (vg - 0.4) * (vg - 0.4) : 0.0);
        DBIF_ComplexMatrix s11(1, 1);
        s11(0, 0).set(0.9 - 0.5 * vg, -0.1 * vg);
        sweep.set(columns[2], QVariant::fromValue(s11));
    }
    std::unique_ptr<DBIF_DataType> id(sweep.getDataElement(columns[1], 36));
    std::unique_ptr<DBIF_DataType> s11(sweep.getDataElement(columns[2], 36));
    std::cout << "Sweep in memory: " << sweep.rowCount() << " rows; at Vg = 1.8 V: Id = " << id->toString()
              << " A, S11 = " << s11->toString() << std::endl;
}

void printCampaign(DBIF_Connection& db, const char* title) {
    std::cout << title << std::endl;
    const DBIF_SingleColumnCondition inLot(DBIF_Die::MASTER_TABLE_NAME, DBIF_Die::LOT.getColumnName(), Equal,
                                           QString::fromLatin1(LOT), DBIF_Die::LOT.useCollation);
    for (const DBIF_Die& die : DBIF_Die::query(db, inLot, false)) {
        std::cout << "  die " << die.getId() << "  " << die.getKey() << "  written "
                  << die.getModifiedTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) << " by "
                  << die.getUser() << std::endl;
    }
    const DBIF_SingleColumnCondition secondWafer(DBIF_Die::MASTER_TABLE_NAME, DBIF_Die::WAFER.getColumnName(),
                                                 Equal, QStringLiteral("W02"), DBIF_Die::WAFER.useCollation);
    const DBIF_SingleColumnCondition firstColumn(DBIF_Die::MASTER_TABLE_NAME, DBIF_Die::DIE.getColumnName(),
                                                 Like, QStringLiteral("X1%"), DBIF_Die::DIE.useCollation);
    std::cout << "  dies of wafer W02 or in column X1: "
              << DBIF_Die::query(db, inLot && (secondWafer || firstColumn), false).size() << std::endl;
    const DBIF_SingleColumnCondition sweeps(DBIF_Routine::MASTER_TABLE_NAME,
                                            DBIF_Routine::NAME.getColumnName(), Equal,
                                            QStringLiteral("idvg_sweep"), DBIF_Routine::NAME.useCollation);
    for (const DBIF_Routine& routine : DBIF_Routine::query(db, sweeps, false)) {
        std::cout << "  routine " << routine.getId() << "  " << routine.getKey() << std::endl;
    }
}

// The statement an entity query renders: measurements of this lot with their Id column, read from
// every physical data table that holds it.
void printMeasurementQuery(DBIF_Connection& db, const DBIF_MeasurementColumn& idColumn) {
    DBIF_QuarnQuery query(db);
    query.addColumn(DBIF_Measurement::MASTER_TABLE_NAME, DBIF_Measurement::ID.getColumnName());
    query.addColumn(DBIF_Measurement::DATA_TABLE_NAME, idColumn.getKey());
    query.setCondition(DBIF_SingleColumnCondition(DBIF_Die::MASTER_TABLE_NAME, DBIF_Die::LOT.getColumnName(),
                                                  Equal, QString::fromLatin1(LOT),
                                                  DBIF_Die::LOT.useCollation));
    std::cout << "Measurement query over the data tables:\n" << query.generateSql(true) << std::endl;
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
        const QList<DBIF_MeasurementColumn> columns = defineSweepColumns(db);
        holdSweep(db, columns);
        printCampaign(db, "Read back through this connection's caches:");
        printMeasurementQuery(db, columns[1]);

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
