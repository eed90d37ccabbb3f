#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

// The audio thread renders without pause while the user-interface thread
// swaps previews, pads and the MIDI device and exports.
TEST(SliceEngineConcurrencyTest, RenderingGoesOnWhileTheUserInterfaceChangesWhatItWalks)
{
    LogCapture::setEcho(false);
    const QString dir = TestAudio::scratchDir("race");
    useFreshSettings(dir + "/data", silentDevices());
    const QString loopPath = writeWav(dir, "loop.wav", 20000);
    const QString padPath = writeSine(dir, "pad.wav", 330.0, 8000, 44100, 2);
    const QString previewPath = writeWav(dir, "preview.wav", 30000);

    SliceEngine engine;
    Kerfer* kerfer = engine.getKerfer();
    ASSERT_TRUE(kerfer->slotLoadLoop(loopPath));
    ASSERT_TRUE(waitFilled(kerfer->getLoop()->getAudioCache().data()));
    kerfer->sliceEvenly(4);
    kerfer->toggleSliceLoop(0); // sounds for the whole run
    kerfer->playLoop(true);

    std::atomic<bool> stop{false}, finite{true};
    std::atomic<long> cycles{0}, silentCycles{0};
    std::thread audio([&] {
        std::vector<float> buffer(2048);
        while (!stop.load()) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            engine.render(buffer.data(), static_cast<unsigned long>(buffer.size()));
            finite = finite && std::all_of(buffer.begin(), buffer.end(),
                                           [](float v) { return std::isfinite(v); });
            silentCycles +=
                std::all_of(buffer.begin(), buffer.end(), [](float v) { return v == 0.0f; });
            ++cycles;
        }
    });

    BankSampler* bank = engine.getBankSampler();
    for (int round = 0; round < 8; ++round) {
        engine.playPreview(previewPath);
        bank->loadSample(round % BankSampler::PadCount, padPath, 0, 1.0, round % 3, 0, 0, 0.5f,
                         false, "None");
        bank->triggerSample(round % BankSampler::PadCount);
        engine.setBPM(100 + round);
        engine.closeMidiDevice();
        engine.openMidiDevice();
        const QString loopFile = dir + QString("/loop_%1.wav").arg(round);
        EXPECT_TRUE(engine.exportLoop(loopFile));
        EXPECT_EQ(readWritten(loopFile).frames, 20000);
        EXPECT_EQ(engine.exportSlices(dir + QString("/cut_%1.wav").arg(round)).size(), 4);
        if (round % 4 == 3)
            engine.newProject();
    }
    // The audio thread must have rendered through the changes, however slow the
    // run. The loop sounds in every cycle except those that met an export
    // holding the engine: they play silence instead of waiting for it.
    for (int waited = 0; cycles.load() <= 8 && waited < 1200; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int round = 0; silentCycles.load() == 0 && round < 80; ++round)
        engine.exportLoop(dir + "/again.wav");
    EXPECT_GT(silentCycles.load(), 0);
    stop = true;
    audio.join();
    LogCapture::setEcho(true);

    EXPECT_GT(cycles.load(), 8);
    EXPECT_TRUE(finite.load());
    EXPECT_TRUE(kerfer->getLoop()->isPlaying());
}

} // namespace
