#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Every heap allocation of this program goes through these, so a render that
// allocates shows up in the count while counting is on. Only the rendering
// thread counts: the background reader may still be logging its last lines.
namespace {
thread_local bool g_counting = false;
std::atomic<long> g_allocations{0};

void* allocate(std::size_t size)
{
    if (g_counting)
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size)
{
    return allocate(size);
}
void* operator new[](std::size_t size)
{
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept
{
    if (p && g_counting)
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    operator delete(p);
}

namespace {

// Renders blocks of a playing slice the way the audio thread does, from its
// first block on, counting heap operations (allocations and frees).
long heapOperationsWhileRendering(Slice& slice, bool raw)
{
    std::vector<float> out(512, 0.0f);
    auto renderBlock = [&] {
        return raw ? slice.renderRaw(out.data(), 512) : slice.render(out.data(), 512);
    };
    g_allocations = 0;
    g_counting = true;
    unsigned delivered = 0;
    for (int i = 0; i < 3000; ++i)
        delivered += renderBlock();
    g_counting = false;
    EXPECT_EQ(delivered, 3000u * 512u);
    return g_allocations;
}

} // namespace

// Nothing is connected to the slices here: a queued receiver of
// playPosChanged() would cost one event allocation per render, which is the
// receiver's price, not the render's.
TEST(SliceAllocationTest, RenderingAPlayingSliceNeverTouchesTheHeap)
{
    const QString dir = TestAudio::scratchDir("alloc");
    const QString path = SliceTestSupport::writeWav(dir, "loop.wav", 30000);
    auto file = SliceTestSupport::loadFilled(path);
    ASSERT_TRUE(file);
    // Loop a region so that every block of the run passes through the wrap.
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

    // A file at another rate goes through SoundTouch's rate stage as well.
    auto other = SliceTestSupport::loadFilled(
        SliceTestSupport::writeSine(dir, "sine48k.wav", 441.0, 48000 * 3, 48000, 2));
    ASSERT_TRUE(other);
    other->setLoopMode(1);
    other->setLoopEnd(other->getLength());
    other->play(true, 0.0, 1.0);
    EXPECT_EQ(heapOperationsWhileRendering(*other, false), 0);

    Slice take;
    const std::vector<float> audio = SliceTestSupport::stereoSamples(path);
    take.appendSamples(audio.data(), static_cast<unsigned>(audio.size()));
    take.play(true, 0.0, 1.0);
    take.setLoopMode(1);
    EXPECT_EQ(heapOperationsWhileRendering(take, true), 0);
    take.setPitch(-3);
    take.play(true, 0.0, 1.0);
    EXPECT_EQ(heapOperationsWhileRendering(take, false), 0);
}
