#include "DrumLoops.h"
#include "EngineTestSupport.h"
#include "KitFiles.h"
#include "RateConverter.h"
#include "SliceNaming.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

namespace {

struct Outcome
{
    int status = -1;
    QByteArray out, err;
};

// Runs the built tamberlo-slice with the arguments, in dir.
Outcome slice(const QStringList& arguments, const QString& dir)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.start(qEnvironmentVariable("TAMBERLO_SLICE_TOOL"), arguments);
    process.waitForFinished(300000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

class SliceToolTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir =
            TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        loop = DrumLoops::make(77, DrumLoops::Style());
        ASSERT_TRUE(DrumLoops::writeWav(loop, dir + "/funk.03.wav"));
    }
    QString dir;
    DrumLoops::Loop loop;
};

} // namespace

TEST_F(SliceToolTest, ListsEveryFileAsOneJsonLineAndReportsWhatCannotBeRead)
{
    ASSERT_TRUE(TestAudio::writeBytes(dir + "/notes.wav", "not audio at all"));
    const Outcome run = slice({"--list", "funk.03.wav", "notes.wav", "funk.03.wav"}, dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains("notes.wav: cannot be read as audio")) << run.err.constData();
    const QList<QByteArray> lines = run.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], lines[1]);
    const QJsonObject o = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(o["file"].toString(), "funk.03.wav");
    EXPECT_EQ(o["rate"].toInt(), 44100);
    const long frames = long(loop.stereo.size() / 2);
    EXPECT_EQ(o["frames"].toInt(), frames);
    EXPECT_NEAR(o["bpm"].toDouble(), loop.bpm, 0.5);
    // From the first hit to the end, without gaps.
    const QJsonArray slices = o["slices"].toArray();
    ASSERT_GT(slices.size(), 4);
    EXPECT_EQ(slices.last().toObject()["end"].toInt(), frames);
    for (int i = 1; i < slices.size(); ++i)
        EXPECT_EQ(slices[i].toObject()["start"].toInt(), slices[i - 1].toObject()["end"].toInt());

    // The other rules: even slices, bars at a given tempo at the file's own rate.
    const QJsonObject even =
        QJsonDocument::fromJson(slice({"--list", "--even", "4", "funk.03.wav"}, dir).out).object();
    EXPECT_EQ(even["slices"].toArray()[1].toObject()["start"].toInt(), frames / 4);
    const QJsonObject bars =
        QJsonDocument::fromJson(
            slice({"--list", "--bars", "1", "--bpm", "120", "--meter", "3/4", "funk.03.wav"}, dir)
                .out)
            .object();
    EXPECT_EQ(bars["bpm"].toDouble(), 120.0);
    EXPECT_EQ(bars["slices"].toArray()[1].toObject()["start"].toInt(), 66150);
}

TEST_F(SliceToolTest, KitGrooveAndMarkedLoopTakeTheWindowsNamesAndTheMarkersSliceAgain)
{
    const Outcome run =
        slice({"--output", "out", "--even", "4", "--bpm", "100", "--sfz", "--midi", "--markers",
               "--format", "flac", "--bits", "32f", "--rate", "keep", "funk.03.wav"},
              dir);
    ASSERT_EQ(run.status, 0) << run.err.constData();
    const QString out = dir + "/out/";
    EXPECT_EQ(QDir(out).entryList(QDir::Files, QDir::Name),
              QStringList({"funk_03.mid", "funk_03.sfz", "funk_03_1.flac", "funk_03_2.flac",
                           "funk_03_3.flac", "funk_03_4.flac", "funk_03_markers.wav"}));
    // FLAC holds 24 bits at the most.
    const EngineTestSupport::WrittenFile first =
        EngineTestSupport::readWritten(out + "funk_03_1.flac");
    EXPECT_EQ(first.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(first.frames, long(loop.stereo.size() / 8));
    // The kit names the slices as written, at the tempo given.
    QStringList comments;
    const QList<KitFiles::Opcodes> regions =
        KitFiles::parseSfz(SliceTestSupport::readBytes(out + "funk_03.sfz"), &comments);
    ASSERT_EQ(regions.size(), 4);
    EXPECT_EQ(regions.at(3).value("sample"), "funk_03_4.flac");
    EXPECT_EQ(KitFiles::parseMidi(SliceTestSupport::readBytes(out + "funk_03.mid")).tempo, 600000u);

    // With no slicing option, the marked loop is cut where its markers are.
    const QByteArray even = slice({"--list", "--even", "4", "funk.03.wav"}, dir).out;
    const QByteArray marked = slice({"--list", "out/funk_03_markers.wav"}, dir).out;
    EXPECT_EQ(QJsonDocument::fromJson(marked).object()["slices"],
              QJsonDocument::fromJson(even).object()["slices"]);
    // What exists stops that input before anything is written.
    EXPECT_EQ(slice({"--output", "out", "--markers", "funk.03.wav"}, dir).status, 1);
    EXPECT_FALSE(QFileInfo::exists(out + "funk_03_1.wav"));
}

TEST_F(SliceToolTest, WritesNumberedSlicesWithFadedEdgesAndNeverReplacesAFile)
{
    // At 96 kHz, the slices converted to 44.1 kHz add up to the loop converted.
    DrumLoops::Style style;
    style.rate = 96000;
    const DrumLoops::Loop loop96 = DrumLoops::make(78, style);
    ASSERT_TRUE(DrumLoops::writeWav(loop96, dir + "/hi.wav"));
    ASSERT_EQ(slice({"--output", "hi", "--even", "7", "--fade", "0.01", "hi.wav"}, dir).status, 0);
    const Outcome run =
        slice({"--output", "out", "--fade", "2", "--jobs", "2", "funk.03.wav"}, dir);
    ASSERT_EQ(run.status, 0) << run.err.constData();
    const QStringList written = QDir(dir + "/out").entryList(QDir::Files, QDir::Name);
    ASSERT_GT(written.size(), 4);
    // As File > Save Slices names them.
    const QString first =
        SliceNaming::numbered(dir + "/out/" + SliceNaming::stem("funk.03.wav") + ".wav", 1);
    EXPECT_TRUE(QFileInfo::exists(first)) << first.toStdString();
    quint64 total = 0;
    for (const QString folder : {"out", "hi"}) {
        for (const QString& name : QDir(dir + "/" + folder).entryList(QDir::Files)) {
            int channels = 0, rate = 0;
            const std::vector<float> s =
                TestAudio::readFile(dir + "/" + folder + "/" + name, &channels, &rate);
            ASSERT_EQ(channels, 2);
            ASSERT_EQ(rate, 44100);
            ASSERT_GE(s.size(), 4u);
            for (size_t i : {size_t(0), size_t(1), s.size() - 2, s.size() - 1})
                EXPECT_LE(std::fabs(s[i]), 1.0f / 256) << name.toStdString();
            total += folder == QLatin1String("hi") ? s.size() / 2 : 0;
        }
    }
    EXPECT_EQ(total, RateConverter::convertedLength(loop96.stereo.size() / 2, 96000, 44100));

    // A second run would replace them: it stops for that input instead.
    const QDateTime before = QFileInfo(first).lastModified();
    const Outcome again = slice({"--output", "out", "funk.03.wav"}, dir);
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.contains("exists")) << again.err.constData();
    EXPECT_EQ(QFileInfo(first).lastModified(), before);
}

TEST_F(SliceToolTest, BadOptionsGiveUsageAndStatusTwo)
{
    for (const QStringList& args : {QStringList{"--list"},
                                    {"--list", "--even", "0", "a.wav"},
                                    {"--bogus", "a.wav"},
                                    {"--list", "--even", "4", "--bars", "2", "a.wav"},
                                    {"--output", "o", "--format", "mp3", "a.wav"},
                                    {"--list", "--output", "o", "a.wav"},
                                    {"--list", "--sensitivity", "101", "a.wav"},
                                    {"--list", "--sfz", "a.wav"},
                                    {"--output", "o", "--midi=yes", "a.wav"},
                                    {"--output", "o", "--bits", "20", "a.wav"},
                                    {"--output", "o", "--rate", "48000", "a.wav"}}) {
        const Outcome run = slice(args, dir);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("Usage: tamberlo-slice")) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    // Asked for, the usage goes to standard output and is no failure.
    const Outcome help = slice({"--help"}, dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("Usage: tamberlo-slice"));
}
