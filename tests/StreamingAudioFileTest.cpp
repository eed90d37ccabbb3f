#include "StreamingAudioFile.h"

#include "LogCapture.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <vector>

namespace {

const float kBed = 0.25f; // what the output holds before the preview adds to it

QString makeFile(const QString& name, long frames, int channels)
{
    static const QString dir = TestAudio::scratchDir("files");
    const QString path = dir + "/" + name;
    EXPECT_TRUE(
        TestAudio::writeFile(path, frames, channels, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    return path;
}

// The preview read in requests of blockSize samples into a bed of kBed.
std::vector<float> readInBlocks(const QString& path, unsigned blockSize, int numBlocks)
{
    StreamingAudioFile preview(path);
    std::vector<float> out(blockSize * numBlocks, kBed);
    for (int b = 0; b < numBlocks; ++b)
        preview.read(out.data() + b * blockSize, blockSize);
    return out;
}

TEST(StreamingAudioFileTest, FileIsAddedBlockByBlockUntilItsEnd)
{
    const QString stereo = makeFile("stereo.wav", 10000, 2);
    const std::vector<float> file = TestAudio::readFile(stereo);
    ASSERT_EQ(file.size(), 20000u);
    // Nine full blocks and 1568 samples of the tenth come from the file; the
    // rest of the tenth block and the two after it stay as they were.
    const std::vector<float> out = readInBlocks(stereo, 2048, 12);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], i < file.size() ? kBed + file[i] : kBed) << "sample " << i;

    const QString mono = makeFile("mono.wav", 3001, 1);
    const std::vector<float> monoFile = TestAudio::readFile(mono);
    const std::vector<float> monoOut = readInBlocks(mono, 512, 13);
    for (size_t i = 0; i < monoOut.size(); ++i) {
        const size_t frame = i / 2;
        ASSERT_EQ(monoOut[i], frame < monoFile.size() ? kBed + monoFile[frame] : kBed) << i;
    }
}

TEST(StreamingAudioFileTest, LargeRequestsAreServedInPiecesLikeSmallOnes)
{
    // A whole-loop export asks for far more than the 4096-float scratch buffer.
    for (int channels : {2, 1}) {
        const QString path = makeFile(QString("large%1.wav").arg(channels), 10000, channels);
        const std::vector<float> small = readInBlocks(path, 256, 100);
        StreamingAudioFile preview(path);
        std::vector<float> out(small.size(), kBed);
        preview.read(out.data(), 10000);
        preview.read(out.data() + 10000, 15600);
        EXPECT_EQ(out, small) << channels << " channel(s)";
    }
}

TEST(StreamingAudioFileTest, UnplayableFilesAreSilent)
{
    const QString sixChannels = makeFile("six.wav", 1000, 6);
    const QString text = makeFile("notes.wav", 1, 1);
    ASSERT_TRUE(TestAudio::writeBytes(text, "these are not samples\n"));
    LogCapture::clear();
    for (const QString& path : {sixChannels, text})
        EXPECT_EQ(readInBlocks(path, 2048, 3), std::vector<float>(3 * 2048, kBed));
    EXPECT_TRUE(LogCapture::containsAll({"Error opening file", "\"" + text + "\""}));

    StreamingAudioFile preview(sixChannels);
    float out[4] = {};
    EXPECT_DEATH(preview.read(out, 3), "numSamples % 2 == 0");
}

} // namespace
