#include "HitAnalysis.h"

#include "AudioFileAudioDecoder.h"
#include "DrumLoops.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::vector<long> cutsOf(const HitAnalysis& analysis, unsigned long frames)
{
    std::vector<long> cuts;
    for (unsigned long c : analysis.pick(HitAnalysis::kDefaultSensitivity, 0, frames))
        cuts.push_back(long(c));
    return cuts;
}

struct Figures
{
    DrumLoops::Score wide, narrow; // within 10 and 5 ms
    double medianMs = 0, lateShare = 0;

    void add(const DrumLoops::Loop& loop, const std::vector<long>& cuts)
    {
        wide += DrumLoops::score(loop, cuts, 10.0);
        narrow += DrumLoops::score(loop, cuts, 5.0);
    }
    void finish()
    {
        std::vector<double> magnitudes;
        int late = 0;
        for (double e : wide.errorsMs) {
            magnitudes.push_back(std::fabs(e));
            late += e > 1.0;
        }
        std::sort(magnitudes.begin(), magnitudes.end());
        medianMs = magnitudes.empty() ? 0 : magnitudes[magnitudes.size() / 2];
        lateShare = wide.errorsMs.empty() ? 0 : double(late) / wide.errorsMs.size();
    }
    void print(const char* what) const
    {
        std::printf("%s: %d onsets, %d cuts; F %.3f (P %.3f R %.3f) at 10 ms, F %.3f at 5 ms; "
                    "median |error| %.2f ms; late by more than 1 ms %.1f%%\n",
                    what, wide.required, wide.cuts, wide.f(), wide.precision(), wide.recall(),
                    narrow.f(), medianMs, 100 * lateShare);
    }
};

DrumLoops::Loop corpusLoop(int i)
{
    DrumLoops::Style style;
    style.noiseFloor = i % 3 == 1;
    style.rate = i % 7 == 3 ? 48000 : 44100;
    return DrumLoops::make(std::uint32_t(1000 + i), style);
}

} // namespace

TEST(HitAnalysisTest, CutsOnDrumLoopsMeetTheGoals)
{
    Figures figures;
    const int loops = 60;
    for (int i = 0; i < loops; ++i) {
        const DrumLoops::Loop loop = corpusLoop(i);
        const unsigned long frames = loop.stereo.size() / 2;
        const HitAnalysis analysis = HitAnalysis::analyse(loop.stereo.data(), frames, loop.rate);
        figures.add(loop, cutsOf(analysis, frames));
    }
    figures.finish();
    figures.print("WAV");
    EXPECT_GE(figures.wide.f(), 0.95);
    EXPECT_GE(figures.narrow.f(), 0.93);
    EXPECT_LE(figures.medianMs, 1.0);
    EXPECT_LE(figures.lateShare, 0.03);
}
