// Tests of DBIF_Routine: keys with the definition's hash, bound definitions, insert/update-once.
#include <gtest/gtest.h>

#include "DatabaseTest.h"
#include "dbif/DBIF_Routine.h"

namespace {

class RoutineTest : public SchemaDatabaseTest {};

TEST_P(RoutineTest, KeysSeparateDefinitionsButNotUsers) {
    DBIF_Connection& db = connection();
    DBIF_Routine first = DBIF_Routine::get(db, "sweep", "for v in range: measure(v)", "alice");
    DBIF_Routine sameDefinition = DBIF_Routine::get(db, "sweep", "for v in range: measure(v)", "bob");
    DBIF_Routine otherDefinition = DBIF_Routine::get(db, "sweep", "measure(0)", "alice");
    EXPECT_TRUE(first == sameDefinition);
    EXPECT_EQ(sameDefinition.getUser(), QStringLiteral("alice"));
    EXPECT_TRUE(first != otherDefinition);
    EXPECT_NE(first.getKey(), otherDefinition.getKey());
    EXPECT_EQ(first.getKey(), QStringLiteral("<r: sweep|%1>").arg(hash("for v in range: measure(v)")));
    EXPECT_EQ(first.getKey(), DBIF_Routine::computeKey("sweep", "for v in range: measure(v)"));
    EXPECT_EQ(first.getId(), -1);
    EXPECT_TRUE(first.isCached());
}

TEST_P(RoutineTest, DefinitionWithAnyCharactersRoundTrips) {
    DBIF_Connection& db = connection();
    const QString definition =
        QStringLiteral("print('it''s');\n  path = \"C:\\\\data\\n\" -- 100%1 %2\r\nend;");
    DBIF_Routine routine = DBIF_Routine::get(db, "quoted", definition, "alice");

    const QList<int> before = db.getCounts();
    routine.save();
    EXPECT_EQ(db.getCounts()[DBIF_UPDATE_TIMING] - before[DBIF_UPDATE_TIMING], 1);
    ASSERT_GT(routine.getId(), 0);
    EXPECT_TRUE(routine.isModified());  // the INSERT leaves the flag: the next save rewrites once
    routine.save();
    EXPECT_EQ(db.getCounts()[DBIF_UPDATE_TIMING] - before[DBIF_UPDATE_TIMING], 2);
    EXPECT_FALSE(routine.isModified());
    routine.save();
    EXPECT_EQ(db.getCounts()[DBIF_UPDATE_TIMING] - before[DBIF_UPDATE_TIMING], 2);

    EXPECT_EQ(
        db.queryString(QStringLiteral("SELECT definition FROM routine WHERE id = %1").arg(routine.getId()),
                       DBIF_QUERY_TIMING, __FILE__, __LINE__),
        definition);
    db.beginTransaction();
    db.endTransaction();

    // A second connection reads the row whole and finds the routine under the same key.
    DBIF_Connection other = openSecondConnection();
    DBIF_Routine loaded = DBIF_Routine::get(other, routine.getId());
    ASSERT_FALSE(loaded.isNull());
    EXPECT_EQ(loaded.getKey(), routine.getKey());
    EXPECT_EQ(loaded.getName(), QStringLiteral("quoted"));
    EXPECT_FALSE(loaded.isModified());
    EXPECT_TRUE(DBIF_Routine::get(other, "quoted", definition, "someone") == loaded);
}

TEST_P(RoutineTest, ReloadTakesTheStoredDefinition) {
    DBIF_Connection& db = connection();
    DBIF_Routine routine = DBIF_Routine::get(db, "r", "old", "alice");
    routine.save();
    db.preparedQuery(QStringLiteral("UPDATE routine SET definition = ? WHERE id = %1").arg(routine.getId()),
                     DBIF_UPDATE_TIMING, QStringLiteral("new"), __FILE__, __LINE__);
    routine.reload();
    EXPECT_EQ(routine.getKey(), DBIF_Routine::computeKey("r", "new"));
    EXPECT_TRUE(DBIF_Routine::get(db, DBIF_Routine::computeKey("r", "new")) == routine);
    EXPECT_FALSE(DBIF_Routine::getObjectCache().contains(db, DBIF_Routine::computeKey("r", "old")));
}

DBIF_DATABASE_TEST_SUITE(RoutineTest);

}  // namespace
