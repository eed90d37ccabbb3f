#include "Slice.h"
#include "SliceTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Every heap operation of the program goes through these. Only the rendering
// thread counts: the background reader may still be logging its last lines.
namespace {
thread_local bool g_counting = false;
std::atomic<long> g_heapOperations{0};

void* counted(std::size_t size) noexcept
{
    if (g_counting)
        ++g_heapOperations;
    return std::malloc(size ? size : 1);
}
void* allocate(std::size_t size)
{
    if (void* p = counted(size))
        return p;
    throw std::bad_alloc();
}
} // namespace

// clang-format off
void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p) noexcept { g_heapOperations += p && g_counting; std::free(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
// clang-format on

namespace {

// Heap operations while rendering 3000 blocks the way the audio thread does.
long heapOperationsWhileRendering(Slice& slice, bool raw)
{
    std::vector<float> out(512, 0.0f);
    g_heapOperations = 0;
    g_counting = true;
    unsigned delivered = 0;
    for (int i = 0; i < 3000; ++i)
        delivered += raw ? slice.renderRaw(out.data(), 512) : slice.render(out.data(), 512);
    g_counting = false;
    EXPECT_EQ(delivered, 3000u * 512u);
    return g_heapOperations;
}

} // namespace

// Nothing is connected: a queued playPosChanged() receiver would cost an event per render.
TEST(SliceAllocationTest, RenderingAPlayingSliceNeverTouchesTheHeap)
{
    using namespace SliceTestSupport;
    const QString dir = freshTestDir();
    auto file = loadFilled(writeWav(dir, "loop.wav", 30000));
    // At another rate the resampler's rate stage runs as well.
    auto other = loadFilled(writeSine(dir, "sine48k.wav", 441.0, 48000 * 3, 48000, 2));
    ASSERT_TRUE(file && other);
    file->setLoopMode(1); // a region that every block of the run wraps through
    file->setLoopStart(1000);
    file->setLoopEnd(41000);
    file->play(true, 0.0, 1.0);
    EXPECT_EQ(heapOperationsWhileRendering(*file, true), 0);
    EXPECT_EQ(heapOperationsWhileRendering(*file, false), 0);
    file->setPitch(5);
    file->setTimeStretchRatio(1.7, 120);
    file->play(true, 0.0, 1.0);
    EXPECT_EQ(heapOperationsWhileRendering(*file, false), 0);
    other->setLoopMode(1);
    other->setLoopEnd(other->getLength());
    other->play(true, 0.0, 1.0);
    EXPECT_EQ(heapOperationsWhileRendering(*other, false), 0);
}
