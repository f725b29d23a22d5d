// Tests of the query model: building rules (columns, orders, conditions, reset), the exact text of
// every clause and statement form, the assertion reports of incomplete queries, and the rendered
// statements executed through queryIds and both queryValues on both drivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSet>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_BooleanQueryCondition.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_Double.h"
#include "dbif/DBIF_Query.h"
#include "dbif/DBIF_Utilities.h"

namespace {

using testing::HasSubstr;

// The base query with its default (null) join algorithm; joins come only from addJoin.
class PlainQuery : public DBIF_Query {
public:
    explicit PlainQuery(const DBIF_Connection& connection) : DBIF_Query(connection) {}
    using DBIF_Query::markedDistinct;
    using DBIF_Query::realColumns;

protected:
    void markAbstract() override {}
};

// The query of the eight-line example: die.id and die.name, (die.name = 'x'), distinct, name
// descending, limit 5.
void buildExample(DBIF_Query& query) {
    query.addColumn("die", "id");
    query.addColumn("die", "name");
    query.setCondition(DBIF_SingleColumnCondition("die", "name", Equal, "x"));
    query.markDistinct();
    query.addOrder("die", "name", false);
    query.setLimit(5);
}

const char* const EXAMPLE =
    "SELECT DISTINCT die.id AS die_id,\n"
    "  die.name AS die_name\n"
    "FROM\n"
    "  die\n"
    "WHERE \n"
    "  (die.name = 'x')\n"
    "ORDER BY\n"
    "  2 DESC LIMIT 5";

TEST(QueryModel, ColumnAliasOrderAndJoinValues) {
    using Column = DBIF_Query::Column;
    EXPECT_EQ(Column("die", "id").alias(), "die_id");
    EXPECT_EQ(Column("measurement_data_3", "v").alias(), "measurement_data__v");
    EXPECT_EQ(Column("die", "*").alias(), "");
    EXPECT_EQ(Column("t-1.x", "V d(2)").alias(), "tx_Vd2");
    EXPECT_EQ(Column("die", "id", true), Column("die", "id", false));
    EXPECT_NE(Column("die", "id"), Column("die", "lot"));

    EXPECT_EQ(DBIF_Query::Order("die", "id", true).direction, "ASC");
    EXPECT_EQ(DBIF_Query::Order("die", "id", false).direction, "DESC");
    EXPECT_NE(DBIF_Query::Order("die", "id", true), DBIF_Query::Order("die", "id", false));

    const DBIF_Query::Join join("measurement", "die_id", "die", "id");
    EXPECT_EQ(join.toSql(), "(measurement.die_id = die.id)");
    const QSet<DBIF_Query::Join> joins = {join, DBIF_Query::Join("measurement", "die_id", "die", "id"),
                                          DBIF_Query::Join("die", "id", "measurement", "die_id")};
    EXPECT_EQ(joins.size(), 2);
}

class QueryTest : public DatabaseTest {
protected:
    void fillDies() {
        installSchema();
        exec("INSERT INTO die (id, lot, wafer, die) VALUES (1, 'L1', 'w', 'x')");
        exec("INSERT INTO die (id, lot, wafer, die) VALUES (2, 'L1', 'w', 'y')");
        exec("INSERT INTO die (id, lot, wafer, die) VALUES (3, 'L2', 'w', 'x')");
        exec("INSERT INTO die (id, lot, wafer, die) VALUES (4, 'L2', 'w', 'x')");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (10, 1, 25.5)");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (11, 3, -40)");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (12, 3, 125)");
    }
};

TEST_P(QueryTest, BuildingKeepsColumnsAndOrdersUnique) {
    PlainQuery query(connection());
    EXPECT_EQ(query.getLimit(), -1);
    EXPECT_FALSE(query.markedDistinct());

    query.addColumn("die", "lot");
    query.addColumn("die", "lot");
    EXPECT_EQ(query.getColumnNames(), QStringList({"lot"}));
    // A present column is neither moved nor given another flag.
    const DBIF_Query::Column kept = query.addColumn("die", "lot", true);
    EXPECT_FALSE(kept.orderOnly);
    query.addColumnAt("die", "id", 0);
    query.addColumnAt("die", "lot", 0);
    query.addColumnAt("die", "wafer", 99);
    query.addColumnAt("die", "die", -5);
    EXPECT_EQ(query.getColumnNames(), QStringList({"die", "id", "lot", "wafer"}));

    // An order on a selected column keeps it real; an order on another adds an order-only column.
    query.addOrder("die", "lot", true);
    query.addOrders({DBIF_Query::Order("die", "block", false), DBIF_Query::Order("die", "lot", true)});
    EXPECT_EQ(query.getColumnNames(), QStringList({"die", "id", "lot", "wafer", "block"}));
    EXPECT_TRUE(query.getColumns().last().orderOnly);
    EXPECT_EQ(query.realColumns(), QStringList({"die_lot"}));
    EXPECT_EQ(query.generateOrder(), "\nORDER BY\n  3 ASC,\n  5 DESC");

    // Selected columns of the table first, then the condition's, without "*" and duplicates.
    query.addColumn("die", "*");
    query.setCondition(DBIF_SingleColumnCondition("die", "user", Equal, "u") &&
                       DBIF_SingleColumnCondition("measurement", "temperature", Less, 3.0));
    EXPECT_EQ(query.columnSetFor("die"), QStringList({"die", "id", "lot", "wafer", "block", "user"}));
    EXPECT_EQ(query.columnSetFor("measurement"), QStringList({"temperature"}));

    // Copies share the record.
    PlainQuery copy = query;
    copy.setLimit(7);
    copy.markDistinct();
    copy.markLatestOnly(true);
    EXPECT_EQ(query.getLimit(), 7);
    EXPECT_TRUE(query.markedDistinct());
    EXPECT_TRUE(query.isMarkedLatestOnly());

    query.addTable("extra");
    query.addJoin("a", "x", "b", "y");
    query.reset();
    EXPECT_TRUE(query.getColumns().isEmpty());
    EXPECT_TRUE(query.getTables().isEmpty());
    EXPECT_TRUE(query.getJoins().isEmpty());
    EXPECT_EQ(query.getCondition(), nullptr);
    EXPECT_EQ(query.generateOrder(), "");
    EXPECT_FALSE(query.markedDistinct());
    EXPECT_FALSE(query.isMarkedLatestOnly());
    EXPECT_EQ(query.getLimit(), 7);
    EXPECT_EQ(query.getJoinAlgorithm(), DBIF_Query::SharedData::getNullQueryJoinAlgorithm());
}

TEST_P(QueryTest, ConditionIsAClonedSharedRecord) {
    PlainQuery query(connection());
    query.addColumn("die", "id");
    DBIF_SingleColumnCondition lot("die", "lot", Equal, "L1");
    query.setCondition(lot);
    ASSERT_NE(query.getCondition(), nullptr);
    EXPECT_NE(query.getCondition(), static_cast<DBIF_QueryCondition*>(&lot));
    lot.setValue(QStringLiteral("L2"));
    EXPECT_EQ(query.getCondition()->generateSelectionCriteria(connection()), "(die.lot = 'L2')");

    // Setting the query's own condition again must not read a freed object.
    query.setCondition(query.getCondition());
    EXPECT_EQ(query.getCondition()->generateSelectionCriteria(connection()), "(die.lot = 'L2')");

    query.setCondition("measurement", "temperature", GreaterOrEqual, 2.5, true);
    const QString suffix = isMySql() ? " COLLATE latin1_bin" : "";
    EXPECT_EQ(query.getCondition()->generateSelectionCriteria(connection()),
              QStringLiteral("(measurement.temperature%1 >= 2.5)").arg(suffix));

    const DBIF_BooleanQueryCondition always(true);
    query.setCondition(&always);
    EXPECT_EQ(query.getCondition()->generateSelectionCriteria(connection()), "1");
    query.setCondition(static_cast<const DBIF_QueryCondition*>(nullptr));
    EXPECT_EQ(query.getCondition(), nullptr);
}

struct RenderCase {
    const char* tag;
    std::function<void(PlainQuery&)> build;
    const char* sql;    // generateSql(true)
    const char* count;  // generateCountSql(), nullptr: not checked
};

TEST_P(QueryTest, StatementForms) {
    const std::vector<RenderCase> cases = {
        {"eight-line example", buildExample, EXAMPLE,
         "SELECT count(*)\n"
         "FROM\n"
         "(\n"
         "SELECT DISTINCT die.id AS die_id,\n"
         "  die.name AS die_name\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.name = 'x') LIMIT 5\n"
         ") x\n"},
        {"one table, no joins",
         [](PlainQuery& q) {
             q.addColumn("die", "id");
             q.setCondition("die", "id", Equal, 3);
         },
         "SELECT die.id AS die_id\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.id = 3)",
         "SELECT count(*)\n"
         "FROM\n"
         "(\n"
         "SELECT die.id AS die_id\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.id = 3)\n"
         ") x\n"},
        {"limit 0 is none, distinct off",
         [](PlainQuery& q) {
             buildExample(q);
             q.setLimit(0);
             q.markDistinct(false);
         },
         "SELECT die.id AS die_id,\n"
         "  die.name AS die_name\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.name = 'x')\n"
         "ORDER BY\n"
         "  2 DESC",
         nullptr},
        {"order-only column and ascending",
         [](PlainQuery& q) {
             q.addColumn("die", "id");
             q.addOrder("die", "lot", true);
             q.setCondition("die", "id", Greater, 0);
         },
         "SELECT die.id AS die_id,\n"
         "  die.lot AS die_lot\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.id > 0)\n"
         "ORDER BY\n"
         "  2 ASC",
         nullptr},
        {"star and quoted column",
         [](PlainQuery& q) {
             q.addColumn("die", "*");
             q.addColumn("die", "my col");
             q.setCondition("die", "id", Less, 9);
         },
         "SELECT die.*,\n"
         "  die.\"my col\" AS die_mycol\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.id < 9)",
         nullptr},
        {"joins in insertion order, tables sorted",
         [](PlainQuery& q) {
             q.addColumn("measurement", "id");
             q.addColumn("die", "lot");
             q.addJoin("measurement", "die_id", "die", "id");
             q.addJoin("measurement", "device_id", "device", "id");
             q.addJoin("measurement", "die_id", "die", "id");
             q.setCondition(DBIF_SingleColumnCondition("device", "name", Equal, "d"));
         },
         "SELECT measurement.id AS measurement_id,\n"
         "  die.lot AS die_lot\n"
         "FROM\n"
         "  device,\n"
         "  die,\n"
         "  measurement\n"
         "WHERE \n"
         "  ((measurement.die_id = die.id) AND\n"
         "   (measurement.device_id = device.id))\n"
         "AND\n"
         "  (device.name = 'd')",
         nullptr},
        {"placeholders inside values stay text",
         [](PlainQuery& q) {
             q.addColumn("die", "id");
             q.setCondition(DBIF_SingleColumnCondition("die", "lot", Like, "%1%2"));
         },
         "SELECT die.id AS die_id\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.lot LIKE '%1%2')",
         nullptr},
    };
    for (const RenderCase& c : cases) {
        SCOPED_TRACE(c.tag);
        PlainQuery query(connection());
        c.build(query);
        EXPECT_EQ(query.generateSql(true), c.sql);
        if (c.count) {
            EXPECT_EQ(query.generateCountSql(), c.count);
        }
    }

    PlainQuery example(connection());
    buildExample(example);
    EXPECT_EQ(example.generateSql(false),
              "SELECT DISTINCT die.id AS die_id,\n"
              "  die.name AS die_name\n"
              "FROM\n"
              "  die\n"
              "WHERE \n"
              "  (die.name = 'x') LIMIT 5");
    EXPECT_EQ(example.generateOrder(), "\nORDER BY\n  2 DESC");
    EXPECT_EQ(example.generateLimit(), " LIMIT 5");
    example.setLimit(1);
    EXPECT_EQ(example.generateLimit(), " LIMIT 1");
    example.setLimit(-3);
    EXPECT_EQ(example.generateLimit(), "");
    example.setLimit(5);
    // Rendering again renders the same sets.
    EXPECT_EQ(example.generateSql(true), EXAMPLE);
}

TEST_P(QueryTest, IncompleteQueriesAreReportedAndFailWhenRun) {
    installSchema();
    ASSERT_TRUE(printOnAssert);
    ASSERT_FALSE(abortOnAssert);

    PlainQuery noCondition(connection());
    noCondition.addColumn("die", "id");
    QString sql;
    std::string report = stderrOf([&] { sql = noCondition.generateSql(true); });
    EXPECT_THAT(report, HasSubstr("ASSERTION failed ("));
    EXPECT_THAT(report, HasSubstr("No condition specified in query"));
    EXPECT_EQ(countOf(report, "ASSERTION failed ("), 1) << report;
    EXPECT_EQ(sql,
              "SELECT die.id AS die_id\n"
              "FROM\n"
              "  die\n"
              "WHERE \n"
              "  ");
    EXPECT_EQ(noCondition.columnSetFor("die"), QStringList({"id"}));
    report = stderrOf([&] { EXPECT_THROW(queryIds(connection(), &noCondition), DBIF_Exception); });
    EXPECT_THAT(report, HasSubstr("No condition specified in query"));
    report = stderrOf([&] { sql = noCondition.generateCountSql(); });
    EXPECT_THAT(report, HasSubstr("No condition specified in query"));
    EXPECT_THROW(connection().queryInt(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__), DBIF_Exception);

    PlainQuery noColumns(connection());
    noColumns.setCondition("die", "id", Equal, 1);
    report = stderrOf([&] { sql = noColumns.generateSql(true); });
    EXPECT_THAT(report, HasSubstr("No columns specified in query"));
    EXPECT_EQ(countOf(report, "ASSERTION failed ("), 1) << report;
    EXPECT_EQ(sql,
              "SELECT \n"
              "FROM\n"
              "  die\n"
              "WHERE \n"
              "  (die.id = 1)");
    report = stderrOf([&] {
        EXPECT_THROW(queryValues(connection(), &noColumns), DBIF_Exception);
        EXPECT_THROW(queryValues(connection(), &noColumns, "DB"), DBIF_Exception);
    });
    EXPECT_EQ(countOf(report, "No columns specified in query"), 2) << report;

    PlainQuery empty(connection());
    report = stderrOf([&] { sql = empty.generateSql(false); });
    EXPECT_THAT(report, HasSubstr("No condition specified in query"));
    EXPECT_THAT(report, HasSubstr("No columns specified in query"));

    // A statement the database rejects for another reason throws as well.
    PlainQuery missingTable(connection());
    missingTable.addColumn("no_such_table", "id");
    missingTable.setCondition("no_such_table", "id", Equal, 1);
    EXPECT_THROW(queryIds(connection(), &missingTable), DBIF_Exception);
}

TEST_P(QueryTest, RenderedStatementsRun) {
    fillDies();

    // The example's query (on the die column, which holds 'x' and 'y'), read as named values.
    PlainQuery example(connection());
    example.addColumn("die", "id");
    example.addColumn("die", "lot");
    example.setCondition(DBIF_SingleColumnCondition("die", "die", Equal, "x"));
    example.markDistinct();
    example.addOrder("die", "lot", false);
    example.addOrder("die", "id", true);
    example.setLimit(2);
    const QList<QMap<QString, QVariant>> rows = queryValues(connection(), &example);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].value("id").toInt(), 3);
    EXPECT_EQ(rows[0].value("lot").toString(), "L2");
    EXPECT_EQ(rows[1].value("id").toInt(), 4);
    const int count =
        connection().queryInt(example.generateCountSql(), DBIF_QUERY_TIMING, __FILE__, __LINE__);
    EXPECT_EQ(count, 2);
    example.setLimit(-1);
    EXPECT_EQ(connection().queryInt(example.generateCountSql(), DBIF_QUERY_TIMING, __FILE__, __LINE__), 3);

    // queryIds marks the query distinct: two dies with lot L2 give each id once even with a
    // measurement join that repeats die 3.
    PlainQuery ids(connection());
    ids.addColumn("die", "id");
    ids.addJoin("measurement", "die_id", "die", "id");
    ids.setCondition(DBIF_SingleColumnCondition("die", "lot", Equal, "L2"));
    ids.addOrder("die", "id", false);
    ids.addColumnAt("measurement", "temperature", 5);
    EXPECT_EQ(queryIds(connection(), &ids), QList<int>({3, 3}));  // two temperatures: rows differ
    PlainQuery onlyIds(connection());
    onlyIds.addColumn("die", "id");
    onlyIds.addTable("measurement");
    onlyIds.addJoin("measurement", "die_id", "die", "id");
    onlyIds.setCondition(DBIF_SingleColumnCondition("die", "lot", Equal, "L2"));
    EXPECT_FALSE(onlyIds.markedDistinct());
    EXPECT_EQ(queryIds(connection(), &onlyIds), QList<int>({3}));
    EXPECT_TRUE(onlyIds.markedDistinct());

    // Typed values of column 0; the distinct switch is left alone.
    PlainQuery temperatures(connection());
    temperatures.addColumn("measurement", "temperature");
    temperatures.setCondition(DBIF_SingleColumnCondition("measurement", "id", In, QList<int>{10, 11, 12}));
    temperatures.addOrder("measurement", "temperature", true);
    const QList<DBIF_DataType*> values = queryValues(connection(), &temperatures, DOUBLE_DATATYPE);
    EXPECT_FALSE(temperatures.markedDistinct());
    ASSERT_EQ(values.size(), 3);
    std::vector<double> numbers;
    for (DBIF_DataType* value : values) {
        ASSERT_EQ(value->getDataType(), DOUBLE_DATATYPE);
        numbers.push_back(static_cast<DBIF_Double*>(value)->value());
    }
    qDeleteAll(values);
    EXPECT_EQ(numbers, std::vector<double>({-40, 25.5, 125}));

    // Two selected columns named id: the later one (die.id) is the map's entry.
    PlainQuery sameName(connection());
    sameName.addColumn("measurement", "id");
    sameName.addColumn("die", "id");
    sameName.addJoin("measurement", "die_id", "die", "id");
    sameName.setCondition("measurement", "id", Equal, 10);
    const QList<QMap<QString, QVariant>> joined = queryValues(connection(), &sameName);
    ASSERT_EQ(joined.size(), 1);
    EXPECT_EQ(joined[0].size(), 1);
    EXPECT_EQ(joined[0].value("id").toInt(), 1);
}

DBIF_DATABASE_TEST_SUITE(QueryTest);

}  // namespace
