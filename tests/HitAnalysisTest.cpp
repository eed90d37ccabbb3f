#include "HitAnalysis.h"

#include "AudioCache.h"
#include "AudioFileAudioDecoder.h"
#include "DrumLoops.h"
#include "TempoEstimator.h"
#include "TestAudio.h"

#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

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

    void add(const DrumLoops::Loop& loop, const std::vector<long>& cuts,
             const std::vector<long>* preEcho = nullptr)
    {
        wide += DrumLoops::score(loop, cuts, 10.0, preEcho);
        narrow += DrumLoops::score(loop, cuts, 5.0, preEcho);
    }
    Figures& operator+=(const Figures& other)
    {
        wide += other.wide;
        narrow += other.narrow;
        return *this;
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

// Figures for loops of every material: WAV, and MP3 for every third loop
// (the WAV figures of those same loops beside them, for comparison).
struct MaterialFigures
{
    Figures wav, wavOfMp3Loops, mp3;
    int tempoRight = 0, tempoLoops = 0;
};

MaterialFigures evaluate(DrumLoops::Material material, int loops, std::uint32_t seeds,
                         const QString& dir)
{
    MaterialFigures m;
    for (int i = 0; i < loops; ++i) {
        const DrumLoops::Loop loop = DrumLoops::make(
            seeds + std::uint32_t(1000 * int(material) + i), DrumLoops::style(material, i));
        const unsigned long frames = loop.stereo.size() / 2;
        const HitAnalysis analysis = HitAnalysis::analyse(loop.stereo.data(), frames, loop.rate);
        const std::vector<long> cuts = cutsOf(analysis, frames);
        m.wav.add(loop, cuts);
        if (DrumLoops::wholeBars(material)) {
            ++m.tempoLoops;
            m.tempoRight +=
                std::fabs(TempoEstimator::estimate(analysis, 0, frames) - loop.bpm) <= 0.5;
        }
        if (i % 3 != 0 || loop.rate > 48000)
            continue;
        // Through an encoder that cuts the highs and the gapless decoder; 128k
        // mostly, as the packs most often come.
        const QString stem = dir + QString("/%1-%2-%3").arg(int(material)).arg(seeds).arg(i);
        const char* bitrate = i % 9 == 6 ? "192k" : "128k";
        if (!QFileInfo::exists(stem + ".mp3")) {
            EXPECT_TRUE(DrumLoops::writeWav(loop, stem + ".wav"));
            EXPECT_TRUE(TestAudio::ffmpeg({"-i", stem + ".wav", "-b:a", bitrate, stem + ".mp3"}));
        }
        // Sample for sample where the loop was; anything after its end is
        // not judged.
        std::vector<float> decoded = decode(stem + ".mp3");
        EXPECT_GE(decoded.size(), loop.stereo.size());
        decoded.resize(loop.stereo.size());
        m.wavOfMp3Loops.add(loop, cuts);
        // A cut in the pre-echo just ahead of an attack is where the decoded
        // sound starts, and keeps all of the hit: on time.
        const std::vector<long> preEcho = DrumLoops::preEcho(loop, decoded);
        m.mp3.add(loop, cutsOf(HitAnalysis::analyse(decoded.data(), frames, loop.rate), frames),
                  &preEcho);
    }
    for (Figures* f : {&m.wav, &m.wavOfMp3Loops, &m.mp3})
        f->finish();
    return m;
}

} // namespace

TEST(HitAnalysisTest, CutsOnDrumLoopsOfEveryMaterialMeetTheGoalsInWavAndMp3)
{
    // TAMBERLO_HIT_CORPUS=N evaluates N loops of each material and prints a
    // row for each (TAMBERLO_HIT_CORPUS_SEEDS picks another series, and
    // TAMBERLO_HIT_CORPUS_CACHE keeps the MP3 encodings between runs);
    // otherwise a few loops of each, enough for the goals to mean something.
    const int loops = std::max(1, qEnvironmentVariableIntValue("TAMBERLO_HIT_CORPUS"));
    const bool full = loops > 1;
    const std::uint32_t seeds =
        std::uint32_t(qEnvironmentVariableIntValue("TAMBERLO_HIT_CORPUS_SEEDS"));
    QString dir = qEnvironmentVariable("TAMBERLO_HIT_CORPUS_CACHE");
    if (dir.isEmpty())
        dir = TestAudio::scratchDir("corpus");
    MaterialFigures all;
    for (int m = 0; m < DrumLoops::kMaterials; ++m) {
        const auto material = DrumLoops::Material(m);
        const MaterialFigures f = evaluate(material, full ? loops : 3, seeds, dir);
        all.wav += f.wav;
        all.wavOfMp3Loops += f.wavOfMp3Loops;
        all.mp3 += f.mp3;
        all.tempoRight += f.tempoRight, all.tempoLoops += f.tempoLoops;
        if (full) {
            f.wav.print(DrumLoops::name(material));
            f.mp3.print("  MP3");
            std::printf("  tempo within 0.5 bpm on %d of %d\n", f.tempoRight, f.tempoLoops);
        }
    }
    for (Figures* f : {&all.wav, &all.wavOfMp3Loops, &all.mp3})
        f->finish();
    all.wav.print("WAV");
    all.wavOfMp3Loops.print("WAV, the loops also encoded");
    all.mp3.print("MP3");
    std::printf("Tempo within 0.5 bpm on %d of %d\n", all.tempoRight, all.tempoLoops);
    EXPECT_GE(all.wav.wide.f(), 0.95);
    EXPECT_GE(all.wav.narrow.f(), 0.93);
    EXPECT_LE(all.wav.medianMs, 1.0);
    EXPECT_LE(all.wav.lateShare, 0.03);
    // MP3 finds as many, as close and as seldom late: the quiet hats whose
    // highs the encoder removed are still found.
    EXPECT_GE(all.mp3.wide.f(), 0.95);
    EXPECT_GE(all.mp3.wide.recall(), all.wavOfMp3Loops.wide.recall() - 0.01);
    EXPECT_GE(all.mp3.narrow.f(), all.wavOfMp3Loops.narrow.f() - 0.02);
    EXPECT_LE(all.mp3.medianMs, 1.0);
    EXPECT_LE(all.mp3.lateShare, 0.03);
    // The tempo of 28 loops in 30.
    EXPECT_GE(all.tempoRight * 30, all.tempoLoops * 28);
}

namespace {

// A quiet 1 kHz hum, louder on the left, with hits: bursts of noise and a
// falling tone, each fading in over its own time; from 1.3 s a loud 70 Hz
// tone swells in under them.
struct Tap
{
    long start;
    float level;
    double fadeInMs = 0.0;
};
std::vector<float> humWithHits(long frames, const std::vector<Tap>& taps)
{
    std::vector<float> out(2 * frames);
    for (long f = 0; f < frames; ++f) {
        const float hum = 0.02f * std::sin(2 * M_PI * 1000.0 * (f + 0.3) / 44100.0);
        const double swell = std::clamp((f - 57330) / 6615.0, 0.0, 1.0);
        const float tone = float(0.3 * swell * std::sin(2 * M_PI * 70.0 * f / 44100.0));
        out[2 * f] = hum + tone;
        out[2 * f + 1] = 0.3f * hum + tone;
    }
    TestAudio::Noise noise(1);
    for (const Tap& tap : taps) {
        const double fade = tap.fadeInMs * 44.1;
        for (long i = 0; i < 44100 / 5 && tap.start + i < frames; ++i) {
            const double v = tap.level * std::exp(-i / 2000.0) *
                             std::min(1.0, (i + 1) / (fade + 1)) *
                             (0.5 * noise() + std::sin(2 * M_PI * 180.0 * i / 44100.0));
            out[2 * (tap.start + i)] += float(v);
            out[2 * (tap.start + i) + 1] += float(v);
        }
    }
    return out;
}

} // namespace

TEST(HitAnalysisTest, CutsAtTheAttackStartOrAZeroCrossingJustBeforeIt)
{
    const long frames = 44100 * 2;
    // Loud and quiet, a flam, a tap no louder than the hum, one fading in
    // over 6 ms, a quiet one over the loud low tone, and a quiet one 7 ms
    // ahead of a loud one.
    const std::vector<Tap> taps = {{11025, 0.8f}, {22050, 0.1f},  {33075, 0.8f},
                                   {33516, 0.5f}, {44100, 0.02f}, {55125, 0.3f, 6.0},
                                   {66150, 0.1f}, {77175, 0.04f}, {77484, 0.8f}};
    const std::vector<float> audio = humWithHits(frames, taps);
    const HitAnalysis analysis = HitAnalysis::analyse(audio.data(), frames, 44100);
    ASSERT_TRUE(analysis.isComplete());

    // The flam 10 ms after the third is one with it, as is the loud tap after
    // the quiet one. Lower sensitivities find no more than higher ones.
    const std::vector<unsigned long> cuts = analysis.pick(50, 0, frames);
    ASSERT_EQ(cuts.size(), 7u);
    EXPECT_LE(analysis.pick(0, 0, frames).size(), cuts.size());
    EXPECT_GE(analysis.pick(100, 0, frames).size(), cuts.size());
    const long oneMs = 44;
    for (int i = 0; i < 7; ++i) {
        const long attack = taps[i < 3 ? i : i + 1].start;
        const long cut = long(cuts[i]);
        EXPECT_LE(cut, attack) << "never after the attack start";
        EXPECT_GE(cut, attack - 3 * oneMs);
        // On a crossing of the louder (left) channel, or none was near:
        // under the low tone the next lies further back than 1 ms.
        auto crossing = [&](long f) { return (audio[2 * (f - 1)] <= 0) != (audio[2 * f] <= 0); };
        bool near = false;
        for (long f = cut - oneMs; f < cut; ++f)
            near = near || crossing(f);
        EXPECT_TRUE(audio[2 * cut] == 0.0f || crossing(cut) || !near) << cut;
    }

    // Only between the markers, never on the start marker, and a hit within
    // the minimum slice length after the start or the last cut is none.
    EXPECT_EQ(analysis.pick(50, cuts[0], frames),
              std::vector<unsigned long>(cuts.begin() + 1, cuts.end()));
    EXPECT_EQ(analysis.pick(50, cuts[0] - 100, cuts[2]), std::vector<unsigned long>{cuts[1]});
    EXPECT_EQ(analysis.pick(50, 0, frames, 300.0),
              (std::vector<unsigned long>{cuts[1], cuts[3], cuts[5]}));
}

TEST(HitAnalysisTest, AQuietHatJustAheadOfALouderHitIsWhereThePairStarts)
{
    // Over a faint hiss, in the tail of a kick 40 ms before: a quiet hat, then
    // 16 ms later a loud snare-like hit. One cut, at the hat (a fainter hat
    // may have its start moved back a little), never at the snare, wherever
    // the pair falls against the analysis steps.
    const long frames = 44100;
    for (long offset = 64; offset < 256; offset += 32) {
        std::vector<float> audio(2 * frames);
        TestAudio::Noise noise(7);
        // Differenced noise: the highs alone.
        double previous = 0.0;
        auto hiss = [&]() {
            const double x = noise(), y = x - previous;
            previous = x;
            return y;
        };
        auto add = [&](long from, long length, const std::function<double(long)>& sound) {
            for (long i = 0; i < length && from + i < frames; ++i) {
                audio[2 * (from + i)] += float(sound(i));
                audio[2 * (from + i) + 1] += float(sound(i));
            }
        };
        add(0, frames, [&](long) { return 0.005 * hiss(); });
        const long hat = 22050 + offset, snare = hat + 700;
        add(hat - 1800, frames, [](long i) {
            return 0.8 * std::exp(-i / 1500.0) * std::sin(2 * M_PI * 70.0 * i / 44100.0);
        });
        add(hat, 2000, [&](long i) { return 0.02 * std::exp(-i / 300.0) * hiss(); });
        add(snare, frames, [&](long i) {
            return 0.9 * std::exp(-i / 1500.0) * std::sin(2 * M_PI * 180.0 * i / 44100.0) +
                   0.3 * std::exp(-i / 200.0) * noise();
        });
        std::vector<long> cuts;
        for (unsigned long cut :
             HitAnalysis::analyse(audio.data(), frames, 44100).pick(50, 0, frames))
            if (long(cut) > hat - 1000 && long(cut) < snare + 1000)
                cuts.push_back(long(cut));
        ASSERT_EQ(cuts.size(), 1u) << offset;
        EXPECT_LE(cuts[0], hat) << offset;
        EXPECT_GE(cuts[0], hat - 3 * 44) << offset;
    }
}

TEST(HitAnalysisTest, AHitAfterDigitalSilenceIsCutAtItsAttackAlsoInAnMp3)
{
    // Kicks with a hat on them and a snare (a low tone and band-passed noise,
    // which builds up over a few ms), each after digital silence. Nothing
    // sounded before them to hide a fade-in under, and nothing masks the
    // encoder's pre-echo, which spreads over a whole long block ahead of each.
    const int rate = 44100;
    const long frames = 4 * rate;
    const std::vector<long> attacks = {rate, 2 * rate + 3000, 3 * rate + 7001};
    std::vector<float> stereo(2 * frames);
    TestAudio::Noise noise(3);
    for (long attack : attacks) {
        const bool snare = attack == attacks[1];
        // A resonator an octave wide around 1.8 kHz.
        const double w = 2 * M_PI * 1800.0 / rate, r = 1.0 - w / 2;
        double phase = 0.0, previous = 0.0, y1 = 0.0, y2 = 0.0;
        for (long i = 0; i < rate / 2; ++i) {
            const double t = double(i) / rate;
            const double white = noise();
            double v;
            if (snare) {
                const double y = (1 - r) * white + 2 * r * std::cos(w) * y1 - r * r * y2;
                y2 = y1, y1 = y;
                v = 0.4 * std::sin(2 * M_PI * 185.0 * t) * std::exp(-t * 30.0) +
                    2.0 * y * std::exp(-t * 16.0);
            } else {
                phase += 2 * M_PI * (45.0 + 105.0 * std::exp(-t * 28.0)) / rate;
                v = 0.8 * std::sin(phase) * std::exp(-t * 20.0) + 0.3 * std::exp(-t * 900.0) +
                    0.2 * (white - previous) * std::exp(-t * 60.0);
            }
            previous = white;
            stereo[2 * (attack + i)] = stereo[2 * (attack + i) + 1] = float(v);
        }
    }
    const QString dir = TestAudio::scratchDir("silence");
    ASSERT_TRUE(TestAudio::writeFile(dir + "/hits.wav", frames, 2, rate,
                                     SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                     [&](long f, int c) { return stereo[2 * f + c]; }));
    ASSERT_TRUE(TestAudio::ffmpeg({"-i", dir + "/hits.wav", "-b:a", "128k", dir + "/hits.mp3"}));
    std::vector<float> decoded = decode(dir + "/hits.mp3");
    ASSERT_GE(decoded.size(), stereo.size());
    const std::vector<unsigned long> cuts =
        HitAnalysis::analyse(decoded.data(), frames, rate).pick(50, 0, frames);
    ASSERT_EQ(cuts.size(), attacks.size());
    for (size_t i = 0; i < cuts.size(); ++i) {
        EXPECT_LE(long(cuts[i]), attacks[i]);
        EXPECT_GE(long(cuts[i]), attacks[i] - 2 * rate / 1000) << attacks[i] - long(cuts[i]);
    }
    const std::vector<unsigned long> wavCuts =
        HitAnalysis::analyse(stereo.data(), frames, rate).pick(50, 0, frames);
    ASSERT_EQ(wavCuts.size(), attacks.size());
    for (size_t i = 0; i < wavCuts.size(); ++i) {
        EXPECT_LE(long(wavCuts[i]), attacks[i]);
        EXPECT_GE(long(wavCuts[i]), attacks[i] - rate / 1000) << attacks[i] - long(wavCuts[i]);
    }
}

TEST(HitAnalysisTest, ACacheGivesWhatTheBufferGivesAndCancellingStops)
{
    const DrumLoops::Loop loop =
        DrumLoops::make(1004, DrumLoops::style(DrumLoops::Material::Noise, 0));
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
