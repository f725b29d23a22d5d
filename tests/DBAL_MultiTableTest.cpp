// Tests of DBAL_MultiTable: registry keys, one physical table per column set with its bookkeeping rows,
// the registry refresh across connections (delay and forced reload), the column lookups that queries use,
// and failing statements, on both drivers.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QSqlQuery>
#include <QSqlRecord>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBAL_MultiTable.h"
#include "dbif/DBIF_Device.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Measurement.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_QuarnJoinAlgorithm.h"

namespace {

using MeasurementTable = DBAL_MultiTable<DBIF_Measurement, DBIF_MeasurementColumn>;
using DeviceTable = DBAL_MultiTable<DBIF_Device, DBIF_DeviceColumn>;
using Names = QSet<QString>;

const QString PLACEHOLDER = QStringLiteral("attempting_to_get_multitable_name_before_save");

MeasurementTable measurementTable(const DBIF_Connection& connection, const QStringList& keys,
                                  bool forceReload = false) {
    return MeasurementTable::get(connection, DBIF_Measurement::COLUMN_TABLE_NAME,
                                 DBIF_Measurement::DATA_TABLE_NAME, keys, forceReload);
}

Names containing(const DBIF_Connection& connection, const QStringList& keys) {
    return MeasurementTable::tablesContainingColumns(connection, keys);
}

TEST(MultiTableKey, KeysFixedColumnsAndColumnSets) {
    EXPECT_EQ(MeasurementTable::computeKey("measurement_column", "measurement_data", {"VD_2_DB", "ID_2_DB"}),
              "measurement_column|measurement_data|ID_2_DB|VD_2_DB");
    // Case-sensitive order: capitals sort before lower case.
    EXPECT_EQ(MeasurementTable::computeKey("c", "p", {"b", "B", "a"}), "c|p|B|a|b");

    const MeasurementTable unsaved("measurement_column", "measurement_data",
                                   {"VD_2_DB", "ID_2_DB", "VD_2_DB"}, -1);
    EXPECT_EQ(unsaved.getTableName(), PLACEHOLDER);
    EXPECT_EQ(unsaved.getColumns(), QStringList({"VD_2_DB", "ID_2_DB"}));
    EXPECT_EQ(MeasurementTable("measurement_column", "measurement_data", 12).getTableName(),
              "measurement_data_12");

    // Fixed columns are those of the table's own kind: "temperature" is a data column for devices.
    EXPECT_EQ(
        MeasurementTable::removeFixedColumns(QStringList{"temperature", "VD_2_DB", "id", "user", "ID_2_DB"}),
        QStringList({"VD_2_DB", "ID_2_DB"}));
    EXPECT_EQ(DeviceTable::removeFixedColumns(QStringList{"temperature", "id"}), QStringList{"temperature"});
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
    // Makes each connection's rows visible to the other.
    static void commitBoth(DBIF_Connection& one, DBIF_Connection& other) {
        commit(one);
        commit(other);
    }
    // A saved measurement column of type "DB" (flag 2, as the multi-table engine defines it); its key.
    static QString column(DBIF_Connection& connection, const QString& name) {
        DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(connection, name, "DB", 2);
        column.save();
        return column.getKey();
    }
    QStringList fieldNames(const QString& table) {
        const QSqlRecord record =
            connection().query("SELECT * FROM " + table, DBIF_QUERY_TIMING, __FILE__, __LINE__).record();
        QStringList names;
        for (int i = 0; i < record.count(); ++i)
            names << record.fieldName(i);
        return names;
    }

    int savedDelay = 1;
};

TEST_P(MultiTableTest, OneTablePerColumnSetWithItsBookkeeping) {
    DBIF_Connection& db = connection();
    DBIF_MeasurementColumn::get(db, "Vd", "DB", 2);
    DBIF_MeasurementColumn::get(db, "Id", "DB", 2);
    MeasurementTable table = measurementTable(db, {"VD_2_DB", "ID_2_DB"});
    EXPECT_EQ(table.getTableName(), PLACEHOLDER);
    EXPECT_EQ(countRows("multi_table"), 0);  // get writes nothing

    // The registration first, in a transaction of its own (on SQLite under the write lock): a forced
    // refresh, the set's row by its identity (another process's, whose table is not complete yet), the
    // bookkeeping rows with the identity under its unique key. Then only what the table lacks.
    const QString identity =
        QCryptographicHash::hash(table.getKey().toUtf8(), QCryptographicHash::Sha256).toHex();
    const QString own = db.isInTransaction() ? "SAVEPOINT dbif_unit" : "BEGIN IMMEDIATE";
    QStringList expected;
    if (isMySql())
        expected << "SHOW COLUMNS FROM multi_table"
                 << "COMMIT"
                 << "START TRANSACTION";
    else
        expected << "SELECT name FROM pragma_table_info('multi_table')" << own;
    expected << QStringList{
        "SELECT id FROM multi_table WHERE data_table_prefix = 'measurement_data'",
        "SELECT id FROM multi_table WHERE column_set = '" + identity + "'",
        "INSERT INTO multi_table(column_table_name, data_table_prefix, column_set) "
        "VALUES('measurement_column', "
        "'measurement_data', '" +
            identity + "')",
        "INSERT INTO measurement_column (name, data_type, flags) VALUES (?, ?, ?) -- bound: 'Vd', 'DB', 2",
        "INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, 1)",
        "INSERT INTO measurement_column (name, data_type, flags) VALUES (?, ?, ?) -- bound: 'Id', 'DB', 2",
        "INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, 2)"};
    if (isMySql())
        expected << "COMMIT"
                 << "SHOW COLUMNS FROM measurement_data_1"
                 << "CREATE TABLE IF NOT EXISTS `measurement_data_1` ("
                 << "ALTER TABLE measurement_data_1 ADD COLUMN IF NOT EXISTS \"VD_2_DB\" DOUBLE"
                 << "ALTER TABLE measurement_data_1 ADD COLUMN IF NOT EXISTS \"ID_2_DB\" DOUBLE";
    else
        expected
            << "SELECT name FROM pragma_table_info('measurement_data_1')"
            << "CREATE TABLE measurement_data_1 ("
            << "CREATE INDEX measurement_data_1_measurement_id ON measurement_data_1 (measurement_id ASC);"
            << "ALTER TABLE measurement_data_1 ADD COLUMN \"VD_2_DB\" DOUBLE"
            << "ALTER TABLE measurement_data_1 ADD COLUMN \"ID_2_DB\" DOUBLE"
            << (db.isInTransaction() ? "RELEASE SAVEPOINT dbif_unit" : "COMMIT");
    DBIF_QuarnJoinAlgorithm::deleteJoinGraph();
    EXPECT_EQ(statementsOf(db, [&] { table.save(db); }).join('\n').toStdString(),
              expected.join('\n').toStdString());
    EXPECT_EQ(table.getTableName(), "measurement_data_1");
    EXPECT_TRUE(DBIF_QuarnJoinAlgorithm::dumpGraph().contains(
        "measurement.id => measurement_data_1.measurement_id\n"));
    EXPECT_EQ(fieldNames("measurement_data_1"), QStringList({"id", "measurement_id", "VD_2_DB", "ID_2_DB"}));
    EXPECT_TRUE(db.hasIndex("measurement_data_1", "measurement_data_1_measurement_id"));

    // The same set in any order, with repeats, is the same table, and saving it again sends nothing.
    EXPECT_EQ(statementsOf(db,
                           [&] {
                               measurementTable(db, {"ID_2_DB", "VD_2_DB", "ID_2_DB"}).save(db);
                           }),
              QStringList());

    // One column more is a new table, of the columns' own formats.
    DBIF_MeasurementColumn note = DBIF_MeasurementColumn::get(db, "Note", "TX", 2);
    MeasurementTable wider = measurementTable(db, {"VD_2_DB", "ID_2_DB", note.getKey()});
    const QStringList statements = statementsOf(db, [&] { wider.save(db); });
    EXPECT_EQ(statements.filter("INSERT INTO multi_table_column").size(), 3);
    EXPECT_EQ(statements.filter("ALTER").last(),
              QString("ALTER TABLE measurement_data_2 ADD COLUMN %1\"NOTE_8_TX\" VARCHAR(200)")
                  .arg(isMySql() ? "IF NOT EXISTS " : ""));

    // No data columns: a table with the id and master-id columns only, under an empty third key part.
    MeasurementTable empty = measurementTable(db, {});
    EXPECT_EQ(empty.getKey(), "measurement_column|measurement_data|");
    empty.save(db);
    EXPECT_EQ(fieldNames("measurement_data_3"), QStringList({"id", "measurement_id"}));

    // Another kind: its own table names, owner column and registry, numbered from the shared multi_table.
    DBIF_DeviceColumn width = DBIF_DeviceColumn::get(db, "W", "DB", "PHYSICAL", 2);
    DeviceTable device = DeviceTable::get(db, DBIF_Device::COLUMN_TABLE_NAME, DBIF_Device::DATA_TABLE_NAME,
                                          {width.getKey()}, false);
    device.save(db);
    EXPECT_EQ(fieldNames("device_data_4"), QStringList({"id", "device_id", "W_1_DB_PHYSICAL"}));
    EXPECT_EQ(countRows("multi_table",
                        "id = 4 AND column_table_name = 'device_column' AND "
                        "data_table_prefix = 'device_data'"),
              1);
    EXPECT_EQ(containing(db, QStringList{width.getKey()}), Names());
    EXPECT_EQ(DeviceTable::tablesContainingColumns(db, QStringList{width.getKey()}), Names{"device_data_4"});
}

TEST_P(MultiTableTest, TablesContainingColumns) {
    DBIF_Connection& db = connection();
    const QString vd = column(db, "Vd"), id = column(db, "Id"), ig = column(db, "Ig");
    measurementTable(db, {vd, id}).save(db);
    measurementTable(db, {vd, ig}).save(db);
    measurementTable(db, {id});  // never saved: not a table yet

    EXPECT_EQ(containing(db, QStringList{"temperature", "id"}), Names());
    EXPECT_EQ(containing(db, QStringList{"temperature", vd, "user"}),
              Names({"measurement_data_1", "measurement_data_2"}));
    EXPECT_EQ(containing(db, QStringList{id}), Names({"measurement_data_1"}));
    EXPECT_EQ(containing(db, QStringList{ig, vd}), Names({"measurement_data_2"}));
    EXPECT_EQ(containing(db, QStringList{ig, id}), Names());
}

TEST_P(MultiTableTest, OtherConnectionsTablesAppearAfterTheDelayOrWhenForced) {
    DBIF_Connection& db = connection();
    delayInSeconds = 3600;
    const QString vd = column(db, "Vd");
    measurementTable(db, {vd}).save(db);  // the first use refreshes whatever the delay
    DBIF_Connection other = openSecondConnection();
    commitBoth(db, other);
    const QString ig = column(other, "Ig");
    MeasurementTable theirs = measurementTable(other, {vd, ig});
    EXPECT_EQ(measurementTable(other, {vd}).getTableName(), "measurement_data_1");  // loaded at first use
    theirs.save(other);
    commitBoth(other, db);

    // Within the delay the registry sends nothing and does not know the new table.
    EXPECT_EQ(statementsOf(db, [&] { EXPECT_EQ(containing(db, QStringList{ig}), Names()); }), QStringList());
    // Once the delay has passed, the next use reads the new table with its columns and makes it joinable.
    DBIF_QuarnJoinAlgorithm::deleteJoinGraph();
    delayInSeconds = 0;
    EXPECT_EQ(
        statementsOf(db, [&] { EXPECT_EQ(containing(db, QStringList{ig}), Names{"measurement_data_2"}); }),
        QStringList({"SELECT id FROM multi_table WHERE data_table_prefix = 'measurement_data'",
                     "SELECT column_table_name, data_table_prefix FROM multi_table WHERE id = 2",
                     "SELECT column_id FROM multi_table_column WHERE multi_table_id = 2",
                     "SELECT name, data_type, flags, id FROM measurement_column WHERE id = 2"}) +
            // On MySQL a table shows only once its columns are all there.
            (isMySql() ? QStringList("SHOW COLUMNS FROM measurement_data_2") : QStringList()));
    EXPECT_TRUE(DBIF_QuarnJoinAlgorithm::dumpGraph().contains(
        "measurement.id => measurement_data_2.measurement_id\n"));
    EXPECT_EQ(measurementTable(db, {ig, vd}).getColumns(), QStringList({vd, ig}));
    // Known tables are not read again.
    EXPECT_EQ(statementsOf(db, [&] { measurementTable(db, {vd}); }),
              QStringList{"SELECT id FROM multi_table WHERE data_table_prefix = 'measurement_data'"});

    // A set this connection asked for before the other saved it: a forced reload adopts the other's table
    // in the record that earlier handles share, so saving it creates nothing.
    delayInSeconds = 3600;
    const QString id = column(other, "Id");
    commitBoth(other, db);
    const MeasurementTable mine = measurementTable(db, {id});
    measurementTable(other, {id}).save(other);
    commitBoth(other, db);
    EXPECT_EQ(measurementTable(db, {id}).getTableName(), PLACEHOLDER);
    EXPECT_EQ(measurementTable(db, {id}, true).getTableName(), "measurement_data_3");
    EXPECT_EQ(mine.getTableName(), "measurement_data_3");
    EXPECT_EQ(statementsOf(db, [&] { MeasurementTable(mine).save(db); }), QStringList());
}

TEST_P(MultiTableTest, FailuresThrowOrAreReportedWithoutHalfMadeTables) {
    DBIF_Connection& db = connection();
    const QString vd = column(db, "Vd");
    // A key that is not in the column catalog: reported, nothing written, still unsaved.
    MeasurementTable unknown = measurementTable(db, {vd, "NOPE_0_DB"});
    EXPECT_EQ(reportsOf([&] { unknown.save(db); }), Reports{"Couldn't find object with key NOPE_0_DB"});
    EXPECT_EQ(unknown.getId(), -1);
    EXPECT_EQ(countRows("multi_table"), 0);

    // A statement failing halfway: the exception carries it, and the save leaves nothing of itself, so
    // that a later save makes the whole table.
    exec("DROP TABLE multi_table_column");
    MeasurementTable table = measurementTable(db, {vd});
    EXPECT_EQ(failedStatement([&] { table.save(db); }),
              "INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, 1)");
    EXPECT_EQ(table.getTableName(), PLACEHOLDER);
    EXPECT_EQ(countRows("multi_table"), 0);

    // A refresh without the bookkeeping tables throws from get.
    exec("DROP TABLE multi_table");
    EXPECT_THROW(measurementTable(db, {vd}, true), DBIF_Exception);
}

TEST_P(MultiTableTest, ARegisteredSetWhoseTableIsHalfMadeIsCompletedByItsNextSave) {
    if (!isMySql())
        GTEST_SKIP() << "SQLite makes the table in the registration's own transaction";
    // MySQL commits the registration before the table is made: a process that ended in between left
    // the row and part of the table. The next save of the set adopts the row and adds what is missing.
    DBIF_Connection& db = connection();
    const QString vd = column(db, "Vd"), ig = column(db, "Ig");
    MeasurementTable half = measurementTable(db, {vd, ig});
    const QString identity =
        QCryptographicHash::hash(half.getKey().toUtf8(), QCryptographicHash::Sha256).toHex();
    exec(
        "INSERT INTO multi_table(column_table_name, data_table_prefix, column_set) "
        "VALUES('measurement_column', "
        "'measurement_data', '" +
        identity + "')");
    exec("INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, 1), (1, 2)");
    db.createMultiTable("measurement_data_1", "measurement");
    exec("ALTER TABLE measurement_data_1 ADD COLUMN \"VD_2_DB\" DOUBLE");
    EXPECT_EQ(containing(db, QStringList{vd}), Names());  // not complete: not in the registry
    half.save(db);
    EXPECT_EQ(half.getTableName(), "measurement_data_1");
    EXPECT_EQ(fieldNames("measurement_data_1"), QStringList({"id", "measurement_id", "VD_2_DB", "IG_2_DB"}));
    EXPECT_EQ(countRows("multi_table"), 1);
}

TEST_P(MultiTableTest, BookkeepingRowsNamingMissingColumnsAreReported) {
    DBIF_Connection& db = connection();
    const QString vd = column(db, "Vd");
    // Another kind's row is not read by this kind's registry.
    exec(
        "INSERT INTO multi_table(column_table_name, data_table_prefix) VALUES('measurement_column', "
        "'measurement_data'), ('device_column', 'device_data')");
    exec("INSERT INTO multi_table_column(multi_table_id, column_id) VALUES(1, 1), (1, 999)");
    exec("CREATE TABLE measurement_data_1 (id INTEGER, measurement_id INTEGER, \"VD_2_DB\" DOUBLE)");

    Names tables;
    QStringList statements;
    EXPECT_EQ(
        reportsOf([&] { statements = statementsOf(db, [&] { tables = containing(db, QStringList{vd}); }); }),
        (Reports{
            "DBIF_ObjectCache::load while loading an item by id, the item was not found:\n  SELECT name, "
            "data_type, flags, id FROM measurement_column WHERE id = 999",
            "DBAL_MultiTable::addColumn column 999 of multi-table 1 is not in measurement_column"}));
    EXPECT_EQ(tables, Names{"measurement_data_1"});
    EXPECT_TRUE(statements.filter("WHERE id = 2").isEmpty()) << statements.join('\n').toStdString();
    EXPECT_EQ(DeviceTable::get(db, DBIF_Device::COLUMN_TABLE_NAME, DBIF_Device::DATA_TABLE_NAME, {}, false)
                  .getTableName(),
              "device_data_2");
}

DBIF_DATABASE_TEST_SUITE(MultiTableTest);

}  // namespace
