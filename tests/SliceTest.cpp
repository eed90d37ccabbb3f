#include "Slice.h"
#include "AudioCache.h"
#include "LogCapture.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace SliceTestSupport;

namespace {

std::vector<float> raw(Slice& slice, unsigned n)
{
    std::vector<float> out(n, 0.0f);
    EXPECT_EQ(slice.renderRaw(out.data(), n), n);
    return out;
}

// The file's samples at the given index ranges [from, to), times gain.
std::vector<float> pick(const std::vector<float>& audio,
                        std::initializer_list<std::pair<unsigned, unsigned>> ranges,
                        float gain = 1.0f)
{
    std::vector<float> out;
    for (auto range : ranges)
        for (unsigned i = range.first; i < range.second; ++i)
            out.push_back(audio[i] * gain);
    return out;
}

std::vector<float> operator+(std::vector<float> a, const std::vector<float>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Playback as a sample-by-sample walk over the audio: the reference for the
// block-wise rendering.
struct Walk
{
    const std::vector<float>& audio;
    quint32 pos = 0, end = 0, loopStart = 0, loopEnd = 0;
    int mode = 0;
    bool playing = false;
    float gain = 1.0f;

    float sample(quint32 i) const { return i < audio.size() ? audio[i] : 0.0f; }
    void rewind() { pos = mode == 2 ? loopStart : 0; }
    void setLoopMode(int m)
    {
        mode = m;
        if (m > 0 && !(double(loopEnd) > pos))
            rewind();
    }
    void setLoopEnd(quint32 v)
    {
        end = loopEnd = v;
        if (v < loopStart) {
            loopEnd = loopStart;
            loopStart = v;
        }
        if (!(double(loopEnd) > pos))
            rewind();
    }
    void play(bool on, double from, double to)
    {
        const double len = double(audio.size());
        if (on) {
            pos = quint32(from * len);
            end = (mode == 2 && loopStart <= from * len && from * len < loopEnd)
                      ? loopEnd
                      : quint32(to * len);
        }
        pos &= ~1u;
        end &= ~1u;
        if (!on)
            rewind();
        playing = on;
    }
    unsigned render(float* out, unsigned n)
    {
        if (!playing)
            return 0;
        if (pos > end && mode > 0)
            end = quint32(audio.size());
        if (quint64(pos) + n < end) {
            for (unsigned i = 0; i < n; ++i)
                out[i] = sample(pos + i) * gain + out[i];
            pos += n;
            return n;
        }
        const quint32 passEnd = end;
        if (mode > 0)
            end = loopEnd;
        const qint32 length = qint32((mode > 0 ? loopEnd : end) - loopStart);
        if (length <= 0) {
            for (quint32 i = pos; i < passEnd && i - pos < n; ++i)
                out[i - pos] = sample(i) * gain + out[i - pos];
            play(false, 0, 1);
            return n;
        }
        qint32 r = qint32(pos - loopStart);
        for (unsigned k = 0; k < n; ++k) {
            out[k] = sample(loopStart + quint32(r)) * gain + out[k];
            r = qint32((qint64(r) + 1) % length);
        }
        pos = loopStart + quint32(r);
        if (mode == 0)
            play(false, 0, 1);
        return n;
    }
};

class SliceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir =
            TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        LogCapture::clear();
    }
    // A filled slice of a ramp file of `samples` samples and the file's audio.
    QSharedPointer<Slice> load(unsigned samples, std::vector<float>* audio = nullptr)
    {
        const QString path = writeWav(dir, QString("ramp%1.wav").arg(samples), samples / 2);
        if (audio)
            *audio = stereoSamples(path);
        return loadFilled(path);
    }
    QString dir;
};

} // namespace

TEST_F(SliceTest, FileSliceHasItsFullLengthAtOnceAndAnUnreadableFileHasNone)
{
    const QString path = writeWav(dir, "long.wav", 1500000);
    Slice slice(path);
    EXPECT_EQ(slice.getLength(), 3000000u);
    EXPECT_EQ(slice.getSampleRate(), 44100);
    EXPECT_EQ(slice.getFilename(), path);
    EXPECT_TRUE(slice.getAudioCache());
    EXPECT_TRUE(slice.getAudioBuffer()->empty());
    EXPECT_EQ(slice.getChokeGroup(), "None");
    EXPECT_EQ(slice.getLoopEnd(), 0u);

    TestAudio::writeBytes(dir + "/bad.wav", "not audio at all");
    Slice bad(dir + "/bad.wav");
    EXPECT_EQ(bad.getLength(), 0u);
    Slice missing(dir + "/missing.wav");
    EXPECT_EQ(missing.getLength(), 0u);
}

TEST_F(SliceTest, SlicesSharingACacheOutliveTheSliceThatLoadedIt)
{
    // The loading slice goes while its fill still runs; the sharing slice keeps
    // the reader alive and plays the audio once the fill is done.
    const QString path = writeWav(dir, "shared.wav", 1500000);
    const std::vector<float> audio = stereoSamples(path);
    QSharedPointer<Slice> sharing;
    {
        Slice loader(path);
        sharing.reset(new Slice(loader.getAudioBuffer(), loader.getAudioCache(), 44100, 0,
                                loader.getLength()));
    }
    ASSERT_TRUE(waitFilled(sharing->getAudioCache().data()));
    sharing->play(true, 0.5, 1.0);
    EXPECT_EQ(raw(*sharing, 1000), pick(audio, {{1500000, 1501000}}));
}

TEST_F(SliceTest, PassBoundsAreTruncatedAndRoundedDownToEven)
{
    for (unsigned length : {88200u, 88202u}) {
        std::vector<float> audio;
        auto slice = load(length, &audio);
        ASSERT_TRUE(slice);
        slice->play(true, 0.25, 0.75);
        EXPECT_EQ(slice->getPlayPos(), 22050u);
        // In blocks of two samples the pass takes (end - start) / 2 blocks and
        // its last block holds the last two samples before the end.
        int blocks = 0;
        std::vector<float> last;
        while (slice->isPlaying()) {
            last = raw(*slice, 2);
            ++blocks;
        }
        EXPECT_EQ(blocks, (66150 - 22050) / 2) << length;
        EXPECT_EQ(last, pick(audio, {{66148, 66150}}));
    }
}

TEST_F(SliceTest, LoopModeTwoPlaysOnlyTheRegionWhenStartedInsideIt)
{
    std::vector<float> audio;
    auto slice = load(200000, &audio);
    ASSERT_TRUE(slice);
    slice->setLoopMode(2);
    slice->setLoopStart(1000);
    slice->setLoopEnd(5000);

    slice->play(true, 0.01, 1.0);
    EXPECT_EQ(slice->getPlayPos(), 2000u);
    std::vector<float> out = raw(*slice, 3000);
    out.resize(4000);
    slice->renderRaw(out.data() + 3000, 1000);
    EXPECT_EQ(out, pick(audio, {{2000, 5000}, {1000, 2000}}));

    // Outside the region the pass runs to its end fraction first.
    slice->play(true, 0.5, 1.0);
    EXPECT_EQ(slice->getPlayPos(), 100000u);
    for (int i = 0; i < 99; ++i)
        raw(*slice, 1000);
    EXPECT_EQ(slice->getPlayPos(), 199000u);
    // 199000 lies beyond the loop end: one sample there, then (198000 + 1) mod
    // 4000 = 2001 past the loop start.
    EXPECT_EQ(raw(*slice, 1000), pick(audio, {{199000, 199001}, {3001, 4000}}));
}

TEST_F(SliceTest, ModeZeroEndContinuesFromTheLoopStartAndStops)
{
    std::vector<float> audio;
    auto slice = load(204800, &audio);
    ASSERT_TRUE(slice);
    slice->setGain(0.5f);
    slice->play(true, 1000.0 / 204800, 1600.0 / 204800);
    QSignalSpy stopped(slice.data(), &Slice::stopped);
    QSignalSpy toggled(slice.data(), &Slice::playbackToggled);

    EXPECT_EQ(raw(*slice, 1024), pick(audio, {{1000, 1600}, {0, 424}}, 0.5f));
    EXPECT_FALSE(slice->isPlaying());
    EXPECT_EQ(slice->getPlayPos(), 0u);
    // The end stops playback and then reports the stop once more.
    EXPECT_EQ(stopped.count(), 2);
    ASSERT_EQ(toggled.count(), 2);
    EXPECT_FALSE(toggled.at(1).at(0).toBool());

    std::vector<float> silent(64, 0.0f);
    EXPECT_EQ(slice->renderRaw(silent.data(), 64), 0u);
    EXPECT_EQ(silent, std::vector<float>(64, 0.0f));
}

TEST_F(SliceTest, ModeOneCyclesThroughTheRegionAfterThePass)
{
    std::vector<float> audio;
    auto slice = load(100000, &audio);
    ASSERT_TRUE(slice);
    slice->setLoopMode(1);
    slice->setLoopStart(4000);
    slice->play(true, 0.075, 1.0);
    slice->setLoopEnd(8000); // now cycling, with the pass ending at 8000
    EXPECT_EQ(raw(*slice, 1024), pick(audio, {{7500, 8000}, {4000, 4524}}));
    EXPECT_EQ(slice->getPlayPos(), 4524u);

    slice->play(true, 0.0, 1.0);
    for (int i = 0; i < 97; ++i)
        raw(*slice, 1024);
    EXPECT_EQ(slice->getPlayPos(), 99328u);
    EXPECT_EQ(raw(*slice, 1024), pick(audio, {{99328, 99329}, {7329, 8000}, {4000, 4352}}));
    EXPECT_TRUE(slice->isPlaying());
}

TEST_F(SliceTest, BlockRenderingMatchesTheSampleBySampleWalkOnFileAndMemorySlices)
{
    std::vector<float> audio;
    auto file = load(131072, &audio);
    ASSERT_TRUE(file);
    Slice memory;
    memory.appendSamples(audio.data(), static_cast<unsigned>(audio.size()));
    LogCapture::setEcho(false);

    std::mt19937 rng(7);
    auto pickUpTo = [&](unsigned max) {
        return std::uniform_int_distribution<unsigned>(0, max)(rng);
    };
    for (int scenario = 0; scenario < 400; ++scenario) {
        Walk walk{audio};
        const int mode = int(pickUpTo(2));
        const quint32 loopStart = pickUpTo(140000) & ~1u;
        const quint32 loopEnd = pickUpTo(140000) & ~1u;
        const double from = (pickUpTo(140000) & ~1u) / 131072.0;
        const double to = (pickUpTo(140000) & ~1u) / 131072.0;
        const float gain = 0.25f * float(pickUpTo(8));
        for (Slice* slice : {file.data(), &memory}) {
            slice->play(false, 0, 1);
            slice->setLoopMode(mode);
            slice->setLoopStart(loopStart);
            slice->setLoopEnd(loopEnd);
            slice->setGain(gain);
            slice->play(true, from, to);
        }
        walk.setLoopMode(mode);
        walk.loopStart = loopStart;
        walk.setLoopEnd(loopEnd);
        walk.gain = gain;
        walk.play(true, from, to);
        for (int block = 0; block < 6; ++block) {
            const unsigned n = 2 + (pickUpTo(3000) & ~1u);
            std::vector<float> expected(n, 0.5f), fromFile(n, 0.5f), fromMemory(n, 0.5f);
            const unsigned want = walk.render(expected.data(), n);
            ASSERT_EQ(file->renderRaw(fromFile.data(), n), want);
            ASSERT_EQ(memory.renderRaw(fromMemory.data(), n), want);
            ASSERT_EQ(fromFile, expected) << "scenario " << scenario << " block " << block;
            ASSERT_EQ(fromMemory, expected) << "scenario " << scenario << " block " << block;
            ASSERT_EQ(file->getPlayPos(), walk.pos);
            ASSERT_EQ(file->isPlaying(), walk.playing);
        }
    }
    LogCapture::setEcho(true);
}

TEST_F(SliceTest, UnusualPassesEndQuietlyInsteadOfFailing)
{
    std::vector<float> audio;
    auto slice = load(20000, &audio);
    ASSERT_TRUE(slice);

    // Mode 0 with the start beyond the end: the pass is over.
    slice->play(true, 0.5, 0.25);
    std::vector<float> out(512, 0.0f);
    EXPECT_EQ(slice->renderRaw(out.data(), 512), 512u);
    EXPECT_FALSE(slice->isPlaying());
    EXPECT_TRUE(LogCapture::contains("Playpos is past loop end"));

    // A loop region of zero length: what is left of the pass plays, then it stops.
    slice->setLoopMode(1);
    slice->setLoopStart(6000);
    slice->setLoopEnd(6000);
    slice->play(true, 0.9, 1.0);
    EXPECT_EQ(raw(*slice, 4000), pick(audio, {{18000, 20000}}) + std::vector<float>(2000, 0.0f));
    EXPECT_FALSE(slice->isPlaying());

    // A loop end past the audio reads silence there.
    slice->setLoopStart(18000);
    slice->setLoopEnd(24000);
    slice->play(true, 0.9, 1.0);
    EXPECT_EQ(raw(*slice, 4000), pick(audio, {{18000, 20000}}) + std::vector<float>(2000, 0.0f));

    // An empty take played in a loop.
    Slice take;
    take.play(true, 0.0, 1.0);
    take.setLoopMode(1);
    EXPECT_EQ(raw(take, 512), std::vector<float>(512, 0.0f));
    EXPECT_FALSE(take.isPlaying());
}
