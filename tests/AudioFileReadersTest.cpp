#include "AudioFileAudioDecoder.h"
#include "AudioFileSndFile.h"
#include "LogCapture.h"
#include "SliceTestSupport.h"
#include "StereoDownmix.h"
#include "StreamingAudioFile.h"
#include "TestAudio.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sndfile.h>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <cmath>
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
    {"wav24_stereo_22050", kWav | SF_FORMAT_FLOAT, 2, 22050, 2048, 4096},
    {"wavfloat_mono_44100", kWav | SF_FORMAT_FLOAT, 1, 44100, 3, 8},
    {"wavfloat_stereo_48000", kWav | SF_FORMAT_FLOAT, 2, 48000, 10007, 1000},
    {"wav16_six_44100", kWav | SF_FORMAT_PCM_16, 6, 44100, 5000, 4096},
    {"wav16_empty", kWav | SF_FORMAT_PCM_16, 2, 44100, 0, 4096},
    {"aiff16_stereo_48000", kAiff | SF_FORMAT_PCM_16, 2, 48000, 10007, 4096},
    {"aiff16_six_48000", kAiff | SF_FORMAT_PCM_16, 6, 48000, 3000, 1000},
};

const float kUntouched = 777.0f;

// Channels 3 to 6 of a file with no layout of its own are 5.1 (FL FR FC LFE
// BL BR): centre and back at -3 dB into their side, LFE left out.
float downmixed(long frame, int side)
{
    const float s = static_cast<float>(M_SQRT1_2);
    return TestAudio::ramp(frame, side) + s * TestAudio::ramp(frame, 2) +
           s * TestAudio::ramp(frame, 4 + side);
}

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
        ASSERT_EQ(got, cut) << "at " << position;
        for (unsigned i = 0; i < block.size(); ++i) {
            const long frame = static_cast<long>(position + i) / 2;
            if (i < cut && l.channels > 2) {
                ASSERT_NEAR(block[i], downmixed(frame, i % 2), 1e-6) << "sample " << position + i;
                continue;
            }
            const float expected = i >= cut          ? kUntouched
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
    EXPECT_EQ(block[0], kUntouched);
}

INSTANTIATE_TEST_SUITE_P(Files, AudioFileReadersTest,
                         ::testing::Combine(::testing::ValuesIn(kReaders),
                                            ::testing::ValuesIn(kLayouts)),
                         [](const ::testing::TestParamInfo<std::tuple<Reader, Layout>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::get<1>(info.param).name;
                         });

// Every reader, and the preview, of one file: the stereo it yields.
std::vector<std::vector<float>> readEveryWay(const QString& path)
{
    std::vector<std::vector<float>> ways;
    for (const Reader& reader : kReaders) {
        std::unique_ptr<AudioFile> file = reader.make(path);
        std::vector<float> out(file->getLength());
        for (unsigned long done = 0; done < out.size();)
            done +=
                file->read(out.data() + done,
                           static_cast<unsigned>(std::min<unsigned long>(4096, out.size() - done)));
        ways.push_back(out);
    }
    StreamingAudioFile preview(path);
    ways.push_back(std::vector<float>(ways.front().size(), 0.0f));
    preview.read(ways.back().data(), static_cast<unsigned>(ways.back().size()));
    return ways;
}

TEST(AudioFileReadersLayoutTest, SurroundIsMixedDownAtTheLevelsOfItsLayout)
{
    const QString dir = TestAudio::scratchDir("layouts");
    const float level[] = {0.5f, -0.25f, 0.125f, 0.75f, -0.0625f, 0.03125f};
    const float s = static_cast<float>(M_SQRT1_2);
    // 5.1 with sides, named in the file: the LFE is left out, nothing is normalised.
    const int sides[] = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT,     SF_CHANNEL_MAP_CENTER,
                         SF_CHANNEL_MAP_LFE,  SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT};
    const QString surround = dir + "/surround.wav";
    SF_INFO info{};
    info.channels = 6;
    info.samplerate = 44100;
    info.format = kWav | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(surround).constData(), SFM_WRITE, &info);
    ASSERT_TRUE(f);
    ASSERT_EQ(sf_command(f, SFC_SET_CHANNEL_MAP_INFO, const_cast<int*>(sides), sizeof sides),
              SF_TRUE);
    std::vector<float> frames(6 * 3000);
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = level[i % 6];
    ASSERT_EQ(sf_writef_float(f, frames.data(), 3000), 3000);
    sf_close(f);
    for (const std::vector<float>& way : readEveryWay(surround)) {
        ASSERT_EQ(way.size(), 6000u);
        EXPECT_NEAR(way[4000], 0.5f + s * 0.125f + s * -0.0625f, 1e-6);
        EXPECT_NEAR(way[4001], -0.25f + s * 0.125f + s * 0.03125f, 1e-6);
    }
    // A full-scale front pair stays full scale.
    ASSERT_TRUE(TestAudio::writeFile(dir + "/front.wav", 100, 6, 44100, kWav | SF_FORMAT_FLOAT,
                                     [](long, int c) { return c < 2 ? 1.0f - c * 2.0f : 0.0f; }));
    for (const std::vector<float>& way : readEveryWay(dir + "/front.wav"))
        EXPECT_EQ(std::vector<float>(way.begin(), way.begin() + 2), (std::vector<float>{1, -1}));

    // Channels listed out of the layout's order still reach their side.
    StereoDownmix swapped(3, {AV_CHAN_FRONT_CENTER, AV_CHAN_FRONT_RIGHT, AV_CHAN_FRONT_LEFT});
    const float in[] = {0.0f, 0.5f, 0.25f};
    float out[2];
    swapped.process(in, out, 1);
    EXPECT_EQ(std::vector<float>(out, out + 2), (std::vector<float>{0.25f, 0.5f}));
}

// A file as libsndfile writes it with the rate in its header replaced (libsndfile
// writes no such rates).
QString wavClaimingRate(const QString& dir, quint32 rate)
{
    const QString path = dir + QString("/rate%1.wav").arg(rate);
    EXPECT_TRUE(TestAudio::writeFile(path, 1000, 2, 44100, kWav | SF_FORMAT_PCM_16));
    QByteArray bytes = SliceTestSupport::readBytes(path);
    EXPECT_EQ(bytes.mid(12, 4), "fmt ");
    qToLittleEndian(rate, bytes.data() + 24);
    qToLittleEndian(rate * 4, bytes.data() + 28); // bytes per second
    EXPECT_TRUE(TestAudio::writeBytes(path, bytes));
    return path;
}

TEST(AudioFileReadersRefusalTest, RatesBeyondTheFormatsAndBrokenOggAreRefusedByEveryReader)
{
    const QString dir = TestAudio::scratchDir("refused");
    // A looping slice at 2.1 GHz hung in the resampler.
    for (quint32 rate : {999u, 768001u, 973000000u, 2147483647u, 1000u, 768000u}) {
        const QString path = wavClaimingRate(dir, rate);
        const bool refused = rate < 1000 || rate > 768000;
        for (const Reader& reader : kReaders) {
            LogCapture::clear();
            std::unique_ptr<AudioFile> file = reader.make(path);
            EXPECT_EQ(file->getLength(), refused ? 0u : 2000u) << reader.name << " " << rate;
            EXPECT_EQ(file->getSampleRate(), refused ? 0 : static_cast<int>(rate)) << reader.name;
            EXPECT_EQ(LogCapture::contains("Error opening file \"" + path + "\""), refused)
                << reader.name << " " << rate;
        }
        LogCapture::clear();
        EXPECT_EQ(StreamingAudioFile(path).getLength() == 0, refused) << rate;
        EXPECT_EQ(LogCapture::contains("Error opening file \"" + path + "\""), refused) << rate;
    }
    // libsndfile leaks what it allocated for a Vorbis file it fails to open;
    // the leak check must know that library's frame, and only that one.
    const QString ogg = dir + "/cut.ogg";
    ASSERT_TRUE(TestAudio::ffmpeg({"-f", "lavfi", "-i", "sine=d=0.2", "-c:a", "libvorbis", ogg}));
    ASSERT_TRUE(TestAudio::writeBytes(ogg, SliceTestSupport::readBytes(ogg).left(100)));
    EXPECT_EQ(AudioFileSndFile(ogg).getLength(), 0u);
    EXPECT_EQ(StreamingAudioFile(ogg).getLength(), 0);
}

} // namespace
