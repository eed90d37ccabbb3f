#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

namespace {

// One thread renders block after block, as the audio callback does, while this
// one edits the slice as the views, pad editor and transport do. Returns blocks.
long renderWhileEditing(Slice& slice, std::chrono::milliseconds duration)
{
    std::atomic<bool> running{true};
    std::atomic<long> blocks{0};
    std::thread audio([&] {
        std::vector<float> out(512);
        while (running) {
            std::fill(out.begin(), out.end(), 0.0f);
            slice.render(out.data(), 512);
            slice.renderRaw(out.data(), 256);
            ++blocks;
        }
    });

    std::mt19937 rng(11);
    auto upTo = [&](unsigned max) { return std::uniform_int_distribution<unsigned>(0, max)(rng); };
    const unsigned length = static_cast<unsigned>(slice.getLength());
    long edits = 0;
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        switch (upTo(8)) {
        case 0:
            slice.setLoopStart(upTo(length) & ~1u);
            break;
        case 1:
            slice.setLoopEnd(upTo(length + 2000) & ~1u);
            break;
        case 2:
            slice.setLoopMode(int(upTo(2)));
            break;
        case 3:
            slice.play(true, upTo(100) / 100.0, upTo(100) / 100.0);
            break;
        case 4:
            slice.play(false, 0.0, 1.0);
            break;
        case 5:
            slice.reverse();
            break;
        case 6:
            slice.setPitch(int(upTo(24)) - 12);
            break;
        case 7:
            slice.setTimeStretchRatio(0.5 + upTo(20) / 10.0, 120);
            break;
        default:
            slice.setGain(upTo(10) / 10.0f);
            slice.getPlayPos();
            break;
        }
        ++edits;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    running = false;
    audio.join();
    EXPECT_GT(edits, 20);
    return blocks;
}

} // namespace

TEST(SliceConcurrencyTest, RenderingFileSlicesAndTakesWhileTheyAreEditedStaysConsistent)
{
    LogCapture::setEcho(false); // thousands of edits log a line each
    auto file = SliceTestSupport::loadFilled(
        SliceTestSupport::writeWav(TestAudio::scratchDir("file"), "loop.wav", 60000));
    ASSERT_TRUE(file);
    Slice take;
    std::vector<float> block(512);
    for (unsigned i = 0; i < block.size(); ++i)
        block[i] = float(i % 64) / 64.0f;
    for (int i = 0; i < 100; ++i)
        take.appendSamples(block.data(), 512);
    EXPECT_GT(renderWhileEditing(*file, std::chrono::milliseconds(1000)), 100);
    EXPECT_GT(renderWhileEditing(take, std::chrono::milliseconds(1000)), 100);
}

TEST(SliceConcurrencyTest, ReversingWhileTheFillRunsAndTheSliceRenders)
{
    Slice slice(SliceTestSupport::writeWav(TestAudio::scratchDir("filling"), "long.wav", 1000000));
    slice.setLoopMode(1);
    slice.setLoopEnd(slice.getLength());
    slice.play(true, 0.0, 1.0);
    std::atomic<bool> running{true};
    std::thread audio([&] {
        std::vector<float> out(512);
        while (running)
            slice.render(out.data(), 512);
    });
    for (int i = 0; i < 20; ++i) {
        slice.reverse();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    running = false;
    audio.join();
    EXPECT_TRUE(SliceTestSupport::waitFilled(slice.getAudioCache().data()));
    EXPECT_FALSE(slice.isReversed());
}
