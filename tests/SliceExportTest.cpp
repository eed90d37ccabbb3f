#include "EngineTestSupport.h"
#include "ExportFormat.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

const double kLsb = 1.0 / 32768.0;

// A float WAV whose channel c at frame f holds tones(f / rate, c); the path.
QString writeTones(const QString& path, long frames, int rate,
                   const std::function<double(double, int)>& tones)
{
    const bool ok = TestAudio::writeFile(
        path, frames, 2, rate, SF_FORMAT_WAV | SF_FORMAT_FLOAT, [&](long frame, int channel) {
            return static_cast<float>(tones(static_cast<double>(frame) / rate, channel));
        });
    return ok ? path : QString();
}

double sine(double hz, double t)
{
    return std::sin(2.0 * M_PI * hz * t);
}

// Amplitude of one frequency in a channel of 44.1 kHz stereo, frames [from, to),
// Hann-windowed so that the other tones do not leak into it.
double amplitude(const std::vector<float>& stereo, int channel, double hz, size_t from, size_t to)
{
    double re = 0.0, im = 0.0, weights = 0.0;
    for (size_t f = from; f < to; ++f) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * (f - from) / (to - from));
        re += w * stereo[2 * f + channel] * std::cos(2.0 * M_PI * hz * f / 44100.0);
        im += w * stereo[2 * f + channel] * std::sin(2.0 * M_PI * hz * f / 44100.0);
        weights += w;
    }
    return 2.0 * std::hypot(re, im) / weights;
}

double dB(double ratio)
{
    return 20.0 * std::log10(ratio);
}

class SliceExportTest : public ::testing::Test
{
protected:
    QString m_dir = freshTestDir();
};

TEST_F(SliceExportTest, RangesOfA44kSliceAreWrittenSampleForSampleAs16BitWav)
{
    // Not waited for: save waits for the fill itself. Pitch and gain are not
    // exported. The ramp lies on the 16-bit grid: nothing to round, no dither.
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
        EXPECT_EQ(readWritten(out).samples, pick(audio, {{start, end ? end : 400000}})) << start;
    }
    EXPECT_FALSE(slice->isPlaying());
    EXPECT_EQ(slice->getPlayPos(), 0u);
}

TEST_F(SliceExportTest, SixteenBitsRoundToNearestWithDitherAndClipAtFullScale)
{
    // A -70 dBFS tone on the left (the old conversion took 0.5 LSB off every
    // sample), digital silence on the right, values up to 1.5 in the piece's last part.
    const double quiet = std::pow(10.0, -70.0 / 20.0);
    const QString path = writeTones(m_dir + "/quiet.wav", 90000, 44100, [&](double t, int c) {
        return t > 1.9 ? (c ? -1.5 : 1.5) * std::fmod(t, 0.01) / 0.01
               : c     ? 0.0
                       : quiet * sine(997, t);
    });
    QSharedPointer<Slice> loop = loadFilled(path);
    ASSERT_TRUE(loop);
    // A piece sharing the audio writes its own range.
    Slice piece(loop->getAudioBuffer(), loop->getAudioCache(), 44100, 20000, 160000);
    ASSERT_TRUE(piece.save(m_dir + "/piece.wav", 0, 0));
    const std::vector<float> source = stereoSamples(path);
    const std::vector<float> out = readWritten(m_dir + "/piece.wav").samples;
    ASSERT_EQ(out.size(), 160000u);
    double sum = 0.0;
    const size_t quietEnd = 2 * (83790 - 10000);
    for (size_t i = 0; i < quietEnd; i += 2) {
        const double error = (out[i] - source[20000 + i]) / kLsb;
        ASSERT_LE(std::abs(error), 1.5) << i;
        sum += error;
        ASSERT_EQ(out[i + 1], 0.0f) << i;
    }
    EXPECT_LT(std::abs(sum / (quietEnd / 2)), 0.1);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 32767.0f / 32768.0f);
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), -1.0f);
}

TEST_F(SliceExportTest, OtherRatesConvertToExactLengthsWithoutAliasOrDistortion)
{
    // 48 kHz, 3 s: exactly 132300 frames (not 132129); error and noise far below
    // the music, with the channels kept apart.
    const auto twoTone = [](double t, int c) {
        return (c ? -0.4 : 0.4) * (sine(1000, t) + sine(7000, t));
    };
    QSharedPointer<Slice> slice =
        loadFilled(writeTones(m_dir + "/in48.wav", 144000, 48000, twoTone));
    ASSERT_TRUE(slice && slice->save(m_dir + "/out48.wav", 0, 0));
    const WrittenFile file48 = readWritten(m_dir + "/out48.wav");
    EXPECT_EQ(file48.rate, 44100);
    ASSERT_EQ(file48.frames, 132300);
    double error = 0.0, signal = 0.0;
    for (size_t f = 441; f + 441 < 132300; ++f) {
        for (int c = 0; c < 2; ++c) {
            const double ideal = twoTone(f / 44100.0, c);
            error += std::pow(file48.samples[2 * f + c] - ideal, 2);
            signal += ideal * ideal;
        }
    }
    EXPECT_LT(10.0 * std::log10(error / signal), -80.0);

    // 96 kHz with a 30 kHz tone beside a 1 kHz one: the 14.1 kHz alias stays
    // below -90 dB. 168002 frames make 77175.92: rounded, not cut.
    slice = loadFilled(writeTones(m_dir + "/in96.wav", 168002, 96000, [](double t, int) {
        return 0.45 * (sine(1000, t) + sine(30000, t));
    }));
    ASSERT_TRUE(slice && slice->save(m_dir + "/out96.wav", 0, 0));
    const WrittenFile file96 = readWritten(m_dir + "/out96.wav");
    ASSERT_EQ(file96.frames, 77176);
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(amplitude(file96.samples, c, 1000, 441, 76735), 0.45, 0.001);
        EXPECT_LT(dB(amplitude(file96.samples, c, 14100, 441, 76735) / 0.45), -90.0);
    }
}

TEST_F(SliceExportTest, ContainerFollowsTheNameOrTheFormatGiven)
{
    const QString path = writeWav(m_dir, "loop.wav", 3000, 2, 48000);
    QSharedPointer<Slice> slice = loadFilled(path);
    ASSERT_TRUE(slice);
    const std::pair<const char*, int> cases[] = {
        {"a.aif", SF_FORMAT_AIFF}, {"a.aiff", SF_FORMAT_AIFF}, {"b.AIF", SF_FORMAT_WAV}};
    for (auto [name, major] : cases) {
        ASSERT_TRUE(slice->save(m_dir + "/" + name, 0, 0)) << name;
        const WrittenFile file = readWritten(m_dir + "/" + name);
        EXPECT_EQ(file.format, major | SF_FORMAT_PCM_16) << name;
        EXPECT_EQ(file.frames, 2756) << name;
    }
    // The loop's own rate and a wider format: every sample as it was.
    ExportFormat format;
    format.container = ExportFormat::Container::Flac;
    format.sample = ExportFormat::Sample::Pcm24;
    format.rate = ExportFormat::Rate::Source;
    ASSERT_TRUE(slice->save(m_dir + "/c.flac", 0, 0, format));
    const WrittenFile flac = readWritten(m_dir + "/c.flac");
    EXPECT_EQ(flac.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(flac.rate, 48000);
    EXPECT_EQ(flac.samples, stereoSamples(path));
    format.sample = ExportFormat::Sample::Float32; // FLAC holds no floats
    QString error;
    EXPECT_FALSE(slice->save(m_dir + "/d.flac", 0, 0, format, &error));
    EXPECT_EQ(error, "the file format cannot hold this audio");
}

TEST_F(SliceExportTest, AFailedWriteLeavesNoFileKeepsTheOldOneAndSaysWhy)
{
    QSharedPointer<Slice> slice = loadFilled(writeWav(m_dir, "loop.wav", 100000));
    ASSERT_TRUE(slice);
    // Root ignores permissions; a regular file in place of the folder stops it.
    const QString blocker = m_dir + "/blocker";
    ASSERT_TRUE(TestAudio::writeBytes(blocker, "not a folder"));
    QString error;
    EXPECT_FALSE(slice->save(blocker + "/out.wav", 0, 0, &error));
    EXPECT_TRUE(LogCapture::containsAll({"Error opening file", "blocker/out.wav"}));
    EXPECT_TRUE(error.startsWith("cannot create the file: ")) << error.toStdString();
    // Disk full halfway: the previous export stays whole and nothing else is left.
    const QString target = m_dir + "/out.wav";
    ASSERT_TRUE(slice->save(target, 0, 2000));
    const QByteArray old = readBytes(target);
    EXPECT_FALSE(withFileSizeLimit(64 * 1024, [&] { return slice->save(target, 0, 0, &error); }));
    EXPECT_EQ(error, "cannot write the file: File too large");
    EXPECT_EQ(readBytes(target), old);
    EXPECT_EQ(QDir(m_dir).entryList(QDir::Files | QDir::Hidden),
              (QStringList{"blocker", "loop.wav", "out.wav"}));
    Slice empty(m_dir + "/missing.wav"); // a pad whose file could not be read
    EXPECT_FALSE(empty.save(m_dir + "/empty.wav", 0, 0, &error));
    EXPECT_EQ(error, "the slice holds no audio");
    EXPECT_FALSE(QFile::exists(m_dir + "/empty.wav"));
}

} // namespace
