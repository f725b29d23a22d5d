// Tests of measurement conditions on both drivers: a new routine stored before the condition's row, and
// a condition moved to another run keeping its key until reloaded.
#include <gtest/gtest.h>

#include "CampaignTest.h"

namespace {

using MeasurementConditionTest = CampaignTest;

TEST_P(MeasurementConditionTest, RoutineFirstAndMovedConditionKeepsItsKeyUntilReloaded) {
    DBIF_CatalogEntry first = run(0, DBIF_SPARSE_TABLE_STORAGE);
    DBIF_CatalogEntry second = run(1, DBIF_SPARSE_TABLE_STORAGE);
    DBIF_MeasurementCondition bias = condition(first, DBIF_SPARSE_TABLE_STORAGE);
    EXPECT_NE(bias.getKey(), condition(second, DBIF_SPARSE_TABLE_STORAGE).getKey());
    EXPECT_EQ(bias.getUser(), QStringLiteral("alice"));
    bias.save();
    const QString row =
        QStringLiteral("SELECT routine_id, catalog_entry_id FROM measurement_condition WHERE id = %1")
            .arg(bias.getId());
    EXPECT_EQ(rowOf(row), QStringList({QString::number(routine().getId()), QString::number(first.getId())}));
    EXPECT_GT(routine().getId(), 0);

    const QString key = bias.getKey();
    bias.setCatalogEntry(&second);
    EXPECT_TRUE(bias.isDirty());
    bias.save();  // stores the new run first
    EXPECT_EQ(rowOf(row).value(1), QString::number(second.getId()));
    EXPECT_EQ(bias.getKey(), key);
    bias.reload();
    EXPECT_EQ(bias.getKey(), DBIF_MeasurementCondition::computeKey("Vg=1.2", &second, routine()));
    EXPECT_TRUE(DBIF_MeasurementCondition::get(connection(), bias.getKey()) == bias);
    EXPECT_TRUE(QMetaType::fromName("QList<DBIF_MeasurementCondition>").isValid());
}

DBIF_DATABASE_TEST_SUITE(MeasurementConditionTest);

}  // namespace
