#include "AudioFileSndFile.h"

#include "LogCapture.h"
#include "TestAudio.h"

#include <QFile>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <vector>

namespace {

const float kUntouched = 99.0f;

std::vector<float> sentinelBuffer()
{
    return std::vector<float>(TMB_AUDIOFILE_BUFFER_SIZE, kUntouched);
}

// The whole stream as read() delivers it, in blocks of `block` samples.
std::vector<float> readAll(AudioFile& file, unsigned block = 4096)
{
    std::vector<float> out;
    std::vector<float> buffer(block);
    for (;;) {
        const unsigned got = file.read(buffer.data(), block);
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
        if (got < block)
            return out;
    }
}

} // namespace

TEST(AudioFileSndFileTest, MonoIsSpreadToBothChannelsAndTheRestOfTheBufferIsLeftAlone)
{
    const QString path = TestAudio::scratchDir("mono3") + "/mono.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 3, 1, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    AudioFileSndFile file(path);
    EXPECT_EQ(file.getLength(), 6u);
    EXPECT_EQ(file.getChannels(), 1);

    std::vector<float> buffer = sentinelBuffer();
    ASSERT_EQ(file.read(buffer.data(), 8), 6u);
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(buffer[2 * frame], TestAudio::ramp(frame, 0));
        EXPECT_EQ(buffer[2 * frame + 1], TestAudio::ramp(frame, 0));
    }
    EXPECT_EQ(buffer[6], kUntouched);
    EXPECT_EQ(buffer[7], kUntouched);
    EXPECT_EQ(file.getPosition(), 6u);

    buffer = sentinelBuffer();
    EXPECT_EQ(file.read(buffer.data(), 8), 0u);
    EXPECT_EQ(buffer[0], kUntouched);
}

TEST(AudioFileSndFileTest, StereoIsReadInBlocksUpToTheEndAndTheCutRequest)
{
    const QString path = TestAudio::scratchDir("stereo5000") + "/stereo.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 5000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    const std::vector<float> expected = TestAudio::readFile(path);
    AudioFileSndFile file(path);
    ASSERT_EQ(file.getLength(), 10000u);

    std::vector<float> got;
    for (unsigned want : {4096u, 4096u, 1808u}) {
        std::vector<float> buffer = sentinelBuffer();
        ASSERT_EQ(file.read(buffer.data(), 4096), want);
        got.insert(got.end(), buffer.begin(), buffer.begin() + want);
        for (unsigned i = want; i < 4096; ++i)
            ASSERT_EQ(buffer[i], kUntouched) << "sample " << i << " beyond the cut request";
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(file.getPosition(), 10000u);
}

TEST(AudioFileSndFileTest, DataEndingBeforeTheHeaderSaysLeavesZerosUpToTheCutRequest)
{
    const QString path = TestAudio::scratchDir("short") + "/short.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 5000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    AudioFileSndFile file(path);
    ASSERT_EQ(file.getLength(), 10000u);
    // libsndfile trusts the size it saw at open; a file cut afterwards (still
    // being copied, on a removed medium) is shorter than its header says.
    ASSERT_TRUE(QFile::resize(path, 44 + 3000 * 4));

    std::vector<float> buffer = sentinelBuffer();
    ASSERT_EQ(file.read(buffer.data(), 4096), 4096u);
    buffer = sentinelBuffer();
    ASSERT_EQ(file.read(buffer.data(), 4096), 1904u);
    EXPECT_EQ(buffer[1903], TestAudio::ramp(2999, 1));
    for (unsigned i = 1904; i < 4096; ++i)
        ASSERT_EQ(buffer[i], 0.0f) << "gap sample " << i;
    EXPECT_EQ(buffer[4096], kUntouched);
}

TEST(AudioFileSndFileTest, MoreThanTwoChannelsHasALengthButReadsAsSilence)
{
    const QString path = TestAudio::scratchDir("six") + "/six.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 1000, 6, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_24));
    AudioFileSndFile file(path);
    EXPECT_EQ(file.getLength(), 2000u);
    EXPECT_EQ(file.getSampleRate(), 48000);

    std::vector<float> buffer = sentinelBuffer();
    EXPECT_EQ(file.read(buffer.data(), 4096), 0u);
    for (unsigned i = 0; i < 2000; ++i)
        ASSERT_EQ(buffer[i], 0.0f);
    EXPECT_EQ(buffer[2000], kUntouched);

    file.seek(1000); // such a source always seeks to its start
    EXPECT_EQ(file.getPosition(), 0u);
}

TEST(AudioFileSndFileTest, AFileThatDoesNotOpenIsLoggedAndReadsNothing)
{
    const QString dir = TestAudio::scratchDir("failed");
    const QString notAudio = dir + "/notes.wav";
    ASSERT_TRUE(TestAudio::writeBytes(notAudio, QByteArray("just some text, no RIFF here\n")));
    const QString empty = dir + "/empty.aiff";
    ASSERT_TRUE(TestAudio::writeBytes(empty, QByteArray()));

    for (const QString& path : {dir + "/missing.wav", notAudio, empty}) {
        LogCapture::clear();
        AudioFileSndFile file(path);
        EXPECT_TRUE(LogCapture::contains("Error opening file \"" + path + "\""))
            << qPrintable(path);
        EXPECT_TRUE(LogCapture::containsAll({"fileLength after load:", "0", "samples"}));
        EXPECT_EQ(file.getLength(), 0u);
        EXPECT_EQ(file.getSampleRate(), 0);
        std::vector<float> buffer = sentinelBuffer();
        EXPECT_EQ(file.read(buffer.data(), 4096), 0u);
        EXPECT_EQ(buffer[0], kUntouched);
        file.seek(100);
        EXPECT_EQ(file.getPosition(), 0u);
    }
}

TEST(AudioFileSndFileTest, FormatsRatesAndWidthsReadLikeLibsndfileItself)
{
    struct Case
    {
        const char* name;
        int channels;
        int rate;
        int format;
    };
    const Case cases[] = {
        {"a.wav", 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_24},
        {"b.wav", 1, 22050, SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"c.aiff", 2, 48000, SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"d.aiff", 1, 44100, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
    };
    const QString dir = TestAudio::scratchDir("formats");
    for (const Case& c : cases) {
        const QString path = dir + "/" + c.name;
        ASSERT_TRUE(TestAudio::writeFile(path, 12345, c.channels, c.rate, c.format));
        std::vector<float> expected = TestAudio::readFile(path);
        if (c.channels == 1) {
            std::vector<float> stereo;
            for (float v : expected)
                stereo.insert(stereo.end(), {v, v});
            expected = stereo;
        }
        AudioFileSndFile file(path);
        EXPECT_EQ(file.getLength(), 24690u) << c.name;
        EXPECT_EQ(file.getSampleRate(), c.rate) << c.name;
        // An odd-sized block must not matter either.
        EXPECT_EQ(readAll(file, c.channels == 1 ? 4096 : 1000), expected) << c.name;
    }

    const QString none = dir + "/none.wav";
    ASSERT_TRUE(TestAudio::writeFile(none, 0, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    AudioFileSndFile empty(none);
    EXPECT_EQ(empty.getLength(), 0u);
    std::vector<float> buffer = sentinelBuffer();
    EXPECT_EQ(empty.read(buffer.data(), 4096), 0u);
    EXPECT_EQ(buffer[0], kUntouched);
}

TEST(AudioFileSndFileTest, SeekMovesToTheFrameOfTheSampleIndex)
{
    const QString dir = TestAudio::scratchDir("seek");
    for (int channels : {1, 2}) {
        const QString path = dir + QString("/%1.wav").arg(channels);
        ASSERT_TRUE(
            TestAudio::writeFile(path, 5000, channels, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
        AudioFileSndFile file(path);
        file.seek(2001); // odd index: frame 1000
        EXPECT_EQ(file.getPosition(), 2000u);
        float buffer[4];
        ASSERT_EQ(file.read(buffer, 4), 4u);
        EXPECT_EQ(buffer[0], TestAudio::ramp(1000, 0));
        EXPECT_EQ(buffer[3], TestAudio::ramp(1001, channels - 1));

        file.seek(20000); // beyond the end: refused, the position stays
        EXPECT_EQ(file.getPosition(), 2004u);
        file.seek(10000);
        EXPECT_EQ(file.getPosition(), 10000u);
        EXPECT_EQ(file.read(buffer, 4), 0u);
    }
}

TEST(AudioFileSndFileDeathTest, RequestsOfTheBufferSizeOrOfOddLengthArePreconditionFailures)
{
    const QString path = TestAudio::scratchDir("death") + "/d.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 100, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    AudioFileSndFile file(path);
    std::vector<float> buffer(TMB_AUDIOFILE_BUFFER_SIZE + 2);
    EXPECT_DEATH(file.read(buffer.data(), 8192), "numSamples < TMB_AUDIOFILE_BUFFER_SIZE");
    EXPECT_DEATH(file.read(buffer.data(), 7), "numSamples % TMB_FRAMESIZE == 0");
}
