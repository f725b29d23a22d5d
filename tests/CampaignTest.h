// CampaignTest: a schema database test that builds the pieces of a measurement campaign (run, routine,
// die, condition, device, measurement) on the test's connection or another one.
#ifndef DBIF_TESTS_CAMPAIGNTEST_H
#define DBIF_TESTS_CAMPAIGNTEST_H

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <algorithm>

#include "DatabaseTest.h"
#include "dbif/DBIF_Measurement.h"

class CampaignTest : public SchemaDatabaseTest {
protected:
    static constexpr DBIF_StorageEngineType ENGINES[] = {DBIF_SPARSE_TABLE_STORAGE, DBIF_MULTI_TABLE_STORAGE};

    // A run that starts `second` seconds into the campaign; with a mode, its Mode column holds it.
    DBIF_CatalogEntry run(int second, DBIF_StorageEngineType type, const QString& mode = QString()) {
        const QDateTime start = QDateTime(QDate(2024, 5, 2), QTime(8, 0, 0)).addSecs(second);
        DBIF_CatalogEntry entry =
            DBIF_CatalogEntry::get(on(), "prober", "3.2", "IdVd", start, start.addSecs(60), "alice", type);
        if (!mode.isNull()) {
            const DBIF_CatalogEntryColumn column = entry.addColumn(DBIF_CatalogEntry::MODE, "TX");
            entry.addRow();
            entry.set(column, mode);
        }
        return entry;
    }
    DBIF_Die die(const QString& name) { return DBIF_Die::get(on(), "LOT7", "W01", name, "B", "alice"); }
    DBIF_Routine routine() { return DBIF_Routine::get(on(), "IdVdSweep", "sweep Vd", "alice"); }
    DBIF_MeasurementCondition condition(DBIF_CatalogEntry entry, DBIF_StorageEngineType type,
                                        const QString& name = "Vg=1.2") {
        return DBIF_MeasurementCondition::get(on(), name, &entry, routine(), type);
    }
    DBIF_Device device(DBIF_CatalogEntry entry, DBIF_StorageEngineType type, const QString& name = "M1",
                       const QString& deviceType = "nmos") {
        return DBIF_Device::get(on(), name, deviceType, "S1", 2, &entry, type);
    }
    // A measurement with a drain current column of `rows` rows (Id = base + row) and, given one, a
    // DataOrigin column.
    DBIF_Measurement measurement(const DBIF_Die& die, DBIF_CatalogEntry entry, const DBIF_Device& device,
                                 const DBIF_MeasurementCondition& condition, double temperature,
                                 DBIF_StorageEngineType type, const QString& dataOrigin = QString(),
                                 int rows = 2, double base = 0) {
        DBIF_Measurement m = DBIF_Measurement::get(on(), die, &entry, device, condition, temperature, type);
        const DBIF_MeasurementColumn id = m.addColumn("Id", "DB");
        DBIF_MeasurementColumn origin;
        if (!dataOrigin.isNull())
            origin = m.addColumn(DBIF_Measurement::DATA_ORIGIN, "TX");
        for (int row = 0; row < rows; ++row) {
            m.addRow();
            m.set(id, QVariant(base + row));
            if (!dataOrigin.isNull())
                m.set(origin, dataOrigin);
        }
        return m;
    }

    // The connection the helpers build on: the test's, unless a test switches it.
    DBIF_Connection& on() { return building ? *building : connection(); }
    DBIF_Connection* building = nullptr;

    // Where the action's connection mismatch was found, or "nothing thrown".
    template <typename Action>
    static QString mismatchWhere(Action&& action) {
        return caught<DBIF_ConnectionMismatchException>(
            action, [](const DBIF_ConnectionMismatchException& e) { return e.getWhere(); });
    }
    template <typename T>
    static QList<int> idsOf(const QList<T>& entities) {
        QList<int> result;
        for (const T& entity : entities)
            result << entity.getId();
        std::sort(result.begin(), result.end());
        return result;
    }
};

#endif
