// Which auxiliary-vector entry the board's entry point may turn into AT_RANDOM.
#include "auxv.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

enum : unsigned long { at_null = 0, at_pagesz = 6, at_base = 7, at_flags = 8, at_random = 25 };

// argc 1, one argument, one environment string, then the given pairs.
std::vector<unsigned long> initial_stack(std::vector<unsigned long> pairs)
{
    std::vector<unsigned long> s = {1, 0x1000, 0, 0x2000, 0};
    s.insert(s.end(), pairs.begin(), pairs.end());
    s.insert(s.end(), {at_null, 0});
    return s;
}

TEST(BoardAuxv, SparesFlagsThenAZeroBaseWhenThereIsNoRandom)
{
    auto old_kernel = initial_stack({at_pagesz, 4096, at_base, 0, at_flags, 0});
    EXPECT_EQ(auxv_random_slot(old_kernel.data()), &old_kernel[9]);

    auto no_flags = initial_stack({at_pagesz, 4096, at_base, 0});
    EXPECT_EQ(auxv_random_slot(no_flags.data()), &no_flags[7]);

    auto dynamic = initial_stack({at_pagesz, 4096, at_base, 0x40000000});
    EXPECT_EQ(auxv_random_slot(dynamic.data()), nullptr);
}

TEST(BoardAuxv, LeavesAKernelsOwnRandomAlone)
{
    auto recent = initial_stack({at_pagesz, 4096, at_flags, 0, at_random, 0x3000});
    EXPECT_EQ(auxv_random_slot(recent.data()), nullptr);
}

} // namespace
