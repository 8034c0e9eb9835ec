#include "raster/Tqactivelist.h"

#include <gtest/gtest.h>

#include <vector>

using quillor::TQActiveList;

namespace {

// Releases with the given keep until -1, returning the released tiles in order.
std::vector<int> ReleaseAll(TQActiveList& list, int keep) {
    std::vector<int> released;
    for (int tile = list.ReleaseOldest(keep); tile != -1; tile = list.ReleaseOldest(keep))
        released.push_back(tile);
    return released;
}

TEST(ActiveListTest, CapacityFollowsColumns) {
    struct Case {
        int columns, rows, capacity;
    } cases[] = {{3, 5, 16}, {1, 1, 8}, {10, 2, 44}, {0, 0, 4}};
    for (const Case& c : cases) {
        TQActiveList list;
        list.Setup(c.columns, c.rows);
        EXPECT_EQ(list.Capacity(), c.capacity) << c.columns;
    }
}

TEST(ActiveListTest, OverCapacityReleasesOnlyTheLeastRecentlyUsed) {
    TQActiveList list;
    list.Setup(3, 6);  // 18 tiles, capacity 16
    for (int tile = 0; tile < 17; ++tile)
        EXPECT_TRUE(list.Activate(tile));
    EXPECT_EQ(ReleaseAll(list, -1), std::vector<int>({0}));
    EXPECT_FALSE(list.IsActive(0));
    EXPECT_TRUE(list.IsActive(1));
    EXPECT_EQ(list.Count(), 16);
}

TEST(ActiveListTest, ReactivatingMovesTileToMostRecentEnd) {
    TQActiveList list;
    list.Setup(2, 2);
    for (int tile : {0, 1, 2, 3})
        list.Activate(tile);
    EXPECT_FALSE(list.Activate(1));  // already active
    EXPECT_FALSE(list.Activate(0));
    EXPECT_EQ(ReleaseAll(list, 0), std::vector<int>({2, 3, 1, 0}));
    for (int tile : {0, 1, 2, 3})
        EXPECT_FALSE(list.IsActive(tile));
    // A released tile activates again as new.
    EXPECT_TRUE(list.Activate(2));
    EXPECT_TRUE(list.IsActive(2));
}

TEST(ActiveListTest, ReleaseKeepsTheRequestedNumber) {
    TQActiveList list;
    list.Setup(4, 4);
    for (int tile = 15; tile >= 0; tile -= 3)  // 15 12 9 6 3 0
        list.Activate(tile);
    EXPECT_EQ(ReleaseAll(list, 4), std::vector<int>({15, 12}));
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(ReleaseAll(list, 0), std::vector<int>({9, 6, 3, 0}));
}

TEST(ActiveListTest, EmptyAndUnsetListsReleaseNothing) {
    TQActiveList unset;
    EXPECT_EQ(unset.ReleaseOldest(0), -1);
    EXPECT_EQ(unset.ReleaseOldest(-1), -1);
    EXPECT_FALSE(unset.Activate(0));
    EXPECT_FALSE(unset.IsActive(0));

    TQActiveList list;
    list.Setup(2, 2);
    EXPECT_EQ(list.ReleaseOldest(0), -1);
}

TEST(ActiveListTest, IndicesOutsideTheGridAreIgnored) {
    TQActiveList list;
    list.Setup(2, 2);
    for (int index : {-1, 4, 100}) {
        EXPECT_FALSE(list.Activate(index)) << index;
        EXPECT_FALSE(list.IsActive(index)) << index;
    }
    EXPECT_EQ(list.Count(), 0);
}

TEST(ActiveListTest, SetupForgetsPreviousTiles) {
    TQActiveList list;
    list.Setup(2, 2);
    list.Activate(1);
    list.Activate(3);
    list.Setup(3, 1);
    EXPECT_FALSE(list.IsActive(1));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ReleaseOldest(0), -1);
    EXPECT_TRUE(list.Activate(1));
}

}  // namespace
