// Tests of the entity query layer: ids turned into cached handles, and the static query operations
// of dies and routines (joins through measurement, latest only, the caller's own query, empty
// results), with the statements they send, on both drivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_CompoundQueryCondition.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_EntityQuery.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_Routine.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

using testing::HasSubstr;
using testing::UnorderedElementsAre;

// A query whose distinct switch a test can read.
class InspectableQuery : public DBIF_QuarnQuery {
public:
    using DBIF_QuarnQuery::DBIF_QuarnQuery;
    using DBIF_Query::markedDistinct;
};

template <typename T>
QList<int> idsOf(const QList<T>& entities) {
    QList<int> ids;
    for (const T& entity : entities)
        ids << (entity.isNull() ? 0 : entity.getId());
    return ids;
}

class EntityQueryTest : public SchemaDatabaseTest {
protected:
    // Dies 1 to 4; warm measurements of die 1 (one) and die 3 (two); the latest is die 3's cold one.
    void fill() override {
        SchemaDatabaseTest::fill();
        exec(
            "INSERT INTO die (id, lot, wafer, die, block) VALUES (1, 'L1', 'w', 'x', 'b'), "
            "(2, 'L1', 'w', 'y', 'b'), (3, 'L2', 'w', 'x', 'b'), (4, 'L2', 'w', 'y', 'b')");
        exec(
            "INSERT INTO measurement (id, die_id, temperature) VALUES (10, 1, 25.5), (11, 3, -40), "
            "(12, 3, 125), (13, 3, 30)");
        exec("INSERT INTO latest_measurement (measurement_id, die_id) VALUES (11, 3)");
    }
    std::string part(const QString& sql) const { return (isMySql() ? "(" + sql + ")" : sql).toStdString(); }
};

TEST_P(EntityQueryTest, DiesAndRoutinesJoinedThroughMeasurementComeOnce) {
    DBIF_Connection& db = connection();
    // Nothing matches: one SELECT, and not even the die cache is read.
    QList<DBIF_Die> dies{DBIF_Die()};
    EXPECT_EQ(statementsOf([&] {
                  dies = DBIF_Die::query(db, DBIF_SingleColumnCondition("die", "lot", Equal, "none"), false);
              }),
              QStringList{(isMySql() ? "(" : "") + QString("SELECT DISTINCT die.id AS die_id")});
    EXPECT_TRUE(dies.isEmpty());

    const DBIF_SingleColumnCondition warm("measurement", "temperature", Greater, 0.0);
    const std::string trace = traceOf([&] { dies = DBIF_Die::query(db, &warm, false); });
    EXPECT_THAT(trace, HasSubstr(part("SELECT DISTINCT die.id AS die_id\nFROM\n  die,\n  measurement\n"
                                      "WHERE \n  ((measurement.die_id = die.id))\nAND\n"
                                      "  (measurement.temperature > 0)")));
    EXPECT_THAT(idsOf(dies), UnorderedElementsAre(1, 3));
    for (const DBIF_Die& die : dies)
        EXPECT_TRUE(die == DBIF_Die::get(db, die.getId()));
    // Once the dies are cached a query costs its one SELECT.
    EXPECT_EQ(statementsOf([&] { DBIF_Die::query(db, warm, false); }).size(), 1);
    EXPECT_EQ(idsOf(DBIF_Die::query(db,
                                    DBIF_SingleColumnCondition("die", "lot", Equal, "L2") &&
                                        DBIF_SingleColumnCondition("die", "die", Equal, "y"),
                                    false)),
              QList<int>({4}));
    EXPECT_TRUE(DBIF_Die::query(db, warm, true).isEmpty());  // the latest is cold

    // Routines join through their conditions: two warm measurements, one routine.
    exec("INSERT INTO routine (id, name) VALUES (1, 'sweep'), (2, 'hold')");
    exec("INSERT INTO measurement_condition (id, name, routine_id) VALUES (1, 'c1', 1), (2, 'c2', 2)");
    exec(
        "INSERT INTO measurement (id, measurement_condition_id, temperature) "
        "VALUES (20, 1, 25), (21, 2, -5), (22, 1, 80)");
    const QList<DBIF_Routine> routines = DBIF_Routine::query(db, &warm, false);
    ASSERT_EQ(idsOf(routines), QList<int>({1}));
    EXPECT_EQ(routines.first().getName(), "sweep");
}

TEST_P(EntityQueryTest, CallersQueryGainsTheIdColumnAndDistinct) {
    DBIF_Connection& db = connection();
    InspectableQuery query(db);
    query.addColumn("die", "lot");
    query.setCondition(DBIF_SingleColumnCondition("die", "lot", Equal, "L2"));
    query.addOrder("die", "die", false);
    EXPECT_FALSE(query.markedDistinct());

    EXPECT_EQ(idsOf(DBIF_Die::query(db, &query)), QList<int>({4, 3}));  // in the query's order
    EXPECT_TRUE(query.markedDistinct());
    ASSERT_EQ(query.getColumnNames(), QStringList({"id", "lot", "die"}));
    EXPECT_EQ(query.getColumns().first(), DBIF_Query::Column("die", "id"));
    EXPECT_FALSE(query.getColumns().first().orderOnly);
    // Asked again, the query does not gain the id column twice.
    EXPECT_EQ(idsOf(DBIF_Die::query(db, &query)), QList<int>({4, 3}));
    EXPECT_EQ(query.getColumnNames(), QStringList({"id", "lot", "die"}));
}

TEST_P(EntityQueryTest, IdsBecomeCachedHandlesOrNullHandles) {
    DBIF_Connection& db = connection();
    EXPECT_TRUE(getObjectsFromIds<DBIF_Die>(db, {}).isEmpty());
    QList<DBIF_Die> dies;
    const std::string report = stderrOf([&] { dies = getObjectsFromIds<DBIF_Die>(db, {3, 99, 1, 3}); });
    EXPECT_EQ(idsOf(dies), QList<int>({3, 0, 1, 3}));
    EXPECT_EQ(dies[0].getLot(), "L2");
    EXPECT_TRUE(dies[3] == dies[0]);
    EXPECT_THAT(report, HasSubstr("the item was not found"));
    EXPECT_THAT(report, HasSubstr("WHERE id = 99"));
}

DBIF_DATABASE_TEST_SUITE(EntityQueryTest);

}  // namespace
