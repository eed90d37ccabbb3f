#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

namespace {

// Renders on another thread as the audio callback does while editing here; returns blocks.
long renderWhileEditing(Slice& slice, std::chrono::milliseconds duration)
{
    std::atomic<bool> running{true};
    std::atomic<long> blocks{0};
    std::thread audio([&] {
        std::vector<float> out(512);
        for (; running; ++blocks) {
            std::fill(out.begin(), out.end(), 0.0f);
            slice.render(out.data(), 512);
            slice.renderRaw(out.data(), 256);
        }
    });
    std::mt19937 rng(11);
    auto upTo = [&](unsigned max) { return std::uniform_int_distribution<unsigned>(0, max)(rng); };
    const unsigned length = static_cast<unsigned>(slice.getLength());
    const std::function<void()> edits[] = {
        [&] { slice.setLoopStart(upTo(length) & ~1u); },
        [&] { slice.setLoopEnd(upTo(length + 2000) & ~1u); },
        [&] { slice.setLoopMode(int(upTo(2))); },
        [&] { slice.play(true, upTo(100) / 100.0, upTo(100) / 100.0); },
        [&] { slice.play(false, 0.0, 1.0); },
        [&] { slice.reverse(); },
        [&] { slice.setPitch(int(upTo(24)) - 12); },
        [&] { slice.setTimeStretchRatio(0.5 + upTo(20) / 10.0, 120); },
        [&] { slice.setGain(upTo(10) / 10.0f); },
        [&] { slice.getPlayPos(); },
    };
    // Enough edits and blocks are waited for rather than assumed from the time:
    // under the race checker on a busy machine one stretch rebuild takes 100 ms.
    const auto start = std::chrono::steady_clock::now();
    for (long count = 0;
         std::chrono::steady_clock::now() < start + duration || count < 40 || blocks < 100;
         ++count) {
        if (std::chrono::steady_clock::now() > start + std::chrono::seconds(120)) {
            ADD_FAILURE() << count << " edits and " << blocks << " blocks in 120 s";
            break;
        }
        edits[upTo(9)]();
        std::this_thread::sleep_for(std::chrono::microseconds(200)); // as a hand at the controls
    }
    running = false;
    audio.join();
    return blocks;
}

} // namespace

TEST(SliceConcurrencyTest, RenderingWhileEditingAndFillingStaysConsistent)
{
    using namespace SliceTestSupport;
    LogCapture::setEcho(false); // thousands of edits log a line each
    const QString path = writeWav(freshTestDir(), "long.wav", 1000000);
    Slice file(path); // edited and reversed while its background fill still runs
    EXPECT_GE(renderWhileEditing(file, std::chrono::milliseconds(1000)), 100);
    EXPECT_TRUE(waitFilled(file.getAudioCache().data()));
    Slice take;
    take.appendSamples(stereoSamples(path).data(), 200000);
    EXPECT_GE(renderWhileEditing(take, std::chrono::milliseconds(700)), 100);
}
