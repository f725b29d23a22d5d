// Tests of measurements and measurement conditions on both drivers and both engines: the
// latest-measurement rules, temperature keys, reading a measurement back on a second connection,
// connection mismatches, hostile texts and entity queries joined through the join graph.
#include <gtest/gtest.h>

#include <QMetaType>

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
    EXPECT_TRUE(QMetaType::fromName("QList<DBIF_Measurement>").isValid());
}

TEST_P(MeasurementTest, SecondConnectionReadsMeasurementWithEverythingItNames) {
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type, "dc");
        DBIF_MeasurementCondition bias = condition(entry, type);
        const DBIF_MeasurementConditionColumn vg = bias.addColumn("Vg", "DB", "gate bias");
        bias.addRow();
        bias.set(vg, QVariant(1.2));
        DBIF_Measurement m =
            measurement(die("x"), entry, device(entry, type), bias, -40, type, "MEASURED", 3, 1e-3);
        m.save();
        EXPECT_EQ(m.getUser(), QStringLiteral("alice"));
        EXPECT_FALSE(m.isDirty());
        commit();

        DBIF_Connection other = openSecondConnection();
        DBIF_Measurement copy = DBIF_Measurement::get(other, m.getId());
        ASSERT_TRUE(copy.isValid());
        EXPECT_FALSE(copy == m);
        EXPECT_EQ(copy.getKey(), m.getKey());
        EXPECT_EQ(copy.getTemperature(), -40);
        EXPECT_EQ(copy.getDie().getDie(), QStringLiteral("x"));
        EXPECT_EQ(copy.getDevice().getName(), QStringLiteral("M1"));
        EXPECT_EQ(copy.getMeasurementCondition().getRoutine().getName(), QStringLiteral("IdVdSweep"));
        EXPECT_EQ(copy.getMeasurementCondition().getCatalogEntry()->getKey(), entry.getKey());
        EXPECT_DOUBLE_EQ(copy.getMeasurementCondition().getData(vg.getKey(), 0).toDouble(), 1.2);
        EXPECT_EQ(copy.getCatalogEntry()->getKey(), entry.getKey());
        EXPECT_TRUE(copy.getSetupMap().isEmpty());
        EXPECT_EQ(copy.rowCount(), 3u);
        EXPECT_DOUBLE_EQ(copy.getData(DBIF_MeasurementColumn::computeKey("Id", "DB"), 2).toDouble(), 2.001);
        EXPECT_EQ(copy.getStorageEngineType(), type);
        DBIF_ObjectCache<DBIF_Measurement>::emptyCache();
        DBIF_ObjectCache<DBIF_MeasurementCondition>::emptyCache();
        DBIF_ObjectCache<DBIF_Device>::emptyCache();
        DBIF_ObjectCache<DBIF_CatalogEntry>::emptyCache();
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
    const auto where = [](auto action) {
        try {
            action();
        } catch (const DBIF_ConnectionMismatchException& mismatch) {
            return mismatch.getWhere();
        }
        return QStringLiteral("nothing thrown");
    };
    const QString measurementWhere = "DBIF_Measurement::DBIF_Measurement";
    const QString conditionWhere = "DBIF_MeasurementCondition::DBIF_MeasurementCondition";
    const auto get = [&](const DBIF_Die& d, DBIF_CatalogEntry* e, const DBIF_Device& v,
                         const DBIF_MeasurementCondition& c) {
        return [=] { DBIF_Measurement::get(connection(), d, e, v, c, 25, DBIF_MULTI_TABLE_STORAGE); };
    };
    EXPECT_EQ(where(get(otherChip, &here, nmos, bias)), measurementWhere);
    EXPECT_EQ(where(get(chip, &there, nmos, bias)), measurementWhere);
    EXPECT_EQ(where(get(chip, &here, otherDevice, bias)), measurementWhere);
    EXPECT_EQ(where(get(chip, &here, nmos, otherBias)), measurementWhere);
    EXPECT_EQ(
        where([&] { DBIF_Device::get(connection(), "M9", "n", "S", 1, &there, DBIF_SPARSE_TABLE_STORAGE); }),
        QStringLiteral("DBIF_Device::DBIF_Device"));
    EXPECT_EQ(where([&] {
                  DBIF_MeasurementCondition::get(connection(), "c", &there, routine(),
                                                 DBIF_SPARSE_TABLE_STORAGE);
              }),
              conditionWhere);
    EXPECT_EQ(where([&] {
                  DBIF_MeasurementCondition::get(connection(), "c", &here, otherRoutine,
                                                 DBIF_SPARSE_TABLE_STORAGE);
              }),
              conditionWhere);
    bias.save();
    EXPECT_EQ(where([&] { bias.setCatalogEntry(&there); }),
              QStringLiteral("DBIF_MeasurementCondition::setcatalogEntry"));
    EXPECT_EQ(bias.getCatalogEntry()->getKey(), here.getKey());
    bias.setCatalogEntry(bias.getCatalogEntry());
    EXPECT_FALSE(bias.isDirty());
    EXPECT_EQ(countRows("measurement") + countRows("device"), 0);
}

TEST_P(MeasurementTest, HostileTextsRoundTrip) {
    const QString hostile = "it's \\'%1'); DELETE FROM die; --";
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type, hostile);
        DBIF_MeasurementCondition bias = condition(entry, type, hostile);
        DBIF_Device nmos =
            DBIF_Device::get(connection(), hostile, hostile + "t", hostile + "s", 1, &entry, type);
        const DBIF_DeviceColumn note = nmos.addColumn("Note", "TX", "PHYSICAL");
        nmos.addRow();
        nmos.set(note, hostile);
        DBIF_Measurement m = measurement(die("x"), entry, nmos, bias, 25, type, hostile);
        m.save();
        nmos.setParentSubsiteName(hostile + "2");  // the UPDATE escapes as well
        nmos.save();
        commit();
        EXPECT_EQ(countRows("die"), 1);
        EXPECT_EQ(textOf(QStringLiteral("SELECT mode FROM latest_measurement WHERE measurement_id = %1")
                             .arg(m.getId())),
                  hostile);
        DBIF_Connection other = openSecondConnection();
        const DBIF_Measurement copy = DBIF_Measurement::get(other, m.getId());
        EXPECT_EQ(copy.getMeasurementCondition().getName(), hostile);
        EXPECT_EQ(copy.getDevice().getName(), hostile);
        EXPECT_EQ(copy.getDevice().getParentSubsiteName(), hostile + "2");
        EXPECT_EQ(copy.getDevice().getData(note.getKey(), 0).toString(), hostile);
        EXPECT_EQ(copy.getData(DBIF_MeasurementColumn::computeKey(DBIF_Measurement::DATA_ORIGIN, "TX"), 1)
                      .toString(),
                  hostile);
        DBIF_ObjectCache<DBIF_Measurement>::emptyCache();
        DBIF_ObjectCache<DBIF_MeasurementCondition>::emptyCache();
        DBIF_ObjectCache<DBIF_Device>::emptyCache();
        DBIF_ObjectCache<DBIF_CatalogEntry>::emptyCache();
    }
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

DBIF_DATABASE_TEST_SUITE(MeasurementTest);

}  // namespace
