// Tests of measurements, their conditions and devices on both drivers and both engines: the
// latest-measurement rules, temperature keys, reading a measurement back on a second connection,
// connection mismatches, hostile texts, entity queries joined through the join graph, a condition's
// routine and run, and devices' rows, setters and duplicates across connections.
#include <gtest/gtest.h>

#include <QMetaType>
#include <functional>

#include "CampaignTest.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

using MeasurementTest = CampaignTest;

TEST_P(MeasurementTest, LatestMeasurementIsOnePerCombination) {
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        const int offset = type * 10;
        DBIF_Die chip = die(QStringLiteral("x%1").arg(type));
        DBIF_CatalogEntry first = run(offset, type, "dc");
        DBIF_MeasurementCondition bias = condition(first, type);
        DBIF_Device nmos = device(first, type);
        DBIF_Measurement replaced = measurement(chip, first, nmos, bias, 25, type, "MEASURED");
        replaced.save();
        replaced.save();  // the same measurement again: still one row naming it
        EXPECT_EQ(
            countRows("latest_measurement", QStringLiteral("measurement_id = %1").arg(replaced.getId())), 1);

        // Same combination from another run with the same mode: replaces the first.
        DBIF_CatalogEntry second = run(offset + 1, type, "dc");
        DBIF_Measurement latest = measurement(chip, second, nmos, bias, 25, type, "MEASURED");
        latest.save();
        // Another temperature, data origin or mode: rows of their own.
        DBIF_Measurement warm = measurement(chip, second, nmos, bias, 125, type, "MEASURED");
        DBIF_Measurement simulated =
            measurement(chip, run(offset + 2, type, "dc"), nmos, bias, 25, type, "SIMULATED");
        DBIF_Measurement pulsed =
            measurement(chip, run(offset + 3, type, "pulsed"), nmos, bias, 25, type, "MEASURED");
        for (DBIF_Measurement* m : {&warm, &simulated, &pulsed})
            m->save();
        const QString dieRows =
            QStringLiteral(" WHERE die_id = %1 ORDER BY measurement_id").arg(chip.getId());
        EXPECT_EQ(ids("SELECT measurement_id FROM latest_measurement" + dieRows),
                  QList<int>({latest.getId(), warm.getId(), simulated.getId(), pulsed.getId()}));
        EXPECT_EQ(rowOf("SELECT device_type, device_parent_subsite_name, device_position_within_subsite, "
                        "measurement_condition_name, routine_name, data_origin, mode FROM latest_measurement"
                        " WHERE measurement_id = " +
                        QString::number(pulsed.getId())),
                  QStringList({"nmos", "S1", "2", "Vg=1.2", "IdVdSweep", "MEASURED", "pulsed"}));
    }
}

TEST_P(MeasurementTest, TemperatureKeysHaveSixSignificantDigits) {
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Die chip = die("x");
    DBIF_Device nmos = device(entry, DBIF_MULTI_TABLE_STORAGE);
    DBIF_MeasurementCondition bias = condition(entry, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Measurement at25 = measurement(chip, entry, nmos, bias, 25, DBIF_MULTI_TABLE_STORAGE);
    EXPECT_TRUE(at25 == DBIF_Measurement::get(connection(), chip, &entry, nmos, bias, 25.0000001,
                                              DBIF_SPARSE_TABLE_STORAGE));
    EXPECT_EQ(at25.getKey(), QStringLiteral("<meas: %1|%2|%3|%4|25>")
                                 .arg(chip.getKey(), entry.getKey(), bias.getKey(), nmos.getKey()));
    DBIF_Measurement odd = measurement(chip, entry, nmos, bias, 25.1234567, DBIF_MULTI_TABLE_STORAGE);
    EXPECT_TRUE(odd.getKey().endsWith("|25.1235>"));
    odd.save();
    const QString where = QStringLiteral(" WHERE measurement_id = %1").arg(odd.getId());
    EXPECT_EQ(textOf("SELECT measurement_temperature FROM latest_measurement" + where).toDouble(), 25.1235);
    EXPECT_DOUBLE_EQ(
        textOf(QStringLiteral("SELECT temperature FROM measurement WHERE id = %1").arg(odd.getId()))
            .toDouble(),
        25.1234567);
    // Once an entity kind is in use, lists of it are known to the meta-type system.
    for (const char* list :
         {"QList<DBIF_Measurement>", "QList<DBIF_MeasurementCondition>", "QList<DBIF_Device>"})
        EXPECT_TRUE(QMetaType::fromName(list).isValid()) << list;
}

// Every text is hostile: the statements escape it, the UPDATE of a device as well.
TEST_P(MeasurementTest, SecondConnectionReadsMeasurementWithEverythingItNames) {
    const QString hostile = "it's \\'%1'); DELETE FROM die; --";
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type, hostile);
        DBIF_MeasurementCondition bias = condition(entry, type, hostile);
        const DBIF_MeasurementConditionColumn vg = bias.addColumn("Vg", "DB", "gate bias");
        bias.addRow();
        bias.set(vg, QVariant(1.2));
        DBIF_Device nmos =
            DBIF_Device::get(connection(), hostile, hostile + "t", hostile + "s", 1, &entry, type);
        const DBIF_DeviceColumn note = nmos.addColumn("Note", "TX", "PHYSICAL");
        nmos.addRow();
        nmos.set(note, hostile);
        DBIF_Measurement m = measurement(die("x"), entry, nmos, bias, -40, type, hostile, 3, 1e-3);
        m.save();
        EXPECT_EQ(m.getUser(), QStringLiteral("alice"));
        EXPECT_FALSE(m.isDirty());
        commit();
        EXPECT_EQ(textOf(QStringLiteral("SELECT mode FROM latest_measurement WHERE measurement_id = %1")
                             .arg(m.getId())),
                  hostile);

        DBIF_Connection other = openSecondConnection();
        DBIF_Measurement copy = DBIF_Measurement::get(other, m.getId());
        ASSERT_TRUE(copy.isValid());
        EXPECT_FALSE(copy == m);
        EXPECT_EQ(copy.getKey(), m.getKey());
        EXPECT_EQ(copy.getTemperature(), -40);
        EXPECT_EQ(copy.getDie().getDie(), QStringLiteral("x"));
        EXPECT_EQ(copy.getDevice().getName(), hostile);
        EXPECT_EQ(copy.getDevice().getParentSubsiteName(), hostile + "s");
        EXPECT_EQ(copy.getDevice().getData(note.getKey(), 0).toString(), hostile);
        EXPECT_EQ(copy.getMeasurementCondition().getName(), hostile);
        EXPECT_EQ(copy.getMeasurementCondition().getRoutine().getName(), QStringLiteral("IdVdSweep"));
        EXPECT_EQ(copy.getMeasurementCondition().getCatalogEntry()->getKey(), entry.getKey());
        EXPECT_DOUBLE_EQ(copy.getMeasurementCondition().getData(vg.getKey(), 0).toDouble(), 1.2);
        EXPECT_EQ(copy.getCatalogEntry()->getKey(), entry.getKey());
        EXPECT_TRUE(copy.getSetupMap().isEmpty());
        EXPECT_EQ(copy.rowCount(), 3u);
        EXPECT_DOUBLE_EQ(copy.getData(DBIF_MeasurementColumn::computeKey("Id", "DB"), 2).toDouble(), 2.001);
        EXPECT_EQ(copy.getData(DBIF_MeasurementColumn::computeKey(DBIF_Measurement::DATA_ORIGIN, "TX"), 1)
                      .toString(),
                  hostile);
        EXPECT_EQ(copy.getStorageEngineType(), type);

        nmos.setParentSubsiteName(hostile + "2");
        nmos.save();
        EXPECT_EQ(
            textOf(QStringLiteral("SELECT parent_subsite_name FROM device WHERE id = %1").arg(nmos.getId())),
            hostile + "2");
        EXPECT_EQ(countRows("die"), 1);
        emptyEntityCaches();
    }
}

TEST_P(MeasurementTest, ObjectsOfTwoConnectionsAreNeverLinked) {
    DBIF_Connection other = openSecondConnection();
    DBIF_CatalogEntry here = run(0, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Die chip = die("x");
    DBIF_Device nmos = device(here, DBIF_MULTI_TABLE_STORAGE);
    DBIF_MeasurementCondition bias = condition(here, DBIF_MULTI_TABLE_STORAGE);
    building = &other;
    DBIF_CatalogEntry there = run(0, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Die otherChip = die("x");
    DBIF_Routine otherRoutine = routine();
    DBIF_Device otherDevice = device(there, DBIF_MULTI_TABLE_STORAGE);
    DBIF_MeasurementCondition otherBias = condition(there, DBIF_MULTI_TABLE_STORAGE);
    building = nullptr;
    const QString measurementWhere = "DBIF_Measurement::DBIF_Measurement";
    const QString conditionWhere = "DBIF_MeasurementCondition::DBIF_MeasurementCondition";
    const auto measurementOf = [&](const DBIF_Die& d, DBIF_CatalogEntry* e, const DBIF_Device& v,
                                   const DBIF_MeasurementCondition& c) {
        return [=] { DBIF_Measurement::get(connection(), d, e, v, c, 25, DBIF_MULTI_TABLE_STORAGE); };
    };
    const auto conditionOf = [&](DBIF_CatalogEntry* e, const DBIF_Routine& r) {
        return [=] { DBIF_MeasurementCondition::get(connection(), "c", e, r, DBIF_SPARSE_TABLE_STORAGE); };
    };
    const std::pair<std::function<void()>, QString> cases[] = {
        {measurementOf(otherChip, &here, nmos, bias), measurementWhere},
        {measurementOf(chip, &there, nmos, bias), measurementWhere},
        {measurementOf(chip, &here, otherDevice, bias), measurementWhere},
        {measurementOf(chip, &here, nmos, otherBias), measurementWhere},
        {[&] { DBIF_Device::get(connection(), "M9", "n", "S", 1, &there, DBIF_SPARSE_TABLE_STORAGE); },
         "DBIF_Device::DBIF_Device"},
        {conditionOf(&there, routine()), conditionWhere},
        {conditionOf(&here, otherRoutine), conditionWhere},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(mismatchWhere(cases[i].first), cases[i].second) << i;
    bias.save();
    EXPECT_EQ(mismatchWhere([&] { bias.setCatalogEntry(&there); }),
              QStringLiteral("DBIF_MeasurementCondition::setcatalogEntry"));
    EXPECT_EQ(bias.getCatalogEntry()->getKey(), here.getKey());
    bias.setCatalogEntry(bias.getCatalogEntry());
    EXPECT_FALSE(bias.isDirty());
    EXPECT_EQ(countRows("measurement") + countRows("device"), 0);
}

TEST_P(MeasurementTest, EntityQueriesJoinThroughMeasurementsAndTheirData) {
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type);
        DBIF_MeasurementCondition bias = condition(entry, type);
        DBIF_Device nmos = device(entry, type);
        const QString lot = QStringLiteral("x%1").arg(type);
        DBIF_Die cold = die(lot + "c"), hot = die(lot + "h");
        DBIF_Measurement coldOld = measurement(cold, entry, nmos, bias, 25, type, QString(), 2, 0);
        DBIF_Measurement coldNew =
            measurement(cold, run(type + 5, type), nmos, bias, 25, type, QString(), 2, 7);
        // Another column set: a gate current besides the drain current.
        DBIF_Measurement hotOne = measurement(hot, entry, nmos, bias, 125, type, QString(), 2, 5);
        const DBIF_MeasurementColumn ig = hotOne.addColumn("Ig", "DB");
        hotOne.set(ig, QVariant(1e-9));
        for (DBIF_Measurement* m : {&coldOld, &coldNew, &hotOne})
            m->save();

        const QList<DBIF_Die> warmDies = DBIF_Die::query(
            connection(),
            DBIF_SingleColumnCondition(DBIF_Measurement::MASTER_TABLE_NAME, "temperature", Greater, 100));
        EXPECT_TRUE(warmDies.contains(hot));
        EXPECT_FALSE(warmDies.contains(cold));
        const DBIF_SingleColumnCondition highCurrent(
            DBIF_Measurement::DATA_TABLE_NAME, DBIF_MeasurementColumn::computeKey("Id", "DB"), Greater, 4.5);
        const QList<int> high = idsOf(DBIF_Measurement::query(connection(), highCurrent));
        EXPECT_TRUE(high.contains(coldNew.getId()) && high.contains(hotOne.getId()));
        EXPECT_FALSE(high.contains(coldOld.getId()));
        const DBIF_SingleColumnCondition coldOnes(DBIF_Measurement::MASTER_TABLE_NAME, "die_id", Equal,
                                                  cold.getId());
        EXPECT_EQ(idsOf(DBIF_Measurement::query(connection(), coldOnes, true)),
                  QList<int>({coldNew.getId()}));
        EXPECT_EQ(idsOf(DBIF_Measurement::query(connection(), coldOnes, false)),
                  QList<int>({coldOld.getId(), coldNew.getId()}));
    }
}

TEST_P(MeasurementTest, ConditionStoresItsRoutineFirstAndKeepsItsKeyUntilReloaded) {
    DBIF_CatalogEntry first = run(0, DBIF_SPARSE_TABLE_STORAGE);
    DBIF_CatalogEntry second = run(1, DBIF_SPARSE_TABLE_STORAGE);
    DBIF_MeasurementCondition bias = condition(first, DBIF_SPARSE_TABLE_STORAGE);
    EXPECT_NE(bias.getKey(), condition(second, DBIF_SPARSE_TABLE_STORAGE).getKey());
    EXPECT_EQ(bias.getUser(), QStringLiteral("alice"));
    bias.save();
    const QString row =
        QStringLiteral("SELECT routine_id, catalog_entry_id FROM measurement_condition WHERE id = %1")
            .arg(bias.getId());
    EXPECT_EQ(rowOf(row), QStringList({QString::number(routine().getId()), QString::number(first.getId())}));
    EXPECT_GT(routine().getId(), 0);

    const QString key = bias.getKey();
    bias.setCatalogEntry(&second);
    EXPECT_TRUE(bias.isDirty());
    bias.save();  // stores the new run first
    EXPECT_EQ(rowOf(row).value(1), QString::number(second.getId()));
    EXPECT_EQ(bias.getKey(), key);
    bias.reload();
    EXPECT_EQ(bias.getKey(), DBIF_MeasurementCondition::computeKey("Vg=1.2", &second, routine()));
    EXPECT_TRUE(DBIF_MeasurementCondition::get(connection(), bias.getKey()) == bias);
}

TEST_P(MeasurementTest, DeviceRowsAreMarkedAndSettersDirtyWithoutRekeying) {
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type);
        DBIF_Device nmos = device(entry, type);
        const DBIF_DeviceColumn w = nmos.addColumn("W", "DB", "PHYSICAL");
        for (double width : {1e-6, 2e-6, 5e-6}) {
            nmos.addRow();
            nmos.set(w, QVariant(width));
        }
        nmos.save();
        const QString key = nmos.getKey();
        nmos.setName("M1");
        EXPECT_FALSE(nmos.isDirty());
        nmos.setName("M2");
        EXPECT_TRUE(nmos.isDirty());
        EXPECT_EQ(nmos.getKey(), key);
        nmos.save();
        commit();

        DBIF_Connection other = openSecondConnection();
        DBIF_Device copy = DBIF_Device::get(other, nmos.getId());
        EXPECT_EQ(copy.getName(), QStringLiteral("M2"));
        EXPECT_EQ(copy.getUser(), QStringLiteral("alice"));
        const QString marker = DBIF_DeviceColumn::computeKey(
            DBIF_DeviceColumn::IS_MEASUREMENT_COLUMN_NAME, "TX", DBIF_DeviceColumn::IS_MEASUREMENT_CATEGORY);
        ASSERT_EQ(copy.rowCount(), 3u);
        QStringList markers;
        for (unsigned row = 0; row < 3; ++row)
            markers << copy.getData(marker, row).toString();
        EXPECT_EQ(markers, QStringList({"y", "n", "n"}));
        EXPECT_DOUBLE_EQ(copy.getData(w.getKey(), 2).toDouble(), 5e-6);
        EXPECT_FALSE(copy.mayNeedToAttachSetups());
        EXPECT_TRUE(copy.getSetups().isEmpty());
        emptyEntityCaches();
    }
}

TEST_P(MeasurementTest, IdenticalDeviceOfAnotherConnectionIsFoundNotDuplicated) {
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Device first = device(entry, DBIF_MULTI_TABLE_STORAGE);
    first.addRow();
    first.save();
    commit();

    DBIF_Connection other = openSecondConnection();
    DBIF_CatalogEntry sameRun = DBIF_CatalogEntry::get(other, entry.getId());
    DBIF_Device again = DBIF_Device::get(other, "M1", "nmos", "S1", 2, &sameRun, DBIF_MULTI_TABLE_STORAGE);
    EXPECT_EQ(again.getId(), -1);
    again.addRow();
    again.save();
    EXPECT_EQ(again.getId(), first.getId());
    other.endTransaction();
    commit();
    EXPECT_EQ(countRows("device"), 1);
    EXPECT_EQ(countRows("device_association"), 1);  // the found row's columns are not written twice

    // Another position is another device.
    DBIF_Device moved = DBIF_Device::get(other, "M1", "nmos", "S1", 3, &sameRun, DBIF_MULTI_TABLE_STORAGE);
    moved.save();
    EXPECT_NE(moved.getId(), first.getId());
}

DBIF_DATABASE_TEST_SUITE(MeasurementTest);

}  // namespace
