#include <gtest/gtest.h>

#include "python/borrow.hpp"

using namespace zelt::py_api;

TEST(Borrow, SharedBorrowsStackAndBlockExclusive) {
    BorrowFlag f;
    {
        SharedBorrow a(f);
        SharedBorrow b(f);
        EXPECT_TRUE(f.shared());
        try {
            ExclusiveBorrow x(f);
            FAIL() << "exclusive borrow granted while shared";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Already borrowed");
        }
    }
    EXPECT_FALSE(f.shared());
    ExclusiveBorrow x(f);
    EXPECT_TRUE(f.exclusive());
}

TEST(Borrow, ExclusiveBlocksEverythingAndIsReleased) {
    BorrowFlag f;
    {
        ExclusiveBorrow x(f);
        // The self-stacking case: the object is held exclusively and then
        // passed as the argument that is only read.
        try {
            SharedBorrow s(f);
            FAIL() << "shared borrow granted while exclusive";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Already mutably borrowed");
        }
        EXPECT_THROW(ExclusiveBorrow y(f), std::runtime_error);
        EXPECT_TRUE(f.exclusive());
    }
    EXPECT_FALSE(f.exclusive());
    SharedBorrow s(f);
}
