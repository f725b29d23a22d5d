// Tests of the query model: building rules (columns, orders, conditions, reset), the exact text of
// every clause and statement form, the assertion reports of incomplete queries, and the rendered
// statements executed through queryIds and both queryValues on both drivers.
#include <gtest/gtest.h>

#include <QSet>
#include <functional>
#include <string>
#include <vector>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_BooleanQueryCondition.h"
#include "dbif/DBIF_DataType.h"
#include "dbif/DBIF_Query.h"

namespace {

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
    EXPECT_EQ(Column("measurement_data_3", "v").alias(), "measurement_data__v");
    EXPECT_EQ(Column("die", "*").alias(), "");
    EXPECT_EQ(Column("t-1.x", "V d(2)").alias(), "tx_Vd2");
    EXPECT_EQ(Column("die", "id", true), Column("die", "id", false));
    EXPECT_NE(DBIF_Query::Order("die", "id", true), DBIF_Query::Order("die", "id", false));

    const DBIF_Query::Join join("measurement", "die_id", "die", "id");
    EXPECT_EQ(join.toSql(), "(measurement.die_id = die.id)");
    const QSet<DBIF_Query::Join> joins = {join, DBIF_Query::Join("measurement", "die_id", "die", "id"),
                                          DBIF_Query::Join("die", "id", "measurement", "die_id")};
    EXPECT_EQ(joins.size(), 2);
}

class QueryTest : public DatabaseTest {
protected:
    std::string render(PlainQuery& query) { return query.generateSql(true).toStdString(); }
    int count(PlainQuery& query) { return intOf(query.generateCountSql()); }
};

TEST_P(QueryTest, BuildingKeepsColumnsAndOrdersUnique) {
    PlainQuery query(connection());
    EXPECT_EQ(query.getLimit(), -1);
    query.addColumn("die", "lot");
    // A present column is neither repeated, nor moved, nor given another flag.
    EXPECT_FALSE(query.addColumn("die", "lot", true).orderOnly);
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
    EXPECT_TRUE(query.markedDistinct() && query.isMarkedLatestOnly());

    query.addTable("extra");
    query.addJoin("a", "x", "b", "y");
    query.reset();
    EXPECT_TRUE(query.getColumns().isEmpty() && query.getTables().isEmpty() && query.getJoins().isEmpty());
    EXPECT_EQ(query.getCondition(), nullptr);
    EXPECT_EQ(query.generateOrder(), "");
    EXPECT_FALSE(query.markedDistinct() || query.isMarkedLatestOnly());
    EXPECT_EQ(query.getLimit(), 7);
    EXPECT_EQ(query.getJoinAlgorithm(), DBIF_Query::SharedData::getNullQueryJoinAlgorithm());
}

TEST_P(QueryTest, ConditionIsAClonedSharedRecord) {
    PlainQuery query(connection());
    const auto condition = [&] { return query.getCondition()->generateSelectionCriteria(connection()); };
    DBIF_SingleColumnCondition lot("die", "lot", Equal, "L1");
    query.setCondition(lot);
    EXPECT_NE(query.getCondition(), static_cast<DBIF_QueryCondition*>(&lot));
    lot.setValue(QStringLiteral("L2"));
    EXPECT_EQ(condition(), "(die.lot = 'L2')");
    // Setting the query's own condition again must not read a freed object.
    query.setCondition(query.getCondition());
    EXPECT_EQ(condition(), "(die.lot = 'L2')");

    query.setCondition("measurement", "temperature", GreaterOrEqual, 2.5, true);
    EXPECT_EQ(condition(), isMySql() ? "(measurement.temperature COLLATE latin1_bin >= 2.5)"
                                     : "(measurement.temperature >= 2.5)");
    const DBIF_BooleanQueryCondition always(true);
    query.setCondition(&always);
    EXPECT_EQ(condition(), "1");
    query.setCondition(static_cast<const DBIF_QueryCondition*>(nullptr));
    EXPECT_EQ(query.getCondition(), nullptr);
}

TEST_P(QueryTest, StatementForms) {
    const std::vector<std::pair<std::function<void(PlainQuery&)>, const char*>> cases = {
        {buildExample, EXAMPLE},
        // Placeholders inside values stay text.
        {[](PlainQuery& q) {
             q.addColumn("die", "*");
             q.addColumn("die", "my col");
             q.setCondition(DBIF_SingleColumnCondition("die", "lot", Like, "%1%2"));
         },
         "SELECT die.*,\n"
         "  die.\"my col\" AS die_mycol\n"
         "FROM\n"
         "  die\n"
         "WHERE \n"
         "  (die.lot LIKE '%1%2')"},
        // Joins in insertion order, tables sorted; a join names no table of its own.
        {[](PlainQuery& q) {
             q.addColumn("measurement", "id");
             q.addTable("die");
             q.addJoin("measurement", "die_id", "die", "id");
             q.addJoin("measurement", "device_id", "device", "id");
             q.addJoin("measurement", "die_id", "die", "id");
             q.setCondition(DBIF_SingleColumnCondition("device", "name", Equal, "d"));
         },
         "SELECT measurement.id AS measurement_id\n"
         "FROM\n"
         "  device,\n"
         "  die,\n"
         "  measurement\n"
         "WHERE \n"
         "  ((measurement.die_id = die.id) AND\n"
         "   (measurement.device_id = device.id))\n"
         "AND\n"
         "  (device.name = 'd')"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        PlainQuery query(connection());
        cases[i].first(query);
        EXPECT_EQ(render(query), cases[i].second) << "case " << i;
    }

    PlainQuery example(connection());
    buildExample(example);
    EXPECT_EQ(example.generateCountSql(),
              "SELECT count(*)\n"
              "FROM\n"
              "(\n"
              "SELECT DISTINCT die.id AS die_id,\n"
              "  die.name AS die_name\n"
              "FROM\n"
              "  die\n"
              "WHERE \n"
              "  (die.name = 'x') LIMIT 5\n"
              ") x\n");
    EXPECT_EQ(example.generateSql(false), QString(EXAMPLE).remove("\nORDER BY\n  2 DESC"));
    for (const int limit : {0, -3}) {
        example.setLimit(limit);
        EXPECT_EQ(example.generateLimit(), "") << limit;
    }
    example.setLimit(5);
    // Rendering again renders the same sets.
    EXPECT_EQ(render(example), EXAMPLE);
}

TEST_P(QueryTest, IncompleteQueriesAreReportedAndFailWhenRun) {
    installSchema();
    const std::string noCondition = "No condition specified in query";
    const std::string noColumns = "No columns specified in query";
    PlainQuery withoutCondition(connection());
    withoutCondition.addColumn("die", "id");
    std::string sql;
    EXPECT_EQ(reportsOf([&] { sql = render(withoutCondition); }), Reports{noCondition});
    EXPECT_EQ(sql, "SELECT die.id AS die_id\nFROM\n  die\nWHERE \n  ");
    EXPECT_EQ(withoutCondition.columnSetFor("die"), QStringList({"id"}));
    EXPECT_EQ(reportsOf([&] {
                  EXPECT_THROW(queryIds(connection(), &withoutCondition), DBIF_Exception);
                  EXPECT_THROW(count(withoutCondition), DBIF_Exception);
              }),
              Reports(2, noCondition));

    PlainQuery withoutColumns(connection());
    withoutColumns.setCondition("die", "id", Equal, 1);
    EXPECT_EQ(reportsOf([&] { sql = render(withoutColumns); }), Reports{noColumns});
    EXPECT_EQ(sql, "SELECT \nFROM\n  die\nWHERE \n  (die.id = 1)");
    EXPECT_EQ(reportsOf([&] {
                  EXPECT_THROW(queryValues(connection(), &withoutColumns), DBIF_Exception);
                  EXPECT_THROW(queryValues(connection(), &withoutColumns, "DB"), DBIF_Exception);
              }),
              Reports(2, noColumns));
    PlainQuery empty(connection());
    EXPECT_EQ(reportsOf([&] { empty.generateSql(false); }), (Reports{noCondition, noColumns}));

    // Reports and exceptions name project-relative files, the query reports at fixed locations.
    std::string what;
    const std::string located = stderrOf([&] {
        withoutCondition.generateCountSql();
        try {
            queryIds(connection(), &withoutCondition);
        } catch (const DBIF_Exception& e) {
            what = e.what();
        }
    });
    EXPECT_EQ(located.substr(0, located.find(')') + 1) + " | " + what.substr(0, what.find('\n')),
              "ASSERTION failed (dbif/DBIF_Query: line 75) | ==> Error reported by database in file: "
              "dbif/DBIF_ObjectCache line: 40");
    EXPECT_NE(located.find("ASSERTION failed (dbif/DBIF_Query: line 56)"), std::string::npos);
}

TEST_P(QueryTest, RenderedStatementsRun) {
    installSchema();
    exec(
        "INSERT INTO die (id, lot, die) VALUES (1, 'L1', 'x'), (2, 'L1', 'y'), (3, 'L2', 'x'), (4, 'L2', "
        "'x')");
    exec(
        "INSERT INTO measurement (id, die_id, temperature) VALUES (10, 1, 25.5), (11, 3, -40), (12, 3, 125)");

    // A query like the example's, read as named values.
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
    EXPECT_EQ(rows[0], (QMap<QString, QVariant>{{"id", 3}, {"lot", "L2"}}));
    EXPECT_EQ(rows[1].value("id").toInt(), 4);
    EXPECT_EQ(count(example), 2);
    example.setLimit(-1);
    EXPECT_EQ(count(example), 3);

    // queryIds marks the query distinct, so a join that repeats die 3 gives it once.
    PlainQuery ids(connection());
    ids.addColumn("die", "id");
    ids.addTable("measurement");
    ids.addJoin("measurement", "die_id", "die", "id");
    ids.setCondition(DBIF_SingleColumnCondition("die", "lot", Equal, "L2"));
    EXPECT_EQ(queryIds(connection(), &ids), QList<int>({3}));
    EXPECT_TRUE(ids.markedDistinct());

    // Typed values of column 0; the distinct switch is left alone.
    PlainQuery temperatures(connection());
    temperatures.addColumn("measurement", "temperature");
    temperatures.setCondition(DBIF_SingleColumnCondition("measurement", "id", In, QList<int>{10, 11, 12}));
    temperatures.addOrder("measurement", "temperature", true);
    const QList<DBIF_DataType*> values = queryValues(connection(), &temperatures, DOUBLE_DATATYPE);
    EXPECT_FALSE(temperatures.markedDistinct());
    QStringList texts;
    for (DBIF_DataType* value : values)
        texts << value->getDataType() + ":" + value->toString();
    qDeleteAll(values);
    EXPECT_EQ(texts, QStringList({"DB:-40", "DB:25.5", "DB:125"}));

    // Two selected columns named id: the later one (die.id) is the map's entry.
    PlainQuery sameName(connection());
    sameName.addColumn("measurement", "id");
    sameName.addColumn("die", "id");
    sameName.addJoin("measurement", "die_id", "die", "id");
    sameName.setCondition("measurement", "id", Equal, 10);
    EXPECT_EQ(queryValues(connection(), &sameName), (QList<QMap<QString, QVariant>>{{{"id", 1}}}));
}

DBIF_DATABASE_TEST_SUITE(QueryTest);

}  // namespace
