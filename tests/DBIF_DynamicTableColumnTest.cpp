// Tests of DBIF_DynamicTableColumn and the five column kinds: keys, catalog statements, saving, the
// flag merge of get, and reading catalogs back through another connection, on both drivers.
#include <gtest/gtest.h>

#include <sstream>

#include "DatabaseTest.h"
#include "dbif/DBIF_CatalogEntryColumn.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_MeasurementConditionColumn.h"
#include "dbif/DBIF_SetupColumn.h"

namespace {

TEST(DynamicTableColumnKey, CaseMaskKindQualifiersAndUpperCasing) {
    EXPECT_EQ(DBIF_MeasurementColumn::computeKey("Vd", "DB"), "VD_2_DB");
    EXPECT_EQ(DBIF_MeasurementColumn::computeKey("vd", "DB"), "VD_0_DB");
    EXPECT_EQ(DBIF_MeasurementColumn::computeKey("VD", "DB"), "VD_3_DB");
    EXPECT_EQ(DBIF_CatalogEntryColumn::computeKey("Vd", "tx"), "VD_2_TX");
    EXPECT_EQ(DBIF_DeviceColumn::computeKey("Vd", "DB", "PHYSICAL"), "VD_2_DB_PHYSICAL");
    EXPECT_EQ(DBIF_DeviceColumn::computeKey("Vd", "DB", "node"), "VD_2_DB_NODE");
    EXPECT_EQ(DBIF_MeasurementConditionColumn::computeKey("Vd", "DB", "any description"), "VD_2_DB");
    EXPECT_EQ(DBIF_SetupColumn::computeKey("Vd", "TX", true), "VD_2_I_TX");
    EXPECT_EQ(DBIF_SetupColumn::computeKey("Vd", "TX", false), "VD_2_O_TX");

    EXPECT_EQ(DBIF_SetupColumn::ParameterBlock("Vd", "TX", true, 1).computeKey(), "VD_2_I_TX");
    EXPECT_EQ(DBIF_DeviceColumn::ParameterBlock("Vd", "DB", "NODE", 1).computeKey(), "VD_2_DB_NODE");
    EXPECT_EQ(DBIF_MeasurementColumn::ParameterBlock("vd", "DB", 2).computeKey(), "VD_0_DB");
}

TEST(DynamicTableColumnKey, CatalogSelectsAndTableSets) {
    EXPECT_EQ(DBIF_ObjectCacheTraits<DBIF_CatalogEntryColumn>::cacheSelectStatement(),
              "SELECT name, data_type, flags, id FROM catalog_entry_column");
    EXPECT_EQ(DBIF_ObjectCacheTraits<DBIF_DeviceColumn>::cacheSelectStatement(),
              "SELECT name, data_type, category, flags, id FROM device_column");
    EXPECT_EQ(DBIF_ObjectCacheTraits<DBIF_MeasurementConditionColumn>::cacheSelectStatement(),
              "SELECT name, data_type, description, flags, id FROM measurement_condition_column");
    EXPECT_EQ(DBIF_ObjectCacheTraits<DBIF_MeasurementColumn>::cacheSelectStatement(),
              "SELECT name, data_type, flags, id FROM measurement_column");
    EXPECT_EQ(DBIF_ObjectCacheTraits<DBIF_SetupColumn>::cacheSelectStatement(),
              "SELECT name, data_type, is_input, flags, id FROM setup_column");
    EXPECT_TRUE(DBIF_ObjectCacheTraits<DBIF_SetupColumn>::shouldCacheAll());

    const DBIF_TableSet& set = DBIF_MeasurementConditionColumn::tableSet();
    EXPECT_EQ(set.masterTableName, "measurement_condition");
    EXPECT_EQ(set.columnTableName, "measurement_condition_column");
    EXPECT_EQ(set.dataTableName, "measurement_condition_data");
    EXPECT_EQ(set.associationTableName, "measurement_condition_association");
    EXPECT_EQ(DBIF_CatalogEntryColumn::tableSet().associationTableName, "catalog_entry_association");
    EXPECT_EQ(DBIF_DeviceColumn::tableSet().dataTableName, "device_data");
    EXPECT_EQ(DBIF_SetupColumn::tableSet().columnTableName, "setup_column");
    EXPECT_EQ(DBIF_MeasurementColumn().getTableSet().masterTableName, "measurement");
}

class DynamicTableColumnTest : public SchemaDatabaseTest {};

TEST_P(DynamicTableColumnTest, DataColumnFormatFollowsDataType) {
    DBIF_Connection& db = connection();
    EXPECT_EQ(DBIF_MeasurementColumn(db, "a", "DB", 0, -1).getDataColumnFormat(), "DOUBLE");
    EXPECT_EQ(DBIF_MeasurementColumn(db, "a", "TX", 0, -1).getDataColumnFormat(), "VARCHAR(200)");
    EXPECT_EQ(DBIF_MeasurementColumn(db, "a", "CN", 0, -1).getDataColumnFormat(), "VARCHAR(200)");
    EXPECT_EQ(DBIF_MeasurementColumn(db, "a", "CM", 0, -1).getDataColumnFormat(), "VARCHAR(200)");

    testing::internal::CaptureStderr();
    DBIF_SetupColumn unknown(db, "a", "XY", true, 0, -1);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("ASSERTION failed ("), std::string::npos) << report;
    EXPECT_NE(report.find("Don't understand data type XY"), std::string::npos) << report;
    EXPECT_EQ(unknown.getDataColumnFormat(), "");
    EXPECT_EQ(unknown.getKey(), "A_0_I_XY");
}

TEST_P(DynamicTableColumnTest, NewColumnIsInsertedOnceThenOnlyRewrittenWhenDirty) {
    DBIF_Connection& db = connection();
    DBIF_DeviceColumn column =
        DBIF_DeviceColumn::get(db, "Vd", "DB", DBIF_DeviceColumn::PHYSICAL_CATEGORY, 1);
    EXPECT_EQ(column.getKey(), "VD_2_DB_PHYSICAL");
    EXPECT_EQ(column.getId(), -1);
    EXPECT_TRUE(column.isNew());
    EXPECT_TRUE(column.isDirty());
    EXPECT_TRUE(column == DBIF_DeviceColumn::get(db, "Vd", "DB", "PHYSICAL", 1));
    EXPECT_TRUE(DBIF_DeviceColumn::hasColumn(db, "VD_2_DB_PHYSICAL"));
    EXPECT_FALSE(DBIF_DeviceColumn::hasColumn(db, "VD_2_DB_NODE"));
    EXPECT_EQ(countRows("device_column"), 0);  // get does not write a new column

    EXPECT_EQ(statementsOf([&] { column.save(); }),
              QStringList{"INSERT INTO device_column (name, data_type, category, flags) values ('Vd', 'DB', "
                          "'PHYSICAL', 1)"});
    EXPECT_EQ(column.getId(), db.queryInt("SELECT id FROM device_column WHERE name = 'Vd'", DBIF_QUERY_TIMING,
                                          __FILE__, __LINE__));
    EXPECT_FALSE(column.isNew());
    EXPECT_FALSE(column.isDirty());
    EXPECT_EQ(statementsOf([&] { column.save(); }), QStringList());

    const DBIF_DeviceColumn copy = column;
    column.setFlags(3);
    EXPECT_TRUE(copy.isDirty());
    EXPECT_EQ(statementsOf([&] { column.save(); }),
              QStringList{QStringLiteral("UPDATE device_column set name = 'Vd', data_type = 'DB', category = "
                                         "'PHYSICAL', flags = 3 WHERE id = %1")
                              .arg(column.getId())});
    EXPECT_FALSE(column.isDirty());
    EXPECT_EQ(countRows("device_column", "flags = 3 AND category = 'PHYSICAL'"), 1);

    // A column that is being saved (e.g. re-entered through a listener) sends nothing.
    column.setDirty(true);
    copy.setCurrentlyInSave(true);
    EXPECT_EQ(statementsOf([&] { column.save(); }), QStringList());
    EXPECT_TRUE(column.isDirty());
    copy.setCurrentlyInSave(false);

    DBIF_SetupColumn input = DBIF_SetupColumn::get(db, "Vd", "TX", true, 2);
    EXPECT_EQ(
        statementsOf([&] { input.save(); }),
        QStringList{"INSERT INTO setup_column (name, data_type, is_input, flags) values ('Vd', 'TX', '1', "
                    "2)"});
}

TEST_P(DynamicTableColumnTest, KeysKeepColumnsApartAndTheFirstDescriptionStays) {
    DBIF_Connection& db = connection();
    DBIF_MeasurementColumn upper = DBIF_MeasurementColumn::get(db, "Vd", "DB", 1);
    DBIF_MeasurementColumn lower = DBIF_MeasurementColumn::get(db, "vd", "DB", 1);
    EXPECT_TRUE(upper != lower);
    upper.save();
    lower.save();
    EXPECT_EQ(countRows("measurement_column"), 2);
    EXPECT_NE(upper.getId(), lower.getId());

    DBIF_SetupColumn input = DBIF_SetupColumn::get(db, "Vd", "TX", true, 1);
    DBIF_SetupColumn output = DBIF_SetupColumn::get(db, "Vd", "TX", false, 1);
    EXPECT_EQ(input.getKey(), "VD_2_I_TX");
    EXPECT_EQ(output.getKey(), "VD_2_O_TX");
    EXPECT_TRUE(input.getIsInput());
    EXPECT_FALSE(output.getIsInput());

    DBIF_DeviceColumn physical = DBIF_DeviceColumn::get(db, "Vd", "DB", "PHYSICAL", 1);
    DBIF_DeviceColumn node = DBIF_DeviceColumn::get(db, "Vd", "DB", "NODE", 1);
    EXPECT_TRUE(physical != node);
    EXPECT_EQ(node.getCategory(), "NODE");

    DBIF_MeasurementConditionColumn first = DBIF_MeasurementConditionColumn::get(db, "T", "DB", "first", 1);
    DBIF_MeasurementConditionColumn second = DBIF_MeasurementConditionColumn::get(db, "T", "DB", "second", 1);
    EXPECT_TRUE(first == second);
    EXPECT_EQ(second.getDescription(), "first");
    second.save();
    EXPECT_EQ(countRows("measurement_condition_column", "description = 'first'"), 1);
    EXPECT_EQ(countRows("measurement_condition_column"), 1);
}

TEST_P(DynamicTableColumnTest, GetMergesFlagsOnlyWhenNoBitIsShared) {
    DBIF_Connection& db = connection();
    DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(db, "Vd", "DB", 1);
    column.save();
    const QString update =
        QStringLiteral("UPDATE measurement_column set name = 'Vd', data_type = 'DB', flags = 3 WHERE id = %1")
            .arg(column.getId());

    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Vd", "DB", 2); }), QStringList{update});
    EXPECT_EQ(column.getFlags(), 3);
    EXPECT_FALSE(column.isDirty());
    EXPECT_EQ(countRows("measurement_column", "flags = 3"), 1);

    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Vd", "DB", 1); }), QStringList());
    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Vd", "DB", 2); }), QStringList());

    // Any shared bit is enough: a column holding bit 1 asked for with bits 1 and 2 stays as it is.
    DBIF_MeasurementColumn sparse = DBIF_MeasurementColumn::get(db, "Id", "DB", 1);
    sparse.save();
    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Id", "DB", 3); }), QStringList());
    EXPECT_EQ(sparse.getFlags(), 1);
    EXPECT_TRUE(sparse.isSparseTableColumn());
    EXPECT_TRUE(DBIF_MeasurementColumn::isSparseTableColumn(db, "ID_2_DB"));

    // Flags 0 share no bit with anything, so a stored column is rewritten.
    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Id", "DB", 0); }).size(), 1);

    // A new column takes the merged bits but is written only by whoever saves it.
    DBIF_CatalogEntryColumn fresh = DBIF_CatalogEntryColumn::get(db, "N", "TX", 2);
    EXPECT_EQ(statementsOf([&] { DBIF_CatalogEntryColumn::get(db, "N", "TX", 1); }), QStringList());
    EXPECT_EQ(fresh.getFlags(), 3);
    EXPECT_TRUE(fresh.isNew());
    fresh.save();
    EXPECT_EQ(countRows("catalog_entry_column", "name = 'N' AND flags = 3"), 1);
}

TEST_P(DynamicTableColumnTest, SecondConnectionReadsTheCatalogBack) {
    DBIF_Connection& db = connection();
    DBIF_SetupColumn input = DBIF_SetupColumn::get(db, "Vd", "TX", true, 1);
    DBIF_SetupColumn output = DBIF_SetupColumn::get(db, "Vd", "TX", false, 2);
    DBIF_DeviceColumn device = DBIF_DeviceColumn::get(db, "Gate", "CN", "NODE", 2);
    DBIF_MeasurementConditionColumn condition =
        DBIF_MeasurementConditionColumn::get(db, "Temp", "DB", "chuck temperature", 1);
    const QString quoted = isMySql() ? QStringLiteral("it's a \\'quote") : QStringLiteral("it's a 'quote");
    DBIF_MeasurementColumn quote = DBIF_MeasurementColumn::get(db, quoted, "TX", 1);
    input.save();
    output.save();
    device.save();
    condition.save();
    quote.save();
    commit();

    DBIF_Connection other = openSecondConnection();
    EXPECT_TRUE(DBIF_SetupColumn::hasColumn(other, "VD_2_I_TX"));
    const DBIF_SetupColumn readInput = DBIF_SetupColumn::get(other, QStringLiteral("VD_2_I_TX"));
    const DBIF_SetupColumn readOutput = DBIF_SetupColumn::get(other, output.getId());
    EXPECT_TRUE(readInput != input);  // each connection has its own records
    EXPECT_EQ(readInput.getId(), input.getId());
    EXPECT_TRUE(readInput.getIsInput());
    EXPECT_FALSE(readInput.isDirty());
    EXPECT_EQ(readInput.getName(), "Vd");
    EXPECT_EQ(readOutput.getKey(), "VD_2_O_TX");
    EXPECT_FALSE(readOutput.getIsInput());
    EXPECT_EQ(readOutput.getFlags(), 2);
    EXPECT_TRUE(readOutput.getConnection() == other);

    const DBIF_DeviceColumn readDevice = DBIF_DeviceColumn::get(other, device.getId());
    EXPECT_EQ(readDevice.getCategory(), "NODE");
    EXPECT_EQ(readDevice.getDataType(), "CN");
    EXPECT_EQ(readDevice.getDataColumnFormat(), "VARCHAR(200)");
    EXPECT_EQ(DBIF_MeasurementConditionColumn::get(other, "Temp", "DB", "other", 1).getDescription(),
              "chuck temperature");

    const DBIF_MeasurementColumn readQuote = DBIF_MeasurementColumn::get(other, quote.getKey());
    EXPECT_EQ(readQuote.getName(), quoted);
    EXPECT_EQ(readQuote.getId(), quote.getId());

    // The first lookup read the whole catalog; later lookups are served from memory.
    const int queries = other.getCounts()[DBIF_QUERY_TIMING];
    EXPECT_FALSE(DBIF_SetupColumn::isSparseTableColumn(other, "VD_2_O_TX"));
    EXPECT_TRUE(DBIF_SetupColumn::isSparseTableColumn(other, "VD_2_I_TX"));
    EXPECT_EQ(other.getCounts()[DBIF_QUERY_TIMING], queries);
}

TEST_P(DynamicTableColumnTest, FailingCatalogStatementThrowsAndIsRepeated) {
    DBIF_Connection& db = connection();
    DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(db, "Vd", "DB", 1);
    exec("DROP TABLE measurement_column");
    const QString insert = "INSERT INTO measurement_column (name, data_type, flags) values ('Vd', 'DB', 1)";
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            column.save();
            ADD_FAILURE() << "save did not throw, attempt " << attempt;
        } catch (const DBIF_Exception& failure) {
            EXPECT_EQ(failure.getQuery(), insert) << "attempt " << attempt;
        }
        EXPECT_EQ(column.getId(), -1);
        EXPECT_TRUE(column.isDirty());
        EXPECT_FALSE(column.isCurrentlyInSave());
    }
}

TEST_P(DynamicTableColumnTest, LookupMissesNotNullAndDebugLine) {
    DBIF_Connection& db = connection();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(DBIF_DeviceColumn::isSparseTableColumn(db, "NOPE_0_DB_ID"));
    const DBIF_DeviceColumn missing = DBIF_DeviceColumn::get(db, 42);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_NE(report.find("Couldn't find object with key NOPE_0_DB_ID"), std::string::npos) << report;
    EXPECT_TRUE(missing.isNull());
    EXPECT_FALSE(missing.isSparseTableColumn());

    const DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(db, "Vd", "DB", 2);
    std::ostringstream line;
    line << column;
    EXPECT_EQ(line.str(), "Column::name: Vd key: VD_2_DB data type: DB flags: 2\n");

    const DBIF_SingleColumnCondition condition = DBIF_DeviceColumn::get(db, "Vd", "DB", "ID", 1).notNull();
    EXPECT_EQ(condition.getTable(), "device_data");
    EXPECT_EQ(condition.getColumn(), "VD_2_DB_ID");
    EXPECT_EQ(condition.getComparator(), IsNotNull);
    EXPECT_EQ(condition.getValue(), QVariant(0));
    EXPECT_FALSE(condition.usesCollation());
    EXPECT_FALSE(condition.usesTolerance());
}

TEST_P(DynamicTableColumnTest, ClearingCachesBuildsNewRecordsForTheSameRows) {
    DBIF_Connection& db = connection();
    DBIF_SetupColumn setup = DBIF_SetupColumn::get(db, "Vd", "TX", true, 1);
    DBIF_MeasurementColumn measurement = DBIF_MeasurementColumn::get(db, "Vd", "DB", 1);
    setup.save();
    measurement.save();

    DBIF_DynamicTableColumn::clearCache<DBIF_SetupColumn>();
    const DBIF_SetupColumn reread = DBIF_SetupColumn::get(db, QStringLiteral("VD_2_I_TX"));
    EXPECT_TRUE(reread != setup);
    EXPECT_EQ(reread.getId(), setup.getId());
    EXPECT_TRUE(DBIF_MeasurementColumn::get(db, QStringLiteral("VD_2_DB")) == measurement);

    // Columns not yet saved are gone with the cache; the handles held here stay usable.
    DBIF_DeviceColumn unsaved = DBIF_DeviceColumn::get(db, "Vg", "DB", "NODE", 1);
    const DBIF_Die die = DBIF_Die::get(db, "L", "W", "D", "B", "u");
    dbifClearAllCaches();
    EXPECT_TRUE(DBIF_Die::get(db, "L", "W", "D", "B", "u") != die);
    EXPECT_FALSE(DBIF_DeviceColumn::hasColumn(db, "VG_2_DB_NODE"));
    EXPECT_TRUE(DBIF_MeasurementColumn::get(db, QStringLiteral("VD_2_DB")) != measurement);
    EXPECT_EQ(unsaved.getKey(), "VG_2_DB_NODE");
}

DBIF_DATABASE_TEST_SUITE(DynamicTableColumnTest);

}  // namespace
