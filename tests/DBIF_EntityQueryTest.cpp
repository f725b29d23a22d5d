// Tests of the entity query layer: queryIds over a master table and a condition, ids turned into
// cached handles, and the static query operations of dies and routines (joins through measurement,
// latest only, the caller's own query, empty results), with the statements they send, on both drivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

template <typename T>
QList<int> sortedIdsOf(const QList<T>& entities) {
    QList<int> ids = idsOf(entities);
    std::sort(ids.begin(), ids.end());
    return ids;
}

class EntityQueryTest : public SchemaDatabaseTest {
protected:
    void diesAndMeasurements() {
        exec("INSERT INTO die (id, lot, wafer, die, block) VALUES (1, 'L1', 'w', 'x', 'b')");
        exec("INSERT INTO die (id, lot, wafer, die, block) VALUES (2, 'L1', 'w', 'y', 'b')");
        exec("INSERT INTO die (id, lot, wafer, die, block) VALUES (3, 'L2', 'w', 'x', 'b')");
        exec("INSERT INTO die (id, lot, wafer, die, block) VALUES (4, 'L2', 'w', 'y', 'b')");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (10, 1, 25.5)");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (11, 3, -40)");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (12, 3, 125)");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (13, 3, 30)");
        exec("INSERT INTO latest_measurement (measurement_id, die_id) VALUES (11, 3)");
    }
    // The whole text of every statement the action sends, as the trace prints it.
    std::string traceOf(const std::function<void()>& action) {
        connection().setShowSql(true);
        testing::internal::CaptureStdout();
        action();
        const std::string trace = testing::internal::GetCapturedStdout();
        connection().setShowSql(false);
        return trace;
    }
    QString part(const QString& sql) const { return isMySql() ? "(" + sql + ")" : sql; }
};

TEST_P(EntityQueryTest, DiesJoinedThroughMeasurementComeOnce) {
    DBIF_Connection& db = connection();
    diesAndMeasurements();

    // Nothing matches: one SELECT, and not even the die cache is read.
    QList<DBIF_Die> none{DBIF_Die()};
    const QStringList noneStatements = statementsOf(
        [&] { none = DBIF_Die::query(db, DBIF_SingleColumnCondition("die", "lot", Equal, "none"), false); });
    EXPECT_TRUE(none.isEmpty());
    EXPECT_EQ(noneStatements,
              QStringList{(isMySql() ? "(" : "") + QString("SELECT DISTINCT die.id AS die_id")});

    const DBIF_SingleColumnCondition warm("measurement", "temperature", Greater, 0.0);
    QList<DBIF_Die> dies;
    const std::string trace = traceOf([&] { dies = DBIF_Die::query(db, &warm, false); });
    EXPECT_THAT(trace, HasSubstr(part("SELECT DISTINCT die.id AS die_id\n"
                                      "FROM\n"
                                      "  die,\n"
                                      "  measurement\n"
                                      "WHERE \n"
                                      "  ((measurement.die_id = die.id))\n"
                                      "AND\n"
                                      "  (measurement.temperature > 0)")
                                     .toStdString()));
    EXPECT_EQ(sortedIdsOf(dies), QList<int>({1, 3}));  // die 3 has two warm measurements
    for (const DBIF_Die& die : dies)
        EXPECT_TRUE(die == DBIF_Die::get(db, die.getId()));
    EXPECT_EQ(dies.size(), 2);
    EXPECT_EQ(DBIF_Die::query(db, &warm, false).first().getLot(), dies.first().getLot());

    // Once the dies are cached a query costs its one SELECT.
    EXPECT_EQ(statementsOf([&] { DBIF_Die::query(db, warm, false); }).size(), 1);
    EXPECT_EQ(sortedIdsOf(DBIF_Die::query(db, DBIF_SingleColumnCondition("die", "lot", Equal, "L2"), false)),
              QList<int>({3, 4}));
    EXPECT_EQ(idsOf(DBIF_Die::query(db,
                                    DBIF_SingleColumnCondition("die", "lot", Equal, "L2") &&
                                        DBIF_SingleColumnCondition("die", "die", Equal, "y"),
                                    false)),
              QList<int>({4}));

    // Latest only: the one latest measurement (of die 3, at -40) is not warm.
    EXPECT_TRUE(DBIF_Die::query(db, &warm, true).isEmpty());
    EXPECT_EQ(
        idsOf(DBIF_Die::query(db, DBIF_SingleColumnCondition("measurement", "temperature", Less, 0.0), true)),
        QList<int>({3}));
    const DBIF_SingleColumnCondition any("measurement", "id", Greater, 0);
    QList<int> all = queryIds(db, "measurement", &any, false);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, QList<int>({10, 11, 12, 13}));
    EXPECT_EQ(queryIds(db, "measurement", &any, true), QList<int>({11}));
}

TEST_P(EntityQueryTest, CallersQueryGainsTheIdColumnAndDistinct) {
    DBIF_Connection& db = connection();
    diesAndMeasurements();
    InspectableQuery query(db);
    query.addColumn("die", "lot");
    query.setCondition(DBIF_SingleColumnCondition("die", "lot", Equal, "L2"));
    query.addOrder("die", "die", false);
    EXPECT_FALSE(query.markedDistinct());

    const QList<DBIF_Die> dies = DBIF_Die::query(db, &query);
    EXPECT_EQ(idsOf(dies), QList<int>({4, 3}));  // in the query's order: die 'y' before 'x'
    EXPECT_TRUE(query.markedDistinct());
    ASSERT_EQ(query.getColumns().size(), 3);
    EXPECT_EQ(query.getColumns().first(), DBIF_Query::Column("die", "id"));
    EXPECT_FALSE(query.getColumns().first().orderOnly);
    EXPECT_EQ(query.getColumnNames(), QStringList({"id", "lot", "die"}));

    // The id column is not added twice when the caller's query asks again.
    EXPECT_EQ(idsOf(DBIF_Die::query(db, &query)), QList<int>({4, 3}));
    EXPECT_EQ(query.getColumns().size(), 3);
}

TEST_P(EntityQueryTest, RoutinesJoinThroughTheirConditions) {
    DBIF_Connection& db = connection();
    DBIF_Routine sweep = DBIF_Routine::get(db, "sweep", "measure(v)", "alice");
    DBIF_Routine sweep2 = DBIF_Routine::get(db, "sweep", "measure(2 * v)", "alice");
    DBIF_Routine hold = DBIF_Routine::get(db, "hold", "wait()", "alice");
    sweep.save();
    sweep2.save();
    hold.save();
    exec(QStringLiteral("INSERT INTO measurement_condition (id, name, routine_id) VALUES (1, 'c1', %1)")
             .arg(sweep.getId()));
    exec(QStringLiteral("INSERT INTO measurement_condition (id, name, routine_id) VALUES (2, 'c2', %1)")
             .arg(hold.getId()));
    exec("INSERT INTO measurement (id, measurement_condition_id, temperature) VALUES (20, 1, 25)");
    exec("INSERT INTO measurement (id, measurement_condition_id, temperature) VALUES (21, 2, -5)");
    exec("INSERT INTO measurement (id, measurement_condition_id, temperature) VALUES (22, 1, 80)");

    const QList<DBIF_Routine> named =
        DBIF_Routine::query(db, DBIF_SingleColumnCondition("routine", "name", Equal, "sweep"), false);
    EXPECT_EQ(sortedIdsOf(named), QList<int>({sweep.getId(), sweep2.getId()}));
    EXPECT_TRUE(named.contains(sweep));

    const DBIF_SingleColumnCondition warm("measurement", "temperature", Greater, 0.0);
    QList<DBIF_Routine> routines;
    const std::string trace = traceOf([&] { routines = DBIF_Routine::query(db, &warm, false); });
    EXPECT_THAT(trace,
                HasSubstr(part("SELECT DISTINCT routine.id AS routine_id\n"
                               "FROM\n"
                               "  measurement,\n"
                               "  measurement_condition,\n"
                               "  routine\n"
                               "WHERE \n"
                               "  ((measurement.measurement_condition_id = measurement_condition.id) AND\n"
                               "   (measurement_condition.routine_id = routine.id))\n"
                               "AND\n"
                               "  (measurement.temperature > 0)")
                              .toStdString()));
    ASSERT_EQ(routines.size(), 1);  // two warm measurements, one routine
    EXPECT_TRUE(routines.first() == sweep);

    InspectableQuery query(db);
    query.setCondition(DBIF_SingleColumnCondition("measurement", "temperature", Less, 0.0));
    EXPECT_EQ(DBIF_Routine::query(db, &query), QList<DBIF_Routine>({hold}));
    EXPECT_EQ(query.getColumnNames(), QStringList({"id"}));
}

TEST_P(EntityQueryTest, IdsBecomeCachedHandlesOrNullHandles) {
    DBIF_Connection& db = connection();
    diesAndMeasurements();
    EXPECT_TRUE(getObjectsFromIds<DBIF_Die>(db, {}).isEmpty());
    QList<DBIF_Die> dies;
    const std::string report = stderrOf([&] { dies = getObjectsFromIds<DBIF_Die>(db, {3, 99, 1, 3}); });
    ASSERT_EQ(dies.size(), 4);
    EXPECT_EQ(dies[0].getLot(), "L2");
    EXPECT_TRUE(dies[1].isNull());
    EXPECT_EQ(dies[2].getId(), 1);
    EXPECT_TRUE(dies[3] == dies[0]);
    EXPECT_THAT(report, HasSubstr("the item was not found"));
    EXPECT_THAT(report, HasSubstr("WHERE id = 99"));

    const DBIF_SingleColumnCondition lot("die", "lot", Equal, "L1");
    EXPECT_EQ(sortedIdsOf(queryViaCache<DBIF_Die>(db, "die", &lot, false)), QList<int>({1, 2}));
}

DBIF_DATABASE_TEST_SUITE(EntityQueryTest);

}  // namespace
