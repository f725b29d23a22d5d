// Tests of setups on both drivers and both engines: headers and owners read back on a second
// connection, the latest-setup record of measurement- and run-owned setups, the misuse reports, and the
// query event before and after a setup engine exists in the process.
#include <gtest/gtest.h>

#include <QMetaType>

#include "CampaignTest.h"
#include "CapturedStderr.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

using SetupTest = CampaignTest;

TEST_P(SetupTest, HeadersDataAndOwnersReadBack) {
    const QString hostile = "Vd [V] it's \\ %1; DROP TABLE setup";
    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        DBIF_CatalogEntry entry = run(type, type);
        DBIF_Measurement m =
            measurement(die("x"), entry, device(entry, type), condition(entry, type), 25, type);
        m.save();
        DBIF_Setup setup =
            DBIF_Setup::get(connection(), hostile, "/sweeps/" + hostile, "IdVd", "MEASURED", &m, type);
        EXPECT_TRUE(setup.getMeasurement() && *setup.getMeasurement() == m);
        const DBIF_SetupColumn vd = setup.addColumn("Vd", "DB", true, hostile);
        setup.addRow();
        setup.set(vd, QVariant(1.5));
        setup.save();
        EXPECT_EQ(setup.getUser(), QStringLiteral("alice"));
        exec(QStringLiteral("INSERT INTO measurement_setup (measurement_id, setup_id) VALUES (%1, %2)")
                 .arg(m.getId())
                 .arg(setup.getId()));
        commit();

        DBIF_Connection other = openSecondConnection();
        DBIF_Setup copy = DBIF_Setup::get(other, setup.getId());
        EXPECT_EQ(copy.getKey(), setup.getKey());
        EXPECT_EQ(copy.getName(), hostile);
        EXPECT_EQ(copy.getPath(), "/sweeps/" + hostile);
        EXPECT_EQ(copy.getQuarnHeader(vd.getKey()), hostile);
        EXPECT_DOUBLE_EQ(copy.getData(vd.getKey(), 0).toDouble(), 1.5);
        ASSERT_NE(copy.getMeasurement(), nullptr);
        EXPECT_EQ(copy.getMeasurement()->getId(), m.getId());
        EXPECT_EQ(copy.getCatalogEntry()->getKey(), entry.getKey());
        EXPECT_EQ(copy.getStorageEngineType(), type);

        copy.unloadSubordinates();
        EXPECT_EQ(copy.getMeasurement(), nullptr);
        const Reports reports = reportsOf([&] {
            EXPECT_EQ(copy.getCatalogEntry(), nullptr);
            EXPECT_TRUE(copy.getQuarnHeader("NO_SUCH_KEY").isEmpty());
        });
        EXPECT_EQ(reports, Reports({"Setup has neither catalog entry nor measurement",
                                    "Can't get quarnHeader: the setup doesn't have a column 'NO_SUCH_KEY'"}));
        emptyEntityCaches();
    }
}

TEST_P(SetupTest, LatestSetupFollowsPathAndMeasurementContext) {
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE, "dc");
    DBIF_Device nmos = device(entry, DBIF_MULTI_TABLE_STORAGE);
    DBIF_MeasurementCondition bias = condition(entry, DBIF_MULTI_TABLE_STORAGE);
    DBIF_Measurement first =
        measurement(die("x"), entry, nmos, bias, 85, DBIF_MULTI_TABLE_STORAGE, "SIMULATED");
    DBIF_Setup owned =
        DBIF_Setup::get(connection(), "smu", "/smu", "IdVd", "MEASURED", &first, DBIF_MULTI_TABLE_STORAGE);
    owned.save();
    owned.save();
    const QString row =
        "SELECT setup_id, die_id, device_type, device_parent_subsite_name, "
        "device_position_within_subsite, measurement_condition_name, measurement_temperature, "
        "routine_name, data_origin, mode FROM latest_setup WHERE path = ";
    EXPECT_EQ(rowOf(row + "'/smu'"),
              QStringList({QString::number(owned.getId()), QString::number(first.getDie().getId()), "nmos",
                           "S1", "2", "Vg=1.2", "85", "IdVdSweep", "SIMULATED", "dc"}));
    // The same path under a measurement of the same context takes the row over.
    DBIF_Measurement second = measurement(die("x"), run(1, DBIF_MULTI_TABLE_STORAGE, "dc"), nmos, bias, 85,
                                          DBIF_MULTI_TABLE_STORAGE, "SIMULATED");
    DBIF_Setup successor =
        DBIF_Setup::get(connection(), "smu", "/smu", "IdVd", "", &second, DBIF_MULTI_TABLE_STORAGE);
    successor.save();
    EXPECT_EQ(ids("SELECT setup_id FROM latest_setup"), QList<int>({successor.getId()}));

    // A run's setup has no measurement context; its data origin stays empty.
    DBIF_Setup ofRun =
        DBIF_Setup::get(connection(), "cfg", "/cfg", "IdVd", "MEASURED", &entry, DBIF_MULTI_TABLE_STORAGE);
    ofRun.save();
    EXPECT_EQ(rowOf(row + "'/cfg'").mid(1).join('|'), QStringLiteral("-1|||-1||-1|||"));
    EXPECT_EQ(ofRun.getUser(), QStringLiteral("alice"));
    EXPECT_NE(
        ofRun.getKey(),
        DBIF_Setup::get(connection(), "cfg", "/cfg", "IdVd", "", &entry, DBIF_SPARSE_TABLE_STORAGE).getKey());
    EXPECT_TRUE(QMetaType::fromName("QList<DBIF_Setup>").isValid());
}

// In a fresh process (the death test re-runs the binary), nothing answers a setup query until a setup
// exists; then the same query finds the stored rows.
TEST_P(SetupTest, QueryIsAnsweredOnceASetupEngineExists) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    exec(
        "INSERT INTO setup (name, path, run_type, data_origin, storage_engine) VALUES ('stored', '/s', 'r', "
        "'', 2)");
    commit();
    EXPECT_EXIT(
        {
            const DBIF_SingleColumnCondition byName(DBIF_Setup::MASTER_TABLE_NAME, "name", Equal, "stored");
            const bool emptyBefore = DBIF_Setup::query(connection(), byName).isEmpty();
            DBIF_Setup::get(connection(), "new", "/n", "r", "", static_cast<DBIF_CatalogEntry*>(nullptr),
                            DBIF_MULTI_TABLE_STORAGE);
            const QList<DBIF_Setup> after = DBIF_Setup::query(connection(), byName);
            std::_Exit(emptyBefore && after.size() == 1 && after[0].getPath() == "/s" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

DBIF_DATABASE_TEST_SUITE(SetupTest);

}  // namespace
