#include "Align.h"

#include <gtest/gtest.h>

TEST(AlignTest, BlocksHaveTheAlignmentAskedFor)
{
    // Above what malloc guarantees, an alignment must not silently be ignored.
    for (std::size_t alignment : {16u, 64u, 256u}) {
        void* p = AlignedMalloc(100, alignment);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(IsAligned(p, alignment)) << alignment;
        AlignedFree(p);
    }
    alignas(16) char buffer[32];
    EXPECT_FALSE(IsAligned(buffer + 4, 16));
    EXPECT_DEATH(IsAligned(buffer, 12), "\\(alignment & \\(alignment-1\\)\\) == 0");
}
