// Tests of the join graph and its join algorithm: the static graph and its dump, dynamic data
// tables, the exact join equations of direct and through edges, the measurement preference and
// fallback, both failure reports, and joined statements executed on both drivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QMap>
#include <functional>
#include <string>
#include <vector>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_BooleanQueryCondition.h"
#include "dbif/DBIF_QuarnJoinAlgorithm.h"
#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_Utilities.h"

namespace {

using testing::HasSubstr;
using Algorithm = DBIF_QuarnJoinAlgorithm;

// A query joined by the graph, as the library's concrete query is.
class JoinedQuery : public DBIF_Query {
public:
    explicit JoinedQuery(const DBIF_Connection& connection) : DBIF_Query(connection) {
        setJoinAlgorithm(&algorithm);
    }

protected:
    void markAbstract() override {}

private:
    Algorithm algorithm;
};

// Lines after the header, each with the number of times it appears.
QMap<QString, int> dumpedEdges() {
    QStringList lines = Algorithm::dumpGraph().split('\n');
    EXPECT_EQ(lines.takeFirst(), "Join Graph: ");
    EXPECT_EQ(lines.takeLast(), "");
    QMap<QString, int> edges;
    for (const QString& line : lines)
        edges[line] += 1;
    return edges;
}

int lineCount(const QMap<QString, int>& edges) {
    int lines = 0;
    for (int count : edges)
        lines += count;
    return lines;
}

// Every test starts from, and leaves behind, the static graph alone.
class QuarnJoinAlgorithmTest : public DatabaseTest {
protected:
    void SetUp() override {
        Algorithm::deleteJoinGraph();
        DatabaseTest::SetUp();
    }
    void TearDown() override {
        DatabaseTest::TearDown();
        Algorithm::deleteJoinGraph();
    }
};

TEST(QuarnJoinGraph, StaticGraphAndDynamicEdges) {
    Algorithm::deleteJoinGraph();
    QMap<QString, int> edges = dumpedEdges();
    EXPECT_EQ(lineCount(edges), 56);
    EXPECT_EQ(edges.size(), 28);
    for (auto it = edges.cbegin(); it != edges.cend(); ++it)
        EXPECT_EQ(it.value(), 2) << it.key().toStdString();
    EXPECT_EQ(edges.value("measurement.die_id => die.id"), 2);
    EXPECT_EQ(edges.value("setup.id => measurement_setup.setup_id|measurement_id => measurement.id"), 2);
    EXPECT_EQ(
        edges.value(
            "measurement.measurement_condition_id => measurement_condition.id|routine_id => routine.id"),
        2);
    EXPECT_EQ(edges.value(
                  "catalog_entry.id => catalog_entry_association.catalog_entry_id|catalog_entry_column_id => "
                  "catalog_entry_column.id"),
              2);

    // Dynamic tables are stored under one pair each; registering again replaces; setup data also
    // joins measurement; an unknown base name adds nothing.
    Algorithm::addDynamicJoinData("measurement_data", "measurement_data_3");
    Algorithm::addDynamicJoinData("measurement_data", "measurement_data_3");
    Algorithm::addDynamicJoinData("setup_data", "setup_data_5");
    Algorithm::addDynamicJoinData("die_data", "die_data_1");
    edges = dumpedEdges();
    EXPECT_EQ(lineCount(edges), 59);
    EXPECT_EQ(edges.value("measurement.id => measurement_data_3.measurement_id"), 1);
    EXPECT_EQ(edges.value("setup.id => setup_data_5.setup_id"), 1);
    EXPECT_EQ(
        edges.value("setup_data_5.setup_id => measurement_setup.setup_id|measurement_id => measurement.id"),
        1);

    Algorithm::deleteJoinGraph();
    EXPECT_EQ(lineCount(dumpedEdges()), 56);
    // After a delete, registering builds the static graph first.
    Algorithm::deleteJoinGraph();
    Algorithm::addDynamicJoinData("device_data", "device_data_2");
    EXPECT_EQ(lineCount(dumpedEdges()), 57);
    Algorithm::deleteJoinGraph();
}

TEST(QuarnJoinGraph, EdgesAndPairs) {
    const Algorithm::JoinGraphVertexPair ab("a", "b");
    const Algorithm::JoinGraphVertexPair ba("b", "a");
    EXPECT_EQ(qHash(ab), qHash(ba));
    EXPECT_FALSE(ab == ba);
    EXPECT_TRUE(ab == Algorithm::JoinGraphVertexPair("a", "b"));

    const DBIF_Connection connection("QSQLITE", "", ":memory:", "", "", 0);
    JoinedQuery query(connection);
    const Algorithm::JoinGraphThrough plain("s", "id", "m", "id", "ms", "s_id", "m_id", false);
    const Algorithm::JoinGraphThrough flipped("m", "c_id", "r", "id", "c", "id", "r_id", true);
    EXPECT_EQ(plain.addJoin(query), QStringList({"s", "ms", "m"}));
    EXPECT_EQ(flipped.addJoin(query), QStringList({"m", "c", "r"}));
    QStringList equations;
    for (const DBIF_Query::Join& join : query.getJoins())
        equations << join.toSql();
    EXPECT_EQ(equations,
              QStringList({"(s.id = ms.s_id)", "(m.id = ms.m_id)", "(m.c_id = c.id)", "(c.r_id = r.id)"}));
    EXPECT_EQ(query.getTables(), QSet<QString>({"ms", "c"}));
    EXPECT_EQ(flipped.dump(), "m.c_id => c.id|r_id => r.id");
    EXPECT_EQ(Algorithm::JoinGraphEdge("a", "x", "b", "y").dump(), "a.x => b.y");
}

struct JoinCase {
    const char* tag;
    std::function<void(DBIF_Query&)> build;
    const char* sql;
};

DBIF_SingleColumnCondition textIs(const char* table, const char* column, const char* value) {
    return DBIF_SingleColumnCondition(table, column, Equal, value);
}

TEST_P(QuarnJoinAlgorithmTest, JoinedStatements) {
    Algorithm::addDynamicJoinData("measurement_data", "measurement_data_3");
    Algorithm::addDynamicJoinData("catalog_entry_data", "catalog_entry_data_4");
    Algorithm::addDynamicJoinData("setup_data", "setup_data_5");
    const std::vector<JoinCase> cases = {
        {"one table: no joins",
         [](DBIF_Query& q) {
             q.addColumn("die", "id");
             q.setCondition(textIs("die", "lot", "L"));
         },
         "SELECT die.id AS die_id\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.lot = 'L')"},
        {"direct edge",
         [](DBIF_Query& q) {
             q.addColumn("measurement", "id");
             q.setCondition(textIs("die", "lot", "L"));
         },
         "SELECT measurement.id AS measurement_id\n"
         "FROM\n"
         "  die,\n"
         "  measurement\n"
         "WHERE \n"
         "  ((measurement.die_id = die.id))\n"
         "AND\n"
         "  (die.lot = 'L')"},
        {"measurement pulled in as hub",
         [](DBIF_Query& q) {
             q.addColumn("die", "id");
             q.setCondition(textIs("device", "name", "d"));
         },
         "SELECT die.id AS die_id\n"
         "FROM\n"
         "  device,\n"
         "  die,\n"
         "  measurement\n"
         "WHERE \n"
         "  ((device.id = measurement.device_id) AND\n"
         "   (measurement.die_id = die.id))\n"
         "AND\n"
         "  (device.name = 'd')"},
        {"through an intermediate table, flipped",
         [](DBIF_Query& q) {
             q.addColumn("measurement", "id");
             q.setCondition(textIs("routine", "name", "r"));
         },
         "SELECT measurement.id AS measurement_id\n"
         "FROM\n"
         "  measurement,\n"
         "  measurement_condition,\n"
         "  routine\n"
         "WHERE \n"
         "  ((measurement.measurement_condition_id = measurement_condition.id) AND\n"
         "   (measurement_condition.routine_id = routine.id))\n"
         "AND\n"
         "  (routine.name = 'r')"},
        {"through the association table",
         [](DBIF_Query& q) {
             q.addColumn("setup", "id");
             q.setCondition(textIs("setup_column", "name", "c"));
         },
         "SELECT setup.id AS setup_id\n"
         "FROM\n"
         "  setup,\n"
         "  setup_association,\n"
         "  setup_column\n"
         "WHERE \n"
         "  ((setup.id = setup_association.setup_id) AND\n"
         "   (setup_column.id = setup_association.setup_column_id))\n"
         "AND\n"
         "  (setup_column.name = 'c')"},
        {"through the link table",
         [](DBIF_Query& q) {
             q.addColumn("setup", "id");
             q.setCondition("measurement", "temperature", Greater, 100);
         },
         "SELECT setup.id AS setup_id\n"
         "FROM\n"
         "  measurement,\n"
         "  measurement_setup,\n"
         "  setup\n"
         "WHERE \n"
         "  ((setup.id = measurement_setup.setup_id) AND\n"
         "   (measurement.id = measurement_setup.measurement_id))\n"
         "AND\n"
         "  (measurement.temperature > 100)"},
        {"measurement preferred over another joined anchor",
         [](DBIF_Query& q) {
             q.addColumn("device_data", "device_id");
             q.addColumn("measurement", "id");
             q.setCondition(textIs("device", "name", "d"));
         },
         "SELECT device_data.device_id AS device_data_device_id,\n"
         "  measurement.id AS measurement_id\n"
         "FROM\n"
         "  device,\n"
         "  device_data,\n"
         "  measurement\n"
         "WHERE \n"
         "  ((device.id = measurement.device_id) AND\n"
         "   (device_data.device_id = measurement.device_id))\n"
         "AND\n"
         "  (device.name = 'd')"},
        {"measurement preferred as anchor after the fallback",
         [](DBIF_Query& q) {
             q.addColumn("catalog_entry", "id");
             q.addColumn("measurement_condition", "name");
             q.setCondition(textIs("die", "lot", "L"));
         },
         "SELECT catalog_entry.id AS catalog_entry_id,\n"
         "  measurement_condition.name AS measurement_condition_name\n"
         "FROM\n"
         "  catalog_entry,\n"
         "  die,\n"
         "  measurement,\n"
         "  measurement_condition\n"
         "WHERE \n"
         "  ((measurement.catalog_entry_id = catalog_entry.id) AND\n"
         "   (measurement.die_id = die.id) AND\n"
         "   (measurement_condition.id = measurement.measurement_condition_id))\n"
         "AND\n"
         "  (die.lot = 'L')"},
        {"dynamic data table on measurement",
         [](DBIF_Query& q) {
             q.addColumn("measurement", "id");
             q.setCondition("measurement_data_3", "v", Greater, 2);
         },
         "SELECT measurement.id AS measurement_id\n"
         "FROM\n"
         "  measurement,\n"
         "  measurement_data_3\n"
         "WHERE \n"
         "  ((measurement.id = measurement_data_3.measurement_id))\n"
         "AND\n"
         "  (measurement_data_3.v > 2)"},
        {"dynamic data table without measurement starts at its master",
         [](DBIF_Query& q) {
             q.addColumn("catalog_entry", "id");
             q.setCondition("catalog_entry_data_4", "v", Less, 1);
         },
         "SELECT catalog_entry.id AS catalog_entry_id\n"
         "FROM\n"
         "  catalog_entry,\n"
         "  catalog_entry_data_4\n"
         "WHERE \n"
         "  ((catalog_entry.id = catalog_entry_data_4.catalog_entry_id))\n"
         "AND\n"
         "  (catalog_entry_data_4.v < 1)"},
        {"dynamic setup data through the link table",
         [](DBIF_Query& q) {
             q.addColumn("measurement", "id");
             q.setCondition("setup_data_5", "v", Equal, 1);
         },
         "SELECT measurement.id AS measurement_id\n"
         "FROM\n"
         "  measurement,\n"
         "  measurement_setup,\n"
         "  setup_data_5\n"
         "WHERE \n"
         "  ((setup_data_5.setup_id = measurement_setup.setup_id) AND\n"
         "   (measurement.id = measurement_setup.measurement_id))\n"
         "AND\n"
         "  (setup_data_5.v = 1)"},
    };
    for (const JoinCase& c : cases) {
        SCOPED_TRACE(c.tag);
        JoinedQuery query(connection());
        c.build(query);
        QString sql;
        EXPECT_EQ(stderrOf([&] { sql = query.generateSql(true); }), "");
        EXPECT_EQ(sql, c.sql);
    }

    // Tables reached only through the algorithm count as the query's.
    JoinedQuery hub(connection());
    hub.addColumn("die", "id");
    hub.setCondition(textIs("device", "name", "d"));
    EXPECT_FALSE(hub.getTables().contains("measurement"));
    EXPECT_TRUE(hub.containsTable("measurement"));
}

struct FailureCase {
    const char* tag;
    QStringList tables;
    std::vector<std::string> messages;
    const char* sql;
};

TEST_P(QuarnJoinAlgorithmTest, UnjoinableTablesAreReportedAndStillRendered) {
    Algorithm::addDynamicJoinData("catalog_entry_data", "catalog_entry_data_4");
    Algorithm::addDynamicJoinData("device_data", "device_data_6");
    const std::vector<FailureCase> cases = {
        {"hub found, table still unjoinable",
         {"die", "orphan"},
         {"Couldn't find a way to join tables [orphan] to joined tables: [die, measurement]"},
         "SELECT die.id AS die_id,\n"
         "  orphan.id AS orphan_id\n"
         "FROM\n"
         "  die,\n"
         "  measurement,\n"
         "  orphan\n"
         "WHERE \n"
         "  ((measurement.die_id = die.id))\n"
         "AND\n"
         "  1"},
        {"hub not reachable",
         {"setup_column", "orphan"},
         {"Couldn't find a way to join 'measurement' to joined tables: ['setup_column']",
          "Couldn't find a way to join tables [orphan] to joined tables: [setup_column]"},
         "SELECT setup_column.id AS setup_column_id,\n"
         "  orphan.id AS orphan_id\n"
         "FROM\n"
         "  measurement,\n"
         "  orphan,\n"
         "  setup_column\n"
         "WHERE \n"
         "  1"},
        {"only dynamic tables",
         {"catalog_entry_data_4", "device_data_6"},
         {"Couldn't find a way to join 'measurement' to joined tables: ['catalog_entry_data_4']",
          "Couldn't find a way to join tables [device_data_6] to joined tables: [catalog_entry_data_4]"},
         nullptr},
        {"failure stops the remaining tables",
         {"setup", "setup_column", "orphan"},
         {"Couldn't find a way to join tables [orphan, setup_column] "
          "to joined tables: [setup, measurement_setup, measurement]"},
         nullptr},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.tag);
        JoinedQuery query(connection());
        for (const QString& table : c.tables)
            query.addColumn(table, "id");
        DBIF_BooleanQueryCondition always(true);
        query.setCondition(&always);
        QString sql;
        const std::string report = stderrOf([&] { sql = query.generateSql(true); });
        EXPECT_EQ(countOf(report, "ASSERTION failed ("), int(c.messages.size())) << report;
        for (const std::string& message : c.messages)
            EXPECT_THAT(report, HasSubstr(message));
        if (c.sql) {
            EXPECT_EQ(sql, c.sql);
        }
    }
}

class JoinedDataTest : public QuarnJoinAlgorithmTest {
protected:
    void SetUp() override {
        QuarnJoinAlgorithmTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        installSchema();
        for (const char* sql : {
                 "INSERT INTO die (id, lot) VALUES (1, 'L1')",
                 "INSERT INTO die (id, lot) VALUES (2, 'L2')",
                 "INSERT INTO device (id, name) VALUES (1, 'd1')",
                 "INSERT INTO device (id, name) VALUES (2, 'd2')",
                 "INSERT INTO routine (id, name) VALUES (1, 'r1')",
                 "INSERT INTO routine (id, name) VALUES (2, 'r2')",
                 "INSERT INTO measurement_condition (id, name, routine_id) VALUES (1, 'c1', 1)",
                 "INSERT INTO measurement_condition (id, name, routine_id) VALUES (2, 'c2', 2)",
                 "INSERT INTO measurement (id, die_id, device_id, measurement_condition_id, temperature) "
                 "VALUES (1, 1, 1, 1, 25)",
                 "INSERT INTO measurement (id, die_id, device_id, measurement_condition_id, temperature) "
                 "VALUES (2, 2, 2, 2, 85)",
                 "INSERT INTO measurement (id, die_id, device_id, measurement_condition_id, temperature) "
                 "VALUES (3, 1, 2, 2, 125)",
                 "INSERT INTO setup (id, name) VALUES (1, 's1')",
                 "INSERT INTO setup (id, name) VALUES (2, 's2')",
                 "INSERT INTO measurement_setup (measurement_id, setup_id) VALUES (1, 1)",
                 "INSERT INTO measurement_setup (measurement_id, setup_id) VALUES (3, 2)",
                 "INSERT INTO setup_column (id, name) VALUES (7, 'col')",
                 "INSERT INTO setup_association (setup_id, setup_column_id) VALUES (2, 7)",
             })
            exec(sql);
        connection().createMultiTable("measurement_data_3", "measurement");
        exec("ALTER TABLE measurement_data_3 ADD COLUMN \"v\" DOUBLE");
        exec("INSERT INTO measurement_data_3 (measurement_id, \"v\") VALUES (1, 1.5)");
        exec("INSERT INTO measurement_data_3 (measurement_id, \"v\") VALUES (3, 2.5)");
        exec("INSERT INTO measurement_data_3 (measurement_id, \"v\") VALUES (3, 3.5)");
        Algorithm::addDynamicJoinData("measurement_data", "measurement_data_3");
    }

    QList<int> ids(const char* table, const DBIF_QueryCondition& condition) {
        JoinedQuery query(connection());
        query.addColumn(table, "id");
        query.setCondition(&condition);
        query.addOrder(table, "id", true);
        return queryIds(connection(), &query);
    }
};

TEST_P(JoinedDataTest, JoinedStatementsRun) {
    EXPECT_EQ(ids("die", textIs("device", "name", "d2")), QList<int>({1, 2}));
    EXPECT_EQ(ids("die", textIs("device", "name", "d1")), QList<int>({1}));
    EXPECT_EQ(ids("measurement", textIs("routine", "name", "r2")), QList<int>({2, 3}));
    EXPECT_EQ(ids("routine", textIs("die", "lot", "L1")), QList<int>({1, 2}));
    EXPECT_EQ(ids("setup", DBIF_SingleColumnCondition("measurement", "temperature", Greater, 100)),
              QList<int>({2}));
    EXPECT_EQ(ids("setup", textIs("setup_column", "name", "col")), QList<int>({2}));
    EXPECT_EQ(ids("measurement", DBIF_SingleColumnCondition("measurement_data_3", "v", Greater, 2.0)),
              QList<int>({3}));
    EXPECT_EQ(ids("die", DBIF_SingleColumnCondition("measurement_data_3", "v", Less, 2.0)), QList<int>({1}));

    // The count statement runs the same joins: die/device through measurement, one row per match.
    JoinedQuery count(connection());
    count.addColumn("die", "id");
    count.addColumn("device", "name");
    count.setCondition(textIs("device", "name", "d2"));
    EXPECT_EQ(connection().queryInt(count.generateCountSql(), DBIF_QUERY_TIMING, __FILE__, __LINE__), 2);

    // Values of a dynamic table's column, through the measurement it belongs to.
    JoinedQuery values(connection());
    values.addColumn("measurement_data_3", "v");
    values.addColumn("measurement", "temperature");
    values.setCondition(textIs("die", "lot", "L1"));
    values.addOrder("measurement_data_3", "v", false);
    const QList<QMap<QString, QVariant>> rows = queryValues(connection(), &values);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].value("v").toDouble(), 3.5);
    EXPECT_EQ(rows[0].value("temperature").toDouble(), 125.0);
    EXPECT_EQ(rows[2].value("v").toDouble(), 1.5);
    EXPECT_EQ(rows[2].value("temperature").toDouble(), 25.0);

    // An unjoinable table is reported, and the statement still runs as a cross product.
    QList<int> crossed;
    JoinedQuery unjoinable(connection());
    unjoinable.addColumn("setup_column", "id");
    unjoinable.setCondition(textIs("routine", "name", "r2"));
    const std::string report = stderrOf([&] { crossed = queryIds(connection(), &unjoinable); });
    EXPECT_THAT(report,
                HasSubstr("Couldn't find a way to join tables [setup_column] to joined tables: [routine, "
                          "measurement, measurement_condition]"));
    EXPECT_EQ(crossed, QList<int>({7}));
}

DBIF_DATABASE_TEST_SUITE(QuarnJoinAlgorithmTest);
DBIF_DATABASE_TEST_SUITE(JoinedDataTest);

}  // namespace
