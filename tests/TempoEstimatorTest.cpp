#include "TempoEstimator.h"

#include "DrumLoops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

TEST(TempoEstimatorTest, FindsTheTempoOfOneAndTwoBarLoops)
{
    int right = 0;
    const int loops = 30;
    for (int i = 0; i < loops; ++i) {
        DrumLoops::Style style;
        style.noiseFloor = i % 4 == 2;
        const DrumLoops::Loop loop = DrumLoops::make(std::uint32_t(5000 + i), style);
        const unsigned long frames = loop.stereo.size() / 2;
        const HitAnalysis analysis = HitAnalysis::analyse(loop.stereo.data(), frames, loop.rate);
        const double bpm = TempoEstimator::estimate(analysis, 0, frames);
        right += std::fabs(bpm - loop.bpm) <= 0.5;
        if (std::fabs(bpm - loop.bpm) > 0.5)
            std::printf("loop %d: %d bars at %.2f bpm estimated as %.2f\n", i, loop.bars, loop.bpm,
                        bpm);
    }
    std::printf("Tempo within 0.5 bpm on %d of %d loops\n", right, loops);
    EXPECT_GE(right, 28);

    // Two seconds of silence would be one bar at 120, but nothing beats there.
    const std::vector<float> silence(2 * 88200, 0.0f);
    EXPECT_EQ(
        TempoEstimator::estimate(HitAnalysis::analyse(silence.data(), 88200, 44100), 0, 88200),
        0.0);
}
