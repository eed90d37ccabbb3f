#include "SliceEngine.h"

#include "AudioCache.h"
#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "LogCapture.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "StreamingAudioFile.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <csignal>

#include <memory>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

class SliceEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir =
            TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        useFreshSettings(m_dir + "/data", silentDevices());
        LogCapture::clear();
        m_engine.reset(new SliceEngine());
    }

    void TearDown() override { m_engine.reset(); }

    // Loads the loop and waits until it is decoded.
    void loadLoop(const QString& path)
    {
        ASSERT_TRUE(m_engine->getKerfer()->slotLoadLoop(path));
        ASSERT_TRUE(waitFilled(m_engine->getKerfer()->getLoop()->getAudioCache().data()));
    }

    // Renders blocks of the engine's output, as the callback would: cleared first.
    std::vector<float> renderBlocks(unsigned block, int count)
    {
        std::vector<float> out(static_cast<size_t>(block) * count, 0.0f);
        for (int b = 0; b < count; ++b)
            m_engine->render(out.data() + static_cast<size_t>(b) * block, block);
        return out;
    }

    QString m_dir;
    std::unique_ptr<SliceEngine> m_engine;
};

TEST_F(SliceEngineTest, BuildsSilentWithoutADeviceAndSavesSettingsOnDestruction)
{
    EXPECT_TRUE(LogCapture::containsAll({"Audio device", "99", "not found"}));
    EXPECT_NE(m_engine->getAudioOutputDevice(), nullptr);
    EXPECT_EQ(m_engine->getBPM(), 120u);
    EXPECT_EQ(m_engine->getBankSampler()->getMasterTempo(), 120);
    EXPECT_EQ(renderBlocks(2048, 4), std::vector<float>(8192, 0.0f));

    // Settings written during the run reach the file when the engine goes.
    Settings::instance()->setSetting("AudioDeviceBufferSize", "512");
    m_engine.reset();
    EXPECT_TRUE(LogCapture::contains("delete SliceEngine"));
    QFile file(Settings::instance()->getFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    EXPECT_TRUE(saved.contains("<AudioDeviceBufferSize>512</AudioDeviceBufferSize>"));

    // A disk that fills up at shutdown keeps the settings of the last run.
    m_engine.reset(new SliceEngine());
    Settings::instance()->setSetting("SampleLibPath", "/a/library/of/samples/somewhere/else");
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    rlimit small = limit;
    small.rlim_cur = static_cast<rlim_t>(saved.size());
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    m_engine.reset();
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), saved);
    EXPECT_TRUE(LogCapture::contains("Failed to write settings.xml"));
}

TEST_F(SliceEngineTest, RenderAddsLoopPadsAndPreviewExactlyAndRecordersTakeAllButThePreview)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 30000);
    const QString padPath = writeSine(m_dir, "pad.wav", 440.0, 20000, 44100, 2);
    const QString previewPath = m_dir + "/preview.wav";
    ASSERT_TRUE(TestAudio::writeFile(previewPath, 40000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                     [](long frame, int) { return (frame % 7) * 0.01f; }));
    const std::vector<float> preview = TestAudio::readFile(previewPath);

    // The same sounds, each played alone by a component of its own.
    const unsigned block = 1024;
    const int blocks = 20;
    Kerfer kerferAlone;
    ASSERT_TRUE(kerferAlone.slotLoadLoop(loopPath));
    ASSERT_TRUE(waitFilled(kerferAlone.getLoop()->getAudioCache().data()));
    BankSampler bankAlone;
    bankAlone.loadSample(3, padPath, 0, 1.0, 0, 0, 0, 0.5f, false, "None");
    ASSERT_TRUE(waitFilled(bankAlone.getSample(3)->getAudioCache().data()));
    kerferAlone.playSlice(0);
    bankAlone.triggerSample(3);
    std::vector<float> loopOut(block * blocks, 0.0f);
    std::vector<float> padOut(block * blocks, 0.0f);
    for (int b = 0; b < blocks; ++b) {
        kerferAlone.render(loopOut.data() + b * block, block);
        bankAlone.render(padOut.data() + b * block, block);
    }
    ASSERT_NE(loopOut, std::vector<float>(loopOut.size(), 0.0f));
    ASSERT_NE(padOut, std::vector<float>(padOut.size(), 0.0f));

    loadLoop(loopPath);
    m_engine->getBankSampler()->loadSample(3, padPath, 0, 1.0, 0, 0, 0, 0.5f, false, "None");
    ASSERT_TRUE(waitFilled(m_engine->getBankSampler()->getSample(3)->getAudioCache().data()));
    m_engine->playPreview(previewPath);
    m_engine->getKerfer()->playSlice(0);
    m_engine->getBankSampler()->triggerSample(3);
    LoopingSampler* looper = m_engine->getLoopingSamplerBank()->getLoopers().at(0);
    looper->setRecordingState(RecordingState::Recording);
    const std::vector<float> mixed = renderBlocks(block, blocks);
    looper->setRecordingState(RecordingState::Off);

    // No gain, no clipping: each sample is the plain sum, in render order.
    const std::vector<float>& take = *looper->getLoop()->getAudioBuffer();
    ASSERT_EQ(take.size(), mixed.size());
    for (size_t i = 0; i < mixed.size(); ++i) {
        ASSERT_EQ(mixed[i], (loopOut[i] + padOut[i]) + preview[i]) << i;
        ASSERT_EQ(take[i], loopOut[i] + padOut[i]) << i;
    }
}

TEST_F(SliceEngineTest, NewProjectEmptiesThePadsOnly)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 30000);
    loadLoop(loopPath);
    m_engine->getKerfer()->addSlicePoint(20000);
    m_engine->setBPM(97);
    m_engine->getBankSampler()->loadSample(0, loopPath, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    m_engine->getBankSampler()->loadSample(15, loopPath, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    m_engine->getKerfer()->playLoop(true);

    m_engine->newProject();
    for (int pad = 0; pad < BankSampler::PadCount; ++pad)
        EXPECT_FALSE(m_engine->getBankSampler()->hasSample(pad)) << pad;
    EXPECT_EQ(m_engine->getKerfer()->getLoop()->getFilename(), loopPath);
    EXPECT_TRUE(m_engine->getKerfer()->getLoop()->isPlaying());
    EXPECT_EQ(m_engine->getKerfer()->getSlicePoints(), QList<unsigned long>{20000});
    EXPECT_EQ(m_engine->getBPM(), 97u);
    EXPECT_EQ(m_engine->getBankSampler()->getMasterTempo(), 97);
}

TEST_F(SliceEngineTest, ALaterPreviewReplacesTheEarlierOne)
{
    const QString first = m_dir + "/first.wav";
    const QString second = m_dir + "/second.wav";
    ASSERT_TRUE(TestAudio::writeFile(first, 10000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                     [](long, int) { return 0.75f; }));
    ASSERT_TRUE(TestAudio::writeFile(second, 10000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    m_engine->playPreview(first);
    m_engine->playPreview(second);
    const std::vector<float> out = renderBlocks(2048, 12);
    const std::vector<float> file = TestAudio::readFile(second);
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], i < file.size() ? file[i] : 0.0f) << i;

    // A file that cannot be read previews as silence.
    m_engine->playPreview(m_dir + "/missing.wav");
    EXPECT_EQ(renderBlocks(512, 2), std::vector<float>(1024, 0.0f));
}

TEST_F(SliceEngineTest, SliceExportWritesEachSliceBetweenTheMarkersUnderNumberedNames)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 60000);
    const std::vector<float> audio = stereoSamples(loopPath);
    loadLoop(loopPath);
    Kerfer* kerfer = m_engine->getKerfer();
    kerfer->setStartMarker(10000);
    kerfer->setEndMarker(100001);
    // Points outside the markers and a duplicate (from a move) cut nothing.
    for (unsigned long point : {4000ul, 30000ul, 50000ul, 110000ul})
        kerfer->addSlicePoint(point);
    kerfer->moveSlicePoint(50000, 30000);

    const QString out = m_dir + "/out";
    ASSERT_TRUE(QDir().mkpath(out));
    const QStringList written = m_engine->exportSlices(out + "/kit.wav");
    EXPECT_EQ(written, (QStringList{out + "/kit_1.wav", out + "/kit_2.wav"}));
    const std::pair<size_t, size_t> ranges[] = {{10000, 30000}, {30000, 100000}};
    for (int i = 0; i < 2; ++i) {
        const WrittenFile file = readWritten(written.at(i));
        std::vector<float> expected;
        for (size_t s = ranges[i].first; s < ranges[i].second; ++s)
            expected.push_back(pcm16(audio[s]));
        EXPECT_EQ(file.samples, expected) << i;
    }
    ASSERT_EQ(m_engine->getExportList().size(), 2);
    EXPECT_EQ(m_engine->getExportList().at(1)->getLength(), 70000u);

    // Unchanged cuts keep their pieces; the list follows every change.
    const QList<QSharedPointer<Slice>> pieces = m_engine->getExportList();
    m_engine->updateExportList();
    EXPECT_EQ(m_engine->getExportList(), pieces);
    kerfer->clearSlicePoints();
    kerfer->addSlicePoint(40000);
    kerfer->addSlicePoint(70000);
    EXPECT_EQ(
        m_engine->exportSlices(out + "/my.beat.wav"),
        (QStringList{out + "/my_1.beat.wav", out + "/my_2.beat.wav", out + "/my_3.beat.wav"}));
    EXPECT_EQ(readWritten(out + "/my_3.beat.wav").frames, 15000);
    EXPECT_EQ(m_engine->exportSlices(out + "/beat").size(), 3);
    EXPECT_TRUE(QFile::exists(out + "/beat_1."));
    EXPECT_EQ(readWritten(out + "/beat_2.").format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);

    // A folder that cannot be written: nothing is reported written.
    EXPECT_EQ(m_engine->exportSlices(loopPath + "/x.wav"), QStringList());

    // Another loop of the same length with the same cuts: its own audio.
    const QString otherPath = m_dir + "/other.wav";
    ASSERT_TRUE(TestAudio::writeFile(otherPath, 60000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                     [](long, int) { return 0.125f; }));
    const QList<QSharedPointer<Slice>> before = m_engine->getExportList();
    loadLoop(otherPath);
    kerfer->setStartMarker(10000);
    kerfer->setEndMarker(100001);
    kerfer->addSlicePoint(40000);
    kerfer->addSlicePoint(70000);
    ASSERT_EQ(m_engine->exportSlices(out + "/other.wav").size(), 3);
    EXPECT_NE(m_engine->getExportList().at(0), before.at(0));
    EXPECT_EQ(readWritten(out + "/other_1.wav").samples, std::vector<float>(30000, 0.125f));

    // Without a loop there is nothing to export.
    ASSERT_FALSE(kerfer->slotLoadLoop(m_dir + "/missing.wav"));
    EXPECT_EQ(m_engine->exportSlices(out + "/none.wav"), QStringList());
    EXPECT_TRUE(m_engine->getExportList().isEmpty());
}

TEST_F(SliceEngineTest, SingleExportsAndExportToPad)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 30000);
    loadLoop(loopPath);
    QSharedPointer<Slice> loop = m_engine->getKerfer()->getLoop();
    const QString one = m_dir + "/one.wav";
    EXPECT_TRUE(m_engine->exportSlice(loop.data(), one));
    EXPECT_EQ(readWritten(one).frames, 30000);
    EXPECT_FALSE(m_engine->exportSlice(nullptr, one));

    m_engine->getBankSampler()->loadSample(2, m_dir + "/gone.wav", 0, 1.0, 0, 0, 0, 1.0f, false,
                                           "None");
    EXPECT_FALSE(m_engine->exportSlice(m_engine->getBankSampler()->getSample(2).data(),
                                       m_dir + "/gone_out.wav"));

    m_engine->getBankSampler()->addToChokeGroup(4, "Hi-hats");
    m_engine->exportToPad(4, one);
    QSharedPointer<Slice> pad = m_engine->getBankSampler()->getSample(4);
    ASSERT_TRUE(pad);
    // The pad's defaults: unpitched, unstretched, once, whole, no group.
    EXPECT_EQ(pad->getFilename(), one);
    EXPECT_EQ(QString("%1 %2 %3 %4 %5 %6 %7 %8")
                  .arg(pad->getPitch())
                  .arg(pad->getTimeStretchRatio())
                  .arg(pad->getLoopMode())
                  .arg(pad->getLoopStart())
                  .arg(pad->getLoopEnd())
                  .arg(static_cast<double>(pad->getGain()))
                  .arg(pad->isReversed())
                  .arg(pad->getChokeGroup()),
              "0 1 0 0 60000 1 0 None");
}

TEST_F(SliceEngineTest, LoopExportRendersTheLoopLengthAsFloatWavAndServesThePreviewInPieces)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 60000);
    loadLoop(loopPath);
    m_engine->getKerfer()->setStartMarker(20000);
    m_engine->getKerfer()->addSlicePoint(50000);

    // Nothing playing: silence of the loop's length between the markers.
    const QString silent = m_dir + "/silent.wav";
    ASSERT_TRUE(m_engine->exportLoop(silent));
    WrittenFile file = readWritten(silent);
    EXPECT_EQ(file.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(file.channels, 2);
    EXPECT_EQ(file.rate, 44100);
    EXPECT_EQ(file.frames, 50000);
    EXPECT_EQ(file.samples, std::vector<float>(100000, 0.0f));
    EXPECT_TRUE(LogCapture::containsAll({"wrote", "100000", "frames"}));

    // A preview far longer than its 4096-sample buffer, exported in one go.
    const QString previewPath = m_dir + "/preview.wav";
    ASSERT_TRUE(
        TestAudio::writeFile(previewPath, 80000, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT));
    const std::vector<float> preview = TestAudio::readFile(previewPath);
    m_engine->playPreview(previewPath);
    const QString mixed = m_dir + "/mixed.wav";
    ASSERT_TRUE(m_engine->exportLoop(mixed));
    file = readWritten(mixed);
    ASSERT_EQ(file.samples.size(), 100000u);
    EXPECT_EQ(file.samples, std::vector<float>(preview.begin(), preview.begin() + 100000));
    // Exporting advanced the preview as playback would: the rest follows.
    const std::vector<float> after = renderBlocks(1024, 2);
    EXPECT_EQ(after, std::vector<float>(preview.begin() + 100000, preview.begin() + 102048));

    // The loop playing, the export holds its output.
    m_engine->playPreview(m_dir + "/missing.wav");
    m_engine->getKerfer()->playLoop(true);
    const QString playing = m_dir + "/playing.wav";
    ASSERT_TRUE(m_engine->exportLoop(playing));
    file = readWritten(playing);
    EXPECT_EQ(file.frames, 50000);
    EXPECT_NE(file.samples, std::vector<float>(100000, 0.0f));

    // A folder that cannot be written.
    const QString blocked = m_dir + "/blocked";
    ASSERT_TRUE(TestAudio::writeBytes(blocked, "x"));
    EXPECT_FALSE(m_engine->exportLoop(blocked + "/loop.wav"));
    EXPECT_TRUE(LogCapture::containsAll({"Error opening file", "blocked/loop.wav"}));
}

TEST_F(SliceEngineTest, HardwareBuffersLargerThanTheResamplersTakeAreServedInPieces)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 100000);
    loadLoop(loopPath);
    QSharedPointer<Slice> alone = loadFilled(loopPath);
    alone->play(true, 0.0, 1.0);
    const std::vector<float> expected = renderAll(*alone, 8192, 8);

    m_engine->getKerfer()->playLoop(true);
    const std::vector<float> big = renderBlocks(65536, 1);
    EXPECT_EQ(big, std::vector<float>(expected.begin(), expected.begin() + 65536));
}

} // namespace
