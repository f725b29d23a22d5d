// dbif-demo: a host program on the library's embedded default, a SQLite file in the current
// directory. It creates the schema from the shipped file when the database is new and stores a small
// measurement campaign in one transaction: a wafer lot with four dies, a run with its Mode column, a
// routine and two measurement conditions, devices of two types, Id-Vd sweeps at three temperatures on
// both storage engines, and setups with headers linked to the run, the devices and the sweeps. Then a second,
// fresh connection answers a device engineer's questions, shows a run's children and the devices' setups, and
// prints them as small tables. Running it again finds the stored campaign.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <memory>
#include <vector>

#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_Routine.h"
#include "dbif/DBIF_Setup.h"
#include "dbif/DBIF_SingleColumnCondition.h"
#include "dbif/DBIF_Utilities.h"

namespace {

const char* const DATABASE_FILE = "dbif-demo.db";
const char* const LOT = "LOT-4711";
const double TEMPERATURES[] = {-40, 25, 125};
const double THRESHOLD = 1.05e-3;  // A: "high" drain current

// The shipped schema, unless the host's environment already names one.
void pointAtSchemaFile() {
    if (qEnvironmentVariableIsSet("QUARN_SQLITE_SCHEMA_FILE"))
        return;
    qputenv("QUARN_SQLITE_SCHEMA_FILE", QByteArrayLiteral(DBIF_SCHEMA_DIR "/sqlite.sql"));
}

// A square-law drain current with a slight drop at high temperature and a die-to-die spread.
double drainCurrent(double vd, double vg, double temperature, int die, bool pmos) {
    const double vth = 0.45 + 0.02 * die;
    const double k = (pmos ? 1.2e-3 : 3e-3) * std::pow(300.0 / (273.15 + temperature), 1.5);
    const double overdrive = std::max(0.0, vg - vth);
    const double vdEffective = std::min(vd, overdrive);
    return k * (overdrive - vdEffective / 2) * vdEffective;
}

void storeCampaign(DBIF_Connection& db) {
    db.beginTransaction();
    const QDateTime start(QDate(2024, 5, 2), QTime(8, 0, 0));
    DBIF_CatalogEntry run = DBIF_CatalogEntry::get(db, "prober", "3.2", "IdVd", start, start.addSecs(3600),
                                                   "demo", DBIF_MULTI_TABLE_STORAGE);
    const DBIF_CatalogEntryColumn mode = run.addColumn(DBIF_CatalogEntry::MODE, "TX");
    run.addRow();
    run.set(mode, "dc");

    const DBIF_Routine routine =
        DBIF_Routine::get(db, "idvd_sweep", "for vd in 0:0.1:1.2\n  measure('Id', vd)\nend", "demo");
    const QList<double> gateVoltages{0.9, 1.2};
    QList<DBIF_MeasurementCondition> conditions;
    for (const double vg : gateVoltages) {
        DBIF_MeasurementCondition condition = DBIF_MeasurementCondition::get(
            db, QStringLiteral("Vg=%1").arg(vg), &run, routine, DBIF_MULTI_TABLE_STORAGE);
        const DBIF_MeasurementConditionColumn gate = condition.addColumn("Vg", "DB", "gate voltage [V]");
        condition.addRow();
        condition.set(gate, QVariant(vg));
        conditions.append(condition);
        run.addMeasurementCondition(condition);
    }
    // A setup made with the run as owner is the run's: the run's save() stores and links it.
    DBIF_Setup station =
        DBIF_Setup::get(db, "probe station", "/station", "IdVd", "MEASURED", &run, DBIF_MULTI_TABLE_STORAGE);
    const DBIF_SetupColumn chuck = station.addColumn("Chuck", "TX", true, "Chuck type");
    station.addRow();
    station.set(chuck, "thermal");
    run.save();
    QList<DBIF_Device> devices;
    for (const char* type : {"nmos", "pmos"}) {
        DBIF_Device device = DBIF_Device::get(db, QStringLiteral("%1_W10L1").arg(type), type, "TK1",
                                              devices.size() + 1, &run, DBIF_MULTI_TABLE_STORAGE);
        const DBIF_DeviceColumn width = device.addColumn("W", "DB", DBIF_DeviceColumn::PHYSICAL_CATEGORY);
        device.addRow();
        device.set(width, QVariant(10e-6));
        // The station probed the device's data row 0.
        device.addSetup(station, 0);
        device.save();
        devices.append(device);
    }

    for (int index = 1; index <= 4; ++index) {
        const DBIF_Die die = DBIF_Die::get(db, LOT, "W01", QStringLiteral("X%1Y0").arg(index), "B1", "demo");
        // Half the dies through each engine: the sparse table and the per-column-set tables.
        const DBIF_StorageEngineType engine =
            index % 2 ? DBIF_SPARSE_TABLE_STORAGE : DBIF_MULTI_TABLE_STORAGE;
        for (const DBIF_Device& device : devices) {
            for (int c = 0; c < conditions.size(); ++c) {
                const DBIF_MeasurementCondition& condition = conditions[c];
                const double vg = gateVoltages[c];
                for (const double temperature : TEMPERATURES) {
                    DBIF_Measurement sweep =
                        DBIF_Measurement::get(db, die, &run, device, condition, temperature, engine);
                    const DBIF_MeasurementColumn vd = sweep.addColumn("Vd", "DB");
                    const DBIF_MeasurementColumn id = sweep.addColumn("Id", "DB");
                    const DBIF_MeasurementColumn origin =
                        sweep.addColumn(DBIF_Measurement::DATA_ORIGIN, "TX");
                    for (int step = 0; step <= 12; ++step) {
                        const double v = 0.1 * step;
                        sweep.addRow();
                        sweep.set(vd, QVariant(v));
                        sweep.set(id, QVariant(drainCurrent(v, vg, temperature, index,
                                                            device.getDeviceType() == "pmos")));
                        sweep.set(origin, DBIF_Measurement::MEASURED);
                    }
                    DBIF_Setup smu =
                        DBIF_Setup::get(db, "smu", "/smu/idvd", "IdVd", "MEASURED", &sweep, engine);
                    const DBIF_SetupColumn compliance =
                        smu.addColumn("Compliance", "DB", true, "Compliance [A]");
                    smu.addRow();
                    smu.set(compliance, QVariant(0.1));
                    // The sweep's save() stores the setup and links it through measurement_setup.
                    sweep.addSetup(smu);
                    sweep.save();
                }
            }
        }
    }
    db.endTransaction();
}

using Table = std::vector<std::vector<QString>>;

// Prints a header row and the rows with every column as wide as its widest cell.
void printTable(const QString& title, const Table& rows) {
    std::cout << "\n" << title << "\n";
    std::vector<int> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], static_cast<int>(row[column].size()));
    }
    for (size_t index = 0; index < rows.size(); ++index) {
        std::cout << " ";
        for (size_t column = 0; column < rows[index].size(); ++column)
            std::cout << " " << std::left << std::setw(widths[column]) << rows[index][column].toStdString();
        std::cout << "\n";
        if (index == 0) {
            std::cout << " ";
            for (const int width : widths)
                std::cout << " " << std::string(width, '-');
            std::cout << "\n";
        }
    }
}

QString current(double amperes) {
    return QString::number(amperes * 1e3, 'f', 3) + " mA";
}

void answerQuestions(DBIF_Connection& db) {
    const QString idKey = DBIF_MeasurementColumn::computeKey("Id", "DB");

    // 1. The latest nmos sweeps at 125 degrees C, with their peak current.
    const DBIF_SingleColumnCondition nmos(DBIF_Device::MASTER_TABLE_NAME,
                                          DBIF_Device::DEVICE_TYPE_.getColumnName(), Equal,
                                          QStringLiteral("nmos"));
    const DBIF_SingleColumnCondition hot(DBIF_Measurement::MASTER_TABLE_NAME,
                                         DBIF_Measurement::TEMPERATURE.getColumnName(), Equal, 125.0);
    Table latest{{"die", "device", "condition", "T [C]", "engine", "rows", "max Id"}};
    for (const DBIF_Measurement& m : DBIF_Measurement::query(db, nmos && hot, true)) {
        double peak = 0;
        for (unsigned row = 0; row < m.rowCount(); ++row)
            peak = std::max(peak, m.getData(idKey, row).toDouble());
        latest.push_back({m.getDie().getDie(), m.getDevice().getName(), m.getMeasurementCondition().getName(),
                          QString::number(m.getTemperature()),
                          m.getStorageEngineType() == DBIF_SPARSE_TABLE_STORAGE ? "sparse" : "multi-table",
                          QString::number(m.rowCount()), current(peak)});
    }
    printTable("Latest nmos measurements at 125 C:", latest);

    // 2. The dies where any sweep drew more than the threshold.
    const DBIF_SingleColumnCondition high(DBIF_Measurement::DATA_TABLE_NAME, idKey, Greater, THRESHOLD);
    Table dies{{"lot", "wafer", "die", "id"}};
    for (const DBIF_Die& die : DBIF_Die::query(db, high, false))
        dies.push_back({die.getLot(), die.getWafer(), die.getDie(), QString::number(die.getId())});
    printTable(QStringLiteral("Dies with a drain current above %1:").arg(current(THRESHOLD)), dies);

    // 3. The drain voltages swept, over all measurements.
    const DBIF_MeasurementColumn vd =
        DBIF_MeasurementColumn::get(db, "Vd", "DB", DBIF_DynamicTableColumn::MULTI_TABLE_FLAG);
    Table voltages{{"Vd values [V] over all measurements"}};
    QStringList line;
    for (DBIF_DataType* value : DBIF_Measurement::retrieveValues(vd, DBIF_ASCENDING, nullptr, false, true)) {
        const std::unique_ptr<DBIF_DataType> owned(value);
        line << owned->toString();
    }
    voltages.push_back({line.join(QStringLiteral("  "))});
    printTable(QStringLiteral("One data column (%1 distinct values):").arg(line.size()), voltages);

    // 4. The setups that produced the latest sweeps, with their headers.
    Table setups{{"setup", "id", "path", "column", "header"}};
    const DBIF_SingleColumnCondition smuPath(DBIF_Setup::MASTER_TABLE_NAME, DBIF_Setup::PATH.getColumnName(),
                                             Equal, QStringLiteral("/smu/idvd"));
    const QList<DBIF_Setup> found = DBIF_Setup::query(db, smuPath, true);
    for (const DBIF_Setup& setup : found.mid(0, 3)) {
        for (const QString& key : setup.getColumnKeys()) {
            setups.push_back({setup.getName(), QString::number(setup.getId()), setup.getPath(), key,
                              setup.getQuarnHeader(key)});
        }
    }
    printTable(QStringLiteral("Latest setups at /smu/idvd (%1, first 3):").arg(found.size()), setups);

    // 5. A run's children, known by id until one is asked for, and a device's setups by data row.
    const QList<int> runIds = db.queryScalarList<int>("SELECT id FROM catalog_entry ORDER BY id",
                                                      DBIF_QUERY_TIMING, __FILE__, __LINE__);
    if (runIds.isEmpty())
        return;
    const DBIF_CatalogEntry run = DBIF_CatalogEntry::get(db, runIds.first());
    DBIF_LazyList<DBIF_Setup> runSetups = run.getSetups();
    Table children{{"run", "measurements", "conditions", "setups", "first setup"}};
    children.push_back({QStringLiteral("%1 %2").arg(run.getApplication(), run.getRunType()),
                        QString::number(run.getMeasurements().size()),
                        QString::number(run.getMeasurementConditions().size()),
                        QString::number(runSetups.size()),
                        runSetups.size() > 0 ? runSetups.at(0).getName() : QString()});
    printTable("A run's children (ids only, until asked for):", children);

    Table linked{{"device", "setup", "path", "device data row"}};
    const QList<int> deviceIds =
        db.queryScalarList<int>("SELECT id FROM device ORDER BY id", DBIF_QUERY_TIMING, __FILE__, __LINE__);
    for (const int id : deviceIds) {
        const DBIF_Device device = DBIF_Device::get(db, id);
        for (const DBIF_Setup& setup : device.getSetups()) {
            linked.push_back({device.getName(), setup.getName(), setup.getPath(),
                              QString::number(setup.getAssociatedDeviceDataRow())});
        }
    }
    printTable("Setups linked to devices:", linked);
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

        // Keys are identities within a process only: a stored campaign is not stored again.
        if (db.queryInt("SELECT COUNT(*) FROM measurement", DBIF_QUERY_TIMING, __FILE__, __LINE__) == 0) {
            storeCampaign(db);
            std::cout << "Stored the campaign: "
                      << db.queryInt("SELECT COUNT(*) FROM measurement", DBIF_QUERY_TIMING, __FILE__,
                                     __LINE__)
                      << " measurements" << std::endl;
        } else {
            std::cout << "The campaign is already stored" << std::endl;
        }

        // A second connection has caches of its own: everything below is read back from the file.
        DBIF_Connection other("QSQLITE", "", path.toLocal8Bit().constData(), "", "", 0);
        answerQuestions(other);
        std::cout << std::endl;
        db.dumpTimes();
    } catch (const DBIF_Exception& e) {
        std::cerr << e.what();
        return 1;
    }
    return 0;
}
