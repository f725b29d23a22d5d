// Tests of DBIF_Die and DBIF_Routine and the object cache they run through, on both drivers: one
// record per key and connection, insert/update-once, lookups, reload under a new key, and removal.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <numeric>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_Routine.h"

namespace {

class DieTest : public SchemaDatabaseTest {
protected:
    // Every statement the test's connection has sent, of any kind.
    int statements() {
        const QList<int> counts = connection().getCounts();
        return std::accumulate(counts.begin(), counts.end(), 0);
    }
};

TEST_P(DieTest, GetReturnsOneRecordPerKeyAndConnection) {
    DBIF_Connection& db = connection();
    DBIF_Die first = DBIF_Die::get(db, "L1", "W1", "D1", "B1", "alice");
    DBIF_Die again = DBIF_Die::get(db, "L1", "W1", "D1", "B1", "bob");
    EXPECT_TRUE(first == again);
    EXPECT_EQ(again.getUser(), QStringLiteral("alice"));  // the user is not part of the key
    EXPECT_EQ(first.getKey(), QStringLiteral("<die: L1|W1|D1|B1>"));
    EXPECT_EQ(first.getKey(), DBIF_Die::computeKey("L1", "W1", "D1", "B1", "anyone"));
    EXPECT_EQ(first.getId(), -1);
    EXPECT_TRUE(first.isModified());
    EXPECT_TRUE(first.isCached());

    DBIF_Connection other = openSecondConnection();
    DBIF_Die elsewhere = DBIF_Die::get(other, "L1", "W1", "D1", "B1", "alice");
    EXPECT_TRUE(elsewhere != first);

    // A change through one handle is seen through every handle of the row.
    first.setModifiedTimeToNow();
    EXPECT_EQ(again.getModifiedTime(), first.getModifiedTime());

    // A routine's key separates definitions, but not users.
    DBIF_Routine sweep = DBIF_Routine::get(db, "sweep", "for v in range: measure(v)", "alice");
    DBIF_Routine sameDefinition = DBIF_Routine::get(db, "sweep", "for v in range: measure(v)", "bob");
    DBIF_Routine otherDefinition = DBIF_Routine::get(db, "sweep", "measure(0)", "alice");
    EXPECT_TRUE(sweep == sameDefinition);
    EXPECT_EQ(sameDefinition.getUser(), QStringLiteral("alice"));
    EXPECT_TRUE(sweep != otherDefinition);
    EXPECT_NE(sweep.getKey(), otherDefinition.getKey());
    EXPECT_EQ(sweep.getKey(), QStringLiteral("<r: sweep|%1>").arg(hash("for v in range: measure(v)")));
    EXPECT_EQ(sweep.getKey(), DBIF_Routine::computeKey("sweep", "for v in range: measure(v)"));
    EXPECT_EQ(sweep.getId(), -1);
    EXPECT_TRUE(sweep.isCached());
}

TEST_P(DieTest, SaveInsertsOnceThenUpdatesOnceThenNothingAndAFailedSaveCanBeRepeated) {
    DBIF_Connection& db = connection();
    DBIF_Die die = DBIF_Die::get(db, "L1", "W1", "D1", "B1", "alice");
    const QList<int> before = db.getCounts();
    die.save();
    const QList<int> afterInsert = db.getCounts();
    // The INSERT, in a transaction of its own (begin, commit): there is no host transaction.
    EXPECT_EQ(afterInsert[DBIF_UPDATE_TIMING] - before[DBIF_UPDATE_TIMING], 3);
    EXPECT_EQ(afterInsert[DBIF_QUERY_TIMING], before[DBIF_QUERY_TIMING]);
    EXPECT_GT(die.getId(), 0);
    EXPECT_EQ(die.getId(), intOf("SELECT id FROM die WHERE lot = 'L1'"));
    EXPECT_TRUE(die.isModified());

    const int beforeUpdate = db.getCounts()[DBIF_QUERY_TIMING];
    die.saveSelf();
    EXPECT_EQ(db.getCounts()[DBIF_QUERY_TIMING] - beforeUpdate, 1);  // the UPDATE
    EXPECT_FALSE(die.isModified());

    const int beforeNothing = statements();
    die.save();
    EXPECT_EQ(statements(), beforeNothing);
    EXPECT_EQ(countRows("die"), 1);
    EXPECT_EQ(
        countRows("die", "lot = 'L1' AND wafer = 'W1' AND die = 'D1' AND block = 'B1' AND user = 'alice'"),
        1);

    // A failing save keeps the id and the flag, and can be repeated: the saving guard was released.
    DBIF_Die failing = DBIF_Die::get(db, "O'Brien", "W1", "D1", "B1", "alice");
    exec(QStringLiteral("DROP TABLE die"));
    EXPECT_THROW(failing.save(), DBIF_Exception);
    EXPECT_EQ(failing.getId(), -1);
    EXPECT_TRUE(failing.isModified());
    EXPECT_THROW(failing.save(), DBIF_Exception);
}

TEST_P(DieTest, LookupsByIdAndKey) {
    DBIF_Connection& db = connection();
    exec(
        "INSERT INTO die (lot, wafer, die, block, modified_time, user) VALUES ('L', 'W', 'D', 'B', "
        "'2024-01-02 03:04:05', 'carol')");
    const int id = db.getLastId();

    // The first lookup reads the whole table once; later lookups run nothing.
    const int before = statements();
    DBIF_Die stored = DBIF_Die::get(db, id);
    ASSERT_FALSE(stored.isNull());
    EXPECT_EQ(statements() - before, 1);
    EXPECT_EQ(stored.getUser(), QStringLiteral("carol"));
    EXPECT_EQ(stored.getModifiedTime(), QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)));
    EXPECT_FALSE(stored.isModified());
    EXPECT_TRUE(DBIF_Die::get(db, stored.getKey()) == stored);
    EXPECT_TRUE(DBIF_Die::get(db, "L", "W", "D", "B", "x") == stored);
    EXPECT_EQ(statements() - before, 1);

    // A new die clears the id index; the rebuild leaves the unsaved die out.
    DBIF_Die fresh = DBIF_Die::get(db, "L", "W", "D", "B2", "x");
    EXPECT_TRUE(DBIF_Die::get(db, id) == stored);
    EXPECT_FALSE(DBIF_Die::getObjectCache().connectionToIdToObjectMap[db.getObjectCacheKey()].contains(-1));

    // A missing key reports and gives a null handle, without a query.
    const int beforeMiss = statements();
    EXPECT_EQ(reportsOf([&] {
                  EXPECT_TRUE(DBIF_Die::get(db, QStringLiteral("<die: no|such|die|here>")).isNull());
              }),
              Reports{"Couldn't find object with key <die: no|such|die|here>"});
    EXPECT_EQ(statements(), beforeMiss);

    // A missing id reports the statement once and is remembered as a null handle.
    EXPECT_EQ(reportsOf([&] { EXPECT_TRUE(DBIF_Die::get(db, 9999).isNull()); }),
              Reports{"DBIF_ObjectCache::load while loading an item by id, the item was not found:\n  SELECT "
                      "lot, wafer, die, block, modified_time, user, id FROM die WHERE id = 9999"});
    const int beforeSecond = statements();
    EXPECT_EQ(stderrOf([&] { EXPECT_TRUE(DBIF_Die::get(db, 9999).isNull()); }), "");
    EXPECT_EQ(statements(), beforeSecond);
}

TEST_P(DieTest, ReloadMovesTheRecordToItsNewKey) {
    DBIF_Connection& db = connection();
    DBIF_Die die = DBIF_Die::get(db, "L1", "W1", "D1", "B1", "alice");
    die.save();
    commit();

    DBIF_Connection other = openSecondConnection();
    other.query(QStringLiteral("UPDATE die SET lot = 'L9' WHERE id = %1").arg(die.getId()),
                DBIF_UPDATE_TIMING, __FILE__, __LINE__);
    commit(other);

    const DBIF_Die handle = die;
    die.reload();
    EXPECT_EQ(handle.getLot(), QStringLiteral("L9"));
    EXPECT_EQ(handle.getKey(), QStringLiteral("<die: L9|W1|D1|B1>"));
    EXPECT_TRUE(DBIF_Die::get(db, QStringLiteral("<die: L9|W1|D1|B1>")) == die);
    EXPECT_FALSE(DBIF_Die::getObjectCache().contains(db, QStringLiteral("<die: L1|W1|D1|B1>")));

    // A routine's key follows its stored definition.
    DBIF_Routine routine = DBIF_Routine::get(db, "r", "old", "alice");
    routine.save();
    db.preparedQuery(QStringLiteral("UPDATE routine SET definition = ? WHERE id = %1").arg(routine.getId()),
                     DBIF_UPDATE_TIMING, QStringLiteral("new"), __FILE__, __LINE__);
    routine.reload();
    EXPECT_EQ(routine.getKey(), DBIF_Routine::computeKey("r", "new"));
    EXPECT_TRUE(DBIF_Routine::get(db, DBIF_Routine::computeKey("r", "new")) == routine);
    EXPECT_FALSE(DBIF_Routine::getObjectCache().contains(db, DBIF_Routine::computeKey("r", "old")));
}

TEST_P(DieTest, RemoveAndClearDropOnlyTheCachesHandles) {
    DBIF_Connection& db = connection();
    DBIF_Die kept = DBIF_Die::get(db, "L1", "W1", "D1", "B0", "alice");
    DBIF_Die die = DBIF_Die::get(db, "L1", "W1", "D1", "B1", "alice");
    kept.save();
    die.save();
    die.removeFromCache();
    EXPECT_FALSE(die.isCached());
    EXPECT_TRUE(kept.isCached());
    EXPECT_EQ(die.getLot(), QStringLiteral("L1"));  // the handle keeps its record

    // A lookup by id reads the row again: a new record for the same row.
    DBIF_Die again = DBIF_Die::get(db, die.getId());
    EXPECT_TRUE(again != die);
    EXPECT_EQ(again.getKey(), die.getKey());
    EXPECT_TRUE(again.isCached());

    DBIF_Die::clearCache();
    EXPECT_TRUE(DBIF_Die::getObjectCache().connectionToKeyToObjectMap.isEmpty());
    EXPECT_EQ(again.getId(), die.getId());
    // An emptied cache of a kind cached whole is filled from the table on the next lookup.
    EXPECT_TRUE(DBIF_Die::get(db, kept.getKey()) != kept);
    EXPECT_TRUE(kept.isCached());
}

// One record per row, also in the two sequences that follow the cache's steps literally: a new
// object saved after the id index was rebuilt without it, and a kept handle reloaded into an
// emptied cache of a kind read whole.
TEST_P(DieTest, NeverTwoRecordsForOneRowNorAMissedRow) {
    DBIF_Connection& db = connection();
    DBIF_Die stored = DBIF_Die::get(db, "L", "W", "D", "B1", "alice");
    DBIF_Die other = DBIF_Die::get(db, "L", "W", "D", "B2", "alice");
    stored.save();
    other.save();

    DBIF_Die fresh = DBIF_Die::get(db, "L", "W", "D", "B3", "alice");
    EXPECT_TRUE(DBIF_Die::get(db, stored.getId()) == stored);  // rebuilds the id index without fresh
    fresh.save();
    EXPECT_TRUE(DBIF_Die::get(db, fresh.getId()) == fresh);
    // The same sequence on a column kind, which the multi-table registry looks up by id.
    DBIF_MeasurementColumn first = DBIF_MeasurementColumn::get(db, "first", "DB", 0);
    first.save();
    DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(db, "fresh", "DB", 0);
    EXPECT_TRUE(DBIF_MeasurementColumn::get(db, first.getId()) == first);
    column.save();
    EXPECT_TRUE(DBIF_MeasurementColumn::get(db, column.getId()) == column);

    dbifClearAllCaches();
    stored.reload();
    EXPECT_EQ(reportsOf([&] {
                  EXPECT_TRUE(DBIF_Die::get(db, stored.getKey()) == stored);
                  EXPECT_EQ(DBIF_Die::get(db, other.getKey()).getId(), other.getId());
                  EXPECT_EQ(DBIF_Die::get(db, "L", "W", "D", "B3", "x").getId(), fresh.getId());
                  EXPECT_TRUE(DBIF_Die::get(db, stored.getId()) == stored);
              }),
              Reports{});
    EXPECT_EQ(countRows("die"), 3);
}

TEST_P(DieTest, RoutineDefinitionWithAnyCharactersRoundTrips) {
    DBIF_Connection& db = connection();
    const QString definition =
        QStringLiteral("print('it''s');\n  path = \"C:\\\\data\\n\" -- 100%1 %2\r\nend;");
    DBIF_Routine routine = DBIF_Routine::get(db, "quoted", definition, "alice");

    const QList<int> before = db.getCounts();
    // Each write in a transaction of its own (begin, statement, commit): there is no host transaction.
    routine.save();
    EXPECT_EQ(db.getCounts()[DBIF_UPDATE_TIMING] - before[DBIF_UPDATE_TIMING], 3);
    ASSERT_GT(routine.getId(), 0);
    EXPECT_TRUE(routine.isModified());  // the INSERT leaves the flag: the next save rewrites once
    routine.save();
    EXPECT_EQ(db.getCounts()[DBIF_UPDATE_TIMING] - before[DBIF_UPDATE_TIMING], 6);
    EXPECT_FALSE(routine.isModified());
    routine.save();
    EXPECT_EQ(db.getCounts()[DBIF_UPDATE_TIMING] - before[DBIF_UPDATE_TIMING], 6);

    EXPECT_EQ(textOf(QStringLiteral("SELECT definition FROM routine WHERE id = %1").arg(routine.getId())),
              definition);
    commit();

    // A second connection reads the row whole and finds the routine under the same key.
    DBIF_Connection other = openSecondConnection();
    DBIF_Routine loaded = DBIF_Routine::get(other, routine.getId());
    ASSERT_FALSE(loaded.isNull());
    EXPECT_EQ(loaded.getKey(), routine.getKey());
    EXPECT_EQ(loaded.getName(), QStringLiteral("quoted"));
    EXPECT_FALSE(loaded.isModified());
    EXPECT_TRUE(DBIF_Routine::get(other, "quoted", definition, "someone") == loaded);
}

DBIF_DATABASE_TEST_SUITE(DieTest);

}  // namespace

namespace {

// A host that ends without releasing its handles: the die cache holds the connection's last handle,
// which must still commit the open transaction and close while Qt's SQL module is alive.
TEST(DieCacheAtExit, LastHandleInTheCacheCommitsAtProcessExit) {
    QTemporaryDir directory;
    const QByteArray path = directory.filePath(QStringLiteral("exit.db")).toLocal8Bit();
    {
        DBIF_Connection db("QSQLITE", "", path.constData(), "", "", 0);
        db.query(QStringLiteral(
                     "CREATE TABLE die (id INTEGER PRIMARY KEY AUTOINCREMENT, lot TEXT, wafer TEXT, die "
                     "TEXT, block TEXT, modified_time TEXT, user TEXT)"),
                 DBIF_QUERY_TIMING, __FILE__, __LINE__);
    }
    EXPECT_EXIT(
        {
            {
                DBIF_Connection db("QSQLITE", "", path.constData(), "", "", 0);
                db.beginTransaction();
                DBIF_Die::get(db, "L", "W", "D", "B", "u").save();
            }
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    DBIF_Connection check("QSQLITE", "", path.constData(), "", "", 0);
    EXPECT_EQ(check.queryInt(QStringLiteral("SELECT COUNT(*) FROM die WHERE lot = 'L'"), DBIF_QUERY_TIMING,
                             __FILE__, __LINE__),
              1);
}

}  // namespace
