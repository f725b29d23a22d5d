// Tests of the join graph and its join algorithm: the static graph and its dump, dynamic data
// tables, the exact join equations of direct and through edges, the measurement preference and
// fallback, both failure reports, and joined statements executed on both drivers.
#include <gtest/gtest.h>

#include <QMap>
#include <string>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_BooleanQueryCondition.h"
#include "dbif/DBIF_QuarnJoinAlgorithm.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_Query.h"

namespace {

using Algorithm = DBIF_QuarnJoinAlgorithm;
using C = DBIF_SingleColumnCondition;

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

// The dump's lines after the header, each with the number of times it appears, and their total.
QMap<QString, int> dumpedEdges(int* lines) {
    QStringList dump = Algorithm::dumpGraph().split('\n');
    EXPECT_EQ(dump.takeFirst(), "Join Graph: ");
    EXPECT_EQ(dump.takeLast(), "");
    QMap<QString, int> edges;
    for (const QString& line : dump)
        edges[line] += 1;
    *lines = int(dump.size());
    return edges;
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
    int lines = 0;
    QMap<QString, int> edges = dumpedEdges(&lines);
    EXPECT_EQ(lines, 56);
    EXPECT_EQ(edges.size(), 28);
    for (auto it = edges.cbegin(); it != edges.cend(); ++it)
        EXPECT_EQ(it.value(), 2) << it.key().toStdString();
    EXPECT_EQ(edges.value("measurement.die_id => die.id"), 2);
    EXPECT_EQ(edges.value("setup.id => measurement_setup.setup_id|measurement_id => measurement.id"), 2);
    EXPECT_EQ(edges.value("measurement.measurement_condition_id => measurement_condition.id|routine_id => "
                          "routine.id"),
              2);

    // Dynamic tables are stored under one pair each; registering again replaces; setup data also
    // joins measurement; an unknown base name adds nothing.
    Algorithm::addDynamicJoinData("measurement_data", "measurement_data_3");
    Algorithm::addDynamicJoinData("measurement_data", "measurement_data_3");
    Algorithm::addDynamicJoinData("setup_data", "setup_data_5");
    Algorithm::addDynamicJoinData("die_data", "die_data_1");
    edges = dumpedEdges(&lines);
    EXPECT_EQ(lines, 59);
    EXPECT_EQ(edges.value("measurement.id => measurement_data_3.measurement_id"), 1);
    EXPECT_EQ(edges.value("setup.id => setup_data_5.setup_id"), 1);
    EXPECT_EQ(
        edges.value("setup_data_5.setup_id => measurement_setup.setup_id|measurement_id => measurement.id"),
        1);

    // A key's hash ignores the order of its tables, its equality does not: dynamic tables are looked up
    // from their side only.
    const Algorithm::JoinGraphVertexPair ab("a", "b"), ba("b", "a");
    EXPECT_EQ(qHash(ab), qHash(ba));
    EXPECT_FALSE(ab == ba);

    // After a delete only the static graph comes back, also when a registration builds it.
    Algorithm::deleteJoinGraph();
    Algorithm::addDynamicJoinData("device_data", "device_data_2");
    dumpedEdges(&lines);
    EXPECT_EQ(lines, 57);
    Algorithm::deleteJoinGraph();
}

TEST_P(QuarnJoinAlgorithmTest, JoinsOfEachTableSet) {
    Algorithm::addDynamicJoinData("measurement_data", "measurement_data_3");
    Algorithm::addDynamicJoinData("catalog_entry_data", "catalog_entry_data_4");
    Algorithm::addDynamicJoinData("setup_data", "setup_data_5");
    Algorithm::addDynamicJoinData("device_data", "device_data_6");
    const std::string unjoined = "Couldn't find a way to join ";
    struct Case {
        QStringList tables;     // the query's own
        std::string all;        // its tables once joined
        std::string equations;  // in the order they were added
        Reports reports;
    };
    const Case cases[] = {
        {{"die"}, "die", "", {}},
        {{"die", "measurement"}, "die, measurement", "(measurement.die_id = die.id)", {}},
        // measurement is pulled in as the hub.
        {{"device", "die"},
         "device, die, measurement",
         "(device.id = measurement.device_id) AND (measurement.die_id = die.id)",
         {}},
        // Through edges add their through table; flipped and not.
        {{"routine", "measurement"},
         "measurement, measurement_condition, routine",
         "(measurement.measurement_condition_id = measurement_condition.id) AND "
         "(measurement_condition.routine_id = routine.id)",
         {}},
        {{"setup_column", "setup"},
         "setup, setup_association, setup_column",
         "(setup.id = setup_association.setup_id) AND (setup_column.id = setup_association.setup_column_id)",
         {}},
        {{"measurement", "setup"},
         "measurement, measurement_setup, setup",
         "(setup.id = measurement_setup.setup_id) AND (measurement.id = measurement_setup.measurement_id)",
         {}},
        // measurement is preferred as the anchor, also after the fallback pulled it in.
        {{"device", "device_data", "measurement"},
         "device, device_data, measurement",
         "(device.id = measurement.device_id) AND (device_data.device_id = measurement.device_id)",
         {}},
        {{"die", "catalog_entry", "measurement_condition"},
         "catalog_entry, die, measurement, measurement_condition",
         "(measurement.catalog_entry_id = catalog_entry.id) AND (measurement.die_id = die.id) AND "
         "(measurement_condition.id = measurement.measurement_condition_id)",
         {}},
        // Dynamic data tables attach to their master; setup data also through the link table.
        {{"measurement_data_3", "measurement"},
         "measurement, measurement_data_3",
         "(measurement.id = measurement_data_3.measurement_id)",
         {}},
        {{"catalog_entry_data_4", "catalog_entry"},
         "catalog_entry, catalog_entry_data_4",
         "(catalog_entry.id = catalog_entry_data_4.catalog_entry_id)",
         {}},
        {{"setup_data_5", "measurement"},
         "measurement, measurement_setup, setup_data_5",
         "(setup_data_5.setup_id = measurement_setup.setup_id) AND (measurement.id = "
         "measurement_setup.measurement_id)",
         {}},
        // Failures are reported; the joins found stay, and the first failure ends the joining.
        {{"die", "orphan"},
         "die, measurement, orphan",
         "(measurement.die_id = die.id)",
         {unjoined + "tables [orphan] to joined tables: [die, measurement]"}},
        {{"setup_column", "orphan"},
         "measurement, orphan, setup_column",
         "",
         {unjoined + "'measurement' to joined tables: ['setup_column']",
          unjoined + "tables [orphan] to joined tables: [setup_column]"}},
        {{"catalog_entry_data_4", "device_data_6"},
         "catalog_entry_data_4, device_data_6, measurement",
         "",
         {unjoined + "'measurement' to joined tables: ['catalog_entry_data_4']",
          unjoined + "tables [device_data_6] to joined tables: [catalog_entry_data_4]"}},
        {{"setup", "setup_column", "orphan"},
         "measurement, measurement_setup, orphan, setup, setup_column",
         "(setup.id = measurement_setup.setup_id) AND (measurement.id = measurement_setup.measurement_id)",
         {unjoined +
          "tables [orphan, setup_column] to joined tables: [setup, measurement_setup, measurement]"}},
    };
    for (const Case& c : cases) {
        const std::string tag = c.tables.join(", ").toStdString();
        JoinedQuery query(connection());
        for (const QString& table : c.tables)
            query.addColumn(table, "id");
        const DBIF_BooleanQueryCondition always(true);
        query.setCondition(&always);
        const std::string reported = stderrOf([&] { query.generateSql(true); });
        EXPECT_EQ(assertionMessages(reported), c.reports) << tag;
        // The hub and the remaining tables each fail at their own fixed place.
        for (const std::string& report : c.reports) {
            const std::string line = report.find(" tables [") != std::string::npos ? "409" : "497";
            EXPECT_EQ(countOf(reported,
                              "ASSERTION failed (dbif/DBIF_QuarnQuery: line " + line + ")   => " + report),
                      1)
                << tag;
        }
        QStringList tables = query.getTables().values();
        tables.sort();
        QStringList equations;
        for (const DBIF_Query::Join& join : query.getJoins())
            equations << join.toSql();
        EXPECT_EQ(tables.join(", ").toStdString(), c.all) << tag;
        EXPECT_EQ(equations.join(" AND ").toStdString(), c.equations) << tag;
    }

    // Tables reached only through the algorithm count as the query's.
    JoinedQuery hub(connection());
    hub.addColumn("die", "id");
    hub.setCondition(C("device", "name", Equal, "d"));
    EXPECT_FALSE(hub.getTables().contains("measurement"));
    EXPECT_TRUE(hub.containsTable("measurement"));
}

class JoinedDataTest : public QuarnJoinAlgorithmTest {
protected:
    void fill() override {
        installSchema();
        for (const char* sql : {
                 "INSERT INTO die (id, lot) VALUES (1, 'L1'), (2, 'L2')",
                 "INSERT INTO device (id, name) VALUES (1, 'd1'), (2, 'd2')",
                 "INSERT INTO routine (id, name) VALUES (1, 'r1'), (2, 'r2')",
                 "INSERT INTO measurement_condition (id, name, routine_id) VALUES (1, 'c1', 1), (2, 'c2', 2)",
                 "INSERT INTO measurement (id, die_id, device_id, measurement_condition_id, temperature) "
                 "VALUES (1, 1, 1, 1, 25), (2, 2, 2, 2, 85), (3, 1, 2, 2, 125)",
                 "INSERT INTO setup (id, name) VALUES (1, 's1'), (2, 's2')",
                 "INSERT INTO measurement_setup (measurement_id, setup_id) VALUES (1, 1), (3, 2)",
                 "INSERT INTO setup_column (id, name) VALUES (7, 'col')",
                 "INSERT INTO setup_association (setup_id, setup_column_id) VALUES (2, 7)",
             })
            exec(sql);
        connection().createMultiTable("measurement_data_3", "measurement");
        exec("ALTER TABLE measurement_data_3 ADD COLUMN \"v\" DOUBLE");
        exec("INSERT INTO measurement_data_3 (measurement_id, \"v\") VALUES (1, 1.5), (3, 2.5), (3, 3.5)");
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
    EXPECT_EQ(ids("die", C("device", "name", Equal, "d2")), QList<int>({1, 2}));
    EXPECT_EQ(ids("measurement", C("routine", "name", Equal, "r2")), QList<int>({2, 3}));
    EXPECT_EQ(ids("routine", C("die", "lot", Equal, "L1")), QList<int>({1, 2}));
    EXPECT_EQ(ids("setup", C("measurement", "temperature", Greater, 100)), QList<int>({2}));
    EXPECT_EQ(ids("setup", C("setup_column", "name", Equal, "col")), QList<int>({2}));
    EXPECT_EQ(ids("die", C("measurement_data_3", "v", Less, 2.0)), QList<int>({1}));

    // The count statement runs the same joins: die/device through measurement, one row per match.
    JoinedQuery count(connection());
    count.addColumn("die", "id");
    count.addColumn("device", "name");
    count.setCondition(C("device", "name", Equal, "d2"));
    EXPECT_EQ(intOf(count.generateCountSql()), 2);

    // Values of a dynamic table's column, through the measurement it belongs to.
    JoinedQuery values(connection());
    values.addColumn("measurement_data_3", "v");
    values.addColumn("measurement", "temperature");
    values.setCondition(C("die", "lot", Equal, "L1"));
    values.addOrder("measurement_data_3", "v", false);
    QStringList rows;
    for (const QMap<QString, QVariant>& row : queryValues(connection(), &values))
        rows << row.value("v").toString() + "@" + row.value("temperature").toString();
    EXPECT_EQ(rows, QStringList({"3.5@125", "2.5@125", "1.5@25"}));

    // An unjoinable table is reported, and the statement still runs as a cross product.
    QList<int> crossed;
    EXPECT_EQ(reportsOf([&] { crossed = ids("setup_column", C("routine", "name", Equal, "r2")); }),
              Reports{"Couldn't find a way to join tables [setup_column] to joined tables: [routine, "
                      "measurement, measurement_condition]"});
    EXPECT_EQ(crossed, QList<int>({7}));
}

// Rendering twice, or asking containsTable first, joins the same tables: a link table that the
// algorithm pulled in never steers the next rendering. One case per link (through) table.
TEST_P(JoinedDataTest, RenderingTwiceJoinsTheSameTables) {
    for (const char* sql : {
             "INSERT INTO catalog_entry (id, application) VALUES (1, 'a1'), (2, 'a2')",
             "INSERT INTO catalog_entry_column (id, name) VALUES (5, 'col')",
             "INSERT INTO catalog_entry_association (catalog_entry_id, catalog_entry_column_id) VALUES (2, "
             "5)",
             "INSERT INTO device_column (id, name) VALUES (6, 'col')",
             "INSERT INTO device_association (device_id, device_column_id) VALUES (1, 6)",
             "INSERT INTO measurement_column (id, name) VALUES (8, 'col')",
             "INSERT INTO measurement_association (measurement_id, measurement_column_id) VALUES (3, 8)",
             "INSERT INTO measurement_condition_column (id, name) VALUES (9, 'col')",
             "INSERT INTO measurement_condition_association (measurement_condition_id, "
             "measurement_condition_column_id) VALUES (2, 9)",
             "INSERT INTO setup_data (setup_id) VALUES (1), (2)",
         })
        exec(sql);
    struct Case {
        const char* link;
        const char* selected;
        C condition;
        QList<int> ids;
    };
    const Case cases[] = {
        {"measurement_setup", "measurement", C("setup", "name", Equal, "s2"), {3}},
        {"measurement_setup", "setup_data", C("measurement", "temperature", Less, 50), {1}},
        {"measurement_condition", "measurement", C("routine", "name", Equal, "r2"), {2, 3}},
        {"catalog_entry_association", "catalog_entry", C("catalog_entry_column", "name", Equal, "col"), {2}},
        {"device_association", "device", C("device_column", "name", Equal, "col"), {1}},
        {"measurement_association", "measurement", C("measurement_column", "name", Equal, "col"), {3}},
        {"measurement_condition_association",
         "measurement_condition",
         C("measurement_condition_column", "name", Equal, "col"),
         {2}},
        {"setup_association", "setup", C("setup_column", "name", Equal, "col"), {2}},
    };
    for (const Case& c : cases) {
        const std::string tag = std::string(c.link) + " for " + c.selected;
        JoinedQuery query(connection());
        const QString selected = QString::fromLatin1(c.selected);
        query.addColumn(selected, selected == "setup_data" ? "setup_id" : "id");
        query.setCondition(c.condition);
        query.markDistinct();  // as queryIds renders it
        EXPECT_EQ(reportsOf([&] {
                      EXPECT_TRUE(query.containsTable(c.link)) << tag;
                      const QString first = query.generateSql(true);
                      EXPECT_EQ(query.generateCountSql(), query.generateCountSql()) << tag;
                      EXPECT_EQ(query.generateSql(true), first) << tag;
                      EXPECT_EQ(queryIds(connection(), &query), c.ids) << tag;
                      EXPECT_EQ(queryIds(connection(), &query), c.ids) << tag;
                      EXPECT_EQ(query.generateSql(true), first) << tag;
                  }),
                  Reports{})
            << tag;
    }

    // The library's own query counts, then fetches, with the same joins.
    DBIF_QuarnQuery quarn(connection());
    quarn.addColumn("setup", "id");
    quarn.setCondition(C("setup_column", "name", Equal, "col"));
    EXPECT_EQ(intOf(quarn.generateCountSql()), 1);
    EXPECT_EQ(queryIds(connection(), &quarn), QList<int>{2});
    EXPECT_EQ(queryIds(connection(), &quarn), QList<int>{2});
}

DBIF_DATABASE_TEST_SUITE(QuarnJoinAlgorithmTest);
DBIF_DATABASE_TEST_SUITE(JoinedDataTest);

}  // namespace
