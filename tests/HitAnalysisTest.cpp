#include "HitAnalysis.h"

#include "AudioCache.h"
#include "AudioFileAudioDecoder.h"
#include "DrumLoops.h"
#include "TestAudio.h"

#include <QThread>

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

// Decoded as the window and the command line decode it.
std::vector<float> decode(const QString& path)
{
    AudioFileAudioDecoder reader(path);
    std::vector<float> audio(reader.getLength());
    unsigned long done = 0;
    while (done < audio.size()) {
        const unsigned want = unsigned(std::min<unsigned long>(4096, audio.size() - done));
        const unsigned got = reader.read(audio.data() + done, want);
        done += got;
        if (got < want)
            break;
    }
    audio.resize(done);
    return audio;
}

} // namespace

TEST(HitAnalysisTest, CutsOnDrumLoopsMeetTheGoalsInWavAndMp3)
{
    const QString dir = TestAudio::scratchDir("corpus");
    Figures wav, wavOfMp3Loops, mp3;
    const int loops = 60;
    for (int i = 0; i < loops; ++i) {
        const DrumLoops::Loop loop = corpusLoop(i);
        const unsigned long frames = loop.stereo.size() / 2;
        const HitAnalysis analysis = HitAnalysis::analyse(loop.stereo.data(), frames, loop.rate);
        const std::vector<long> cuts = cutsOf(analysis, frames);
        wav.add(loop, cuts);
        if (i % 3 != 0)
            continue;
        // A third of the loops also go through MP3 and the gapless decoder.
        const QString wavPath = dir + QString("/loop%1.wav").arg(i);
        const QString mp3Path = dir + QString("/loop%1.mp3").arg(i);
        ASSERT_TRUE(DrumLoops::writeWav(loop, wavPath));
        ASSERT_TRUE(TestAudio::ffmpeg({"-i", wavPath, "-b:a", i % 2 ? "128k" : "192k", mp3Path}));
        const std::vector<float> decoded = decode(mp3Path);
        ASSERT_EQ(decoded.size(), loop.stereo.size()) << "the decoder keeps the length";
        wavOfMp3Loops.add(loop, cuts);
        mp3.add(loop, cutsOf(HitAnalysis::analyse(decoded.data(), frames, loop.rate), frames));
    }
    for (Figures* f : {&wav, &wavOfMp3Loops, &mp3})
        f->finish();
    wav.print("WAV");
    wavOfMp3Loops.print("WAV, the loops also encoded");
    mp3.print("MP3");
    for (const Figures* f : {&wav, &mp3}) {
        EXPECT_GE(f->wide.f(), 0.95);
        EXPECT_GE(f->narrow.f(), 0.92);
        EXPECT_LE(f->medianMs, 1.0);
        EXPECT_LE(f->lateShare, 0.04);
    }
    EXPECT_GE(mp3.narrow.f(), wavOfMp3Loops.narrow.f() - 0.04);
}

namespace {

// A quiet 1 kHz hum, louder on the left, with hits: bursts of noise and a
// falling tone starting at the given frames, each at the given level.
std::vector<float> humWithHits(long frames, const std::vector<std::pair<long, float>>& hits)
{
    std::vector<float> out(2 * frames);
    for (long f = 0; f < frames; ++f) {
        const float hum = 0.02f * std::sin(2 * M_PI * 1000.0 * (f + 0.3) / 44100.0);
        out[2 * f] = hum;
        out[2 * f + 1] = 0.3f * hum;
    }
    unsigned seed = 1;
    for (const auto& [start, level] : hits) {
        for (long i = 0; i < 44100 / 5 && start + i < frames; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const double noise = (int(seed >> 9) % 2000 - 1000) / 1000.0;
            const double v = level * std::exp(-i / 2000.0) *
                             (0.5 * noise + std::sin(2 * M_PI * 180.0 * i / 44100.0));
            out[2 * (start + i)] += float(v);
            out[2 * (start + i) + 1] += float(v);
        }
    }
    return out;
}

} // namespace

TEST(HitAnalysisTest, CutsAtTheAttackStartOrAZeroCrossingJustBeforeIt)
{
    const long frames = 44100 * 2;
    const std::vector<std::pair<long, float>> hits = {
        {11025, 0.8f}, {22050, 0.1f}, {33075, 0.8f}, {33075 + 441, 0.5f}, {44100, 0.02f}};
    const std::vector<float> audio = humWithHits(frames, hits);
    const HitAnalysis analysis = HitAnalysis::analyse(audio.data(), frames, 44100);
    ASSERT_TRUE(analysis.isComplete());

    // Four hits; the flam 10 ms after the third is one with it. Lower
    // sensitivities find no more than higher ones.
    const std::vector<unsigned long> cuts = analysis.pick(50, 0, frames);
    ASSERT_EQ(cuts.size(), 4u);
    EXPECT_LE(analysis.pick(0, 0, frames).size(), cuts.size());
    EXPECT_GE(analysis.pick(100, 0, frames).size(), cuts.size());
    const long oneMs = 44;
    for (int i = 0; i < 4; ++i) {
        const long attack = hits[i < 3 ? i : 4].first;
        const long cut = long(cuts[i]);
        // A tap no louder than the hum shows a little after it begins.
        EXPECT_LE(cut, attack + (i < 3 ? 0 : oneMs)) << "never after the attack start";
        EXPECT_GE(cut, attack - 2 * oneMs);
        // On a crossing of the louder (left) channel.
        const float before = audio[2 * (cut - 1)], at = audio[2 * cut];
        EXPECT_TRUE(at == 0.0f || (before <= 0) != (at <= 0)) << cut;
    }

    // Only between the markers, never on the start marker, and a hit within
    // the minimum slice length after the start or the last cut is none.
    EXPECT_EQ(analysis.pick(50, cuts[0], frames),
              std::vector<unsigned long>(cuts.begin() + 1, cuts.end()));
    EXPECT_EQ(analysis.pick(50, cuts[0] - 100, cuts[2]), std::vector<unsigned long>{cuts[1]});
    EXPECT_EQ(analysis.pick(50, 0, frames, 300.0), (std::vector<unsigned long>{cuts[1], cuts[3]}));
}

TEST(HitAnalysisTest, ACacheGivesWhatTheBufferGivesAndCancellingStops)
{
    const DrumLoops::Loop loop = corpusLoop(4);
    const QString path = TestAudio::scratchDir("cache") + "/loop.wav";
    ASSERT_TRUE(DrumLoops::writeWav(loop, path));
    const std::vector<float> decoded = decode(path);
    AudioFileAudioDecoder reader(path);
    AudioCache cache(&reader);
    while (!cache.isFilled())
        QThread::msleep(5);
    const HitAnalysis fromCache = HitAnalysis::analyse(cache, loop.rate);
    const HitAnalysis fromBuffer =
        HitAnalysis::analyse(decoded.data(), decoded.size() / 2, loop.rate);
    ASSERT_EQ(fromCache.getHits().size(), fromBuffer.getHits().size());
    for (size_t i = 0; i < fromCache.getHits().size(); ++i)
        EXPECT_EQ(fromCache.getHits()[i].frame, fromBuffer.getHits()[i].frame);

    std::atomic<bool> cancel{true};
    const HitAnalysis cancelled =
        HitAnalysis::analyse(decoded.data(), decoded.size() / 2, loop.rate, &cancel);
    EXPECT_FALSE(cancelled.isComplete());
    EXPECT_TRUE(cancelled.getHits().empty());
}
