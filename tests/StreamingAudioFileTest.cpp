#include "StreamingAudioFile.h"

#include "LogCapture.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <memory>
#include <vector>

namespace {

const float kBed = 0.25f; // what the output holds before the preview adds to it

// A fresh directory for the running test.
QString testDir()
{
    return TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
}

QString makeFile(const QString& dir, const QString& name, long frames, int channels)
{
    const QString path = dir + "/" + name;
    EXPECT_TRUE(
        TestAudio::writeFile(path, frames, channels, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    return path;
}

// Reads the whole preview in requests of blockSize samples, each into a bed of
// kBed, and returns the concatenated output (numBlocks x blockSize).
std::vector<float> readInBlocks(const QString& path, unsigned blockSize, int numBlocks)
{
    StreamingAudioFile preview(path);
    std::vector<float> out(blockSize * numBlocks, kBed);
    for (int b = 0; b < numBlocks; ++b)
        preview.read(out.data() + b * blockSize, blockSize);
    return out;
}

TEST(StreamingAudioFileTest, StereoFileAddsBlockByBlockUntilItsEnd)
{
    const QString path = makeFile(testDir(), "stereo.wav", 10000, 2);
    const std::vector<float> file = TestAudio::readFile(path);
    ASSERT_EQ(file.size(), 20000u);
    EXPECT_EQ(StreamingAudioFile(path).getLength(), 20000);

    const std::vector<float> out = readInBlocks(path, 2048, 12);
    // Nine full blocks and 1568 samples of the tenth come from the file, added to
    // the bed; the rest of the tenth block and the two after it are untouched.
    for (size_t i = 0; i < out.size(); ++i) {
        const float expected = i < file.size() ? kBed + file[i] : kBed;
        ASSERT_EQ(out[i], expected) << "sample " << i;
    }
    EXPECT_EQ(9 * 2048 + 1568, 20000);
}

TEST(StreamingAudioFileTest, MonoFileAddsEachFrameToBothChannels)
{
    const QString path = makeFile(testDir(), "mono.wav", 3001, 1);
    const std::vector<float> file = TestAudio::readFile(path);
    const std::vector<float> out = readInBlocks(path, 512, 13);
    for (size_t frame = 0; frame < out.size() / 2; ++frame) {
        const float expected = frame < file.size() ? kBed + file[frame] : kBed;
        ASSERT_EQ(out[2 * frame], expected) << "frame " << frame;
        ASSERT_EQ(out[2 * frame + 1], expected) << "frame " << frame;
    }
}

TEST(StreamingAudioFileTest, LargeRequestsAreServedInPiecesLikeSmallOnes)
{
    // Whole-loop exports ask for far more than one render block.
    const QString dir = testDir();
    for (int channels : {2, 1}) {
        const QString path = makeFile(dir, QString("large%1.wav").arg(channels), 10000, channels);
        const std::vector<float> small = readInBlocks(path, 256, 100);
        auto preview = std::make_unique<StreamingAudioFile>(path);
        std::vector<float> out(small.size(), kBed);
        preview->read(out.data(), 10000);
        preview->read(out.data() + 10000, 10000);
        preview->read(out.data() + 20000, 5600);
        EXPECT_EQ(out, small) << channels << " channel(s)";
    }
}

TEST(StreamingAudioFileTest, UnplayableFilesAreSilent)
{
    const QString dir = testDir();
    const QString sixChannels = makeFile(dir, "six.wav", 1000, 6);
    const QString text = dir + "/notes.wav";
    ASSERT_TRUE(TestAudio::writeBytes(text, "these are not samples\n"));

    LogCapture::clear();
    for (const QString& path : {sixChannels, text}) {
        const std::vector<float> out = readInBlocks(path, 2048, 3);
        EXPECT_EQ(out, std::vector<float>(out.size(), kBed)) << qPrintable(path);
    }
    EXPECT_EQ(StreamingAudioFile(text).getLength(), 0);
    EXPECT_TRUE(LogCapture::containsAll({"Error opening file", "\"" + text + "\""}));
    EXPECT_FALSE(LogCapture::contains(sixChannels));
}

TEST(StreamingAudioFileTest, OddSampleCountIsAProgrammingError)
{
    const QString path = makeFile(testDir(), "odd.wav", 100, 2);
    StreamingAudioFile preview(path);
    float out[4] = {};
    EXPECT_DEATH(preview.read(out, 3), "numSamples % 2 == 0");
}

} // namespace
