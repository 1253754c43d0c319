#include "ffft/DynArray.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(DynArray, GuardsEveryIndex)
{
    ffft::DynArray<int> a(4);
    const ffft::DynArray<int>& ca = a;
    for (long pos : {-1L, 4L, 5L, -100L}) {
        EXPECT_THROW(a[pos], std::out_of_range) << pos;
        EXPECT_THROW(ca[pos], std::out_of_range) << pos;
    }
    a[0] = 7;
    a[3] = 9;
    EXPECT_EQ(ca[0], 7);
    EXPECT_EQ(ca[3], 9);

    ffft::DynArray<int> empty;
    EXPECT_EQ(empty.size(), 0);
    EXPECT_THROW(empty[0], std::out_of_range);
}

TEST(DynArray, ResizeReplacesOrKeeps)
{
    ffft::DynArray<double> a(2);
    a[1] = 3.5;
    a.resize(0);  // keeps the array and its contents
    EXPECT_EQ(a.size(), 2);
    EXPECT_EQ(a[1], 3.5);

    a.resize(5);  // a fresh array: old contents gone, new elements zero
    EXPECT_EQ(a.size(), 5);
    for (long i = 0; i < 5; ++i) {
        EXPECT_EQ(a[i], 0.0);
    }
    EXPECT_THROW(a[5], std::out_of_range);
    EXPECT_THROW(a.resize(-1), std::length_error);
    EXPECT_EQ(a.size(), 5);
}

}  // namespace
