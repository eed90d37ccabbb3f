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
    {"wav24_stereo_22050", kWav | SF_FORMAT_PCM_24, 2, 22050, 2048, 4096},
    {"wavfloat_mono_44100", kWav | SF_FORMAT_FLOAT, 1, 44100, 3, 8},
    {"wavfloat_stereo_48000", kWav | SF_FORMAT_FLOAT, 2, 48000, 10007, 1000},
    {"wav16_six_44100", kWav | SF_FORMAT_PCM_16, 6, 44100, 5000, 4096},
    {"wav16_empty", kWav | SF_FORMAT_PCM_16, 2, 44100, 0, 4096},
    {"aiff16_stereo_48000", kAiff | SF_FORMAT_PCM_16, 2, 48000, 10007, 4096},
    {"aiff16_six_48000", kAiff | SF_FORMAT_PCM_16, 6, 48000, 3000, 1000},
};

const float kUntouched = 777.0f;

class AudioFileReadersTest : public ::testing::TestWithParam<std::tuple<Reader, Layout>>
{
};

TEST_P(AudioFileReadersTest, ReadsBlockByBlockAsTheCacheDoes)
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
    for (unsigned long position = 0;;) {
        std::fill(block.begin(), block.end(), kUntouched);
        const unsigned got = file->read(block.data(), l.block);
        const unsigned long cut = std::min<unsigned long>(l.block, length - position);
        // More than two channels are not decoded: one silent request, then nothing.
        ASSERT_EQ(got, l.channels > 2 ? 0 : cut) << "at " << position;
        for (unsigned i = 0; i < block.size(); ++i) {
            const long frame = static_cast<long>(position + i) / 2;
            const float expected = i >= cut          ? kUntouched
                                   : l.channels > 2  ? 0.0f
                                   : l.channels == 1 ? TestAudio::ramp(frame, 0)
                                                     : TestAudio::ramp(frame, i % 2);
            ASSERT_EQ(block[i], expected) << "sample " << position + i;
        }
        position += got;
        if (got < l.block)
            break;
    }
    block[0] = kUntouched;
    EXPECT_EQ(file->read(block.data(), l.block), 0u);
    EXPECT_EQ(block[0], l.channels > 2 && length > 0 ? 0.0f : kUntouched);
}

INSTANTIATE_TEST_SUITE_P(Files, AudioFileReadersTest,
                         ::testing::Combine(::testing::ValuesIn(kReaders),
                                            ::testing::ValuesIn(kLayouts)),
                         [](const ::testing::TestParamInfo<std::tuple<Reader, Layout>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

} // namespace
