// Tests of lazy child lists and list slicing on both drivers: ids without loading, loaded items and
// independent copies, item access through the cache (also for an id whose row is gone), field slices
// and data-column slices over entities of several rows.
#include <gtest/gtest.h>

#include <memory>

#include "CampaignTest.h"
#include "CapturedStderr.h"
#include "dbif/DBIF_LazyList.h"
#include "dbif/DBIF_ListSlicer.h"

namespace {

using LazyListTest = CampaignTest;

TEST_P(LazyListTest, IdsStayUnloadedUntilAccessedAndCopiesAreIndependent) {
    DBIF_CatalogEntry entry = run(0, DBIF_MULTI_TABLE_STORAGE);
    QList<DBIF_Measurement> stored;
    for (double temperature : {25.0, 85.0, 125.0}) {
        stored << measurement(die("D1"), entry, device(entry, DBIF_MULTI_TABLE_STORAGE),
                              condition(entry, DBIF_MULTI_TABLE_STORAGE), temperature,
                              DBIF_MULTI_TABLE_STORAGE);
        stored.last().save();
    }
    DBIF_LazyList<DBIF_Measurement> list(connection());
    list.addItems(QStringLiteral("SELECT id FROM measurement ORDER BY id"));
    EXPECT_TRUE(list.loadedItems().isEmpty());
    ASSERT_EQ(list.size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(list.getEntries()[i], qMakePair(false, stored[i].getId()));

    DBIF_LazyList<DBIF_Measurement> copy = list;
    EXPECT_TRUE(copy.at(1) == stored[1]);  // the cached object, not a second one
    EXPECT_TRUE(copy.getEntries()[1].first);
    EXPECT_FALSE(list.getEntries()[1].first);
    EXPECT_EQ(copy.loadedItems().size(), 1);

    DBIF_Measurement fresh =
        measurement(die("D2"), entry, device(entry, DBIF_MULTI_TABLE_STORAGE),
                    condition(entry, DBIF_MULTI_TABLE_STORAGE), 25, DBIF_MULTI_TABLE_STORAGE);
    list.append(fresh);
    fresh.save();
    EXPECT_EQ(list.getEntries().last(), qMakePair(true, -1));
    ASSERT_EQ(list.loadedItems().size(), 1);
    EXPECT_TRUE(list.loadedItems().first() == fresh);
    list.clear();
    EXPECT_EQ(list.size(), 0);
    EXPECT_TRUE(list.loadedItems().isEmpty());

    // A row gone since its id was read is reported and the entry stays unloaded.
    DBIF_LazyList<DBIF_Measurement> stale(connection());
    stale.addItems(QStringLiteral("SELECT %1").arg(stored.last().getId() + 100));
    const Reports reports = reportsOf([&] { EXPECT_TRUE(stale.at(0).isNull()); });
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_FALSE(stale.getEntries()[0].first);
    EXPECT_EQ(reportsOf([&] { EXPECT_TRUE(stale.at(5).isNull()); }).size(), 1u);
}

TEST_P(LazyListTest, SlicesFollowListAndRowOrder) {
    EXPECT_TRUE(sliceCatalogEntryRunTypes({}).isEmpty());
    DBIF_CatalogEntry first = run(0, DBIF_SPARSE_TABLE_STORAGE);
    DBIF_CatalogEntry second =
        DBIF_CatalogEntry::get(connection(), "tester", "1.0", "CV", QDateTime(QDate(2024, 6, 1), QTime(9, 0)),
                               QDateTime(QDate(2024, 6, 1), QTime(10, 0)), "bob", DBIF_SPARSE_TABLE_STORAGE);
    const QList<DBIF_CatalogEntry> entries{second, first};
    EXPECT_EQ(sliceCatalogEntryRunTypes(entries), QStringList({"CV", "IdVd"}));
    EXPECT_EQ(sliceCatalogEntryApplications(entries), QStringList({"tester", "prober"}));
    EXPECT_EQ(sliceCatalogEntryApplicationVersions(entries), QStringList({"1.0", "3.2"}));
    EXPECT_EQ(sliceCatalogEntryStartTimes(entries),
              QList<QDateTime>({second.getStartTime(), first.getStartTime()}));
    EXPECT_EQ(sliceCatalogEntryEndTimes(entries),
              QList<QDateTime>({second.getEndTime(), first.getEndTime()}));
    const QList<DBIF_Die> dies{DBIF_Die::get(connection(), "L2", "W2", "D2", "B2", "bob"), die("D1")};
    EXPECT_EQ(sliceDieLots(dies), QStringList({"L2", "LOT7"}));
    EXPECT_EQ(sliceDieWafers(dies), QStringList({"W2", "W01"}));
    EXPECT_EQ(sliceDieDies(dies), QStringList({"D2", "D1"}));
    EXPECT_EQ(sliceDieBlocks(dies), QStringList({"B2", "B"}));
    EXPECT_EQ(sliceRoutineNames({routine()}), QStringList({"IdVdSweep"}));

    for (const DBIF_StorageEngineType type : ENGINES) {
        SCOPED_TRACE(type);
        QList<DBIF_Device> devices;
        DBIF_DeviceColumn width;
        double value = 0;
        for (int rows : {2, 3}) {
            DBIF_Device d = device(first, type, QStringLiteral("M%1_%2").arg(rows).arg(type));
            width = d.addColumn("W", "DB", "PHYSICAL");
            for (int row = 0; row < rows; ++row) {
                d.addRow();
                d.set(width, QVariant(++value));
            }
            d.save();
            devices << d;
        }
        // Once stored and released, the rows come back through the engine.
        devices.last().reload();
        QStringList values;
        for (DBIF_DataType* element : sliceDynamicColumn(devices, &width)) {
            const std::unique_ptr<DBIF_DataType> owned(element);
            values << (owned ? owned->toString() : QStringLiteral("null"));
        }
        EXPECT_EQ(values, QStringList({"1", "2", "3", "4", "5"}));
    }
    EXPECT_EQ(
        reportsOf([] {
            EXPECT_TRUE(
                sliceDynamicColumn(QList<DBIF_Setup>(), static_cast<DBIF_SetupColumn*>(nullptr)).isEmpty());
        }).size(),
        1u);
}

DBIF_DATABASE_TEST_SUITE(LazyListTest);

}  // namespace
