#include "EngineTestSupport.h"
#include "LinearResampler.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sndfile.h>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

// The source samples [from, to) as a 16-bit export gives them back.
std::vector<float> asPcm16(const std::vector<float>& audio, size_t from, size_t to)
{
    std::vector<float> out;
    for (size_t i = from; i < to; ++i)
        out.push_back(pcm16(audio[i]));
    return out;
}

class SliceExportTest : public ::testing::Test
{
protected:
    QString m_dir = freshTestDir();
};

TEST_F(SliceExportTest, RangesOfA44kSliceAreWrittenSampleForSampleAs16BitWav)
{
    // Not waited for: save waits for the fill itself. Pitch and gain are not exported.
    const QString path = writeWav(m_dir, "loop.wav", 200000);
    const std::vector<float> audio = stereoSamples(path);
    QSharedPointer<Slice> slice(new Slice(path));
    slice->setPitch(7);
    slice->setGain(0.25f);
    // The whole slice, not a multiple of the block, one block at the end, one frame.
    const std::pair<unsigned long, unsigned long> ranges[] = {
        {0, 0}, {123456, 200002}, {399488, 400000}, {2, 4}};
    for (auto [start, end] : ranges) {
        const QString out = m_dir + QString("/range_%1.wav").arg(start);
        ASSERT_TRUE(slice->save(out, start, end)) << start;
        EXPECT_EQ(readWritten(out).samples, asPcm16(audio, start, end ? end : 400000)) << start;
    }
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
    QSharedPointer<Slice> loop = loadFilled(path);
    ASSERT_TRUE(loop);
    Slice piece(loop->getAudioBuffer(), loop->getAudioCache(), 44100, 30000, 40000);
    ASSERT_TRUE(piece.save(m_dir + "/piece.wav", 0, 0));
    const WrittenFile file = readWritten(m_dir + "/piece.wav");
    EXPECT_EQ(file.samples, asPcm16(stereoSamples(path), 30000, 70000));
    EXPECT_EQ(*std::max_element(file.samples.begin(), file.samples.end()), 32767.0f / 32768.0f);
    EXPECT_EQ(*std::min_element(file.samples.begin(), file.samples.end()), -1.0f);
}

TEST_F(SliceExportTest, OtherRatesAreConvertedTo44100WithChannelsKept)
{
    // 48 kHz: written shorter by 48000/44100, at the same frequency.
    QSharedPointer<Slice> slice = loadFilled(writeSine(m_dir, "in48.wav", 1000.0, 96000, 48000, 2));
    ASSERT_TRUE(slice && slice->save(m_dir + "/out48.wav", 0, 0));
    const WrittenFile file = readWritten(m_dir + "/out48.wav");
    EXPECT_EQ(file.rate, 44100);
    EXPECT_NEAR(file.frames, 88200.0, 88200.0 * 0.002);
    EXPECT_NEAR(frequency(file.samples, 100, static_cast<size_t>(file.frames) - 100), 1000.0, 3.0);
    // 96 kHz wants an odd number of source samples per block (1115), taken as
    // an even one: an odd pull would swap left and right in later blocks.
    const QString split = m_dir + "/in96.wav";
    ASSERT_TRUE(TestAudio::writeFile(split, 40000, 2, 96000, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                     [](long, int channel) { return channel ? -0.5f : 0.5f; }));
    EXPECT_EQ(LinearResampler::sourceSamples(512, 0, 96000.0f / 44100.0f) % 2, 0u);
    slice = loadFilled(split);
    ASSERT_TRUE(slice && slice->save(m_dir + "/out96.wav", 0, 0));
    const WrittenFile split96 = readWritten(m_dir + "/out96.wav");
    ASSERT_GT(split96.frames, 18000);
    for (size_t i = 0; i < split96.samples.size(); ++i)
        ASSERT_EQ(split96.samples[i], pcm16(i % 2 ? -0.5f : 0.5f)) << "sample " << i;
}

TEST_F(SliceExportTest, ContainerFollowsTheNameCaseSensitively)
{
    QSharedPointer<Slice> slice = loadFilled(writeWav(m_dir, "loop.wav", 3000));
    ASSERT_TRUE(slice);
    const std::pair<const char*, int> cases[] = {
        {"a.aif", SF_FORMAT_AIFF}, {"a.aiff", SF_FORMAT_AIFF}, {"b.AIF", SF_FORMAT_WAV}};
    for (auto [name, major] : cases) {
        ASSERT_TRUE(slice->save(m_dir + "/" + name, 0, 0)) << name;
        const WrittenFile file = readWritten(m_dir + "/" + name);
        EXPECT_EQ(file.format, major | SF_FORMAT_PCM_16) << name;
        EXPECT_EQ(file.frames, 3000) << name;
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
    const QByteArray old = readBytes(target);
    EXPECT_FALSE(withFileSizeLimit(64 * 1024, [&] { return slice->save(target, 0, 0); }));
    EXPECT_EQ(readBytes(target), old);
    EXPECT_EQ(QDir(m_dir).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"blocker", "loop.wav", "out.wav"}));
    Slice empty(m_dir + "/missing.wav"); // a pad whose file could not be read
    EXPECT_FALSE(empty.save(m_dir + "/empty.wav", 0, 0));
    EXPECT_FALSE(QFile::exists(m_dir + "/empty.wav"));
}

} // namespace
