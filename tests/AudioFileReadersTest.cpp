#include "AudioFileAudioDecoder.h"
#include "AudioFileSndFile.h"
#include "TestAudio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <functional>
#include <memory>
#include <tuple>

// The readers keep one contract; every case runs through each of them.
namespace {

using ReaderFactory = std::function<std::unique_ptr<AudioFile>(const QString&)>;

struct Reader
{
    const char* name;
    ReaderFactory make;
};

const Reader kReaders[] = {
    {"Decoder", [](const QString& p) { return std::make_unique<AudioFileAudioDecoder>(p); }},
    {"SndFile", [](const QString& p) { return std::make_unique<AudioFileSndFile>(p); }},
};

struct Layout
{
    const char* name;
    int format;
    int channels;
    int rate;
    long frames;
};

const int kWav = SF_FORMAT_WAV;
const int kAiff = SF_FORMAT_AIFF;

const Layout kLayouts[] = {
    {"wav16_mono_22050", kWav | SF_FORMAT_PCM_16, 1, 22050, 10007},
    {"wav16_stereo_44100", kWav | SF_FORMAT_PCM_16, 2, 44100, 5000},
    {"wav24_mono_48000", kWav | SF_FORMAT_PCM_24, 1, 48000, 4096},
    {"wav24_stereo_22050", kWav | SF_FORMAT_PCM_24, 2, 22050, 2048},
    {"wavfloat_mono_44100", kWav | SF_FORMAT_FLOAT, 1, 44100, 3},
    {"wavfloat_stereo_48000", kWav | SF_FORMAT_FLOAT, 2, 48000, 10007},
    {"wav16_six_44100", kWav | SF_FORMAT_PCM_16, 6, 44100, 5000},
    {"wav16_empty", kWav | SF_FORMAT_PCM_16, 2, 44100, 0},
    {"aiff16_mono_44100", kAiff | SF_FORMAT_PCM_16, 1, 44100, 5000},
    {"aiff16_stereo_48000", kAiff | SF_FORMAT_PCM_16, 2, 48000, 10007},
    {"aiff24_stereo_44100", kAiff | SF_FORMAT_PCM_24, 2, 44100, 3},
    {"aifffloat_mono_22050", kAiff | SF_FORMAT_FLOAT, 1, 22050, 2049},
    {"aiff16_six_48000", kAiff | SF_FORMAT_PCM_16, 6, 48000, 3000},
    {"aiff16_empty_mono", kAiff | SF_FORMAT_PCM_16, 1, 22050, 0},
};

const float kUntouched = 777.0f;

class AudioFileReadersTest : public ::testing::TestWithParam<std::tuple<Reader, Layout>>
{
protected:
    const Reader& reader() const { return std::get<0>(GetParam()); }
    const Layout& layout() const { return std::get<1>(GetParam()); }

    std::unique_ptr<AudioFile> open()
    {
        const Layout& l = layout();
        const QString dir = TestAudio::scratchDir(QString(reader().name) + l.name);
        const QString path = dir + "/" + l.name + ((l.format & kAiff) ? ".aiff" : ".wav");
        EXPECT_TRUE(TestAudio::writeFile(path, l.frames, l.channels, l.rate, l.format));
        return reader().make(path);
    }
};

TEST_P(AudioFileReadersTest, ReadsBlockByBlockAsTheCacheDoesAndSeeksBack)
{
    const Layout& l = layout();
    std::unique_ptr<AudioFile> file = open();
    const unsigned long length = 2 * static_cast<unsigned long>(l.frames);
    ASSERT_EQ(file->getLength(), length);
    EXPECT_EQ(file->getSampleRate(), l.rate);

    std::vector<float> block(4096);
    unsigned long position = 0;
    for (;;) {
        std::fill(block.begin(), block.end(), kUntouched);
        const unsigned got = file->read(block.data(), 4096);
        const unsigned cut =
            static_cast<unsigned>(std::min<unsigned long>(4096, length - position));
        if (l.channels > 2) {
            // Not decoded: silence up to the cut request, then the fill stops.
            EXPECT_EQ(got, 0u);
            for (unsigned i = 0; i < 4096; ++i)
                ASSERT_EQ(block[i], i < cut ? 0.0f : kUntouched) << i;
            break;
        }
        ASSERT_EQ(got, cut) << "at " << position;
        for (unsigned i = 0; i < got; ++i) {
            const long frame = static_cast<long>(position + i) / 2;
            const int channel = l.channels == 1 ? 0 : static_cast<int>(i % 2);
            ASSERT_EQ(block[i], TestAudio::ramp(frame, channel)) << "sample " << position + i;
        }
        for (unsigned i = got; i < 4096; ++i)
            ASSERT_EQ(block[i], kUntouched) << "beyond the stream, at " << i;
        position += got;
        EXPECT_EQ(file->getPosition(), position);
        if (got < 4096)
            break;
    }
    if (l.channels <= 2) {
        EXPECT_EQ(position, length);
    }
    block[0] = kUntouched;
    EXPECT_EQ(file->read(block.data(), 4096), 0u);
    EXPECT_EQ(block[0], l.channels > 2 && length > 0 ? 0.0f : kUntouched);

    if (l.channels > 2 || l.frames < 10)
        return;
    // Back from the end, to even and odd positions: reading goes on from the
    // frame of the position.
    const int right = l.channels == 1 ? 0 : 1;
    for (unsigned long target : {12ul, 7ul, length - 4}) {
        file->seek(target);
        const unsigned long even = target & ~1ul;
        EXPECT_EQ(file->getPosition(), even);
        ASSERT_EQ(file->read(block.data(), 4), 4u);
        EXPECT_EQ(block[0], TestAudio::ramp(even / 2, 0));
        EXPECT_EQ(block[3], TestAudio::ramp(even / 2 + 1, right));
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

class AudioFileReadersContractTest : public ::testing::TestWithParam<Reader>
{
protected:
    std::unique_ptr<AudioFile> make(long frames, int channels)
    {
        const QString dir = TestAudio::scratchDir(QString("contract") + GetParam().name);
        const QString path = dir + "/file.wav";
        EXPECT_TRUE(
            TestAudio::writeFile(path, frames, channels, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        return GetParam().make(path);
    }
};

TEST_P(AudioFileReadersContractTest, ShortReadsAtTheEndLeaveTheRestOfTheBlockAlone)
{
    float small[8];
    std::fill(std::begin(small), std::end(small), kUntouched);
    std::unique_ptr<AudioFile> mono = make(3, 1);
    ASSERT_EQ(mono->read(small, 8), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(small[i], TestAudio::ramp(i / 2, 0));
    EXPECT_EQ(small[6], kUntouched);
    EXPECT_EQ(small[7], kUntouched);
    EXPECT_EQ(mono->read(small, 8), 0u);
    EXPECT_EQ(mono->read(small, 0), 0u);

    std::unique_ptr<AudioFile> stereo = make(5000, 2);
    std::vector<float> block(4096, kUntouched);
    EXPECT_EQ(stereo->read(block.data(), 4096), 4096u);
    EXPECT_EQ(stereo->read(block.data(), 4096), 4096u);
    std::fill(block.begin(), block.end(), kUntouched);
    EXPECT_EQ(stereo->read(block.data(), 4096), 1808u);
    EXPECT_EQ(block[1807], TestAudio::ramp(4999, 1));
    EXPECT_TRUE(
        std::all_of(block.begin() + 1808, block.end(), [](float v) { return v == kUntouched; }));
}

TEST_P(AudioFileReadersContractTest, RequestsOfABufferOrMoreOrOfOddSizeAreFatal)
{
    std::unique_ptr<AudioFile> file = make(5000, 2);
    std::vector<float> buffer(8192);
    EXPECT_DEATH(file->read(buffer.data(), 8192), "numSamples < TMB_AUDIOFILE_BUFFER_SIZE");
    EXPECT_DEATH(file->read(buffer.data(), 7), "numSamples % TMB_FRAMESIZE == 0");
}

INSTANTIATE_TEST_SUITE_P(Readers, AudioFileReadersContractTest, ::testing::ValuesIn(kReaders),
                         [](const ::testing::TestParamInfo<Reader>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
