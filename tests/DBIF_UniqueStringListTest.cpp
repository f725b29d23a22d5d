// Tests of DBIF_UniqueStringList: the unique append rule in all its entry points, order of first
// insertion, case-sensitive comparison and containsAll.
#include <gtest/gtest.h>

#include <QStringList>

#include "dbif/DBIF_UniqueStringList.h"

namespace {

TEST(UniqueStringListTest, AppendsSkipPresentStrings) {
    DBIF_UniqueStringList list(QStringList{"b", "a", "b", "A", "a"});
    EXPECT_EQ(list, (QStringList{"b", "a", "A"}));

    list << QStringLiteral("c") << QStringLiteral("b") << QStringList{"d", "c", "a", "d"};
    EXPECT_EQ(list, (QStringList{"b", "a", "A", "c", "d"}));

    list.append(QStringLiteral("A"));
    list.append(QStringList{"e", "E", "e"});
    EXPECT_EQ(list, (QStringList{"b", "a", "A", "c", "d", "e", "E"}));

    // Appending the list to itself adds nothing.
    list << list;
    EXPECT_EQ(list.size(), 7);

    // A copy is a plain value.
    DBIF_UniqueStringList copy = list;
    copy << QStringLiteral("f");
    EXPECT_EQ(list.size(), 7);
    EXPECT_EQ(copy.size(), 8);
}

TEST(UniqueStringListTest, ContainsAll) {
    const DBIF_UniqueStringList list(QStringList{"id", "Vd", "Id"});
    EXPECT_TRUE(list.containsAll(DBIF_UniqueStringList()));
    EXPECT_TRUE(DBIF_UniqueStringList().containsAll(DBIF_UniqueStringList()));
    EXPECT_TRUE(list.containsAll(DBIF_UniqueStringList(QStringList{"Id", "id"})));
    EXPECT_TRUE(list.containsAll(list));
    EXPECT_FALSE(list.containsAll(DBIF_UniqueStringList(QStringList{"id", "vd"})));
    EXPECT_FALSE(DBIF_UniqueStringList().containsAll(DBIF_UniqueStringList(QStringList{"id"})));
}

}  // namespace
