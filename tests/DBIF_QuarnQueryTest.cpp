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

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_QuarnQuery.h"
#include "dbif/DBIF_SingleColumnCondition.h"

namespace {

using testing::HasSubstr;
using testing::Not;
using MeasurementTable = DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;
using Rows = QList<QVariantList>;

class QuarnQueryTest : public SchemaDatabaseTest {
protected:
    // A saved measurement column; its key.
    QString column(const QString& name, const QString& dataType = "DB", int flags = 2) {
        DBIF_MeasurementColumn made = DBIF_MeasurementColumn::get(connection(), name, dataType, flags);
        made.save();
        return made.getKey();
    }
    // The physical measurement data table of this column set, created now; its name.
    QString table(const QStringList& keys) {
        MeasurementTable made = MeasurementTable::get(connection(), DBIF_Measurement::COLUMN_TABLE_NAME,
                                                      DBIF_Measurement::DATA_TABLE_NAME, keys, false);
        made.save(connection());
        return made.getTableName();
    }
    // One part of a union as the connection writes it.
    QString part(const QString& sql) const { return isMySql() ? "(" + sql + ")" : sql; }
    QString unionOf(const QStringList& sqls, bool distinct) const {
        QStringList parts;
        for (const QString& sql : sqls)
            parts << part(sql);
        return parts.join(distinct ? "\n\nUNION\n\n" : "\n\nUNION ALL\n\n");
    }
    // Every row of the statement, sorted, so that union order does not matter.
    Rows run(const QString& sql) {
        QSqlQuery result = connection().query(sql, DBIF_QUERY_TIMING, __FILE__, __LINE__);
        Rows rows;
        while (result.next()) {
            QVariantList row;
            for (int i = 0; i < result.record().count(); ++i)
                row << result.value(i).toDouble();
            rows << row;
        }
        std::sort(rows.begin(), rows.end(), [](const QVariantList& a, const QVariantList& b) {
            for (int i = 0; i < std::min(a.size(), b.size()); ++i) {
                if (a[i].toDouble() != b[i].toDouble())
                    return a[i].toDouble() < b[i].toDouble();
            }
            return a.size() < b.size();
        });
        return rows;
    }
    void measurements() {
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (1, 1, 25)");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (2, 1, 30)");
        exec("INSERT INTO measurement (id, die_id, temperature) VALUES (3, 2, 10)");
    }
    void insertData(const QString& table, int measurement, const QString& key, const QString& value) {
        exec(QStringLiteral("INSERT INTO %1 (measurement_id, \"%2\") VALUES (%3, %4)")
                 .arg(table, key, QString::number(measurement), value));
    }
};

// One part of a query over measurement joined with one measurement data table; "@" in the select
// list and the condition stands for that table.
QString joinedPart(const QString& table, const QString& select, const QString& condition) {
    return QStringLiteral(
               "SELECT %1\n"
               "FROM\n"
               "  measurement,\n"
               "  %2\n"
               "WHERE \n"
               "  ((measurement.id = %2.measurement_id))\n"
               "AND\n"
               "  %3")
        .arg(QString(select).replace('@', table), table, QString(condition).replace('@', table));
}

// One part of the query over measurement.id and measurement_data.V_0_DB with V_0_DB > 0.5.
QString valuePart(const QString& table, bool distinct) {
    return joinedPart(
        table,
        QStringLiteral("%1measurement.id AS measurement_id,\n  @.V_0_DB AS measurement_data_V_0_DB")
            .arg(distinct ? "DISTINCT " : ""),
        "(@.V_0_DB > 0.5)");
}

TEST_P(QuarnQueryTest, QueryWithoutDataColumnsIsTheBaseStatementOnce) {
    DBIF_QuarnQuery query(connection());
    query.addColumn("die", "id");
    query.addColumn("die", "lot");
    query.setCondition(DBIF_SingleColumnCondition("measurement", "temperature", Greater, 20.0));
    const QString sql = query.generateSql(true);
    EXPECT_EQ(sql, part("SELECT die.id AS die_id,\n"
                        "  die.lot AS die_lot\n"
                        "FROM\n"
                        "  die,\n"
                        "  measurement\n"
                        "WHERE \n"
                        "  ((measurement.die_id = die.id))\n"
                        "AND\n"
                        "  (measurement.temperature > 20)"));
    EXPECT_THAT(sql.toStdString(), Not(HasSubstr("UNION")));
    // No data column: the registries are not even asked.
    EXPECT_EQ(statementsOf([&] { query.generateSql(true); }), QStringList());

    exec("INSERT INTO die (id, lot) VALUES (1, 'L1')");
    exec("INSERT INTO die (id, lot) VALUES (2, 'L2')");
    measurements();
    EXPECT_EQ(run(sql), Rows({{1.0, 0.0}, {1.0, 0.0}}));  // lot text reads as 0
    EXPECT_EQ(queryIds(connection(), &query), QList<int>({1}));
}

TEST_P(QuarnQueryTest, UnionOverThePhysicalTablesHoldingTheColumn) {
    const QString v = column("v");
    const QString i = column("i");
    const QString g = column("g");
    ASSERT_EQ(v, "V_0_DB");
    ASSERT_EQ(table({v, i}), "measurement_data_1");
    ASSERT_EQ(table({v, g}), "measurement_data_2");
    ASSERT_EQ(table({i}), "measurement_data_3");

    DBIF_QuarnQuery query(connection());
    query.addColumn("measurement", "id");
    query.addColumn("measurement_data", v);
    query.setCondition(DBIF_SingleColumnCondition("measurement_data", v, Greater, 0.5));
    const QString all = query.generateSql(true);
    EXPECT_EQ(all, unionOf({valuePart("measurement_data_1", false), valuePart("measurement_data_2", false)},
                           false));
    query.markDistinct();
    const QString distinct = query.generateSql(true);
    EXPECT_EQ(distinct,
              unionOf({valuePart("measurement_data_1", true), valuePart("measurement_data_2", true)}, true));

    measurements();
    insertData("measurement_data_1", 1, v, "1.0");
    insertData("measurement_data_1", 1, v, "1.0");
    insertData("measurement_data_1", 2, v, "0.25");
    insertData("measurement_data_2", 2, v, "1.0");
    insertData("measurement_data_2", 3, v, "2.0");
    insertData("measurement_data_3", 3, i, "9.0");
    EXPECT_EQ(run(all), Rows({{1.0, 1.0}, {1.0, 1.0}, {2.0, 1.0}, {3.0, 2.0}}));
    EXPECT_EQ(run(distinct), Rows({{1.0, 1.0}, {2.0, 1.0}, {3.0, 2.0}}));
    QList<int> ids = queryIds(connection(), &query);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, QList<int>({1, 2, 3}));
}

TEST_P(QuarnQueryTest, OrderAndLimitBelongToTheWholeUnion) {
    const QString v = column("v");
    table({v});
    table({v, column("i")});
    measurements();
    insertData("measurement_data_1", 1, v, "1.0");
    insertData("measurement_data_2", 2, v, "1.0");
    insertData("measurement_data_2", 3, v, "2.0");

    // An order on a selected column with distinct: the union is wrapped in a DISTINCT of its alias.
    DBIF_QuarnQuery query(connection());
    query.addColumn("measurement", "id");
    query.addColumn("measurement_data", v);
    query.setCondition(DBIF_SingleColumnCondition("measurement_data", v, Greater, 0.5));
    query.markDistinct();
    query.addOrder("measurement_data", v, false);
    query.setLimit(2);
    const QString wrapped = query.generateSql(true);
    EXPECT_EQ(
        wrapped,
        "SELECT DISTINCT measurement_data_V_0_DB FROM (\n" +
            unionOf({valuePart("measurement_data_1", true), valuePart("measurement_data_2", true)}, true) +
            " \nORDER BY\n  2 DESC LIMIT 2) x");
    EXPECT_EQ(query.getLimit(), 2);
    EXPECT_EQ(wrapped.count("ORDER BY"), 1);
    EXPECT_EQ(wrapped.count("LIMIT"), 1);
    EXPECT_EQ(run(wrapped), Rows({{1.0}, {2.0}}));
    // Without the order clause the wrapper stays (it belongs to the distinct rows), the order goes.
    EXPECT_EQ(
        query.generateSql(false),
        "SELECT DISTINCT measurement_data_V_0_DB FROM (\n" +
            unionOf({valuePart("measurement_data_1", true), valuePart("measurement_data_2", true)}, true) +
            " LIMIT 2) x");

    // An order only on an order-only column: no wrapper; the column joins every part.
    DBIF_QuarnQuery byTemperature(connection());
    byTemperature.addColumn("measurement", "id");
    byTemperature.addColumn("measurement_data", v);
    byTemperature.setCondition(DBIF_SingleColumnCondition("measurement_data", v, Greater, 0.5));
    byTemperature.markDistinct();
    byTemperature.addOrder("measurement", "temperature", true);
    const auto orderedPart = [](const QString& table) {
        return joinedPart(table,
                          "DISTINCT measurement.id AS measurement_id,\n"
                          "  @.V_0_DB AS measurement_data_V_0_DB,\n"
                          "  measurement.temperature AS measurement_temperature",
                          "(@.V_0_DB > 0.5)");
    };
    const QString ordered = byTemperature.generateSql(true);
    EXPECT_EQ(ordered, unionOf({orderedPart("measurement_data_1"), orderedPart("measurement_data_2")}, true) +
                           " \nORDER BY\n  3 ASC");
    QSqlQuery result = connection().query(ordered, DBIF_QUERY_TIMING, __FILE__, __LINE__);
    QList<int> ids;
    while (result.next())
        ids << result.value(0).toInt();
    EXPECT_EQ(ids, QList<int>({3, 1, 2}));  // temperatures 10, 25, 30
    EXPECT_EQ(byTemperature.generateSql(false).count("ORDER BY"), 0);
}

TEST_P(QuarnQueryTest, LatestOnlyPullsInTheLatestMeasurementOrSetup) {
    measurements();
    exec("INSERT INTO latest_measurement (measurement_id) VALUES (2)");
    exec("INSERT INTO latest_measurement (measurement_id) VALUES (3)");

    DBIF_QuarnQuery query(connection());
    query.addColumn("measurement", "id");
    query.setCondition(DBIF_SingleColumnCondition("measurement", "temperature", Greater, 20.0));
    EXPECT_EQ(queryIds(connection(), &query).size(), 2);
    query.markLatestOnly(true);
    const QString sql = query.generateSql(true);
    EXPECT_EQ(sql, part("SELECT DISTINCT measurement.id AS measurement_id\n"
                        "FROM\n"
                        "  latest_measurement,\n"
                        "  measurement\n"
                        "WHERE \n"
                        "  ((measurement.id = latest_measurement.measurement_id))\n"
                        "AND\n"
                        "  (measurement.temperature > 20)"));
    EXPECT_EQ(queryIds(connection(), &query), QList<int>({2}));

    // A die query touches neither setups nor measurements: measurement comes in as the master.
    DBIF_QuarnQuery dies(connection());
    dies.addColumn("die", "id");
    dies.setCondition(DBIF_SingleColumnCondition("die", "id", Greater, 0));
    dies.markLatestOnly(true);
    EXPECT_TRUE(dies.containsTable("latest_measurement"));
    EXPECT_TRUE(dies.containsTable("measurement"));

    // Anything on setup_column turns it into a latest-setup query.
    exec("INSERT INTO setup (id, name) VALUES (1, 'a')");
    exec("INSERT INTO setup (id, name) VALUES (2, 'b')");
    exec("INSERT INTO setup_column (id, name) VALUES (1, 'x')");
    exec("INSERT INTO setup_association (setup_id, setup_column_id) VALUES (1, 1)");
    exec("INSERT INTO setup_association (setup_id, setup_column_id) VALUES (2, 1)");
    exec("INSERT INTO latest_setup (setup_id) VALUES (2)");
    // A fresh query per rendering: the first rendering leaves the link table setup_association in
    // the query's tables, which the join graph cannot attach a second time.
    const auto setups = [&](bool latestOnly) {
        DBIF_QuarnQuery made(connection());
        made.addColumn("setup", "id");
        made.setCondition(DBIF_SingleColumnCondition("setup_column", "name", Equal, "x"));
        made.markLatestOnly(latestOnly);
        return made;
    };
    DBIF_QuarnQuery all = setups(false);
    QList<int> ids = queryIds(connection(), &all);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, QList<int>({1, 2}));
    const std::string setupSql = setups(true).generateSql(true).toStdString();
    EXPECT_THAT(setupSql, HasSubstr("(setup.id = latest_setup.setup_id)"));
    EXPECT_THAT(setupSql, HasSubstr("  latest_setup,\n"));
    EXPECT_THAT(setupSql, Not(HasSubstr("latest_measurement")));
    DBIF_QuarnQuery latest = setups(true);
    EXPECT_EQ(queryIds(connection(), &latest), QList<int>({2}));
}

TEST_P(QuarnQueryTest, TextValuesNamingDataTablesAreNotRewritten) {
    const QString note = column("note", "TX");
    ASSERT_EQ(table({note}), "measurement_data_1");
    ASSERT_EQ(table({note, column("v")}), "measurement_data_2");
    measurements();
    // A value naming a base table and an alias, with a quote, a backslash and placeholders.
    const QString value = QStringLiteral("measurement_data 'x' \\ measurement_data_NOTE_0_TX %1 %2");
    const QString quoted = connection().quoteText(value);
    exec(QStringLiteral("INSERT INTO measurement_data_1 (measurement_id, \"%1\") VALUES (1, %2)")
             .arg(note, quoted));
    exec(QStringLiteral("INSERT INTO measurement_data_2 (measurement_id, \"%1\") VALUES (3, %2)")
             .arg(note, quoted));
    exec(QStringLiteral("INSERT INTO measurement_data_2 (measurement_id, \"%1\") VALUES (2, 'other')")
             .arg(note));

    DBIF_QuarnQuery query(connection());
    query.addColumn("measurement", "id");
    query.setCondition(DBIF_SingleColumnCondition("measurement_data", note, Equal, value));
    query.setLimit(5);
    const auto textPart = [&](const QString& table) {
        return joinedPart(table, "measurement.id AS measurement_id", "(@.NOTE_0_TX = " + quoted + ")");
    };
    const QString sql = query.generateSql(true);
    EXPECT_EQ(sql,
              unionOf({textPart("measurement_data_1"), textPart("measurement_data_2")}, false) + " LIMIT 5");
    EXPECT_EQ(run(sql), Rows({{1.0}, {3.0}}));

    // A column alias spelled like a base table is no table reference either.
    DBIF_QuarnQuery spelled(connection());
    spelled.addColumn("measurement", "data");
    spelled.setCondition(DBIF_SingleColumnCondition("measurement_data", note, Equal, value));
    const QString spelledSql = spelled.generateSql(true);
    EXPECT_EQ(spelledSql.count("SELECT measurement.data AS measurement_data\nFROM"), 2);
    EXPECT_EQ(spelledSql.count("measurement_data_1"), 3);
}

TEST_P(QuarnQueryTest, DataStatementReadsOneEntityFromEveryTableHoldingItsColumns) {
    const QString v = column("v");
    const QString i = column("i");
    table({v, i});
    table({v});
    table({v, i, column("g")});
    const auto dataPart = [&](const QString& table, const QString& alias) {
        return QStringLiteral(
                   "SELECT %1.V_0_DB AS %2_V_0_DB,\n"
                   "  %1.I_0_DB AS %2_I_0_DB\n"
                   "FROM\n"
                   "  %1\n"
                   "WHERE \n"
                   "  (%1.measurement_id = 7)")
            .arg(table, alias);
    };
    DBIF_QuarnQuery loader(connection());
    const QString sql =
        loader.generateDataSql(DBIF_MULTI_TABLE_STORAGE, "measurement", "measurement_data", {v, i}, 7);
    EXPECT_EQ(sql, unionOf({dataPart("measurement_data_1", "measurement_data"),
                            dataPart("measurement_data_3", "measurement_data")},
                           false));
    // A physical table is read alone; its alias loses the digits and nothing restores them.
    const QString one =
        loader.generateDataSql(DBIF_SPARSE_TABLE_STORAGE, "measurement", "measurement_data_1", {v, i}, 7);
    EXPECT_EQ(one, part(dataPart("measurement_data_1", "measurement_data_")));

    exec(QStringLiteral("INSERT INTO measurement_data_1 (measurement_id, \"%1\", \"%2\") VALUES (7, 1, 2)")
             .arg(v, i));
    exec(QStringLiteral("INSERT INTO measurement_data_1 (measurement_id, \"%1\", \"%2\") VALUES (8, 5, 5)")
             .arg(v, i));
    exec(QStringLiteral("INSERT INTO measurement_data_3 (measurement_id, \"%1\", \"%2\") VALUES (7, 3, 4)")
             .arg(v, i));
    exec(QStringLiteral("INSERT INTO measurement_data_2 (measurement_id, \"%1\") VALUES (7, 6)").arg(v));
    EXPECT_EQ(run(sql), Rows({{1.0, 2.0}, {3.0, 4.0}}));
    EXPECT_EQ(run(one), Rows({{1.0, 2.0}}));
}

TEST_P(QuarnQueryTest, SparseColumnsKeepTheBaseTable) {
    DBIF_Connection& db = connection();
    const QString sparse = column("s", "DB", DBIF_DynamicTableColumn::SPARSE_TABLE_FLAG);
    const QString both = column("w", "DB", 3);
    const QString multi = column("m");
    using Columns = DBIF_UniqueStringList;
    EXPECT_TRUE(DBIF_QuarnQuery::sparseTableContainsColumns<DBIF_MeasurementColumn>(db, Columns()));
    EXPECT_TRUE(
        DBIF_QuarnQuery::sparseTableContainsColumns<DBIF_MeasurementColumn>(db, Columns({sparse, both})));
    EXPECT_FALSE(DBIF_QuarnQuery::sparseTableContainsColumns<DBIF_MeasurementColumn>(
        db, Columns({sparse, multi, both})));
    // Column kinds are told apart: the key is no device column.
    std::string report;
    bool device = true;
    report = stderrOf([&] {
        device = DBIF_QuarnQuery::sparseTableContainsColumns<DBIF_DeviceColumn>(db, Columns({sparse}));
    });
    EXPECT_FALSE(device);
    EXPECT_THAT(report, HasSubstr("Couldn't find object with key S_0_DB"));

    // A column in the base table and in a physical table: both parts, with the same alias, so that
    // the outer DISTINCT finds it in whichever part comes first.
    exec(QStringLiteral("ALTER TABLE measurement_data ADD COLUMN \"%1\" DOUBLE").arg(both));
    ASSERT_EQ(table({both}), "measurement_data_1");
    measurements();
    insertData("measurement_data", 1, both, "4");
    insertData("measurement_data_1", 2, both, "4");
    insertData("measurement_data_1", 3, both, "5");
    DBIF_QuarnQuery query(db);
    query.addColumn("measurement_data", both);
    query.setCondition(DBIF_SingleColumnCondition("measurement", "temperature", Greater, 0.0));
    query.markDistinct();
    query.addOrder("measurement_data", both, true);
    const auto bothPart = [](const QString& table) {
        return joinedPart(table, "DISTINCT @.W_0_DB AS measurement_data_W_0_DB",
                          "(measurement.temperature > 0)");
    };
    const QString sql = query.generateSql(true);
    EXPECT_EQ(sql, "SELECT DISTINCT measurement_data_W_0_DB FROM (\n" +
                       unionOf({bothPart("measurement_data"), bothPart("measurement_data_1")}, true) +
                       " \nORDER BY\n  1 ASC) x");
    EXPECT_EQ(run(sql), Rows({{4.0}, {5.0}}));

    // The count covers the base statement only.
    const QString count = query.generateCountSql();
    EXPECT_THAT(count.toStdString(), HasSubstr("measurement_data.W_0_DB"));
    EXPECT_THAT(count.toStdString(), Not(HasSubstr("measurement_data_1")));
    EXPECT_EQ(db.queryInt(count, DBIF_QUERY_TIMING, __FILE__, __LINE__), 1);

    // Columns that no table holds and that are not sparse: no part, an empty statement.
    DBIF_QuarnQuery nowhere(db);
    nowhere.addColumn("measurement", "id");
    nowhere.addColumn("measurement_data", multi);
    nowhere.setCondition(DBIF_SingleColumnCondition("measurement", "id", Greater, 0));
    nowhere.addOrder("measurement", "id", true);
    nowhere.setLimit(3);
    EXPECT_EQ(nowhere.generateSql(true), QString());
    EXPECT_EQ(nowhere.getLimit(), 3);
}

// The copies' renderings read the join algorithm that the original installed; a sanitizer or
// valgrind run turns a freed algorithm into a failure.
TEST_P(QuarnQueryTest, CopiesOutliveTheOriginal) {
    auto original = std::make_unique<DBIF_QuarnQuery>(connection());
    original->addColumn("die", "id");
    original->setCondition(DBIF_SingleColumnCondition("measurement", "temperature", Greater, 20.0));
    DBIF_QuarnQuery copy(*original);
    DBIF_QuarnQuery assigned;
    EXPECT_TRUE(assigned.isNull());
    assigned = *original;
    const QString expected = original->generateSql(true);
    EXPECT_THAT(expected.toStdString(), HasSubstr("(measurement.die_id = die.id)"));
    original.reset();
    EXPECT_EQ(copy.generateSql(true), expected);
    copy = DBIF_QuarnQuery();
    EXPECT_EQ(assigned.generateSql(true), expected);
}

DBIF_DATABASE_TEST_SUITE(QuarnQueryTest);

}  // namespace
