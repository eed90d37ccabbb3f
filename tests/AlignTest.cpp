#include "Align.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(AlignTest, BlocksAreAlignedAndAlignmentMustBeAPowerOfTwo)
{
    for (std::size_t size : {16384u, 2048u, 1u}) {
        void* p = AlignedMalloc(size, 16);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(IsAligned(p, 16));
        AlignedFree(p);
    }
    void* big = AlignedMalloc(100, 64);
    EXPECT_TRUE(IsAligned(big, 64));
    AlignedFree(big);

    alignas(16) char buffer[32];
    EXPECT_FALSE(IsAligned(buffer + 4, 16));
    EXPECT_TRUE(IsAligned(buffer + 16, 16));
    EXPECT_DEATH(IsAligned(buffer, 12), "\\(alignment & \\(alignment-1\\)\\) == 0");
}
