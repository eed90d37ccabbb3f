#include "Align.h"

#include "Assert.h"

#include <cstdint>
#include <cstdlib>

void* AlignedMalloc(std::size_t size, std::size_t alignment)
{
    TMB_ASSERT_TEXT((alignment & (alignment - 1)) == 0, "(alignment & (alignment-1)) == 0");
    if (alignment <= alignof(std::max_align_t))
        return std::malloc(size);
    // Larger alignments are not used today, but must not silently be ignored.
    const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
    return std::aligned_alloc(alignment, rounded);
}

void AlignedFree(void* ptr)
{
    std::free(ptr);
}

bool IsAligned(const void* ptr, std::size_t alignment)
{
    TMB_ASSERT_TEXT((alignment & (alignment - 1)) == 0, "(alignment & (alignment-1)) == 0");
    return (reinterpret_cast<std::uintptr_t>(ptr) & (alignment - 1)) == 0;
}
