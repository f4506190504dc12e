#include "HandleHolder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Handles are small numbers, 0 among them; the closes are recorded in order. A negative
// number is "no handle", as the LZ library answers.
std::vector<int> gClosed;
void CloseFake(int handle) { gClosed.push_back(handle); }
struct TMinusOne {
    static int None() { return -1; }
    static bool Is(int handle) { return handle < 0; }
};
using TFake = THandleHolder<int, &CloseFake, TMinusOne>;

class HandleHolder : public testing::Test {
protected:
    void SetUp() override { gClosed.clear(); }
};

TEST_F(HandleHolder, EachHandleIsClosedOnceAndNoHandleNever) {
    {
        TFake a(7), zero(0), none(-2), empty;
        EXPECT_TRUE(a.Valid());
        EXPECT_TRUE(zero.Valid());
        EXPECT_FALSE(none.Valid());
        EXPECT_FALSE(empty);
    }
    EXPECT_EQ(gClosed, (std::vector<int>{0, 7}));
}

TEST_F(HandleHolder, ResetClosesTheOldHandleAndReleaseGivesItUp) {
    {
        TFake a(1);
        a.Reset(2);
        EXPECT_EQ(gClosed, std::vector<int>{1});
        EXPECT_EQ(a.Release(), 2);
        EXPECT_FALSE(a.Valid());
        a.Reset(3);
        a.Reset();
        EXPECT_EQ(gClosed, (std::vector<int>{1, 3}));
    }
    EXPECT_EQ(gClosed, (std::vector<int>{1, 3})) << "2 was given up, nothing is held at the end";
}

TEST_F(HandleHolder, AMovedHandleIsClosedByItsNewHolderOnly) {
    {
        TFake a(4);
        TFake b(std::move(a));
        EXPECT_FALSE(a.Valid());
        TFake c(5);
        c = std::move(b);  // 5 closed, 4 now held by c
        EXPECT_EQ(gClosed, std::vector<int>{5});
        EXPECT_EQ(c.Get(), 4);
    }
    EXPECT_EQ(gClosed, (std::vector<int>{5, 4}));
}

}  // namespace
