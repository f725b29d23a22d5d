// Tests of DBIF_CatalogEntry on both drivers: keys and the short parameter block, fields read back by
// a second connection, parents, reload, queries and retrieveValues.
#include <gtest/gtest.h>

#include <QDateTime>
#include <memory>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_ObjectCache.h"

namespace {

const QDateTime START(QDate(2024, 3, 1), QTime(12, 0, 0));

class CatalogEntryTest : public SchemaDatabaseTest {
protected:
    DBIF_CatalogEntry entry(const QString& runType, const QDateTime& start = START,
                            DBIF_StorageEngineType type = DBIF_SPARSE_TABLE_STORAGE) {
        return DBIF_CatalogEntry::get(connection(), "probe's app", "2.1", runType, start, start.addSecs(600),
                                      "alice", type);
    }
};

TEST(CatalogEntryKeyTest, KeyCountsMillisecondsOfTheStartBackwards) {
    const QDateTime whole(QDate(2024, 3, 1), QTime(12, 0, 0));
    const QDateTime later(QDate(2024, 3, 1), QTime(12, 0, 0, 250));
    const qint64 seconds = whole.toSecsSinceEpoch();
    EXPECT_EQ(DBIF_CatalogEntry::startTimeKey(whole), seconds * 1000);
    EXPECT_EQ(DBIF_CatalogEntry::startTimeKey(later), seconds * 1000 - 250);
    EXPECT_EQ(DBIF_CatalogEntry::computeKey("app", "1", "iv", whole),
              QStringLiteral("<ce: app|1|iv|%1>").arg(seconds * 1000));

    const DBIF_CatalogEntry::ParameterBlock block("app", "1", "iv", whole, whole, "bob",
                                                  DBIF_MULTI_TABLE_STORAGE);
    EXPECT_EQ(block.schemaVersion, QStringLiteral("0.1"));
    EXPECT_EQ(block.parentId, DBIF_CatalogEntry::NO_PARENT_ID);
    EXPECT_TRUE(block.modelText.isEmpty());
    EXPECT_FALSE(DBIF_CatalogEntry().isValid());
}

TEST_P(CatalogEntryTest, GetSharesOneRecordPerKeyAndSavesFieldsAndParentsForOthers) {
    DBIF_CatalogEntry first = entry("iv");
    DBIF_CatalogEntry again = DBIF_CatalogEntry::get(connection(), "probe's app", "2.1", "iv", START,
                                                     START.addDays(1), "bob", DBIF_MULTI_TABLE_STORAGE);
    EXPECT_TRUE(first == again);
    EXPECT_EQ(again.getUser(), QStringLiteral("alice"));
    EXPECT_EQ(again.getStorageEngineType(), DBIF_SPARSE_TABLE_STORAGE);
    EXPECT_EQ(first.getId(), -1);
    EXPECT_EQ(countRows("catalog_entry"), 0);  // a lookup never writes
    EXPECT_FALSE(first.hasParent());
    EXPECT_TRUE(first.getParent().isNull());

    first.save();
    ASSERT_GT(first.getId(), 0);
    // A parent is stored by its id and fetched on demand.
    DBIF_CatalogEntry child = entry("iv", START.addSecs(5));
    child.setParentId(first.getId());
    EXPECT_TRUE(child.hasParent());
    EXPECT_TRUE(child.getParent() == first);
    child.save();
    EXPECT_EQ(intOf(QStringLiteral("SELECT parent_id FROM catalog_entry WHERE id = %1").arg(child.getId())),
              first.getId());

    commit();
    DBIF_Connection other = openSecondConnection();
    DBIF_CatalogEntry copy = DBIF_CatalogEntry::get(other, first.getId());
    ASSERT_TRUE(copy.isValid());
    EXPECT_FALSE(copy == first);
    EXPECT_EQ(copy.getKey(), first.getKey());
    EXPECT_EQ(QStringList({copy.getApplication(), copy.getApplicationVersion(), copy.getRunType(),
                           copy.getSchemaVersion(), copy.getUser()}),
              QStringList({"probe's app", "2.1", "iv", "0.1", "alice"}));
    EXPECT_EQ(QList<QDateTime>({copy.getStartTime(), copy.getEndTime()}),
              QList<QDateTime>({START, START.addSecs(600)}));
    EXPECT_EQ(copy.getParentId(), DBIF_CatalogEntry::NO_PARENT_ID);
    EXPECT_EQ(copy.rowCount(), 0u);
    EXPECT_TRUE(DBIF_CatalogEntry::get(other, copy.getKey()) == copy);
    DBIF_CatalogEntry childCopy = DBIF_CatalogEntry::get(other, child.getId());
    EXPECT_EQ(childCopy.getParentId(), first.getId());
    EXPECT_EQ(childCopy.getParent().getKey(), first.getKey());

    // A parent id without a row gives a null parent, reported by the cache, and the holder stays empty.
    child.setParentId(9999);
    std::string reported = stderrOf([&] { EXPECT_TRUE(child.getParent().isNull()); });
    EXPECT_NE(reported.find("the item was not found"), std::string::npos) << reported;
    child.unloadSubordinates();
    EXPECT_TRUE(child.hasParent());  // the id stays
}

TEST_P(CatalogEntryTest, ReloadTakesAnotherConnectionsChangesAndUnloadsTheData) {
    DBIF_CatalogEntry run = entry("iv");
    const DBIF_CatalogEntryColumn vd = run.addColumn("Vd", "DB");
    run.addRow();
    run.set(vd, QVariant(1.0));
    run.save();
    commit();
    {
        DBIF_Connection other = openSecondConnection();
        other.beginTransaction();
        other.query(QStringLiteral("UPDATE catalog_entry SET run_type = 'cv' WHERE id = %1").arg(run.getId()),
                    DBIF_UPDATE_TIMING, __FILE__, __LINE__);
        other.query(
            QStringLiteral("UPDATE catalog_entry_data SET \"VD_2_DB\" = 3 WHERE catalog_entry_id = %1")
                .arg(run.getId()),
            DBIF_UPDATE_TIMING, __FILE__, __LINE__);
        other.endTransaction();
    }
    commit();  // a new snapshot for this connection
    run.reload();
    EXPECT_EQ(run.getRunType(), QStringLiteral("cv"));
    EXPECT_EQ(run.getKey(), DBIF_CatalogEntry::computeKey("probe's app", "2.1", "cv", START));
    EXPECT_TRUE(DBIF_CatalogEntry::get(connection(), run.getKey()) == run);
    EXPECT_EQ(run.rowCount(), 1u);
    EXPECT_DOUBLE_EQ(run.getData(vd, 0).toDouble(), 3.0);
    EXPECT_FALSE(run.isDirty());
}

// After releaseData, rowCount() is what the database holds: rows that were never saved are not
// claimed, on both engines.
TEST_P(CatalogEntryTest, ReleasedDataCountsTheStoredRows) {
    int second = 0;
    for (const DBIF_StorageEngineType type : {DBIF_SPARSE_TABLE_STORAGE, DBIF_MULTI_TABLE_STORAGE}) {
        SCOPED_TRACE(type == DBIF_SPARSE_TABLE_STORAGE ? "sparse" : "multi-table");
        DBIF_CatalogEntry unsaved = entry("new", START.addSecs(++second), type);
        const DBIF_CatalogEntryColumn vd = unsaved.addColumn("Vd", "DB");
        unsaved.addRow();
        unsaved.set(vd, QVariant(1.0));
        unsaved.releaseData();
        EXPECT_EQ(unsaved.rowCount(), 0u);

        DBIF_CatalogEntry run = entry("stored", START.addSecs(++second), type);
        run.addColumn("Vd", "DB");
        for (double v : {1.0, 2.0}) {
            run.addRow();
            run.set(vd, QVariant(v));
        }
        run.save();
        run.addRow();
        run.set(vd, QVariant(3.0));
        EXPECT_EQ(run.rowCount(), 3u);
        run.releaseData();
        EXPECT_EQ(run.rowCount(), 2u);
        EXPECT_DOUBLE_EQ(run.getData(vd, 1).toDouble(), 2.0);
        EXPECT_EQ(run.rowCount(), 2u);
    }
}

TEST_P(CatalogEntryTest, QueryAndRetrieveValuesSelectByCondition) {
    DBIF_CatalogEntry iv = entry("iv");
    DBIF_CatalogEntry cv = entry("cv", START.addSecs(1), DBIF_MULTI_TABLE_STORAGE);
    DBIF_CatalogEntryColumn temperature;
    for (DBIF_CatalogEntry* run : {&iv, &cv}) {
        temperature = run->addColumn("T", "DB");
        run->addRow();
        run->set(temperature, QVariant(run == &iv ? 25.0 : 85.0));
        run->save();
    }
    const QList<DBIF_CatalogEntry> found = DBIF_CatalogEntry::query(
        connection(), DBIF_SingleColumnCondition("catalog_entry", "run_type", Equal, "cv"));
    ASSERT_EQ(found.size(), 1);
    EXPECT_TRUE(found[0] == cv);

    const auto values = [&](const DBIF_QueryCondition* condition) {
        QList<double> numbers;
        for (DBIF_DataType* value :
             DBIF_CatalogEntry::retrieveValues(temperature, DBIF_DESCENDING, condition)) {
            std::unique_ptr<DBIF_DataType> owned(value);
            numbers.append(owned->toString().toDouble());
        }
        return numbers;
    };
    EXPECT_EQ(values(nullptr), QList<double>({85.0, 25.0}));
    const DBIF_SingleColumnCondition onlyIv("catalog_entry", "run_type", Equal, "iv");
    EXPECT_EQ(values(&onlyIv), QList<double>({25.0}));
}

DBIF_DATABASE_TEST_SUITE(CatalogEntryTest);

}  // namespace
