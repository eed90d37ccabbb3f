#include "AudioFileAudioDecoder.h"
#include "AudioFileSndFile.h"
#include "LogCapture.h"
#include "TestAudio.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <functional>
#include <memory>
#include <tuple>

// The readers keep one contract; every case runs through each of them.
namespace {

struct Reader
{
    const char* name;
    std::function<std::unique_ptr<AudioFile>(const QString&)> make;
};

const Reader kReaders[] = {
    {"Decoder", [](const QString& p) { return std::make_unique<AudioFileAudioDecoder>(p); }},
    {"SndFile", [](const QString& p) { return std::make_unique<AudioFileSndFile>(p); }},
};

struct Layout
{
    const char* name;
    int format, channels, rate;
    long frames;
    unsigned block; // samples per request
};

const int kWav = SF_FORMAT_WAV;
const int kAiff = SF_FORMAT_AIFF;

const Layout kLayouts[] = {
    {"wav16_mono_22050", kWav | SF_FORMAT_PCM_16, 1, 22050, 10007, 4096},
    {"wav16_stereo_44100", kWav | SF_FORMAT_PCM_16, 2, 44100, 5000, 4096},
    {"wav24_mono_48000", kWav | SF_FORMAT_PCM_24, 1, 48000, 4096, 1000},
    {"wav24_stereo_22050", kWav | SF_FORMAT_PCM_24, 2, 22050, 2048, 4096},
    {"wavfloat_mono_44100", kWav | SF_FORMAT_FLOAT, 1, 44100, 3, 8},
    {"wavfloat_stereo_48000", kWav | SF_FORMAT_FLOAT, 2, 48000, 10007, 1000},
    {"wav16_six_44100", kWav | SF_FORMAT_PCM_16, 6, 44100, 5000, 4096},
    {"wav16_empty", kWav | SF_FORMAT_PCM_16, 2, 44100, 0, 4096},
    {"aiff16_stereo_48000", kAiff | SF_FORMAT_PCM_16, 2, 48000, 10007, 4096},
    {"aiff24_stereo_44100", kAiff | SF_FORMAT_PCM_24, 2, 44100, 3, 4096},
    {"aifffloat_mono_22050", kAiff | SF_FORMAT_FLOAT, 1, 22050, 2049, 4096},
    {"aiff16_six_48000", kAiff | SF_FORMAT_PCM_16, 6, 48000, 3000, 1000},
};

const float kUntouched = 777.0f;

class AudioFileReadersTest : public ::testing::TestWithParam<std::tuple<Reader, Layout>>
{
};

TEST_P(AudioFileReadersTest, ReadsBlockByBlockAsTheCacheDoesAndSeeksBack)
{
    const Reader& reader = std::get<0>(GetParam());
    const Layout& l = std::get<1>(GetParam());
    const QString path = TestAudio::scratchDir(QString(reader.name) + l.name) + "/" + l.name +
                         ((l.format & kAiff) ? ".aiff" : ".wav");
    ASSERT_TRUE(TestAudio::writeFile(path, l.frames, l.channels, l.rate, l.format));
    std::unique_ptr<AudioFile> file = reader.make(path);
    const unsigned long length = 2 * static_cast<unsigned long>(l.frames);
    ASSERT_EQ(file->getLength(), length);
    EXPECT_EQ(file->getSampleRate(), l.rate);

    std::vector<float> block(4096);
    unsigned long position = 0;
    for (;;) {
        std::fill(block.begin(), block.end(), kUntouched);
        const unsigned got = file->read(block.data(), l.block);
        const unsigned cut =
            static_cast<unsigned>(std::min<unsigned long>(l.block, length - position));
        if (l.channels > 2) {
            // Not decoded: silence up to the cut request, then the fill stops.
            EXPECT_EQ(got, 0u);
            for (unsigned i = 0; i < block.size(); ++i)
                ASSERT_EQ(block[i], i < cut ? 0.0f : kUntouched) << i;
            break;
        }
        ASSERT_EQ(got, cut) << "at " << position;
        for (unsigned i = 0; i < got; ++i) {
            const long frame = static_cast<long>(position + i) / 2;
            const int channel = l.channels == 1 ? 0 : static_cast<int>(i % 2);
            ASSERT_EQ(block[i], TestAudio::ramp(frame, channel)) << "sample " << position + i;
        }
        for (unsigned i = got; i < block.size(); ++i)
            ASSERT_EQ(block[i], kUntouched) << "beyond the stream, at " << i;
        position += got;
        EXPECT_EQ(file->getPosition(), position);
        if (got < l.block)
            break;
    }
    EXPECT_EQ(position, l.channels <= 2 ? length : 0);
    block[0] = kUntouched;
    EXPECT_EQ(file->read(block.data(), l.block), 0u);
    EXPECT_EQ(block[0], l.channels > 2 && length > 0 ? 0.0f : kUntouched);

    if (l.channels > 2 || l.frames < 10)
        return;
    // Back from the end, to even and odd positions: reading goes on from the
    // frame of the position.
    for (unsigned long target : {12ul, 7ul, length - 4}) {
        file->seek(target);
        const unsigned long even = target & ~1ul;
        EXPECT_EQ(file->getPosition(), even);
        ASSERT_EQ(file->read(block.data(), 4), 4u);
        EXPECT_EQ(block[0], TestAudio::ramp(even / 2, 0));
        EXPECT_EQ(block[3], TestAudio::ramp(even / 2 + 1, l.channels - 1));
    }
    EXPECT_EQ(file->read(block.data(), 4), 0u) << "the last seek read the last two frames";
}

INSTANTIATE_TEST_SUITE_P(Files, AudioFileReadersTest,
                         ::testing::Combine(::testing::ValuesIn(kReaders),
                                            ::testing::ValuesIn(kLayouts)),
                         [](const ::testing::TestParamInfo<std::tuple<Reader, Layout>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

TEST(AudioFileReadersDeathTest, RequestsOfABufferOrMoreOrOfOddSizeAreFatal)
{
    const QString path = TestAudio::scratchDir("death") + "/file.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 5000, 2, 44100, kWav | SF_FORMAT_PCM_16));
    for (const Reader& reader : kReaders) {
        std::unique_ptr<AudioFile> file = reader.make(path);
        std::vector<float> buffer(8192);
        EXPECT_DEATH(file->read(buffer.data(), 8192), "numSamples < TMB_AUDIOFILE_BUFFER_SIZE");
        EXPECT_DEATH(file->read(buffer.data(), 7), "numSamples % TMB_FRAMESIZE == 0");
    }
}

TEST(AudioFileSndFileTest, DataEndingBeforeTheHeaderSaysLeavesZerosUpToTheCutRequest)
{
    const QString path = TestAudio::scratchDir("short") + "/short.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 5000, 2, 44100, kWav | SF_FORMAT_PCM_16));
    AudioFileSndFile file(path);
    ASSERT_EQ(file.getLength(), 10000u);
    // libsndfile trusts the size it saw at open; a file cut afterwards (still
    // being copied, on a removed medium) is shorter than its header says.
    ASSERT_TRUE(QFile::resize(path, 44 + 3000 * 4));

    std::vector<float> buffer(4200, kUntouched);
    ASSERT_EQ(file.read(buffer.data(), 4096), 4096u);
    std::fill(buffer.begin(), buffer.end(), kUntouched);
    ASSERT_EQ(file.read(buffer.data(), 4096), 1904u);
    EXPECT_EQ(buffer[1903], TestAudio::ramp(2999, 1));
    for (unsigned i = 1904; i < 4096; ++i)
        ASSERT_EQ(buffer[i], 0.0f) << "gap sample " << i;
    EXPECT_EQ(buffer[4096], kUntouched);
}

TEST(AudioFileSndFileTest, AFileThatDoesNotOpenIsLoggedAndReadsNothing)
{
    const QString dir = TestAudio::scratchDir("failed");
    ASSERT_TRUE(TestAudio::writeBytes(dir + "/notes.wav", "just some text, no RIFF here\n"));
    ASSERT_TRUE(TestAudio::writeBytes(dir + "/empty.aiff", QByteArray()));
    for (const QString& path : {dir + "/missing.wav", dir + "/notes.wav", dir + "/empty.aiff"}) {
        LogCapture::clear();
        AudioFileSndFile file(path);
        EXPECT_TRUE(LogCapture::contains("Error opening file \"" + path + "\""))
            << qPrintable(path);
        EXPECT_TRUE(LogCapture::containsAll({"fileLength after load:", "0", "samples"}));
        EXPECT_EQ(file.getLength(), 0u);
        EXPECT_EQ(file.getSampleRate(), 0);
        float buffer[8] = {kUntouched};
        EXPECT_EQ(file.read(buffer, 8), 0u);
        EXPECT_EQ(buffer[0], kUntouched);
        file.seek(100);
        EXPECT_EQ(file.getPosition(), 0u);
    }
}

} // namespace
