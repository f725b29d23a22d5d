// Tests of the links from owners to their children on both drivers and both engines: a run's child
// lists and catalog_setup rows, a device's device_setup rows with their data rows, a measurement's
// measurement_setup rows, children of another connection, and links to rows that are gone.
#include <gtest/gtest.h>

#include <algorithm>

#include "CampaignTest.h"
#include "CapturedStderr.h"

namespace {

using EntityLinksTest = CampaignTest;
using Entries = QList<QPair<bool, int>>;

// The statements of a trace that touch the table.
QStringList touching(const QStringList& statements, const QString& table) {
    return statements.filter(table);
}

TEST_P(EntityLinksTest, RunListsAndSavesItsChildren) {
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type);
        DBIF_MeasurementCondition vg = condition(entry, type);
        DBIF_Measurement m = measurement(die("D1"), entry, device(entry, type), vg, 25, type);
        for (const QString name : {"smu", "station"})
            DBIF_Setup::get(connection(), name, "/" + name, "IdVd", "MEASURED", &entry, type);
        entry.save();

        // Changing a copy leaves the run's lists as they were; adding to the run changes them.
        entry.getMeasurements().append(m);
        EXPECT_EQ(entry.getMeasurements().size(), 0);
        entry.addMeasurement(m);
        entry.addMeasurementCondition(vg);
        EXPECT_TRUE(entry.isDirty());
        ASSERT_EQ(entry.getMeasurements().size(), 1);
        EXPECT_TRUE(entry.getMeasurements().loadedItems().first() == m);
        EXPECT_EQ(entry.getMeasurements().getEntries().first(), qMakePair(true, -1));

        const QString links = QStringLiteral("catalog_entry_id = %1").arg(entry.getId());
        EXPECT_EQ(countRows("catalog_setup", links), 2);
        const QStringList again = statementsOf([&] { entry.save(); });
        EXPECT_TRUE(touching(again, "catalog_setup").isEmpty()) << again.join("\n").toStdString();
        EXPECT_EQ(countRows("catalog_setup", links), 2);
        EXPECT_NE(m.getId(), -1);  // saved by the run
        commit();

        // Read back: the ids only, nothing of the children built.
        DBIF_Connection other = openSecondConnection();
        const QString measurementKey = m.getKey();
        DBIF_CatalogEntry copy = DBIF_CatalogEntry::get(other, entry.getId());
        EXPECT_EQ(copy.getMeasurements().getEntries(), (Entries{{false, m.getId()}}));
        EXPECT_EQ(copy.getMeasurementConditions().getEntries(), (Entries{{false, vg.getId()}}));
        EXPECT_EQ(copy.getSetups().size(), 2);
        EXPECT_TRUE(copy.getSetups().loadedItems().isEmpty());
        EXPECT_FALSE(
            DBIF_ObjectCache<DBIF_Measurement>::connectionToKeyToObjectMap.value(other.getObjectCacheKey())
                .contains(measurementKey));
        DBIF_LazyList<DBIF_Setup> setups = copy.getSetups();
        EXPECT_EQ(QStringList({setups.at(0).getName(), setups.at(1).getName()}),
                  QStringList({"smu", "station"}));
        copy.unloadSubordinates();
        EXPECT_EQ(copy.getSetups().size() + copy.getMeasurements().size(), 0);
        emptyEntityCaches();
    }
}

TEST_P(EntityLinksTest, DeviceRewritesItsSetupRowsOnlyAfterAddSetup) {
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type);
        DBIF_Device first = device(entry, type, "M1");
        DBIF_Device second = device(entry, type, "M2");
        DBIF_Setup probe = DBIF_Setup::get(connection(), "probe", "/probe", "IdVd", "MEASURED", &entry, type);
        DBIF_Setup smu = DBIF_Setup::get(connection(), "smu", "/smu", "IdVd", "MEASURED", &entry, type);
        first.addSetup(probe, 1);
        first.addSetup(smu, 0);
        second.addSetup(probe, 2);  // the row given last is the setup's row everywhere
        EXPECT_TRUE(first.mayNeedToAttachSetups());
        first.save();
        second.save();
        EXPECT_FALSE(first.mayNeedToAttachSetups());
        // Exactly the rows given last.
        const auto rows = [&](const DBIF_Device& d, const QString& more) {
            return countRows("device_setup", QStringLiteral("device_id = %1%2").arg(d.getId()).arg(more));
        };
        const auto row = [](const DBIF_Setup& s, int dataRow) {
            return QStringLiteral(" AND setup_id = %1 AND device_data_row = %2").arg(s.getId()).arg(dataRow);
        };
        EXPECT_EQ(QList<int>({rows(first, ""), rows(first, row(probe, 2)), rows(first, row(smu, 0)),
                              rows(second, ""), rows(second, row(probe, 2))}),
                  QList<int>({2, 1, 1, 1, 1}));
        EXPECT_TRUE(touching(statementsOf([&] { first.save(); }), "device_setup").isEmpty());
        first.addSetup(smu, 3);
        const QStringList rewrite = touching(statementsOf([&] { first.save(); }), "device_setup");
        EXPECT_EQ(rewrite.size(), 4) << rewrite.join("\n").toStdString();  // one DELETE, three INSERTs
        EXPECT_EQ(rows(first, ""), 3);
        // The devices saved the run's setups first; the run's save still links them, once.
        entry.save();
        entry.save();
        EXPECT_EQ(countRows("catalog_setup", QStringLiteral("catalog_entry_id = %1").arg(entry.getId())), 2);
        commit();

        // Read back, the device lists its setups with their data rows, and each setup finds its run.
        DBIF_Connection other = openSecondConnection();
        const DBIF_Device copy = DBIF_Device::get(other, second.getId());
        ASSERT_EQ(copy.getSetups().size(), 1);
        EXPECT_EQ(copy.getSetups().first().getId(), probe.getId());
        EXPECT_EQ(copy.getSetups().first().getAssociatedDeviceDataRow(), 2);
        EXPECT_EQ(copy.getSetups().first().getCatalogEntry()->getId(), entry.getId());
        emptyEntityCaches();
    }
}

TEST_P(EntityLinksTest, MeasurementLinksSetupsOnceAndKeepsRemovedLinks) {
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type);
        DBIF_Measurement m =
            measurement(die("D1"), entry, device(entry, type), condition(entry, type), 25, type);
        DBIF_Setup smu = DBIF_Setup::get(connection(), "smu", "/smu", "IdVd", "MEASURED", &m, type);
        DBIF_Setup probe = DBIF_Setup::get(connection(), "probe", "/probe", "IdVd", "MEASURED", &m, type);
        m.addSetup(smu);
        m.save();
        EXPECT_FALSE(m.mayNeedToAttachSetup());
        const QStringList quiet = statementsOf([&] { m.save(); });
        EXPECT_TRUE(touching(quiet, "measurement_setup").isEmpty()) << quiet.join("\n").toStdString();
        m.addSetup(smu);
        m.addSetup(probe);
        const QStringList linking = touching(statementsOf([&] { m.save(); }), "measurement_setup");
        EXPECT_EQ(linking.filter("INSERT").size(), 1) << linking.join("\n").toStdString();
        EXPECT_EQ(linking.filter("count(*)").size(), 2);
        const QString links = QStringLiteral("measurement_id = %1").arg(m.getId());
        EXPECT_EQ(countRows("measurement_setup", links), 2);

        m.removeSetup(smu);
        m.save();
        EXPECT_EQ(m.getSetupMap().keys(), QStringList({"/probe"}));
        EXPECT_EQ(countRows("measurement_setup", links), 2);
        QStringList paths{"given"};
        m.getSetupPaths(paths);
        std::sort(paths.begin() + 1, paths.end());
        EXPECT_EQ(paths, QStringList({"given", "/probe", "/smu"}));
        commit();

        DBIF_Connection other = openSecondConnection();
        const DBIF_Measurement copy = DBIF_Measurement::get(other, m.getId());
        EXPECT_EQ(copy.getSetupMap().keys(), QStringList({"/probe", "/smu"}));
        // The setup built while the measurement was read names that very measurement.
        ASSERT_NE(copy.getSetupMap().value("/smu").getMeasurement(), nullptr);
        EXPECT_TRUE(*copy.getSetupMap().value("/smu").getMeasurement() == copy);
        emptyEntityCaches();
    }
}

TEST_P(EntityLinksTest, RolledBackSaveOwesItsLinksAgain) {
    // Sparse columns are defined when added: the save itself sends no DDL, which MySQL would commit.
    const DBIF_StorageEngineType type = DBIF_SPARSE_TABLE_STORAGE;
    DBIF_CatalogEntry entry = run(0, type);
    DBIF_Measurement m = measurement(die("D1"), entry, device(entry, type), condition(entry, type), 25, type);
    m.addSetup(DBIF_Setup::get(connection(), "smu", "/smu", "IdVd", "MEASURED", &m, type));
    commit();
    // The latest-measurement record comes after the links, so the save fails with them written.
    exec("DROP TABLE latest_measurement");
    EXPECT_THROW(m.save(), DBIF_Exception);
    EXPECT_TRUE(m.mayNeedToAttachSetup());
    EXPECT_EQ(m.getId(), -1);
    EXPECT_EQ(countRows("measurement_setup"), 0);
}

TEST_P(EntityLinksTest, BadLinksThrowOrAreSkipped) {
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Device d = device(entry, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Measurement m = measurement(die("D1"), entry, d, condition(entry, DBIF_MULTI_TABLE_STORAGE), 25,
                                     DBIF_MULTI_TABLE_STORAGE);
    m.save();
    commit();

    // Children of another connection: thrown before anything changes.
    DBIF_Connection other = openSecondConnection();
    building = &other;
    DBIF_CatalogEntry otherRun = run(5, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Measurement foreign =
        measurement(die("D9"), otherRun, device(otherRun, DBIF_MULTI_TABLE_STORAGE),
                    condition(otherRun, DBIF_MULTI_TABLE_STORAGE), 25, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Setup foreignSetup =
        DBIF_Setup::get(other, "smu", "/smu", "IdVd", "MEASURED", &otherRun, DBIF_MULTI_TABLE_STORAGE);
    building = nullptr;
    EXPECT_EQ(mismatchWhere([&] { entry.addMeasurement(foreign); }), "DBIF_CatalogEntry::addMeasurement");
    EXPECT_EQ(mismatchWhere([&] { entry.addMeasurementCondition(foreign.getMeasurementCondition()); }),
              "DBIF_CatalogEntry::addMeasurementCondition");
    EXPECT_EQ(mismatchWhere([&] { d.addSetup(foreignSetup, 1); }), "DBIF_Device::addSetup");
    EXPECT_EQ(mismatchWhere([&] { m.addSetup(foreignSetup); }), "DBIF_Measurement::addSetup");
    EXPECT_FALSE(entry.isDirty() || d.mayNeedToAttachSetups() || m.mayNeedToAttachSetup());
    EXPECT_EQ(entry.getMeasurements().size() + d.getSetups().size() + m.getSetupMap().size(), 0);
    EXPECT_EQ(foreignSetup.getAssociatedDeviceDataRow(), DBIF_Setup::NO_ASSOCIATED_DEVICE);

    // Links to setup rows that are gone: reported once each and left out.
    exec(
        QStringLiteral("INSERT INTO device_setup (device_id, setup_id, device_data_row) VALUES (%1, 9998, 0)")
            .arg(d.getId()));
    exec(QStringLiteral("INSERT INTO measurement_setup (measurement_id, setup_id) VALUES (%1, 9999)")
             .arg(m.getId()));
    exec(QStringLiteral("INSERT INTO catalog_setup (catalog_entry_id, setup_id) VALUES (%1, 9999)")
             .arg(entry.getId()));
    commit();
    DBIF_Connection third = openSecondConnection();
    const Reports reports = reportsOf([&] {
        EXPECT_TRUE(DBIF_Device::get(third, d.getId()).getSetups().isEmpty());
        EXPECT_TRUE(DBIF_Measurement::get(third, m.getId()).getSetupMap().isEmpty());
        DBIF_LazyList<DBIF_Setup> setups = DBIF_CatalogEntry::get(third, entry.getId()).getSetups();
        ASSERT_EQ(setups.size(), 1);
        EXPECT_TRUE(setups.at(0).isNull());
    });
    // One each from the device and the run's list; the measurement's join finds no row of a gone setup.
    EXPECT_EQ(reports.size(), 2u);
}

DBIF_DATABASE_TEST_SUITE(EntityLinksTest);

}  // namespace
