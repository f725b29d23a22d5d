// Tests of DBIF_DynamicTableColumn and the five column kinds: keys, catalog statements, saving, the
// flag merge of get, and reading catalogs back through another connection, on both drivers.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "CapturedStderr.h"
#include "DatabaseTest.h"
#include "dbif/DBIF_CatalogEntryColumn.h"
#include "dbif/DBIF_ClearAllCaches.h"
#include "dbif/DBIF_DeviceColumn.h"
#include "dbif/DBIF_Die.h"
#include "dbif/DBIF_MeasurementColumn.h"
#include "dbif/DBIF_MeasurementConditionColumn.h"
#include "dbif/DBIF_SetupColumn.h"

namespace {

template <typename Kind>
QString selectOf() {
    return DBIF_ObjectCacheTraits<Kind>::cacheSelectStatement();
}

TEST(DynamicTableColumnKey, KeysCatalogSelectsAndTableSets) {
    const std::vector<std::pair<QString, const char*>> keys = {
        {DBIF_MeasurementColumn::computeKey("Vd", "DB"), "VD_2_DB"},
        {DBIF_MeasurementColumn::computeKey("vd", "DB"), "VD_0_DB"},
        {DBIF_MeasurementColumn::computeKey("VD", "DB"), "VD_3_DB"},
        {DBIF_CatalogEntryColumn::computeKey("Vd", "tx"), "VD_2_TX"},
        {DBIF_DeviceColumn::computeKey("Vd", "DB", "node"), "VD_2_DB_NODE"},
        {DBIF_MeasurementConditionColumn::computeKey("Vd", "DB", "any description"), "VD_2_DB"},
        {DBIF_SetupColumn::computeKey("Vd", "TX", true), "VD_2_I_TX"},
        {DBIF_SetupColumn::computeKey("Vd", "TX", false), "VD_2_O_TX"},
        {DBIF_SetupColumn::ParameterBlock("Vd", "TX", false, 1).computeKey(), "VD_2_O_TX"},
        {DBIF_DeviceColumn::ParameterBlock("Vd", "DB", "PHYSICAL", 1).computeKey(), "VD_2_DB_PHYSICAL"},
        {selectOf<DBIF_CatalogEntryColumn>(), "SELECT name, data_type, flags, id FROM catalog_entry_column"},
        {selectOf<DBIF_DeviceColumn>(), "SELECT name, data_type, category, flags, id FROM device_column"},
        {selectOf<DBIF_MeasurementConditionColumn>(),
         "SELECT name, data_type, description, flags, id FROM measurement_condition_column"},
        {selectOf<DBIF_MeasurementColumn>(), "SELECT name, data_type, flags, id FROM measurement_column"},
        {selectOf<DBIF_SetupColumn>(), "SELECT name, data_type, is_input, flags, id FROM setup_column"},
    };
    for (const auto& [actual, expected] : keys)
        EXPECT_EQ(actual.toStdString(), expected);

    const DBIF_TableSet& set = DBIF_MeasurementConditionColumn::tableSet();
    EXPECT_EQ(
        QStringList({set.masterTableName, set.columnTableName, set.dataTableName, set.associationTableName}),
        QStringList({"measurement_condition", "measurement_condition_column", "measurement_condition_data",
                     "measurement_condition_association"}));
}

class DynamicTableColumnTest : public SchemaDatabaseTest {};

TEST_P(DynamicTableColumnTest, DataColumnFormatFollowsDataType) {
    DBIF_Connection& db = connection();
    // Complex values at full precision outgrow VARCHAR(200).
    for (const auto& [type, format] : {std::pair("TX", "VARCHAR(200)"), std::pair("CN", "TEXT"),
                                       std::pair("CM", "TEXT"), std::pair("DB", "DOUBLE")})
        EXPECT_EQ(DBIF_MeasurementColumn(db, "a", type, 0, -1).getDataColumnFormat(), format) << type;
    std::unique_ptr<DBIF_SetupColumn> unknown;
    EXPECT_EQ(reportsOf([&] { unknown = std::make_unique<DBIF_SetupColumn>(db, "a", "XY", true, 0, -1); }),
              Reports{"Don't understand data type XY"});
    EXPECT_EQ(unknown->getDataColumnFormat(), "");
    EXPECT_EQ(unknown->getKey(), "A_0_I_XY");
}

TEST_P(DynamicTableColumnTest, NewColumnIsInsertedOnceThenOnlyRewrittenWhenDirtyOrAgainAfterAFailure) {
    DBIF_Connection& db = connection();
    DBIF_DeviceColumn column =
        DBIF_DeviceColumn::get(db, "Vd", "DB", DBIF_DeviceColumn::PHYSICAL_CATEGORY, 1);
    EXPECT_EQ(column.getId(), -1);
    EXPECT_TRUE(column.isNew() && column.isDirty());
    EXPECT_TRUE(column == DBIF_DeviceColumn::get(db, "Vd", "DB", "PHYSICAL", 1));
    EXPECT_TRUE(column != DBIF_DeviceColumn::get(db, "Vd", "DB", "NODE", 1));
    EXPECT_EQ(countRows("device_column"), 0);  // get does not write a new column

    EXPECT_EQ(
        statementsOf([&] { column.save(); }),
        QStringList{"INSERT INTO device_column (name, data_type, category, flags) VALUES (?, ?, ?, ?) -- "
                    "bound: 'Vd', 'DB', 'PHYSICAL', 1"});
    EXPECT_FALSE(column.isNew() || column.isDirty());
    EXPECT_EQ(statementsOf([&] { column.save(); }), QStringList());

    const DBIF_DeviceColumn copy = column;
    column.setFlags(3);
    EXPECT_TRUE(copy.isDirty());
    EXPECT_EQ(
        statementsOf([&] { column.save(); }),
        QStringList{QStringLiteral("UPDATE device_column SET name = ?, data_type = ?, category = ?, flags "
                                   "= ? WHERE id = %1 -- bound: 'Vd', 'DB', 'PHYSICAL', 3")
                        .arg(column.getId())});
    EXPECT_EQ(countRows("device_column", "flags = 3 AND category = 'PHYSICAL'"), 1);

    // A column that is being saved (re-entered through a listener) sends nothing.
    column.setDirty(true);
    copy.setCurrentlyInSave(true);
    EXPECT_EQ(statementsOf([&] { column.save(); }), QStringList());
    EXPECT_TRUE(column.isDirty());
    copy.setCurrentlyInSave(false);

    DBIF_SetupColumn input = DBIF_SetupColumn::get(db, "Vd", "TX", true, 2);
    EXPECT_EQ(statementsOf([&] { input.save(); }),
              QStringList{
                  "INSERT INTO setup_column (name, data_type, is_input, flags) VALUES (?, ?, ?, ?) -- bound: "
                  "'Vd', 'TX', '1', 2"});
    DBIF_MeasurementConditionColumn first = DBIF_MeasurementConditionColumn::get(db, "T", "DB", "first", 1);
    EXPECT_EQ(
        statementsOf([&] { first.save(); }),
        QStringList{"INSERT INTO measurement_condition_column (name, data_type, description, flags) VALUES "
                    "(?, ?, ?, ?) -- bound: 'T', 'DB', 'first', 1"});

    // A failing statement throws and leaves the column new and dirty, so the next save sends it again.
    DBIF_MeasurementColumn failing = DBIF_MeasurementColumn::get(db, "Vd", "DB", 1);
    exec("DROP TABLE measurement_column");
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(failedStatement([&] { failing.save(); }),
                  "INSERT INTO measurement_column (name, data_type, flags) VALUES (?, ?, ?)")
            << attempt;
        EXPECT_EQ(failing.getId(), -1);
        EXPECT_TRUE(failing.isDirty());
        EXPECT_FALSE(failing.isCurrentlyInSave());
    }
}

TEST_P(DynamicTableColumnTest, GetMergesFlagsOnlyWhenNoBitIsShared) {
    DBIF_Connection& db = connection();
    DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(db, "Vd", "DB", 1);
    column.save();
    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Vd", "DB", 2); }),
              QStringList{QStringLiteral(
                              "UPDATE measurement_column SET name = ?, data_type = ?, flags = ? WHERE id = "
                              "%1 -- bound: 'Vd', 'DB', 3")
                              .arg(column.getId())});
    EXPECT_EQ(column.getFlags(), 3);
    EXPECT_FALSE(column.isDirty());
    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Vd", "DB", 1); }), QStringList());

    // Any shared bit is enough: a column holding bit 1 asked for with bits 1 and 2 stays as it is.
    DBIF_MeasurementColumn sparse = DBIF_MeasurementColumn::get(db, "Id", "DB", 1);
    sparse.save();
    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Id", "DB", 3); }), QStringList());
    EXPECT_TRUE(DBIF_MeasurementColumn::isSparseTableColumn(db, "ID_2_DB"));
    // Flags 0 share no bit with anything, so a stored column is rewritten.
    EXPECT_EQ(statementsOf([&] { DBIF_MeasurementColumn::get(db, "Id", "DB", 0); }).size(), 1);

    // A new column takes the merged bits but is written only by whoever saves it.
    DBIF_CatalogEntryColumn fresh = DBIF_CatalogEntryColumn::get(db, "N", "TX", 2);
    EXPECT_EQ(statementsOf([&] { DBIF_CatalogEntryColumn::get(db, "N", "TX", 1); }), QStringList());
    EXPECT_TRUE(fresh.isNew());
    fresh.save();
    EXPECT_EQ(countRows("catalog_entry_column", "name = 'N' AND flags = 3"), 1);
}

TEST_P(DynamicTableColumnTest, SecondConnectionReadsTheCatalogBack) {
    DBIF_Connection& db = connection();
    DBIF_MeasurementColumn upper = DBIF_MeasurementColumn::get(db, "Vd", "DB", 1);
    DBIF_MeasurementColumn lower = DBIF_MeasurementColumn::get(db, "vd", "DB", 1);
    DBIF_SetupColumn output = DBIF_SetupColumn::get(db, "Vd", "TX", false, 2);
    DBIF_DeviceColumn device = DBIF_DeviceColumn::get(db, "Gate", "CN", "NODE", 2);
    DBIF_MeasurementConditionColumn condition =
        DBIF_MeasurementConditionColumn::get(db, "Temp", "DB", "chuck temperature", 1);
    // The first description stays.
    EXPECT_EQ(DBIF_MeasurementConditionColumn::get(db, "Temp", "DB", "other", 1).getDescription(),
              "chuck temperature");
    const QString quoted = isMySql() ? QStringLiteral("it's a \\'quote") : QStringLiteral("it's a 'quote");
    DBIF_MeasurementColumn quote = DBIF_MeasurementColumn::get(db, quoted, "TX", 1);
    const auto saveAll = [](auto&... columns) { (columns.save(), ...); };
    saveAll(upper, lower, output, device, condition, quote);
    commit();
    EXPECT_EQ(countRows("measurement_column"), 3);

    DBIF_Connection other = openSecondConnection();
    const DBIF_SetupColumn readOutput = DBIF_SetupColumn::get(other, QStringLiteral("VD_2_O_TX"));
    EXPECT_TRUE(readOutput != output);  // each connection has its own records
    EXPECT_EQ(readOutput.getId(), output.getId());
    EXPECT_FALSE(readOutput.getIsInput());
    EXPECT_FALSE(readOutput.isDirty());
    EXPECT_EQ(readOutput.getFlags(), 2);
    const DBIF_DeviceColumn readDevice = DBIF_DeviceColumn::get(other, device.getId());
    EXPECT_EQ(readDevice.getKey(), "GATE_8_CN_NODE");
    EXPECT_EQ(readDevice.getCategory(), "NODE");
    EXPECT_EQ(DBIF_MeasurementConditionColumn::get(other, condition.getKey()).getDescription(),
              "chuck temperature");
    EXPECT_EQ(DBIF_MeasurementColumn::get(other, quote.getKey()).getName(), quoted);
    EXPECT_NE(DBIF_MeasurementColumn::get(other, lower.getKey()).getId(), upper.getId());

    // The first lookup read the whole catalog; later lookups are served from memory.
    const int queries = other.getCounts()[DBIF_QUERY_TIMING];
    EXPECT_TRUE(DBIF_MeasurementColumn::isSparseTableColumn(other, "VD_2_DB"));
    EXPECT_FALSE(DBIF_SetupColumn::isSparseTableColumn(other, "VD_2_O_TX"));
    EXPECT_EQ(other.getCounts()[DBIF_QUERY_TIMING], queries);
}

TEST_P(DynamicTableColumnTest, LookupMissesNotNullDebugLineAndClearedCaches) {
    DBIF_Connection& db = connection();
    DBIF_DeviceColumn missing;
    EXPECT_EQ(
        reportsOf([&] {
            EXPECT_FALSE(DBIF_DeviceColumn::isSparseTableColumn(db, "NOPE_0_DB_ID"));
            missing = DBIF_DeviceColumn::get(db, 42);
        }),
        (Reports{"Couldn't find object with key NOPE_0_DB_ID",
                 "DBIF_ObjectCache::load while loading an item by id, the item was not found:\n  SELECT "
                 "name, data_type, category, flags, id FROM device_column WHERE id = 42"}));
    EXPECT_TRUE(missing.isNull());
    EXPECT_FALSE(missing.isSparseTableColumn());

    DBIF_MeasurementColumn column = DBIF_MeasurementColumn::get(db, "Vd", "DB", 2);
    std::ostringstream line;
    line << column;
    EXPECT_EQ(line.str(), "Column::name: Vd key: VD_2_DB data type: DB flags: 2\n");
    const DBIF_SingleColumnCondition condition = DBIF_DeviceColumn::get(db, "Vd", "DB", "ID", 1).notNull();
    EXPECT_EQ(condition.generateSelectionCriteria(db), "(device_data.VD_2_DB_ID IS NOT NULL)");

    // Cleared caches build new records for saved rows and forget unsaved columns; handles held
    // elsewhere stay usable.
    column.save();
    DBIF_DeviceColumn unsaved = DBIF_DeviceColumn::get(db, "Vg", "DB", "NODE", 1);
    DBIF_DynamicTableColumn::clearCache<DBIF_MeasurementColumn>();
    const DBIF_MeasurementColumn reread = DBIF_MeasurementColumn::get(db, QStringLiteral("VD_2_DB"));
    EXPECT_TRUE(reread != column);
    EXPECT_EQ(reread.getId(), column.getId());
    EXPECT_TRUE(DBIF_DeviceColumn::hasColumn(db, "VG_2_DB_NODE"));
    const DBIF_Die die = DBIF_Die::get(db, "L", "W", "D", "B", "u");
    dbifClearAllCaches();
    EXPECT_TRUE(DBIF_Die::get(db, "L", "W", "D", "B", "u") != die);
    EXPECT_FALSE(DBIF_DeviceColumn::hasColumn(db, "VG_2_DB_NODE"));
    EXPECT_EQ(unsaved.getKey(), "VG_2_DB_NODE");
}

DBIF_DATABASE_TEST_SUITE(DynamicTableColumnTest);

}  // namespace
