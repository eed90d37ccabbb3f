#include "AudioCache.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "LinearResampler.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

class SliceExportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir =
            TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        LogCapture::clear();
    }

    // The source samples [from, to) as a 16-bit export gives them back.
    static std::vector<float> asPcm16(const std::vector<float>& audio, size_t from, size_t to)
    {
        std::vector<float> out;
        for (size_t i = from; i < to; ++i)
            out.push_back(pcm16(audio[i]));
        return out;
    }

    QString m_dir;
};

TEST_F(SliceExportTest, RangesOfA44kSliceAreWrittenSampleForSampleAs16BitWav)
{
    // Not waited for: save waits for the fill itself.
    const QString path = writeWav(m_dir, "loop.wav", 200000);
    const std::vector<float> audio = stereoSamples(path);
    QSharedPointer<Slice> slice(new Slice(path));
    // Its own pitch, stretch and gain are not exported.
    slice->setPitch(7);
    slice->setGain(0.25f);

    struct Range
    {
        unsigned long start, end;
        size_t from, to;
    } ranges[] = {
        {0, 0, 0, 400000},                // the whole slice
        {123456, 200002, 123456, 200002}, // not a multiple of the block
        {399488, 400000, 399488, 400000}, // exactly one block at the end
        {2, 4, 2, 4},                     // one frame
    };
    for (const Range& r : ranges) {
        const QString out = m_dir + QString("/range_%1.wav").arg(r.start);
        ASSERT_TRUE(slice->save(out, r.start, r.end)) << r.start;
        const WrittenFile file = readWritten(out);
        ASSERT_TRUE(file.ok);
        EXPECT_EQ(file.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_EQ(file.channels, 2);
        EXPECT_EQ(file.rate, 44100);
        EXPECT_EQ(file.samples, asPcm16(audio, r.from, r.to)) << r.start;
    }
    EXPECT_TRUE(
        LogCapture::containsAll({"Saving", "with start @", "123456", "and end @", "200002"}));
    EXPECT_TRUE(LogCapture::containsAll({"start sample:", "length:", "76546"}));
    EXPECT_TRUE(LogCapture::containsAll({"wrote", "76546", "samples"}));
    // The slice itself was neither moved nor started by the exports.
    EXPECT_FALSE(slice->isPlaying());
    EXPECT_EQ(slice->getPlayPos(), 0u);
}

TEST_F(SliceExportTest, PiecesSharingTheAudioWriteTheirOwnRangeAndBeyondFullScaleClips)
{
    const QString path = m_dir + "/loud.wav";
    // Values up to 1.5: clipping must make them full scale, not wrap them.
    ASSERT_TRUE(TestAudio::writeFile(
        path, 50000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT, [](long frame, int channel) {
            return (channel ? -1.5f : 1.5f) * static_cast<float>(frame % 1000) / 1000.0f;
        }));
    const std::vector<float> audio = stereoSamples(path);
    QSharedPointer<Slice> loop = loadFilled(path);
    ASSERT_TRUE(loop);
    Slice piece(loop->getAudioBuffer(), loop->getAudioCache(), 44100, 30000, 40000);
    EXPECT_EQ(piece.getLength(), 40000u);
    const QString out = m_dir + "/piece.wav";
    ASSERT_TRUE(piece.save(out, 0, 0));
    const WrittenFile file = readWritten(out);
    EXPECT_EQ(file.samples, asPcm16(audio, 30000, 70000));
    EXPECT_EQ(*std::max_element(file.samples.begin(), file.samples.end()), 32767.0f / 32768.0f);
    EXPECT_EQ(*std::min_element(file.samples.begin(), file.samples.end()), -1.0f);
}

TEST_F(SliceExportTest, OtherRatesAreConvertedTo44100WithChannelsKept)
{
    // 48 kHz: written shorter by 48000/44100, at the same frequency.
    const QString sine = writeSine(m_dir, "sine48.wav", 1000.0, 96000, 48000, 2);
    QSharedPointer<Slice> slice = loadFilled(sine);
    ASSERT_TRUE(slice);
    const QString out48 = m_dir + "/sine48_out.wav";
    ASSERT_TRUE(slice->save(out48, 0, 0));
    const WrittenFile file = readWritten(out48);
    EXPECT_EQ(file.rate, 44100);
    const double expectedFrames = 96000.0 * 44100.0 / 48000.0;
    EXPECT_NEAR(file.frames, expectedFrames, expectedFrames * 0.002);
    EXPECT_NEAR(frequency(file.samples, 100, static_cast<size_t>(file.frames) - 100), 1000.0, 3.0);

    // 96 kHz pulls an odd number of source samples per block (1115); the
    // blocks after it must not come out with left and right swapped.
    const QString split = m_dir + "/split96.wav";
    ASSERT_TRUE(TestAudio::writeFile(split, 40000, 2, 96000, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                     [](long, int channel) { return channel ? -0.5f : 0.5f; }));
    EXPECT_EQ(LinearResampler::sourceSamples(512, 0, 96000.0f / 44100.0f) % 2, 0u);
    QSharedPointer<Slice> stereo = loadFilled(split);
    ASSERT_TRUE(stereo);
    const QString out96 = m_dir + "/split96_out.wav";
    ASSERT_TRUE(stereo->save(out96, 0, 0));
    const WrittenFile split96 = readWritten(out96);
    ASSERT_GT(split96.frames, 18000);
    for (size_t i = 0; i < split96.samples.size(); ++i)
        ASSERT_EQ(split96.samples[i], pcm16(i % 2 ? -0.5f : 0.5f)) << "sample " << i;
}

TEST_F(SliceExportTest, ContainerFollowsTheNameCaseSensitively)
{
    QSharedPointer<Slice> slice = loadFilled(writeWav(m_dir, "loop.wav", 3000));
    ASSERT_TRUE(slice);
    const struct
    {
        const char* name;
        int major;
    } cases[] = {{"a.aif", SF_FORMAT_AIFF},
                 {"a.aiff", SF_FORMAT_AIFF},
                 {"b.AIF", SF_FORMAT_WAV},
                 {"c.wav", SF_FORMAT_WAV},
                 {"noextension", SF_FORMAT_WAV}};
    for (const auto& c : cases) {
        const QString out = m_dir + "/" + c.name;
        ASSERT_TRUE(slice->save(out, 0, 0)) << c.name;
        const WrittenFile file = readWritten(out);
        EXPECT_EQ(file.format & SF_FORMAT_TYPEMASK, c.major) << c.name;
        EXPECT_EQ(file.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16) << c.name;
        EXPECT_EQ(file.frames, 3000) << c.name;
    }
}

TEST_F(SliceExportTest, AFailedWriteLeavesNoFileAndKeepsTheOldOne)
{
    QSharedPointer<Slice> slice = loadFilled(writeWav(m_dir, "loop.wav", 100000));
    ASSERT_TRUE(slice);

    // Root ignores permissions; a regular file in place of the folder stops it.
    const QString blocker = m_dir + "/blocker";
    ASSERT_TRUE(TestAudio::writeBytes(blocker, "not a folder"));
    EXPECT_FALSE(slice->save(blocker + "/out.wav", 0, 0));
    EXPECT_TRUE(LogCapture::containsAll({"Error opening file", "blocker/out.wav"}));

    // Disk full halfway: the previous export stays whole and nothing else is left.
    const QString target = m_dir + "/out.wav";
    ASSERT_TRUE(slice->save(target, 0, 2000));
    QFile before(target);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray old = before.readAll();
    before.close();

    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit small = limit;
    small.rlim_cur = 64 * 1024;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = slice->save(target, 0, 0);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_TRUE(LogCapture::containsAll({"Failed to write", "out.wav"}));
    QFile after(target);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), old);
    EXPECT_EQ(QDir(m_dir).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"blocker", "loop.wav", "out.wav"}));

    // A pad whose file could not be read has nothing to save.
    Slice empty(m_dir + "/missing.wav");
    EXPECT_FALSE(empty.save(m_dir + "/empty.wav", 0, 0));
    EXPECT_FALSE(QFile::exists(m_dir + "/empty.wav"));
}

TEST_F(SliceExportTest, KerferSavesTheSliceThatStartsAtAPoint)
{
    const QString path = writeWav(m_dir, "loop.wav", 50000);
    const std::vector<float> audio = stereoSamples(path);
    Kerfer kerfer;
    EXPECT_FALSE(kerfer.saveSlice(0, m_dir + "/none.wav"));
    ASSERT_TRUE(kerfer.slotLoadLoop(path));
    ASSERT_TRUE(waitFilled(kerfer.getLoop()->getAudioCache().data()));
    kerfer.addSlicePoint(20000);
    kerfer.addSlicePoint(60000);
    kerfer.setStartMarker(10000);
    kerfer.setEndMarker(90001);

    const struct
    {
        unsigned long start;
        size_t from, to;
    } cases[] = {{0, 10000, 20000},      // begins before the start marker
                 {20000, 20000, 60000},  // between two points
                 {60000, 60000, 90000},  // the last slice ends at the marker, rounded down to even
                 {20001, 20000, 60000}}; // an odd start is rounded down to its frame
    for (const auto& c : cases) {
        const QString out = m_dir + QString("/slice_%1.wav").arg(c.start);
        ASSERT_TRUE(kerfer.saveSlice(c.start, out)) << c.start;
        EXPECT_EQ(readWritten(out).samples, asPcm16(audio, c.from, c.to)) << c.start;
    }
    // Past the end marker there is no slice.
    EXPECT_FALSE(kerfer.saveSlice(95000, m_dir + "/past.wav"));
    EXPECT_FALSE(QFile::exists(m_dir + "/past.wav"));
}

} // namespace
