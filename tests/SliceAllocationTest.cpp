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
std::atomic<long> g_allocations{0};

void* counted(std::size_t size) noexcept
{
    if (g_counting)
        g_allocations.fetch_add(1, std::memory_order_relaxed);
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
void operator delete(void* p) noexcept
{
    if (p && g_counting)
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
// clang-format on

namespace {

// Renders 3000 blocks of a playing slice the way the audio thread does, from
// its first block on, and counts heap operations (allocations and frees).
long heapOperationsWhileRendering(Slice& slice, bool raw)
{
    std::vector<float> out(512, 0.0f);
    g_allocations = 0;
    g_counting = true;
    unsigned delivered = 0;
    for (int i = 0; i < 3000; ++i)
        delivered += raw ? slice.renderRaw(out.data(), 512) : slice.render(out.data(), 512);
    g_counting = false;
    EXPECT_EQ(delivered, 3000u * 512u);
    return g_allocations;
}

} // namespace

// Nothing is connected to the slices: a queued receiver of playPosChanged()
// costs an event allocation per render, the receiver's price, not the render's.
TEST(SliceAllocationTest, RenderingAPlayingSliceNeverTouchesTheHeap)
{
    using namespace SliceTestSupport;
    const QString dir = freshTestDir();
    const QString path = writeWav(dir, "loop.wav", 30000);
    auto file = loadFilled(path);
    // At another rate SoundTouch's rate stage runs as well.
    auto other = loadFilled(writeSine(dir, "sine48k.wav", 441.0, 48000 * 3, 48000, 2));
    ASSERT_TRUE(file && other);
    // A region that every block of the run wraps through.
    file->setLoopMode(1);
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

    Slice take;
    const std::vector<float> audio = stereoSamples(path);
    take.appendSamples(audio.data(), static_cast<unsigned>(audio.size()));
    take.play(true, 0.0, 1.0);
    take.setLoopMode(1);
    EXPECT_EQ(heapOperationsWhileRendering(take, true), 0);
    take.setPitch(-3);
    take.play(true, 0.0, 1.0);
    EXPECT_EQ(heapOperationsWhileRendering(take, false), 0);
}
