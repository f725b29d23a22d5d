// Tests of the storage engines through catalog entries on both drivers: data saved through each engine
// and read back by a second connection, insert-once and update behaviour, lazy loading, the factory and
// the query event.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QRegularExpression>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_ObjectCache.h"

namespace {

using Factory = DBAL_StorageEngineFactory<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;
using Engine = DBAL_StorageEngine<DBIF_CatalogEntry, DBIF_CatalogEntryColumn>;

class StorageEngineTest : public SchemaDatabaseTest {
protected:
    void TearDown() override {
        // Cached entries hold their connections, which must close before the database goes.
        DBIF_ObjectCache<DBIF_CatalogEntry>::emptyCache();
        SchemaDatabaseTest::TearDown();
    }

    DBIF_CatalogEntry newEntry(const QString& application, DBIF_StorageEngineType type) {
        const QDateTime start(QDate(2024, 3, 1), QTime(12, 0, 0));
        return DBIF_CatalogEntry::get(connection(), application, "1.0", "sweep", start, start.addSecs(60),
                                      "alice", type);
    }

    // An entry with a number column and a text column and two rows; the text holds a quote.
    DBIF_CatalogEntry filledEntry(const QString& application, DBIF_StorageEngineType type) {
        DBIF_CatalogEntry entry = newEntry(application, type);
        const DBIF_CatalogEntryColumn vd = entry.addColumn("Vd", "DB");
        const DBIF_CatalogEntryColumn mode = entry.addColumn("Mode", "TX");
        entry.addRow();
        entry.set(vd, QVariant(0.5));
        entry.set(mode, "it's linear");
        entry.addRow();
        entry.set(vd, QVariant(1.5));
        entry.set(mode, "back\\slash");
        return entry;
    }

    // Reads the entry back on a fresh connection and checks columns, lazy row count and cells.
    void expectReadBack(int id, DBIF_StorageEngineType type) {
        commit();
        DBIF_Connection other = openSecondConnection();
        DBIF_CatalogEntry copy = DBIF_CatalogEntry::get(other, id);
        ASSERT_TRUE(copy.isValid());
        EXPECT_EQ(copy.getStorageEngineType(), type);
        EXPECT_EQ(copy.getColumnKeys(), QStringList({"VD_2_DB", "MODE_8_TX"}));
        // The row count comes from a count; the rows themselves only with the first cell read.
        const QStringList loads = statementsOf(other, [&] { EXPECT_EQ(copy.rowCount(), 2u); });
        EXPECT_TRUE(loads.isEmpty()) << loads.join("\n").toStdString();
        EXPECT_DOUBLE_EQ(copy.getData("VD_2_DB", 1).toDouble(), 1.5);
        EXPECT_EQ(copy.getData("MODE_8_TX", 0).toString(), QStringLiteral("it's linear"));
        EXPECT_EQ(copy.getData("MODE_8_TX", 1).toString(), QStringLiteral("back\\slash"));
        EXPECT_FALSE(copy.isDirty());
    }
};

TEST_P(StorageEngineTest, SparseEngineWidensTheBaseTableOnceAndStoresRows) {
    DBIF_CatalogEntry first = newEntry("A", DBIF_SPARSE_TABLE_STORAGE);
    const QStringList alter = statementsOf([&] { first.addColumn("Vd", "DB"); }).filter("ALTER");
    EXPECT_EQ(alter, QStringList("ALTER TABLE catalog_entry_data ADD COLUMN \"VD_2_DB\" DOUBLE"));
    EXPECT_EQ(DBIF_CatalogEntryColumn::get(connection(), "VD_2_DB").getFlags(),
              DBIF_DynamicTableColumn::SPARSE_TABLE_FLAG);
    DBIF_CatalogEntry second = newEntry("B", DBIF_SPARSE_TABLE_STORAGE);
    EXPECT_TRUE(statementsOf([&] { second.addColumn("Vd", "DB"); }).isEmpty());

    DBIF_CatalogEntry entry = filledEntry("C", DBIF_SPARSE_TABLE_STORAGE);
    entry.save();
    ASSERT_GT(entry.getId(), 0);
    const QString owner = QStringLiteral("catalog_entry_id = %1").arg(entry.getId());
    EXPECT_EQ(countRows("catalog_entry_association", owner), 2);
    EXPECT_EQ(countRows("catalog_entry_data", owner), 2);
    EXPECT_EQ(
        intOf(QStringLiteral("SELECT storage_engine FROM catalog_entry WHERE id = %1").arg(entry.getId())),
        1);
    EXPECT_EQ(countRows("catalog_entry_column", "flags = 1"), 2);
    expectReadBack(entry.getId(), DBIF_SPARSE_TABLE_STORAGE);
}

TEST_P(StorageEngineTest, MultiTableEngineStoresEachColumnSetInItsOwnTable) {
    DBIF_CatalogEntry entry = filledEntry("M", DBIF_MULTI_TABLE_STORAGE);
    EXPECT_EQ(DBIF_CatalogEntryColumn::get(connection(), "VD_2_DB").getFlags(),
              DBIF_DynamicTableColumn::MULTI_TABLE_FLAG);
    Engine* engine = Factory::get(DBIF_MULTI_TABLE_STORAGE);
    EXPECT_EQ(engine->dataTableName(connection(), entry.getColumnKeys(), false),
              Engine::tableNameBeforeSave());
    entry.save();
    const QString table = engine->dataTableName(connection(), entry.getColumnKeys(), false);
    EXPECT_TRUE(table.startsWith("catalog_entry_data_")) << table.toStdString();
    EXPECT_EQ(countRows(table, QStringLiteral("catalog_entry_id = %1").arg(entry.getId())), 2);
    EXPECT_EQ(countRows("catalog_entry_data"), 0);
    expectReadBack(entry.getId(), DBIF_MULTI_TABLE_STORAGE);
}

TEST_P(StorageEngineTest, SaveInsertsOnceAndRewritesRowsOnlyWhenDirty) {
    DBIF_CatalogEntry entry = filledEntry("U", DBIF_SPARSE_TABLE_STORAGE);
    entry.save();
    EXPECT_FALSE(entry.isDirty());
    EXPECT_TRUE(statementsOf([&] { entry.save(); }).isEmpty());

    entry.set(DBIF_CatalogEntryColumn::get(connection(), "VD_2_DB"), QVariant(2.5));
    const QStringList update = statementsOf([&] { entry.save(); });
    // One unit of work, outside a host transaction a transaction of its own that commits; the
    // associations and the data rows go back in one bound statement each, traced once.
    ASSERT_EQ(update.size(), 7) << update.join("\n").toStdString();
    EXPECT_EQ(
        update[4].toStdString(),
        "INSERT INTO catalog_entry_association (catalog_entry_id, catalog_entry_column_id) VALUES (?, ?) "
        "-- 2 rows bound");
    EXPECT_EQ(
        update[update.size() - 2].toStdString(),
        "INSERT INTO catalog_entry_data (catalog_entry_id, \"VD_2_DB\", \"MODE_8_TX\") VALUES (?, ?, ?) -- 2 "
        "rows bound");
    EXPECT_EQ(update.first(), isMySql() ? "START TRANSACTION" : "BEGIN IMMEDIATE");
    EXPECT_EQ(update.last(), "COMMIT");
    EXPECT_TRUE(update[1].startsWith("UPDATE catalog_entry SET"));
    const QString id = QString::number(entry.getId());
    EXPECT_EQ(update[2], "DELETE FROM catalog_entry_association WHERE catalog_entry_id = " + id);
    EXPECT_EQ(update[3], "DELETE FROM catalog_entry_data WHERE catalog_entry_id = " + id);
    EXPECT_EQ(countRows("catalog_entry_association", "catalog_entry_id = " + id), 2);
    EXPECT_EQ(countRows("catalog_entry_data", "catalog_entry_id = " + id), 2);
    EXPECT_EQ(intOf("SELECT COUNT(*) FROM catalog_entry_data WHERE \"VD_2_DB\" = 2.5"), 1);
    EXPECT_EQ(countRows("catalog_entry"), 1);
}

TEST_P(StorageEngineTest, ASaveBeyondOnePacketGoesInBatchesBelowIt) {
    if (!isMySql())
        GTEST_SKIP() << "SQLite binds one row at a time";
    // Rows of about 2.3 packets with cells of every kind and width, two-byte letters among them, and
    // missing cells: they go in several bound statements and come back as they were.
    const qint64 limit = connection().getPacketLimit();
    const int rows = static_cast<int>(2.3 * limit / 90);
    DBIF_CatalogEntry entry = newEntry("P", DBIF_SPARSE_TABLE_STORAGE);
    const DBIF_CatalogEntryColumn vd = entry.addColumn("Vd", "DB");
    const DBIF_CatalogEntryColumn note = entry.addColumn("Note", "TX");
    const auto noteOf = [](int row) {
        return row % 11 == 5 ? QString()
                             : QString(row % 13, QChar(0xB5)) + "it's " + QString(20 + row % 40, 'x');
    };
    const auto vdOf = [](int row) {
        return row % 7 == 3 ? QVariant() : QVariant(std::exp(row * 1e-3) * 1e-12);
    };
    for (int row = 0; row < rows; ++row) {
        entry.addRow();
        entry.set(vd, vdOf(row));
        if (!noteOf(row).isNull())
            entry.set(note, noteOf(row));
    }
    const QStringList statements = statementsOf([&] { entry.save(); });
    int bound = 0;
    int batches = 0;
    const QRegularExpression data(
        QStringLiteral("^INSERT INTO catalog_entry_data .* -- (\\d+) rows? bound$"));
    for (const QString& statement : statements) {
        const QRegularExpressionMatch match = data.match(statement);
        if (match.hasMatch()) {
            bound += match.captured(1).toInt();
            ++batches;
        }
    }
    EXPECT_EQ(bound, rows);
    EXPECT_GE(batches, 3);
    emptyEntityCaches();
    DBIF_CatalogEntry read = DBIF_CatalogEntry::get(connection(), entry.getId());
    ASSERT_EQ(static_cast<int>(read.rowCount()), rows);
    for (const int row : {0, 3, 5, 1234, rows - 1}) {
        EXPECT_EQ(read.getData(vd.getKey(), row), vdOf(row)) << row;
        EXPECT_EQ(read.getData(note.getKey(), row).toString(), noteOf(row)) << row;
    }
}

TEST_P(StorageEngineTest, FactoryHandsOutOneEngineOfEachTypeThatAnswersTheQueryEvent) {
    Engine* sparse = Factory::get(DBIF_SPARSE_TABLE_STORAGE);
    EXPECT_EQ(Factory::get(DBIF_SPARSE_TABLE_STORAGE), sparse);
    Engine* multi = Factory::get(static_cast<DBIF_StorageEngineType>(7));
    EXPECT_EQ(multi, Factory::get(DBIF_MULTI_TABLE_STORAGE));
    EXPECT_EQ(sparse->getEngineType(), DBIF_SPARSE_TABLE_STORAGE);
    EXPECT_EQ(multi->getEngineType(), DBIF_MULTI_TABLE_STORAGE);
    // The factory registered each engine's handler once; registering again finds it.
    const int id = DBIF_CatalogEntry::addQueryEventListener(sparse, &Engine::queryHandler);
    EXPECT_EQ(DBIF_CatalogEntry::addQueryEventListener(sparse, &Engine::queryHandler), id);

    DBIF_CatalogEntry entry = newEntry("Q", DBIF_MULTI_TABLE_STORAGE);
    entry.save();
    // A multi-table engine ignores the load of an entry that another engine stored, and vice versa.
    DBIF_CatalogEntry sparseEntry = filledEntry("S", DBIF_SPARSE_TABLE_STORAGE);
    sparseEntry.save();
    EXPECT_TRUE(statementsOf([&] { multi->loadHandler(sparseEntry); }).isEmpty());

    DBIF_QuarnQuery query(connection());
    query.setCondition(DBIF_SingleColumnCondition("catalog_entry", "application", Equal, "Q"));
    QVariant result;
    DBIF_CatalogEntryRecord::queryEvent().notify(&query, result);
    const QList<DBIF_CatalogEntry> found = result.value<QList<DBIF_CatalogEntry>>();
    ASSERT_EQ(found.size(), 1);
    EXPECT_TRUE(found[0] == entry);
    EXPECT_STREQ(result.metaType().name(), "QList<DBIF_CatalogEntry>");
}

// Each case below once crashed or lost stored rows; every one runs on both engines.
class StorageEngineSafetyTest : public StorageEngineTest {
protected:
    const QList<DBIF_StorageEngineType> engines{DBIF_SPARSE_TABLE_STORAGE, DBIF_MULTI_TABLE_STORAGE};
    // The stored entry of that id as a fresh connection reads it.
    DBIF_CatalogEntry readBack(DBIF_Connection& other, int id) {
        commit();
        return DBIF_CatalogEntry::get(other, id);
    }
};

TEST_P(StorageEngineSafetyTest, ColumnsAddedBeforeACacheClearAreSavedWithTheEntry) {
    for (const DBIF_StorageEngineType type : engines) {
        DBIF_CatalogEntry entry = filledEntry(QStringLiteral("clear%1").arg(type), type);
        dbifClearAllCaches();
        entry.save();
        ASSERT_GT(entry.getId(), 0);
        expectReadBack(entry.getId(), type);
    }
}

TEST_P(StorageEngineSafetyTest, AColumnMissingFromTheCatalogIsReportedAndTheRestLoads) {
    for (const DBIF_StorageEngineType type : engines) {
        DBIF_CatalogEntry entry = filledEntry(QStringLiteral("gone%1").arg(type), type);
        entry.save();
        const int modeId = entry.columnFor("MODE_8_TX").getId();
        exec(QStringLiteral("DELETE FROM catalog_entry_column WHERE id = %1").arg(modeId));
        DBIF_Connection other = openSecondConnection();
        DBIF_CatalogEntry copy;
        const Reports reports = reportsOf([&] { copy = readBack(other, entry.getId()); });
        ASSERT_FALSE(reports.empty());
        EXPECT_NE(reports[0].find("the item was not found"), std::string::npos);
        EXPECT_EQ(copy.getColumnKeys(), QStringList("VD_2_DB"));
        // The wide table still answers for the remaining column; a column set's own table is lost with
        // its catalog row.
        if (type == DBIF_SPARSE_TABLE_STORAGE) {
            EXPECT_DOUBLE_EQ(copy.getData("VD_2_DB", 1).toDouble(), 1.5);
        }
        dbifClearAllCaches();  // the other connection's columns, without the deleted one
    }
}

TEST_P(StorageEngineSafetyTest, NewRowsAndColumnsOfAStoredEntryKeepItsStoredRows) {
    for (const DBIF_StorageEngineType type : engines) {
        const int id = [&] {
            DBIF_CatalogEntry entry = filledEntry(QStringLiteral("grow%1").arg(type), type);
            entry.save();
            return entry.getId();
        }();
        DBIF_Connection second = openSecondConnection();
        DBIF_CatalogEntry stored = readBack(second, id);
        ASSERT_FALSE(stored.isNull());
        const QStringList oldKeys = stored.getColumnKeys();
        // Neither the new row nor the new column may be written over the stored rows.
        stored.addRow();
        stored.set(stored.columnFor("VD_2_DB"), QVariant(9.0));
        const DBIF_CatalogEntryColumn id2 = stored.addColumn("Id", "DB");
        stored.set(id2, QVariant(0.25));
        stored.save();
        second.beginTransaction();  // commits what the save left open on MySQL
        second.endTransaction();

        DBIF_Connection third = openSecondConnection();
        DBIF_CatalogEntry copy = DBIF_CatalogEntry::get(third, id);
        ASSERT_EQ(copy.rowCount(), 3u);
        EXPECT_DOUBLE_EQ(copy.getData("VD_2_DB", 0).toDouble(), 0.5);
        EXPECT_DOUBLE_EQ(copy.getData("VD_2_DB", 1).toDouble(), 1.5);
        EXPECT_DOUBLE_EQ(copy.getData("VD_2_DB", 2).toDouble(), 9.0);
        EXPECT_FALSE(copy.getData("ID_2_DB", 0).isValid());
        EXPECT_DOUBLE_EQ(copy.getData("ID_2_DB", 2).toDouble(), 0.25);
        // The rows moved with the column set: none stays behind in the old set's table.
        Engine* engine = Factory::get(type);
        const QString oldTable = engine->dataTableName(connection(), oldKeys, true);
        const QString newTable = engine->dataTableName(connection(), copy.getColumnKeys(), true);
        EXPECT_EQ(countRows(newTable, QStringLiteral("catalog_entry_id = %1").arg(id)), 3);
        if (oldTable != newTable) {
            EXPECT_EQ(countRows(oldTable, QStringLiteral("catalog_entry_id = %1").arg(id)), 0);
        }
        dbifClearAllCaches();
    }
}

TEST_P(StorageEngineSafetyTest, ADataColumnLeftWithoutCatalogRowIsTakenAsThere) {
    // What an addColumn leaves when its save never comes: the schema change without the catalog row.
    exec(QStringLiteral("ALTER TABLE catalog_entry_data ADD COLUMN \"ORPHAN_0_DB\" DOUBLE"));
    DBIF_CatalogEntry entry = newEntry("orphan", DBIF_SPARSE_TABLE_STORAGE);
    const DBIF_CatalogEntryColumn orphan = entry.addColumn("orphan", "DB");
    entry.addRow();
    entry.set(orphan, QVariant(4.5));
    entry.save();
    EXPECT_EQ(countRows("catalog_entry_column", "name = 'orphan' AND flags = 1"), 1);
    EXPECT_EQ(intOf(QStringLiteral("SELECT COUNT(*) FROM catalog_entry_data WHERE \"ORPHAN_0_DB\" = 4.5")),
              1);
}

TEST_P(StorageEngineSafetyTest, AFailedSaveLeavesNothingAndCanBeRepeated) {
    for (const DBIF_StorageEngineType type : engines) {
        connection().beginTransaction();
        DBIF_Die(connection(), "host", "W", "D", "B", "u", -1).save();  // the host's own earlier work
        DBIF_CatalogEntry entry = filledEntry(QStringLiteral("nan%1").arg(type), type);
        const DBIF_CatalogEntryColumn vd = entry.columnFor("VD_2_DB");
        entry.set(vd, QVariant(std::numeric_limits<double>::quiet_NaN()));
        const int associations = countRows("catalog_entry_association");
        EXPECT_THROW(entry.save(), DBIF_Exception);
        EXPECT_EQ(entry.getId(), -1);
        EXPECT_TRUE(entry.isDirty());
        connection().endTransaction();
        EXPECT_EQ(countRows("catalog_entry", QStringLiteral("application = 'nan%1'").arg(type)), 0);
        EXPECT_EQ(countRows("catalog_entry_association"), associations);
        EXPECT_EQ(countRows("die", "lot = 'host'"), 1);
        // The same entry saves once its value can be stored.
        entry.set(vd, QVariant(1.5));
        entry.save();
        expectReadBack(entry.getId(), type);
        exec("DELETE FROM die");
    }
}

DBIF_DATABASE_TEST_SUITE(StorageEngineTest);
DBIF_DATABASE_TEST_SUITE(StorageEngineSafetyTest);

}  // namespace
