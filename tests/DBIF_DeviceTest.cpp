// Tests of devices on both drivers and both engines: is_measurement rows, setters that mark the device
// dirty without re-keying it, and an identical device found instead of stored twice across connections.
#include <gtest/gtest.h>

#include "CampaignTest.h"

namespace {

using DeviceTest = CampaignTest;

TEST_P(DeviceTest, RowsAreMarkedAndSettersDirtyWithoutRekeying) {
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
        EXPECT_TRUE(QMetaType::fromName("QList<DBIF_Device>").isValid());
        DBIF_ObjectCache<DBIF_Device>::emptyCache();
        DBIF_ObjectCache<DBIF_CatalogEntry>::emptyCache();
    }
}

TEST_P(DeviceTest, IdenticalDeviceOfAnotherConnectionIsFoundNotDuplicated) {
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

DBIF_DATABASE_TEST_SUITE(DeviceTest);

}  // namespace
