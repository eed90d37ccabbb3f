#include "SliceEngine.h"

#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "ExportFormat.h"
#include "Kerfer.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "MidiEvents.h"
#include "MidiInputDevice.h"
#include "Slice.h"
#include "SliceFileFormat.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"
#include "UserSliceFiles.h"

#include <QFileInfo>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <memory>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

class SliceEngineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir("engine");
        useFreshSettings(m_dir + "/data", silentDevices());
        m_engine.reset(new SliceEngine());
    }

    void loadLoop(const QString& path)
    {
        ASSERT_TRUE(m_engine->getKerfer()->slotLoadLoop(path));
        ASSERT_TRUE(waitFilled(m_engine->getKerfer()->getLoop()->getAudioCache().data()));
    }

    // Blocks of output as the device callback asks for them: cleared first.
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

TEST_F(SliceEngineTest, RenderSumsLoopPadAndPreviewExactlyAndRecordersTakeAllButThePreview)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 30000);
    const QString padPath = writeSine(m_dir, "pad.wav", 440.0, 20000, 44100, 2);
    const QString previewPath = writeWav(m_dir, "preview.wav", 40000);
    const std::vector<float> preview = TestAudio::readFile(previewPath);

    // The same sounds, each played alone.
    const unsigned block = 1024, blocks = 20;
    QSharedPointer<Slice> loopAlone = loadFilled(loopPath);
    loopAlone->play(true, 0.0, 1.0);
    const std::vector<float> loopOut = renderAll(*loopAlone, block, blocks);
    BankSampler bankAlone;
    for (BankSampler* bank : {&bankAlone, m_engine->getBankSampler()}) {
        bank->loadSample(3, padPath, 0, 1.0, 0, 0, 0, 0.5f, false, "None");
        ASSERT_TRUE(waitFilled(bank->getSample(3)->getAudioCache().data()));
        bank->triggerSample(3);
    }
    std::vector<float> padOut(block * blocks, 0.0f);
    for (unsigned b = 0; b < blocks; ++b)
        bankAlone.render(padOut.data() + b * block, block);
    ASSERT_EQ(loopOut.size(), padOut.size());
    ASSERT_NE(padOut, std::vector<float>(padOut.size(), 0.0f));

    loadLoop(loopPath);
    m_engine->playPreview(previewPath);
    m_engine->getKerfer()->playLoop(true);
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

TEST_F(SliceEngineTest, OneShotSlicesAndPadsEndInSilence)
{
    // The digit key plays the first slice, a pad in loop mode 0 its file; after
    // them comes silence, not the beginning of the loop or of the pad.
    const QString loopPath = writeWav(m_dir, "loop.wav", 40000);
    const std::vector<float> loop = stereoSamples(loopPath);
    const QString padPath = writeWav(m_dir, "pad.wav", 9000);
    const std::vector<float> pad = stereoSamples(padPath);
    loadLoop(loopPath);
    m_engine->getKerfer()->addSlicePoint(30000);
    BankSampler* bank = m_engine->getBankSampler();
    bank->loadSample(0, padPath, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    ASSERT_TRUE(waitFilled(bank->getSample(0)->getAudioCache().data()));
    m_engine->getKerfer()->playSlice(0);
    bank->triggerSample(0);
    const std::vector<float> out = renderBlocks(2048, 24);
    for (size_t i = 0; i < out.size(); ++i) {
        const float expected = (i < 30000 ? loop[i] : 0.0f) + (i < pad.size() ? pad[i] : 0.0f);
        ASSERT_NEAR(out[i], expected, 1e-3) << i;
    }
}

TEST_F(SliceEngineTest, NewProjectEmptiesThePadsOnly)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 30000);
    loadLoop(loopPath);
    m_engine->getKerfer()->addSlicePoint(20000);
    m_engine->setBPM(97);
    for (int pad : {0, 15})
        m_engine->getBankSampler()->loadSample(pad, loopPath, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
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

TEST_F(SliceEngineTest, SliceExportCutsBetweenTheMarkersAndFollowsEveryChange)
{
    // Without a loop there is nothing to export.
    EXPECT_EQ(m_engine->exportSlices(m_dir + "/none.wav"), QStringList());
    const QString loopPath = writeWav(m_dir, "loop.wav", 60000);
    const std::vector<float> audio = stereoSamples(loopPath);
    loadLoop(loopPath);
    Kerfer* kerfer = m_engine->getKerfer();
    // The odd end marker rounds down to a frame; points outside the markers and a
    // duplicate left by a move cut nothing.
    const auto cut = [kerfer](const QList<unsigned long>& points) {
        kerfer->setStartMarker(10000);
        kerfer->setEndMarker(100001);
        kerfer->clearSlicePoints();
        for (unsigned long point : points)
            kerfer->addSlicePoint(point);
    };
    cut({4000, 30000, 50000, 110000});
    kerfer->moveSlicePoint(50000, 30000);
    const QStringList written = m_engine->exportSlices(m_dir + "/kit.wav");
    ASSERT_EQ(written, (QStringList{m_dir + "/kit_1.wav", m_dir + "/kit_2.wav"}));
    // The ramp lies on the 16-bit grid: written as it is.
    EXPECT_EQ(readWritten(written.at(0)).samples, pick(audio, {{10000, 30000}}));
    EXPECT_EQ(readWritten(written.at(1)).samples, pick(audio, {{30000, 100000}}));

    // The loop export, nothing playing: silence of the length between the markers.
    ASSERT_TRUE(m_engine->exportLoop(m_dir + "/loop-out.wav"));
    const WrittenFile loopOut = readWritten(m_dir + "/loop-out.wav");
    EXPECT_EQ(loopOut.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(loopOut.samples, std::vector<float>(90000, 0.0f));
    EXPECT_FALSE(m_engine->exportLoop(loopPath + "/x.wav"));

    // New cuts; the number goes before the name's first dot.
    cut({40000, 70000});
    EXPECT_EQ(m_engine->exportSlices(m_dir + "/my.beat.wav"),
              (QStringList{m_dir + "/my_1.beat.wav", m_dir + "/my_2.beat.wav",
                           m_dir + "/my_3.beat.wav"}));
    EXPECT_EQ(readWritten(m_dir + "/my_3.beat.wav").frames, 15000);
    QList<AudioExporter::Failure> failed;
    EXPECT_EQ(m_engine->exportSlices(loopPath + "/x.wav", &failed), QStringList());
    ASSERT_EQ(failed.size(), 3);
    EXPECT_EQ(failed.at(2).fileName, loopPath + "/x_3.wav");
    EXPECT_TRUE(failed.at(2).reason.startsWith("cannot create the file"))
        << qPrintable(failed.at(2).reason);
}

TEST_F(SliceEngineTest, ExportsOfA96kLoopLastExactlyTheLoopConverted)
{
    // 1.7533 s at 96 kHz: 168321 frames make 77322.46 at 44.1 kHz.
    const QString loopPath = writeSine(m_dir, "loop96.wav", 3000.0, 168321, 96000, 2);
    loadLoop(loopPath);
    Kerfer* kerfer = m_engine->getKerfer();
    kerfer->sliceEvenly(8);
    const QStringList written = m_engine->exportSlices(m_dir + "/kit.wav");
    ASSERT_EQ(written.size(), 8);
    long total = 0;
    for (const QString& file : written)
        total += readWritten(file).frames;
    EXPECT_EQ(total, 77322);

    // In float, the slices back to back are the loop converted whole.
    ExportFormat exact;
    exact.sample = ExportFormat::Sample::Float32;
    ASSERT_EQ(m_engine->exportSlices(m_dir + "/f.wav", exact).size(), 8);
    std::vector<float> joined;
    for (int i = 1; i <= 8; ++i) {
        const std::vector<float> part = readWritten(m_dir + QString("/f_%1.wav").arg(i)).samples;
        joined.insert(joined.end(), part.begin(), part.end());
    }
    const QSharedPointer<Slice> loop = kerfer->getLoop();
    ASSERT_TRUE(loop->save(m_dir + "/whole.wav", 0, 0, exact));
    EXPECT_EQ(joined, readWritten(m_dir + "/whole.wav").samples);

    // The loop export: the same length at 44.1 kHz, the loop's own at its rate.
    ASSERT_TRUE(m_engine->exportLoopFromStart(m_dir + "/loop-out.wav"));
    EXPECT_EQ(readWritten(m_dir + "/loop-out.wav").frames, 77322);
    exact.rate = ExportFormat::Rate::Source;
    ASSERT_TRUE(m_engine->exportLoopFromStart(m_dir + "/loop-own.wav", exact));
    const WrittenFile own = readWritten(m_dir + "/loop-own.wav");
    EXPECT_EQ(own.rate, 96000);
    EXPECT_EQ(own.frames, 168321);
    EXPECT_FALSE(loop->isPlaying());
}

TEST_F(SliceEngineTest, SlicesGoToPadsAndOutOfTheWindowAsNewFilesHoldingExactlyTheSlice)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 60000);
    const std::vector<float> audio = stereoSamples(loopPath);
    loadLoop(loopPath);
    Kerfer* kerfer = m_engine->getKerfer();
    kerfer->setStartMarker(2000);
    for (unsigned long point : {20000ul, 50000ul, 90000ul})
        kerfer->addSlicePoint(point);
    // A file of the first slice's name is there already: it stays as it is.
    const QString pads = UserSliceFiles::folder(UserSliceFiles::kPadsFolder);
    ASSERT_TRUE(TestAudio::writeBytes(pads + "/loop_1.wav", "mine"));
    const ExportFormat format = SliceFileFormat::fromSettings();
    EXPECT_EQ(m_engine->slicesToPads(format), 4);
    EXPECT_EQ(readBytes(pads + "/loop_1.wav"), "mine");
    BankSampler* bank = m_engine->getBankSampler();
    EXPECT_EQ(bank->getSample(0)->getFilename(), pads + "/loop_1-2.wav");
    EXPECT_FALSE(bank->hasSample(4));

    EXPECT_EQ(readWritten(bank->getSample(2)->getFilename()).samples,
              pick(audio, {{50000, 90000}}));

    // Slice 3 plays on note 38 (through the pad's resampler: not bit for bit).
    ASSERT_TRUE(waitFilled(bank->getSample(2)->getAudioCache().data()));
    MidiInputDevice midi(bank, m_engine->getLoopingSamplerBank());
    const PmEvent note = MidiEvents::shortMessage(0x90, 38, 100);
    midi.handleEvents(&note, 1);
    const std::vector<float> out = renderBlocks(1024, 30);
    const std::vector<float> slice3 = pick(audio, {{50000, 50000 + unsigned(out.size())}});
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_NEAR(out[i], slice3[i], 1e-3) << i;

    // Dragged out: the slice under the press.
    const QString dragged =
        UserSliceFiles::writeSlice(kerfer, 20000, UserSliceFiles::kDragFolder, format);
    EXPECT_EQ(QFileInfo(dragged).fileName(), "loop_2.wav");
    EXPECT_EQ(readWritten(dragged).samples, pick(audio, {{20000, 50000}}));
}

// The slices' resamplers take at most 16384 samples per call.
TEST_F(SliceEngineTest, HardwareBuffersLargerThanTheResamplersTakeAreServedInPieces)
{
    const QString loopPath = writeWav(m_dir, "loop.wav", 100000);
    loadLoop(loopPath);
    QSharedPointer<Slice> alone = loadFilled(loopPath);
    alone->play(true, 0.0, 1.0);
    const std::vector<float> expected = renderAll(*alone, 8192, 8);

    m_engine->getKerfer()->playLoop(true);
    EXPECT_EQ(renderBlocks(65536, 1),
              std::vector<float>(expected.begin(), expected.begin() + 65536));
}

} // namespace
