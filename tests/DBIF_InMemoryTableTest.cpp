// Tests of DBIF_InMemoryTable: misuse reports, dirty tracking, rows and the current row, lazy
// loading through a subclass's loadData(), and the column-kind lookups on both drivers.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>
#include <memory>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_CatalogEntry.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_InMemoryTable.h"

namespace {

using Table = DBIF_InMemoryTable<DBIF_MeasurementColumn>;

// The table itself never touches the database; its constructors only need a connection.
class InMemoryTable : public ::testing::Test {
protected:
    DBIF_MeasurementColumn column(const QString& name, const QString& dataType = QStringLiteral("DB")) {
        return DBIF_MeasurementColumn(db, name, dataType, 1, -1);
    }

    QTemporaryDir directory;
    DBIF_Connection db{"QSQLITE", "", directory.filePath("table.db").toLocal8Bit().constData(), "", "", 0};
};

TEST_F(InMemoryTable, MisuseIsReportedAndChangesNothing) {
    Table table(db, -1, DBIF_SPARSE_TABLE_STORAGE);
    const DBIF_MeasurementColumn vd = column("Vd");
    EXPECT_EQ(reportsOf([&] { table.set(vd, QVariant(1.0)); }),
              Reports{"Attempting to set column 'VD_2_DB': the column has not been added to the table yet. "
                      "Call addColumn first"});
    table.addColumn(vd.getKey());
    EXPECT_EQ(reportsOf([&] { table.set(vd, QVariant(1.0)); }),
              Reports{"Attempting to set data before adding a row to the table. Call addRow first"});
    EXPECT_FALSE(table.isDirty());
    EXPECT_EQ(table.rowCount(), 0u);

    table.addRow();
    QVariant cell;
    EXPECT_EQ(reportsOf([&] { cell = table.getData(QStringLiteral("VD_0_DB"), 0); }),
              Reports{"Attempting to read data from column 'VD_0_DB': the column has not been added to the "
                      "table yet. Call addColumn first"});
    EXPECT_EQ(cell, QVariant(-9999));
    EXPECT_EQ(reportsOf([&] { cell = table.getData(vd, table.rowCount()); }),
              Reports{"Attempting to read data from row 1--but there is no such row"});
    EXPECT_EQ(cell, QVariant(-9999));
    // A cell never set is an invalid variant, not the bad value.
    EXPECT_EQ(reportsOf([&] { cell = table.getData(vd, 0); }), Reports{});
    EXPECT_FALSE(cell.isValid());
}

// What a failed look-up returns: every use reports once, gives an empty value and dereferences nothing.
TEST_F(InMemoryTable, NullHandlesReportOnceAndGiveEmptyValues) {
    Table table(db, -1, DBIF_SPARSE_TABLE_STORAGE);
    const DBIF_MeasurementColumn missing;
    table.addColumn(column("Vd").getKey());
    table.addRow();
    const auto once = [](auto action) { EXPECT_EQ(reportsOf(action).size(), 1u); };
    once([&] { table.set(missing, QVariant(1.0)); });
    once([&] { EXPECT_EQ(table.getData(missing, 0), QVariant(-9999)); });
    once([&] { EXPECT_EQ(table.getDataElement(missing, 0), nullptr); });
    EXPECT_FALSE(table.isDirty());
    once([&] { EXPECT_TRUE(missing.getKey().isEmpty()); });
    once([&] { EXPECT_EQ(missing.getId(), -1); });
    once([&] { EXPECT_NE(missing.getConnection(), db); });

    const Table none;
    once([&] { EXPECT_EQ(none.getId(), -1); });
    once([&] { EXPECT_EQ(none.rowCount(), 0u); });
    once([&] { EXPECT_EQ(none.getData(QStringLiteral("VD_2_DB"), 0), QVariant(-9999)); });
    DBIF_CatalogEntry entry;
    once([&] { EXPECT_TRUE(entry.getApplication().isEmpty()); });
    once([&] { entry.save(); });
    once([&] { EXPECT_TRUE(entry.addColumn("Vd", "DB").isNull()); });
    DBIF_Die die;
    once([&] { EXPECT_TRUE(die.getLot().isEmpty()); });
    once([&] { die.save(); });
    // A statement on the connection of a null handle fails like any other, without a crash.
    once([&] {
        EXPECT_THROW(die.getConnection().queryInt("SELECT 1", 0, __FILE__, __LINE__), DBIF_Exception);
    });
}

TEST_F(InMemoryTable, DirtyOnlyOnRealChangesAndRowsFillOneByOne) {
    Table table(db, 7, DBIF_MULTI_TABLE_STORAGE);
    const DBIF_MeasurementColumn vd = column("Vd"), name = column("Name", "TX");
    EXPECT_TRUE(table.isEmpty());
    table.addColumn(vd.getKey());
    table.addColumn(name.getKey());
    table.addColumn(vd.getKey());
    table.addColumn(QStringLiteral("vd_2_db"));  // keys are case-sensitive
    EXPECT_EQ(table.getColumnKeys(), (QStringList{"VD_2_DB", "NAME_8_TX", "vd_2_db"}));
    EXPECT_TRUE(table.isEmpty());  // columns but no rows

    table.addRow();
    table.set(vd, QVariant(1.5));
    table.set(name, "first");
    EXPECT_TRUE(table.isDirty());
    table.setDirty(false);
    table.set(vd, QVariant(1.5));
    table.set(name, QStringLiteral("first"));
    EXPECT_FALSE(table.isDirty());
    table.set(vd, QVariant());  // clearing a set cell is a change
    EXPECT_TRUE(table.isDirty());
    table.set(vd, QVariant(1.5));

    // set writes into the last row added; a column of numbers keeps earlier cells when a typed null
    // or a NaN arrives.
    table.addRow();
    table.set(vd, QVariant(2.5));
    table.addRow();
    table.set(vd, QVariant(QMetaType::fromType<double>()));
    table.addRow();
    table.set(vd, QVariant(std::nan("")));
    EXPECT_EQ(table.rowCount(), 4u);
    EXPECT_TRUE(table.getData(vd, 2).isNull() && table.getData(vd, 2).isValid());
    EXPECT_TRUE(std::isnan(table.getData(vd, 3).toDouble()));
    const QList<Table::Row> rows = table.getAllData();
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0], (Table::Row{{"VD_2_DB", 1.5}, {"NAME_8_TX", "first"}}));
    EXPECT_EQ(rows[1], (Table::Row{{"VD_2_DB", 2.5}}));

    // Copies share the record; setters other than set leave dirty alone.
    Table copy = table;
    copy.setDirty(false);
    copy.setUser(QStringLiteral("bob"));
    copy.setId(12);
    copy.setRowCount(99);
    copy.setModifiedTimeToNow();
    EXPECT_FALSE(table.isDirty());
    EXPECT_EQ(table.getUser(), "bob");
    EXPECT_EQ(table.getId(), 12);
    EXPECT_EQ(table.rowCount(), 4u);  // loaded: the rows in memory count

    const std::unique_ptr<DBIF_DataType> element(table.getDataElement(vd, 1));
    EXPECT_EQ(element ? element->getDataType() + element->toString() : "", "DB2.5");
}

TEST_F(InMemoryTable, StorageEngineTypeFromStoredNumber) {
    EXPECT_EQ(Table::computeStorageEngineType(2), DBIF_MULTI_TABLE_STORAGE);
    EXPECT_EQ(Table::computeStorageEngineType(3), DBIF_SPARSE_TABLE_STORAGE);
    const QDateTime stamp(QDate(2020, 1, 2), QTime(3, 4, 5));
    const Table stored(db, stamp, QStringLiteral("ann"), 5, 2);
    EXPECT_EQ(stored.getStorageEngineType(), DBIF_MULTI_TABLE_STORAGE);
    EXPECT_EQ(stored.getModifiedTime(), stamp);
}

// An entity read from its master row: not loaded, with the stored row count; its loadData fills
// three rows the way the storage engines do, or fails as the base one does.
class StoredTable : public Table {
public:
    StoredTable(const DBIF_Connection& db, bool loadable)
        : Table(db, QDateTime::currentDateTime(), QStringLiteral("u"), 3, 1), loadable(loadable) {
        addColumn(vd.getKey());
        setDataIsLoaded(false);
        setRowCount(3);
    }
    void loadData() override {
        ++loads;
        if (!loadable)
            return Table::loadData();
        for (int row = 0; row < 3; ++row) {
            addRow();
            set(vd, QVariant(row * 10.0));  // set loads when not loaded: the guard stops the recursion
        }
        setDataIsLoaded(true);
        setDirty(false);
    }
    const DBIF_MeasurementColumn vd{getConnection(), QStringLiteral("Vd"), QStringLiteral("DB"), 1, -1};
    const bool loadable;
    int loads = 0;
};

TEST_F(InMemoryTable, LoadsThroughLoadDataLazilyOnceAndAgainAfterRelease) {
    StoredTable table(db, true);
    EXPECT_EQ(table.rowCount(), 3u);
    EXPECT_FALSE(table.isEmpty());
    EXPECT_EQ(table.loads, 0);
    EXPECT_EQ(table.getData(table.vd, 2), QVariant(20.0));
    EXPECT_EQ(table.getData(table.vd, 1), QVariant(10.0));
    EXPECT_EQ(table.loads, 1);

    table.releaseData();
    EXPECT_EQ(table.rowCount(), 3u);  // known without loading
    EXPECT_EQ(table.loads, 1);
    // A write loads first, then goes into the last row loaded.
    table.set(table.vd, QVariant(-1.0));
    EXPECT_EQ(table.loads, 2);
    EXPECT_EQ(table.getAllData().last().value("VD_2_DB"), QVariant(-1.0));
    EXPECT_TRUE(table.isDirty());

    // The base loadData leaves the table unloaded.
    StoredTable failing(db, false);
    QVariant cell;
    Reports reports;
    EXPECT_EQ(stdoutOf([&] { reports = reportsOf([&] { cell = failing.getData(QStringLiteral("K"), 0); }); }),
              "fail: using generic DBIF_InMemoryTable::loadData\n");
    EXPECT_EQ(reports, Reports{"Attempting to read data from row '0', column 'K--but due to errors, no data "
                               "was loaded from database."});
    EXPECT_EQ(cell, QVariant(-9999));
    EXPECT_EQ(failing.rowCount(), 3u);
}

class InMemoryTableTest : public SchemaDatabaseTest {};

TEST_P(InMemoryTableTest, ColumnsComeFromTheColumnKindCache) {
    DBIF_Connection& db = connection();
    const DBIF_MeasurementColumn vd = DBIF_MeasurementColumn::get(db, "Vd", "DB", 2);
    const DBIF_MeasurementColumn name = DBIF_MeasurementColumn::get(db, "name", "TX", 2);
    Table table(db, -1, DBIF_MULTI_TABLE_STORAGE);
    table.addColumn(name.getKey());
    table.addColumn(vd.getKey());
    const QList<DBIF_MeasurementColumn> columns = table.getColumns();
    ASSERT_EQ(columns.size(), 2);
    EXPECT_TRUE(columns[0] == name && columns[1] == vd);
    // The table's clearCache empties the cache of its column kind.
    Table::clearCache();
    EXPECT_FALSE(DBIF_MeasurementColumn::hasColumn(db, vd.getKey()));
}

DBIF_DATABASE_TEST_SUITE(InMemoryTableTest);

}  // namespace
