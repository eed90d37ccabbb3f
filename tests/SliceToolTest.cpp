#include "DrumLoops.h"
#include "SliceNaming.h"
#include "TestAudio.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

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

TEST_F(SliceToolTest, WritesNumberedSlicesWithFadedEdgesAndNeverReplacesAFile)
{
    const Outcome run =
        slice({"--output", "out", "--fade", "2", "--jobs", "2", "funk.03.wav"}, dir);
    ASSERT_EQ(run.status, 0) << run.err.constData();
    const QStringList written = QDir(dir + "/out").entryList(QDir::Files, QDir::Name);
    ASSERT_GT(written.size(), 4);
    // As File > Save Slices names them.
    const QString first =
        SliceNaming::numbered(dir + "/out/" + SliceNaming::stem("funk.03.wav") + ".wav", 1);
    EXPECT_TRUE(QFileInfo::exists(first)) << first.toStdString();
    for (const QString& name : written) {
        int channels = 0, rate = 0;
        const std::vector<float> s = TestAudio::readFile(dir + "/out/" + name, &channels, &rate);
        ASSERT_EQ(channels, 2);
        ASSERT_EQ(rate, 44100);
        ASSERT_GE(s.size(), 4u);
        for (size_t i : {size_t(0), size_t(1), s.size() - 2, s.size() - 1})
            EXPECT_LE(std::fabs(s[i]), 1.0f / 256) << name.toStdString();
    }

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
                                    {"--list", "--sensitivity", "101", "a.wav"}}) {
        const Outcome run = slice(args, dir);
        EXPECT_EQ(run.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("Usage: tamberlo-slice")) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    const Outcome help = slice({"--help"}, dir);
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--hits", "--sensitivity", "--even", "--beats", "--bars", "--bpm", "--meter",
          "--template", "--list", "--output", "--format", "--fade", "--jobs", "--quiet"})
        EXPECT_TRUE(help.out.contains(option)) << option;
}
