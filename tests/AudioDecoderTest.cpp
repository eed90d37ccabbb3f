#include "AudioDecoder.h"
#include "AudioFileAudioDecoder.h"
#include "AudioFileSndFile.h"
#include "LogCapture.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

using SliceTestSupport::readBytes;

namespace {

// Not a multiple of any codec's frame, so padding that is not removed shows.
const long kFrames = 54441;

// Different tones on each channel, so a shifted, swapped or padded stream shows.
float music(long frame, int channel)
{
    const double t = static_cast<double>(frame) / 44100;
    return static_cast<float>(0.3 * std::sin(2 * M_PI * (channel ? 330 : 440) * t) +
                              0.15 * std::sin(2 * M_PI * (channel ? 5100 : 3700) * t) +
                              0.02 * channel);
}

struct Decoded
{
    int channels, rate;
    std::int64_t total;
    std::vector<float> samples;
};

// Reads to the end in 4096-sample requests, as the cache does.
Decoded decodeAll(const QString& path)
{
    AudioDecoder decoder(QFile::encodeName(path).toStdString());
    EXPECT_EQ(decoder.open(), 0) << qPrintable(path);
    Decoded d{decoder.getChannels(), decoder.getSampleRate(), decoder.getTotalSamples(), {}};
    std::vector<float> block(4096);
    for (int n; (n = decoder.read(4096, block.data())) > 0;)
        d.samples.insert(d.samples.end(), block.begin(), block.begin() + n);
    EXPECT_EQ(decoder.read(4096, block.data()), 0) << "read after the end";
    return d;
}

bool same(const float* a, const float* b, std::size_t n)
{
    return std::memcmp(a, b, n * sizeof(float)) == 0;
}

struct Encoding
{
    const char* file;
    QStringList args;
    int frameSize;       // codec frame when no gapless tag is written, else 0
    bool commandPadsEnd; // the ffmpeg command keeps the encoder's end padding
    float tolerance;     // largest difference from the source; 0: bit-exact
};

// Measured largest differences: 0.0002, 0.012, 0.0068.
const Encoding kEncodings[] = {
    {"tagged.mp3", {"-c:a", "libmp3lame", "-b:a", "256k"}, 0, false, 0.001f},
    {"untagged.mp3", {"-c:a", "libmp3lame", "-write_xing", "0"}, 1152, false, 0},
    {"aac.m4a", {"-c:a", "aac", "-b:a", "256k"}, 0, true, 0.03f},
    {"alac.m4a", {"-c:a", "alac"}, 0, false, 0},
    {"source.flac", {"-c:a", "flac"}, 0, false, 0},
    {"vorbis.ogg", {"-c:a", "libvorbis", "-q:a", "8"}, 0, false, 0.015f},
};

// Source files and their encodings, made once for the whole program.
class EncodedFiles : public ::testing::Test
{
public:
    static QString dir;
    static QString path(const QString& name) { return dir + "/" + name; }

    static void SetUpTestSuite()
    {
        if (!dir.isEmpty())
            return;
        dir = TestAudio::scratchDir("AudioDecoder");
        ASSERT_TRUE(TestAudio::writeFile(path("stereo.wav"), kFrames, 2, 44100,
                                         SF_FORMAT_WAV | SF_FORMAT_PCM_16, music));
        for (const Encoding& e : kEncodings)
            ASSERT_TRUE(TestAudio::ffmpeg(QStringList{"-i", path("stereo.wav")} + e.args +
                                          QStringList{path(e.file)}))
                << e.file;
    }
};

QString EncodedFiles::dir;

class AudioDecoderTest : public EncodedFiles, public ::testing::WithParamInterface<Encoding>
{
};

TEST_P(AudioDecoderTest, LengthIsExactGaplessAndMatchesTheCommandLineDecoder)
{
    const Encoding& e = GetParam();
    const std::vector<float> source = TestAudio::readFile(path("stereo.wav"));
    const Decoded d = decodeAll(path(e.file));
    EXPECT_EQ(d.channels, 2);
    EXPECT_EQ(d.rate, 44100);
    EXPECT_EQ(static_cast<std::int64_t>(d.samples.size()), d.total) << "reported vs delivered";
    const std::int64_t frames = d.total / 2;
    if (e.frameSize) // without a gapless tag the encoder's delay and padding stay in
        EXPECT_TRUE(frames % e.frameSize == 0 && frames > kFrames) << frames;
    else
        EXPECT_EQ(frames, kFrames);

    // The command trims the same way, except that it keeps AAC's end padding in MP4.
    const std::vector<float> command = TestAudio::ffmpegDecode(path(e.file));
    if (e.commandPadsEnd)
        ASSERT_GT(command.size(), d.samples.size());
    else
        ASSERT_EQ(command.size(), d.samples.size());
    EXPECT_TRUE(same(d.samples.data(), command.data(), d.samples.size()));

    if (e.frameSize)
        return;
    ASSERT_EQ(d.samples.size(), source.size());
    if (e.tolerance == 0) {
        EXPECT_TRUE(same(d.samples.data(), source.data(), source.size()));
        return;
    }
    // Codec error, away from the encoders' ramps at both ends. Each tolerance is
    // well below what one frame early or late gives (0.08 and more).
    float worst = 0;
    for (std::size_t i = 4096 * 2; i + 2048 * 2 < source.size(); ++i)
        worst = std::max(worst, std::fabs(d.samples[i] - source[i]));
    EXPECT_LT(worst, e.tolerance) << e.file;
}

INSTANTIATE_TEST_SUITE_P(Encodings, AudioDecoderTest, ::testing::ValuesIn(kEncodings),
                         [](const ::testing::TestParamInfo<Encoding>& info) {
                             return QString(info.param.file).replace('.', '_').toStdString();
                         });

using AudioDecoderDamageTest = EncodedFiles;

// Copies the first `bytes` of a file.
QString cut(const QString& from, const QString& to, qint64 bytes)
{
    EXPECT_TRUE(TestAudio::writeBytes(to, readBytes(from).left(bytes)));
    return to;
}

TEST_F(AudioDecoderDamageTest, FilesThatDoNotOpenReportNothingAndNamesOutsideAsciiOpen)
{
    TestAudio::writeBytes(path("text.mp3"), "not audio at all, just some words\n");
    TestAudio::writeBytes(path("empty.mp3"), QByteArray());
    const QStringList bad{
        path("missing.mp3"), path("text.mp3"), path("empty.mp3"),
        cut(path("tagged.mp3"), path("tiny.mp3"), 7), cut(path("stereo.wav"), path("tiny.wav"), 20),
        // MP4 written by ffmpeg keeps its index at the end: half a file has none.
        cut(path("aac.m4a"), path("half.m4a"), QFile(path("aac.m4a")).size() / 2)};
    for (const QString& file : bad) {
        LogCapture::clear();
        AudioFileAudioDecoder reader(file);
        EXPECT_TRUE(LogCapture::contains("Error opening file \"" + file + "\""))
            << qPrintable(file);
        EXPECT_EQ(reader.getLength(), 0u);
        float buffer[8] = {5, 5, 5, 5, 5, 5, 5, 5};
        EXPECT_EQ(reader.read(buffer, 8), 0u);
        EXPECT_EQ(buffer[0], 5.0f) << "buffer of an empty source untouched";
    }
    const QString unicode = path("Trommel-Schleife üß 日本.mp3");
    ASSERT_TRUE(QFile::copy(path("tagged.mp3"), unicode));
    EXPECT_EQ(AudioFileAudioDecoder(unicode).getLength(), 2ul * kFrames);
}

TEST_F(AudioDecoderDamageTest, CutOffFilesDeliverWhatTheyReportAndTheSamplesBeforeTheCut)
{
    ASSERT_TRUE(TestAudio::ffmpeg({"-i", path("stereo.wav"), "-c:a", "aac", "-movflags",
                                   "+faststart", path("faststart.m4a")}));
    for (const char* name : {"tagged.mp3", "untagged.mp3", "faststart.m4a", "stereo.wav"}) {
        const Decoded whole = decodeAll(path(name));
        const qint64 size = QFile(path(name)).size();
        for (qint64 bytes : {size / 2, size - 100}) {
            const Decoded d = decodeAll(cut(path(name), path("cut") + name, bytes));
            EXPECT_EQ(static_cast<std::int64_t>(d.samples.size()), d.total) << name << bytes;
            EXPECT_GT(d.samples.size(), whole.samples.size() / 3) << name << bytes;
            // A cut MP3 has lost its end padding information: its last frame may run on.
            const std::size_t common = std::min(d.samples.size(), whole.samples.size());
            EXPECT_TRUE(same(d.samples.data(), whole.samples.data(), common)) << name << bytes;
        }
    }
}

// Offset of the box at the end of path ("moov/trak/.../stts") in an MP4 file; -1 if none.
qint64 findBox(const QByteArray& file, const QByteArray& path)
{
    qint64 from = 0, to = file.size(), found = -1;
    for (const QByteArray& type : path.split('/')) {
        found = -1;
        for (qint64 at = from; at + 8 <= to;) {
            const qint64 size = qFromBigEndian<quint32>(file.constData() + at);
            if (file.mid(at + 4, 4) == type) {
                found = at;
                break;
            }
            if (size < 8)
                return -1;
            at += size;
        }
        if (found < 0)
            return -1;
        from = found + 8;
        to = found + qFromBigEndian<quint32>(file.constData() + found);
    }
    return found;
}

// Shapes a fuzzer found: each must open, and deliver exactly what it reports.
TEST_F(AudioDecoderDamageTest, FilesWhosePacketsClaimWhatTheyDoNotHoldDeliverWhatTheyReport)
{
    const QByteArray alac = readBytes(path("alac.m4a"));
    // Packet durations claiming half a gigaframe each: not believed, nor allocated for.
    QByteArray claims = alac;
    const qint64 stts = findBox(claims, "moov/trak/mdia/minf/stbl/stts");
    ASSERT_GT(stts, 0);
    qToBigEndian<quint32>(0x20000000, claims.data() + stts + 20);
    // A movie box whose 64-bit size is the largest there is.
    QByteArray huge = alac;
    const qint64 moov = findBox(huge, "moov");
    ASSERT_GT(moov, 0);
    huge.replace(moov, 8, QByteArray::fromHex("000000016d6f6f767fffffffffffffff"));
    // A FLAC frame cut to its first two bytes: the decoder makes nothing of it,
    // and says nothing either.
    QByteArray flac = readBytes(path("source.flac"));
    qint64 frames = 4;
    for (bool last = false; !last;
         frames += 4 + qFromBigEndian<quint32>(flac.constData() + frames) % 0x1000000)
        last = flac[static_cast<int>(frames)] & 0x80;
    const int second = flac.indexOf(QByteArray::fromHex("fff8"), static_cast<int>(frames) + 2);
    ASSERT_GT(second, 0);
    flac.remove(static_cast<int>(frames) + 2, second - static_cast<int>(frames) - 2);

    // A mono MP3 running on into stereo frames, which have no place in it.
    ASSERT_TRUE(TestAudio::ffmpeg({"-i", path("stereo.wav"), "-ac", "1", "-c:a", "libmp3lame",
                                   "-write_xing", "0", path("mono.mp3")}));
    const QByteArray mixed = readBytes(path("mono.mp3")) + readBytes(path("untagged.mp3"));

    const std::pair<const char*, QByteArray> damaged[] = {
        {"claims.m4a", claims}, {"huge.m4a", huge}, {"cut.flac", flac}, {"mixed.mp3", mixed}};
    for (const auto& file : damaged) {
        ASSERT_TRUE(TestAudio::writeBytes(path(file.first), file.second));
        const Decoded d = decodeAll(path(file.first));
        EXPECT_EQ(static_cast<std::int64_t>(d.samples.size()), d.total) << file.first;
        EXPECT_LE(d.total, 4 * kFrames) << file.first;
        EXPECT_GT(d.total, 0) << file.first;
        // libsndfile, where it opens the file, is held to the same.
        AudioFileSndFile reader(path(file.first));
        std::vector<float> block(4096);
        unsigned long delivered = 0;
        for (unsigned got; (got = reader.read(block.data(), 4096)) > 0;)
            delivered += got;
        EXPECT_EQ(delivered, reader.getLength()) << file.first;
    }
    EXPECT_EQ(decodeAll(path("huge.m4a")).samples, decodeAll(path("alac.m4a")).samples);
}

} // namespace
