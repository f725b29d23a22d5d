#include <gtest/gtest.h>
#include "dbif/DBIF_Utilities.h"
TEST(Utilities, Placeholder) { EXPECT_EQ(caseSensitize("Vds"), "Vds_4"); }
