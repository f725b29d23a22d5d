// Campaign.h: the measurement campaign the campaign benchmarks store: one run of 300 measurements
// (10 dies x 10 devices x 3 temperatures) of `rows` rows x 4 DOUBLE columns (filled a column at a
// time, as an instrument hands its sweeps over) with its routine, condition and devices, saved through
// the library in one transaction. For one thread.
#ifndef DBIF_BENCH_CAMPAIGN_H
#define DBIF_BENCH_CAMPAIGN_H

#include <QDateTime>
#include <QString>
#include <vector>

#include "dbif/DBIF_Connection.h"
#include "dbif/DBIF_Measurement.h"

constexpr int CAMPAIGN_DIES = 10;
constexpr int CAMPAIGN_DEVICES = 10;
constexpr double CAMPAIGN_TEMPERATURES[] = {-40, 25, 125};
constexpr int CAMPAIGN_MEASUREMENTS = CAMPAIGN_DIES * CAMPAIGN_DEVICES * 3;

inline void storeCampaign(DBIF_Connection& db, DBIF_StorageEngineType engine, int rows) {
    static const char* const COLUMNS[] = {"Vd", "Vg", "Id", "Ig"};
    db.beginTransaction();
    const QDateTime start(QDate(2024, 5, 2), QTime(8, 0, 0));
    DBIF_CatalogEntry run =
        DBIF_CatalogEntry::get(db, "prober", "3.2", "IdVd", start, start, "bench", engine);
    const DBIF_Routine routine = DBIF_Routine::get(db, "idvd", "sweep", "bench");
    const DBIF_MeasurementCondition bias =
        DBIF_MeasurementCondition::get(db, "Vg=1.2", &run, routine, engine);
    std::vector<double> values(rows);
    for (int die = 0; die < CAMPAIGN_DIES; ++die) {
        const DBIF_Die chip = DBIF_Die::get(db, "LOT1", "W01", QStringLiteral("X%1").arg(die), "B", "bench");
        for (int device = 0; device < CAMPAIGN_DEVICES; ++device) {
            const DBIF_Device transistor =
                DBIF_Device::get(db, QStringLiteral("M%1").arg(device), "nmos", "S1", device, &run, engine);
            for (const double temperature : CAMPAIGN_TEMPERATURES) {
                DBIF_Measurement m =
                    DBIF_Measurement::get(db, chip, &run, transistor, bias, temperature, engine);
                QList<DBIF_MeasurementColumn> columns;
                for (const char* name : COLUMNS)
                    columns.append(m.addColumn(name, "DB"));
                for (int c = 0; c < columns.size(); ++c) {
                    for (int row = 0; row < rows; ++row)
                        values[row] = 0.01 * row + c + temperature * 1e-3;
                    m.setColumn(columns[c], values.data(), rows);
                }
                m.save();
            }
        }
    }
    db.endTransaction();
}

#endif
