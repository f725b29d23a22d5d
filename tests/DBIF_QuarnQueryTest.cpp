// Tests of DBIF_QuarnQuery: the exact statements of the union expansion over physical data tables
// (distinct, order, limit, the outer DISTINCT wrapper), latest-only, text values that name a data
// table, the data-loading statement, sparse columns and copies of a query, each statement also run
// against real tables made by the multi-table layout, on both drivers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSqlQuery>
#include <algorithm>
#include <memory>
#include <utility>

#include "DatabaseTest.h"
#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

using testing::HasSubstr;
using testing::Not;
using MeasurementTable = DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;
using Rows = QList<QList<double>>;

// A query over measurement joined with the measurement data table written "@".
QString joined(const QString& select, const QString& condition) {
    return "SELECT " + select +
           "\nFROM\n  measurement,\n  @\nWHERE \n  ((measurement.id = @.measurement_id))\nAND\n  " +
           condition;
}

// The part of valueQuery().
QString valuePart(bool distinct) {
    return joined(QString(distinct ? "DISTINCT " : "") +
                      "measurement.id AS measurement_id,\n  @.V_0_DB AS measurement_data_V_0_DB",
                  "(@.V_0_DB > 0.5)");
}

class QuarnQueryTest : public SchemaDatabaseTest {
protected:
    void fill() override {
        SchemaDatabaseTest::fill();
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (1, 1, 25), (2, 1, 30), (3, 2, 10)");
    }
    // A saved measurement column; its key.
    QString column(const QString& name, const QString& dataType = "DB",
                   int flags = DBIF_DynamicTableColumn::MULTI_TABLE_FLAG) {
        DBIF_MeasurementColumn made = DBIF_MeasurementColumn::get(connection(), name, dataType, flags);
        made.save();
        return made.getKey();
    }
    // Creates the physical measurement data table of this column set.
    void table(const QStringList& keys) {
        MeasurementTable::get(connection(), DBIF_Measurement::COLUMN_TABLE_NAME,
                              DBIF_Measurement::DATA_TABLE_NAME, keys, false)
            .save(connection());
    }
    void insert(const QString& table, const QString& columns, const QString& values) {
        exec(QStringLiteral("INSERT INTO %1 (%2) VALUES %3").arg(table, columns, values));
    }
    // A query selecting the "table.column" names under the condition.
    DBIF_QuarnQuery queryOf(const QStringList& columns, const DBIF_SingleColumnCondition& condition) {
        DBIF_QuarnQuery query(connection());
        for (const QString& column : columns)
            query.addColumn(column.section('.', 0, 0), column.section('.', 1));
        query.setCondition(condition);
        return query;
    }
    DBIF_QuarnQuery valueQuery(const QString& v) {
        return queryOf({"measurement.id", "measurement_data." + v},
                       DBIF_SingleColumnCondition("measurement_data", v, Greater, 0.5));
    }
    QString part(const QString& sql) const { return isMySql() ? "(" + sql + ")" : sql; }
    // One part per table, "@" in the part standing for the table, as the connection joins them.
    QString unionOf(const QStringList& tables, bool distinct, const QString& partTemplate) const {
        QStringList parts;
        for (const QString& table : tables)
            parts << part(QString(partTemplate).replace('@', table));
        return parts.join(distinct ? "\n\nUNION\n\n" : "\n\nUNION ALL\n\n");
    }
    // Every row of the statement, sorted, so that the order of the union parts does not count.
    Rows run(const QString& sql) {
        QSqlQuery result = connection().query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        Rows rows;
        while (result.next()) {
            rows.append(QList<double>());
            for (int i = 0; i < result.record().count(); ++i)
                rows.last() << result.value(i).toDouble();
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    // Column v in measurement_data_1 (with i) and measurement_data_2 (with g), i alone in
    // measurement_data_3, with rows in all three; the key of v, "V_0_DB".
    QString valueLayout() {
        const QString v = column("v"), i = column("i");
        table({v, i});
        table({v, column("g")});
        table({i});
        insert("measurement_data_1", "measurement_id, V_0_DB, I_0_DB",
               "(1, 1.0, 5), (1, 1.0, 5), (2, 0.25, 6)");
        insert("measurement_data_2", "measurement_id, V_0_DB", "(2, 1.0), (3, 2.0)");
        insert("measurement_data_3", "measurement_id, I_0_DB", "(3, 9.0)");
        return v;
    }
    const QStringList valueTables{"measurement_data_1", "measurement_data_2"};
    const DBIF_SingleColumnCondition warm{"measurement", "temperature", Greater, 20.0};
};

// Copies render what the original rendered after it is gone: they read the join algorithm that the
// original installed, and a sanitizer or valgrind run turns a freed algorithm into a failure.
TEST_P(QuarnQueryTest, QueryWithoutDataColumnsIsTheBaseStatementOnceAlsoInCopies) {
    exec("INSERT INTO die (id, lot) VALUES (1, 'L1'), (2, 'L2')");
    auto original = std::make_unique<DBIF_QuarnQuery>(connection());
    original->addColumn("die", "id");
    original->setCondition(warm);
    DBIF_QuarnQuery copy(*original), assigned;
    assigned = *original;
    QString sql;
    // No data column: the registries are not even asked.
    EXPECT_EQ(statementsOf([&] { sql = original->generateSql(true); }), QStringList());
    EXPECT_EQ(sql, part("SELECT die.id AS die_id\nFROM\n  die,\n  measurement\nWHERE \n"
                        "  ((measurement.die_id = die.id))\nAND\n  (measurement.temperature > 20)"));
    original.reset();
    EXPECT_EQ(copy.generateSql(true), sql);
    copy = DBIF_QuarnQuery();
    EXPECT_EQ(assigned.generateSql(true), sql);
    EXPECT_EQ(queryIds(connection(), &assigned), QList<int>({1}));
}

TEST_P(QuarnQueryTest, UnionOverThePhysicalTablesHoldingTheColumnWithOrderAndLimitOfTheWhole) {
    const QString v = valueLayout();
    struct Case {
        const char* tag;
        bool distinct;
        Rows rows;
    };
    for (const Case& c : {Case{"UNION ALL", false, {{1, 1}, {1, 1}, {2, 1}, {3, 2}}},
                          Case{"UNION", true, {{1, 1}, {2, 1}, {3, 2}}}}) {
        SCOPED_TRACE(c.tag);
        DBIF_QuarnQuery query = valueQuery(v);
        query.markDistinct(c.distinct);
        const QString sql = query.generateSql(true);
        EXPECT_EQ(sql, unionOf(valueTables, c.distinct, valuePart(c.distinct)));
        EXPECT_EQ(run(sql), c.rows);
    }

    // An order on a selected column with distinct: the union is wrapped in a DISTINCT of its alias.
    DBIF_QuarnQuery query = valueQuery(v);
    query.markDistinct();
    query.addOrder("measurement_data", v, false);
    query.setLimit(2);
    const QString wrapped = query.generateSql(true);
    const QString outer =
        "SELECT DISTINCT measurement_data_V_0_DB FROM (\n" + unionOf(valueTables, true, valuePart(true));
    EXPECT_EQ(wrapped, outer + " \nORDER BY\n  2 DESC LIMIT 2) x");
    EXPECT_EQ(query.getLimit(), 2);
    EXPECT_EQ(run(wrapped), Rows({{1}, {2}}));
    EXPECT_EQ(query.generateSql(false), outer + " LIMIT 2) x");

    // An order only on an order-only column: no wrapper; the column joins every part.
    DBIF_QuarnQuery byTemperature = valueQuery(v);
    byTemperature.markDistinct();
    byTemperature.addOrder("measurement", "temperature", true);
    const QString ordered = byTemperature.generateSql(true);
    EXPECT_EQ(ordered, unionOf(valueTables, true,
                               joined("DISTINCT measurement.id AS measurement_id,\n"
                                      "  @.V_0_DB AS measurement_data_V_0_DB,\n"
                                      "  measurement.temperature AS measurement_temperature",
                                      "(@.V_0_DB > 0.5)")) +
                           " \nORDER BY\n  3 ASC");
    EXPECT_EQ(queryIds(connection(), &byTemperature), QList<int>({3, 1, 2}));  // at 10, 25, 30 degrees
}

TEST_P(QuarnQueryTest, LatestOnlyPullsInTheLatestMeasurementOrSetup) {
    exec("INSERT INTO latest_measurement (measurement_id) VALUES (2), (3)");
    DBIF_QuarnQuery query = queryOf({"measurement.id"}, warm);
    EXPECT_EQ(queryIds(connection(), &query).size(), 2);
    query.markLatestOnly(true);
    EXPECT_EQ(query.generateSql(true),
              part("SELECT DISTINCT measurement.id AS measurement_id\nFROM\n  latest_measurement,\n"
                   "  measurement\nWHERE \n  ((measurement.id = latest_measurement.measurement_id))\nAND\n"
                   "  (measurement.temperature > 20)"));
    EXPECT_EQ(queryIds(connection(), &query), QList<int>({2}));

    // A die query names no measurement table: measurement comes in as the master.
    DBIF_QuarnQuery dies = queryOf({"die.id"}, DBIF_SingleColumnCondition("die", "id", Greater, 0));
    dies.markLatestOnly(true);
    EXPECT_TRUE(dies.containsTable("latest_measurement") && dies.containsTable("measurement"));

    // Anything on setup_column turns it into a latest-setup query.
    DBIF_QuarnQuery setups =
        queryOf({"setup_column.id"}, DBIF_SingleColumnCondition("setup_column", "name", Equal, "x"));
    setups.markLatestOnly(true);
    const std::string sql = setups.generateSql(true).toStdString();
    EXPECT_THAT(sql, HasSubstr("  latest_setup,\n"));
    EXPECT_THAT(sql, HasSubstr("(setup.id = latest_setup.setup_id)"));
    EXPECT_THAT(sql, Not(HasSubstr("latest_measurement")));
}

TEST_P(QuarnQueryTest, TextValuesNamingDataTablesAreNotRewritten) {
    const QString note = column("note", "TX");
    table({note});
    table({note, column("v")});
    // A value naming a base table and an alias, with a quote, a backslash and placeholders.
    const QString value = QStringLiteral("measurement_data 'x' \\ measurement_data_NOTE_0_TX %1 %2");
    const QString quoted = connection().quoteText(value);
    insert("measurement_data_1", "measurement_id, NOTE_0_TX", "(1, " + quoted + ")");
    insert("measurement_data_2", "measurement_id, NOTE_0_TX", "(3, " + quoted + "), (2, 'other')");
    const DBIF_SingleColumnCondition named("measurement_data", note, Equal, value);

    DBIF_QuarnQuery query = queryOf({"measurement.id"}, named);
    query.setLimit(5);
    const QString sql = query.generateSql(true);
    EXPECT_EQ(sql, unionOf({"measurement_data_1", "measurement_data_2"}, false,
                           joined("measurement.id AS measurement_id", "(@.NOTE_0_TX = " + quoted + ")")) +
                       " LIMIT 5");
    EXPECT_EQ(run(sql), Rows({{1}, {3}}));
    // A column alias spelled like a base table is no table reference either.
    EXPECT_EQ(queryOf({"measurement.data"}, named)
                  .generateSql(true)
                  .count("SELECT measurement.data AS measurement_data\nFROM"),
              2);
}

TEST_P(QuarnQueryTest, DataStatementReadsOneEntityFromEveryTableHoldingItsColumns) {
    const QString v = valueLayout();
    DBIF_QuarnQuery loader(connection());
    const QString sql =
        loader.generateDataSql(DBIF_MULTI_TABLE_STORAGE, "measurement", "measurement_data", {v}, 2);
    EXPECT_EQ(
        sql,
        unionOf(valueTables, false,
                "SELECT @.V_0_DB AS measurement_data_V_0_DB\nFROM\n  @\nWHERE \n  (@.measurement_id = 2)"));
    EXPECT_EQ(run(sql), Rows({{0.25}, {1}}));
    // Two columns: only the table holding both, the columns in list order. A physical table named
    // directly is read alone, and its alias loses the digits with nothing restoring them.
    for (const auto& [table, alias] : {std::pair("measurement_data", "measurement_data"),
                                       std::pair("measurement_data_1", "measurement_data_")}) {
        SCOPED_TRACE(table);
        const QString both =
            loader.generateDataSql(DBIF_MULTI_TABLE_STORAGE, "measurement", table, {"I_0_DB", v}, 2);
        EXPECT_EQ(both, part(QStringLiteral("SELECT measurement_data_1.I_0_DB AS %1_I_0_DB,\n"
                                            "  measurement_data_1.V_0_DB AS %1_V_0_DB\nFROM\n"
                                            "  measurement_data_1\nWHERE \n"
                                            "  (measurement_data_1.measurement_id = 2)")
                                 .arg(alias)));
        EXPECT_EQ(run(both), Rows({{6, 0.25}}));
    }
}

TEST_P(QuarnQueryTest, SparseColumnsKeepTheBaseTable) {
    DBIF_Connection& db = connection();
    const QString both = column(
        "w", "DB", DBIF_DynamicTableColumn::SPARSE_TABLE_FLAG | DBIF_DynamicTableColumn::MULTI_TABLE_FLAG);
    const QString multi = column("m");
    // A column in the base table and in a physical table: one part each, with the same alias.
    exec("ALTER TABLE measurement_data ADD COLUMN W_0_DB DOUBLE");
    table({both});
    insert("measurement_data", "measurement_id, W_0_DB", "(1, 4)");
    insert("measurement_data_1", "measurement_id, W_0_DB", "(2, 4), (3, 5)");
    DBIF_QuarnQuery query = queryOf({"measurement_data." + both},
                                    DBIF_SingleColumnCondition("measurement", "temperature", Greater, 0.0));
    const QString sql = query.generateSql(true);
    EXPECT_EQ(sql, unionOf({"measurement_data", "measurement_data_1"}, false,
                           joined("@.W_0_DB AS measurement_data_W_0_DB", "(measurement.temperature > 0)")));
    EXPECT_EQ(run(sql), Rows({{4}, {4}, {5}}));
    // The count covers the base statement only.
    const QString count = query.generateCountSql();
    EXPECT_THAT(count.toStdString(), Not(HasSubstr("measurement_data_1")));
    EXPECT_EQ(db.queryInt(count, DBIF_QUERY_TIMING, __FILE__, __LINE__), 1);

    // Columns that no table holds and that are not sparse: no part, an empty statement.
    DBIF_QuarnQuery nowhere = queryOf({"measurement_data." + multi}, warm);
    nowhere.addOrder("measurement", "id", true);
    nowhere.setLimit(3);
    EXPECT_EQ(nowhere.generateSql(true), QString());
    EXPECT_EQ(nowhere.getLimit(), 3);
}

DBIF_DATABASE_TEST_SUITE(QuarnQueryTest);

}  // namespace
