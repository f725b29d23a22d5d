// Tests of DBAL_MultiTable: registry keys, one physical table per column set with its bookkeeping rows,
// the registry refresh across connections (delay and forced reload), the column lookups that queries use,
// and failing statements, on both drivers.
#include <gtest/gtest.h>

#include <QSqlQuery>
#include <QSqlRecord>

#include "DatabaseTest.h"
#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_Device.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_QuarnJoinAlgorithm.h"

namespace {

using MeasurementTable = DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;
using DeviceTable = DBAL_MultiTable<DBIF_Device, DBIF_DeviceColumn>;

const QString PLACEHOLDER = QStringLiteral("attempting_to_get_multitable_name_before_save");

MeasurementTable measurementTable(const DBIF_Connection& connection, const QStringList& keys,
                                  bool forceReload = false) {
    return MeasurementTable::get(connection, DBIF_Measurement::COLUMN_TABLE_NAME,
                                 DBIF_Measurement::DATA_TABLE_NAME, keys, forceReload);
}

QStringList fieldNames(DBIF_Connection& connection, const QString& table) {
    const QSqlRecord record =
        connection.query(QStringLiteral("SELECT * FROM %1").arg(table), DBIF_QUERY_TIMING, __FILE__, __LINE__)
            .record();
    QStringList names;
    for (int i = 0; i < record.count(); ++i)
        names << record.fieldName(i);
    return names;
}

TEST(MultiTableKey, SortedKeysAfterCatalogAndPrefix) {
    EXPECT_EQ(MeasurementTable::computeKey("measurement_column", "measurement_data", {"VD_2_DB", "ID_2_DB"}),
              "measurement_column|measurement_data|ID_2_DB|VD_2_DB");
    // Case-sensitive order: capitals sort before lower case.
    EXPECT_EQ(MeasurementTable::computeKey("c", "p", {"b", "B", "a"}), "c|p|B|a|b");
    EXPECT_EQ(MeasurementTable::computeKey("measurement_column", "measurement_data", {}),
              "measurement_column|measurement_data|");

    const MeasurementTable unsaved("measurement_column", "measurement_data",
                                   {"VD_2_DB", "ID_2_DB", "VD_2_DB"}, -1);
    EXPECT_EQ(unsaved.getTableName(), PLACEHOLDER);
    EXPECT_EQ(MeasurementTable::tableNameBeforeSave(), PLACEHOLDER);
    EXPECT_EQ(unsaved.getColumns(), QStringList({"VD_2_DB", "ID_2_DB"}));
    EXPECT_EQ(unsaved.getKey(), "measurement_column|measurement_data|ID_2_DB|VD_2_DB");
    const MeasurementTable saved("measurement_column", "measurement_data", 12);
    EXPECT_EQ(saved.getTableName(), "measurement_data_12");
    EXPECT_TRUE(saved.getColumns().isEmpty());
    EXPECT_TRUE(MeasurementTable().isNull());
}

TEST(MultiTableColumns, FixedColumnsAreIgnored) {
    EXPECT_EQ(
        MeasurementTable::removeFixedColumns(QStringList{"temperature", "VD_2_DB", "id", "user", "ID_2_DB"}),
        QStringList({"VD_2_DB", "ID_2_DB"}));
    EXPECT_TRUE(
        MeasurementTable::removeFixedColumns(QStringList{"measurement_id", "modified_time"}).isEmpty());
    // Fixed columns are those of the table's own kind: "temperature" is a data column for devices.
    EXPECT_EQ(DeviceTable::removeFixedColumns(QStringList{"temperature", "id"}), QStringList{"temperature"});

    const MeasurementTable table("measurement_column", "measurement_data", {"VD_2_DB", "ID_2_DB"}, 3);
    EXPECT_TRUE(table.hasColumns(QStringList{}));
    EXPECT_TRUE(table.hasColumns(QStringList{"temperature", "id"}));
    EXPECT_TRUE(table.hasColumns(QStringList{"ID_2_DB", "temperature"}));
    EXPECT_TRUE(table.hasColumns(QStringList{"ID_2_DB", "VD_2_DB"}));
    EXPECT_FALSE(table.hasColumns(QStringList{"ID_2_DB", "IG_2_DB"}));
    EXPECT_FALSE(table.hasColumns(QStringList{"id_2_db"}));
}

class MultiTableTest : public SchemaDatabaseTest {
protected:
    void SetUp() override {
        SchemaDatabaseTest::SetUp();
        savedDelay = delayInSeconds;
    }
    void TearDown() override {
        delayInSeconds = savedDelay;
        SchemaDatabaseTest::TearDown();
    }
    // Ends the connection's transaction: MySQL runs with autocommit off, so another connection sees rows
    // only after the writer committed and after its own snapshot ended.
    static void commit(DBIF_Connection& connection) {
        connection.beginTransaction();
        connection.endTransaction();
    }
    // A saved measurement column of type "DB" (flag 2, as the multi-table engine defines it); its key.
    static QString column(DBIF_Connection& connection, const QString& name) {
        DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(connection, name, "DB", 2);
        column.save();
        return column.getKey();
    }
    QString createStatement(const QString& table) const {
        return isMySql() ? QStringLiteral("CREATE TABLE `%1` (").arg(table)
                         : QStringLiteral("CREATE TABLE %1 (").arg(table);
    }

    int savedDelay = 1;
};

TEST_P(MultiTableTest, OneTablePerColumnSetWithItsBookkeeping) {
    DBIF_Connection& db = connection();
    DBIF_MeasurementColumn vd = DBIF_MeasurementColumn::get(db, "Vd", "DB", 2);
    DBIF_MeasurementColumn id = DBIF_MeasurementColumn::get(db, "Id", "DB", 2);
    ASSERT_EQ(vd.getKey(), "VD_2_DB");
    ASSERT_EQ(id.getKey(), "ID_2_DB");

    MeasurementTable table = measurementTable(db, {"VD_2_DB", "ID_2_DB"});
    EXPECT_EQ(table.getId(), -1);
    EXPECT_EQ(table.getTableName(), PLACEHOLDER);
    EXPECT_EQ(countRows("multi_table"), 0);  // get writes nothing

    QStringList expected{
        "INSERT INTO multi_table(column_table_name, data_table_prefix) VALUES('measurement_column', "
        "'measurement_data')",
        "INSERT INTO measurement_column (name, data_type, flags) values ('Vd', 'DB', 2)",
        "INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, 1)",
        "INSERT INTO measurement_column (name, data_type, flags) values ('Id', 'DB', 2)",
        "INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, 2)",
        createStatement("measurement_data_1")};
    DBIF_QuarnJoinAlgorithm::deleteJoinGraph();
    if (!isMySql())
        expected
            << "CREATE INDEX measurement_data_1_measurement_id ON measurement_data_1 (measurement_id ASC);";
    expected << "ALTER TABLE measurement_data_1 ADD COLUMN \"VD_2_DB\" DOUBLE"
             << "ALTER TABLE measurement_data_1 ADD COLUMN \"ID_2_DB\" DOUBLE";
    EXPECT_EQ(statementsOf(db, [&] { table.save(db); }), expected);
    EXPECT_EQ(table.getId(), 1);
    EXPECT_EQ(table.getTableName(), "measurement_data_1");
    EXPECT_EQ(vd.getId(), 1);
    EXPECT_EQ(id.getId(), 2);
    EXPECT_TRUE(DBIF_QuarnJoinAlgorithm::dumpGraph().contains(
        "measurement.id => measurement_data_1.measurement_id\n"));

    EXPECT_EQ(countRows("multi_table",
                        "id = 1 AND column_table_name = 'measurement_column' AND "
                        "data_table_prefix = 'measurement_data'"),
              1);
    EXPECT_EQ(countRows("multi_table_column"), 2);
    EXPECT_EQ(countRows("multi_table_column", "multi_table_id = 1 AND column_id = 1"), 1);
    EXPECT_EQ(countRows("multi_table_column", "multi_table_id = 1 AND column_id = 2"), 1);
    EXPECT_EQ(fieldNames(db, "measurement_data_1"),
              QStringList({"id", "measurement_id", "VD_2_DB", "ID_2_DB"}));
    EXPECT_TRUE(db.hasIndex("measurement_data_1", "measurement_data_1_measurement_id"));

    // The same set in any order, with repeats, is the same table, and saving it again sends nothing.
    const MeasurementTable reordered = measurementTable(db, {"ID_2_DB", "VD_2_DB", "ID_2_DB"});
    EXPECT_EQ(reordered.getTableName(), "measurement_data_1");
    EXPECT_EQ(statementsOf(db,
                           [&] {
                               measurementTable(db, {"ID_2_DB", "VD_2_DB"}).save(db);
                           }),
              QStringList());
    EXPECT_EQ(countRows("multi_table"), 1);

    // One column more is a new table: one INSERT per bookkeeping row, one CREATE, one ALTER per column.
    const QString ig = column(db, "Ig");
    MeasurementTable wider = measurementTable(db, {"VD_2_DB", "ID_2_DB", ig});
    EXPECT_EQ(wider.getTableName(), PLACEHOLDER);
    const QStringList statements = statementsOf(db, [&] { wider.save(db); });
    EXPECT_EQ(statements.filter("INSERT INTO multi_table(").size(), 1);
    EXPECT_EQ(statements.filter("INSERT INTO multi_table_column").size(), 3);
    EXPECT_EQ(statements.filter("CREATE TABLE").size(), 1);
    EXPECT_EQ(statements.filter("ALTER TABLE measurement_data_2 ADD COLUMN").size(), 3);
    EXPECT_EQ(statements.size(), isMySql() ? 8 : 9);  // the index is a statement of its own on SQLite
    EXPECT_EQ(fieldNames(db, "measurement_data_2"),
              QStringList({"id", "measurement_id", "VD_2_DB", "ID_2_DB", "IG_2_DB"}));

    // No data columns: a table with the id and master-id columns only, under an empty third key part.
    MeasurementTable empty = measurementTable(db, {});
    EXPECT_EQ(empty.getKey(), "measurement_column|measurement_data|");
    empty.save(db);
    EXPECT_EQ(empty.getTableName(), "measurement_data_3");
    EXPECT_EQ(fieldNames(db, "measurement_data_3"), QStringList({"id", "measurement_id"}));
    EXPECT_EQ(countRows("multi_table_column", "multi_table_id = 3"), 0);
    EXPECT_EQ(measurementTable(db, {}).getTableName(), "measurement_data_3");
}

TEST_P(MultiTableTest, CreatedTablesTakeRowsOnBothDrivers) {
    DBIF_Connection& db = connection();
    const QString vd = column(db, "Vd");
    DBIF_MeasurementColumn note = DBIF_MeasurementColumn::get(db, "Note", "TX", 2);
    MeasurementTable table = measurementTable(db, {vd, note.getKey()});
    table.save(db);
    const QString name = table.getTableName();
    exec(QStringLiteral("INSERT INTO %1 (measurement_id, \"%2\", \"%3\") VALUES (7, 1.5, 'it''s')")
             .arg(name, vd, note.getKey()));
    exec(QStringLiteral("INSERT INTO %1 (measurement_id, \"%2\", \"%3\") VALUES (7, -2.25, 'b')")
             .arg(name, vd, note.getKey()));
    exec(QStringLiteral("INSERT INTO %1 (measurement_id, \"%2\") VALUES (8, 3)").arg(name, vd));
    QSqlQuery rows =
        db.query(QStringLiteral("SELECT \"%2\", \"%3\" FROM %1 WHERE measurement_id = 7 ORDER BY id")
                     .arg(name, vd, note.getKey()),
                 DBIF_QUERY_TIMING, __FILE__, __LINE__);
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.value(0).toDouble(), 1.5);
    EXPECT_EQ(rows.value(1).toString(), "it's");
    ASSERT_TRUE(rows.next());
    EXPECT_EQ(rows.value(0).toDouble(), -2.25);
    EXPECT_FALSE(rows.next());
    EXPECT_EQ(countRows(name, QStringLiteral("measurement_id = 8 AND \"%1\" IS NULL").arg(note.getKey())), 1);
    EXPECT_EQ(db.queryInt(QStringLiteral("SELECT MAX(id) FROM %1").arg(name), DBIF_QUERY_TIMING, __FILE__,
                          __LINE__),
              3);

    // Another kind: its own table names, owner column and registry, numbered from the shared multi_table.
    DBIF_DeviceColumn width = DBIF_DeviceColumn::get(db, "W", "DB", "PHYSICAL", 2);
    DeviceTable device = DeviceTable::get(db, DBIF_Device::COLUMN_TABLE_NAME, DBIF_Device::DATA_TABLE_NAME,
                                          {width.getKey()}, false);
    device.save(db);
    EXPECT_EQ(device.getTableName(), "device_data_2");
    EXPECT_EQ(fieldNames(db, "device_data_2"), QStringList({"id", "device_id", "W_1_DB_PHYSICAL"}));
    EXPECT_EQ(countRows("multi_table",
                        "id = 2 AND column_table_name = 'device_column' AND data_table_prefix = "
                        "'device_data'"),
              1);
    exec("INSERT INTO device_data_2 (device_id, \"W_1_DB_PHYSICAL\") VALUES (4, 0.5)");
    EXPECT_EQ(countRows("device_data_2", "device_id = 4"), 1);
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{width.getKey()}), QSet<QString>());
    EXPECT_EQ(DeviceTable::tablesContainingColumns(db, QStringList{width.getKey()}),
              QSet<QString>{"device_data_2"});
}

TEST_P(MultiTableTest, TablesContainingColumns) {
    DBIF_Connection& db = connection();
    const QString vd = column(db, "Vd");
    const QString id = column(db, "Id");
    const QString ig = column(db, "Ig");
    measurementTable(db, {vd, id}).save(db);
    measurementTable(db, {vd, ig}).save(db);
    measurementTable(db, {id});  // never saved: not a table yet

    using Names = QSet<QString>;
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{"temperature", "id"}), Names());
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{}), Names());
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{vd}),
              Names({"measurement_data_1", "measurement_data_2"}));
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{"temperature", vd, "user"}),
              Names({"measurement_data_1", "measurement_data_2"}));
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{id}), Names({"measurement_data_1"}));
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{ig, vd}),
              Names({"measurement_data_2"}));
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{ig, id}), Names());
    EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{"NOT_A_COLUMN"}), Names());
}

TEST_P(MultiTableTest, OtherConnectionsTablesAppearAfterTheDelayOrWhenForced) {
    DBIF_Connection& db = connection();
    delayInSeconds = 3600;
    const QString vd = column(db, "Vd");
    measurementTable(db, {vd}).save(db);  // the first use refreshes whatever the delay
    commit(db);

    DBIF_Connection other = openSecondConnection();
    const QString ig = column(other, "Ig");
    MeasurementTable theirs = measurementTable(other, {vd, ig});
    EXPECT_EQ(measurementTable(other, {vd}).getTableName(), "measurement_data_1");  // loaded at first use
    theirs.save(other);
    EXPECT_EQ(theirs.getTableName(), "measurement_data_2");
    commit(other);
    commit(db);

    // Within the delay the registry sends nothing and does not know the new table.
    EXPECT_EQ(statementsOf(db,
                           [&] {
                               EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{ig}),
                                         QSet<QString>());
                           }),
              QStringList());
    // Once the delay has passed, the next use reads the new table with its columns and makes it joinable.
    DBIF_QuarnJoinAlgorithm::deleteJoinGraph();
    delayInSeconds = 0;
    EXPECT_EQ(statementsOf(db,
                           [&] {
                               EXPECT_EQ(MeasurementTable::tablesContainingColumns(db, QStringList{ig}),
                                         QSet<QString>{"measurement_data_2"});
                           }),
              QStringList({"SELECT id FROM multi_table WHERE data_table_prefix = 'measurement_data'",
                           "SELECT column_table_name, data_table_prefix FROM multi_table WHERE id = 2",
                           "SELECT column_id FROM multi_table_column WHERE multi_table_id = 2",
                           "SELECT name, data_type, flags, id FROM measurement_column WHERE id = 2"}));
    EXPECT_TRUE(DBIF_QuarnJoinAlgorithm::dumpGraph().contains(
        "measurement.id => measurement_data_2.measurement_id\n"));
    const MeasurementTable loaded = measurementTable(db, {ig, vd});
    EXPECT_EQ(loaded.getId(), 2);
    EXPECT_EQ(loaded.getColumns(), QStringList({vd, ig}));
    // Known tables are not read again.
    EXPECT_EQ(statementsOf(db, [&] { measurementTable(db, {vd}); }),
              QStringList{"SELECT id FROM multi_table WHERE data_table_prefix = 'measurement_data'"});

    // A set this connection asked for before the other saved it: a forced reload adopts the other's table
    // in the record that earlier handles share, so saving it creates nothing.
    delayInSeconds = 3600;
    const QString id = column(other, "Id");
    commit(other);
    commit(db);
    const MeasurementTable mine = measurementTable(db, {id});
    EXPECT_EQ(mine.getTableName(), PLACEHOLDER);
    measurementTable(other, {id}).save(other);
    commit(other);
    commit(db);
    EXPECT_EQ(measurementTable(db, {id}).getTableName(), PLACEHOLDER);
    EXPECT_EQ(measurementTable(db, {id}, true).getTableName(), "measurement_data_3");
    EXPECT_EQ(mine.getTableName(), "measurement_data_3");
    EXPECT_EQ(statementsOf(db, [&] { MeasurementTable(mine).save(db); }), QStringList());
    EXPECT_EQ(countRows("multi_table"), 3);
}

TEST_P(MultiTableTest, FailuresThrowOrAreReportedWithoutHalfMadeTables) {
    DBIF_Connection& db = connection();
    const QString vd = column(db, "Vd");

    // A key that is not in the column catalog: reported, nothing written, still unsaved.
    testing::internal::CaptureStderr();
    MeasurementTable unknown = measurementTable(db, {vd, "NOPE_0_DB"});
    unknown.save(db);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("ASSERTION failed ("), std::string::npos) << report;
    EXPECT_NE(report.find("NOPE_0_DB"), std::string::npos) << report;
    EXPECT_EQ(unknown.getId(), -1);
    EXPECT_EQ(countRows("multi_table"), 0);

    // A statement failing halfway: the exception carries it; the id stays, and a second save sends nothing.
    exec("DROP TABLE multi_table_column");
    MeasurementTable table = measurementTable(db, {vd});
    try {
        table.save(db);
        ADD_FAILURE() << "save did not throw";
    } catch (const DBIF_Exception& exception) {
        EXPECT_NE(std::string(exception.what()).find("INSERT INTO multi_table_column"), std::string::npos)
            << exception.what();
    }
    EXPECT_EQ(table.getId(), 1);
    EXPECT_EQ(table.getTableName(), "measurement_data_1");
    EXPECT_EQ(statementsOf(db, [&] { table.save(db); }), QStringList());

    // A refresh without the bookkeeping tables throws from get.
    exec("DROP TABLE multi_table");
    EXPECT_THROW(measurementTable(db, {vd}, true), DBIF_Exception);
}

TEST_P(MultiTableTest, BookkeepingRowsNamingMissingColumnsAreReported) {
    DBIF_Connection& db = connection();
    const QString vd = column(db, "Vd");
    exec(
        "INSERT INTO multi_table(column_table_name, data_table_prefix) VALUES('measurement_column', "
        "'measurement_data')");
    exec(QStringLiteral("INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, %1)")
             .arg(DBIF_MeasurementColumn::get(db, vd).getId()));
    exec("INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, 999)");
    // Another kind's row is not read by this kind's registry.
    exec(
        "INSERT INTO multi_table(column_table_name, data_table_prefix) VALUES('device_column', "
        "'device_data')");

    testing::internal::CaptureStderr();
    QSet<QString> tables;
    const QStringList statements =
        statementsOf(db, [&] { tables = MeasurementTable::tablesContainingColumns(db, QStringList{vd}); });
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(
        report.find("DBAL_MultiTable::addColumn column 999 of multi-table 1 is not in measurement_column"),
        std::string::npos)
        << report;
    EXPECT_EQ(tables, QSet<QString>{"measurement_data_1"});
    EXPECT_EQ(measurementTable(db, {vd}).getId(), 1);
    EXPECT_TRUE(statements.filter("WHERE id = 2").isEmpty()) << statements.join('\n').toStdString();
    const DeviceTable device =
        DeviceTable::get(db, DBIF_Device::COLUMN_TABLE_NAME, DBIF_Device::DATA_TABLE_NAME, {}, false);
    EXPECT_EQ(device.getTableName(), "device_data_2");
    EXPECT_EQ(device.getColumnTableName(), "device_column");
}

DBIF_DATABASE_TEST_SUITE(MultiTableTest);

}  // namespace
