#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QDir>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

class ProjectFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir("projects");
        useFreshSettings(m_dir + "/data", silentDevices());
        ASSERT_TRUE(QDir().mkpath(m_dir + "/project"));
        ASSERT_TRUE(QDir().mkpath(m_dir + "/samples"));
        m_beside = writeWav(m_dir + "/project", "kick.wav", 4000);
        m_sibling = writeWav(m_dir + "/samples", "hat.wav", 6000);
        LogCapture::clear();
        m_engine.reset(new SliceEngine());
    }

    BankSampler* bank() { return m_engine->getBankSampler(); }
    void loadPlain(int pad)
    {
        bank()->loadSample(pad, m_beside, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    }

    QString m_dir, m_beside, m_sibling;
    std::unique_ptr<SliceEngine> m_engine;
};

// Every property a project keeps of a pad, in one line.
QString describe(const QSharedPointer<Slice>& pad)
{
    if (!pad)
        return "empty";
    return QString("%1 %2 %3 %4 %5 %6 %7 %8 %9")
        .arg(pad->getPitch())
        .arg(pad->getTimeStretchRatio(), 0, 'g', 17)
        .arg(pad->getLoopMode())
        .arg(pad->getLoopStart())
        .arg(pad->getLoopEnd())
        .arg(static_cast<double>(pad->getGain()), 0, 'g', 9)
        .arg(pad->isReversed())
        .arg(pad->getChokeGroup())
        .arg(pad->getLength());
}

TEST_F(ProjectFileTest, TempoAndEveryPadPropertyComeBackWithRelativeNames)
{
    m_engine->setBPM(93);
    bank()->loadSample(0, m_beside, -5, 1.75, 2, 1000, 3000, 0.3f, true, "Hi-hats");
    bank()->loadSample(5, m_sibling, 7, 0.1, 1, 200, 0, 1.0f, false, "Other");
    const QString pad0 = describe(bank()->getSample(0));
    const QString pad5 = describe(bank()->getSample(5));
    EXPECT_EQ(pad0, "-5 1.75 2 1000 3000 0.300000012 1 Hi-hats 8000");
    // The loop with its markers and points, two of them equal as a move leaves them.
    Kerfer* kerfer = m_engine->getKerfer();
    ASSERT_TRUE(kerfer->slotLoadLoop(writeWav(m_dir + "/samples", "loop.wav", 20000)));
    kerfer->setCuts({{500, 10000, 10000, 30000}, 2000, 39001});
    const Kerfer::Cuts cuts = kerfer->getCuts();
    ASSERT_TRUE(m_engine->saveProject(m_dir + "/project/set.tmx"));

    // Into a fresh engine, the project moved with the sample beside it: names are relative.
    m_engine.reset();
    ASSERT_TRUE(QDir().rename(m_dir + "/project", m_dir + "/moved"));
    m_engine.reset(new SliceEngine());
    ASSERT_TRUE(m_engine->loadProject(m_dir + "/moved/set.tmx"));
    EXPECT_EQ(m_engine->getBPM(), 93u);
    EXPECT_EQ(bank()->getMasterTempo(), 93);
    for (int pad = 0; pad < BankSampler::PadCount; ++pad)
        EXPECT_EQ(describe(bank()->getSample(pad)), pad == 0 ? pad0 : pad == 5 ? pad5 : "empty");
    EXPECT_EQ(bank()->getSample(0)->getFilename(), m_dir + "/moved/kick.wav");
    EXPECT_EQ(bank()->getSample(5)->getFilename(), m_dir + "/moved/../samples/hat.wav");
    EXPECT_EQ(bank()->getChokeGroupPads("Hi-hats"), QList<quint32>{0});
    kerfer = m_engine->getKerfer();
    EXPECT_EQ(kerfer->getLoop()->getFilename(), m_dir + "/moved/../samples/loop.wav");
    EXPECT_TRUE(kerfer->getCuts() == cuts);
}

TEST_F(ProjectFileTest, AMissingLoopIsNamedWhileTheRestLoads)
{
    const QString path = m_dir + "/project/set.tmx";
    ASSERT_TRUE(TestAudio::writeBytes(path, R"(<project><Loop filename='../samples/gone.wav'
 startmarker='0' endmarker='100'/><BankSampler><Sample filename='kick.wav' index='3'/>
 </BankSampler></project>)"));
    Kerfer* kerfer = m_engine->getKerfer();
    const QString other = writeWav(m_dir + "/project", "other.wav", 5000);
    ASSERT_TRUE(kerfer->slotLoadLoop(other));
    kerfer->addSlicePoint(600);
    QString missing;
    ASSERT_TRUE(m_engine->loadProject(path, &missing));
    EXPECT_EQ(missing, m_dir + "/project/../samples/gone.wav");
    EXPECT_EQ(kerfer->getLoop()->getFilename(), other);
    EXPECT_EQ(kerfer->getSlicePoints(), QList<unsigned long>{600});
    EXPECT_TRUE(bank()->hasSample(3));

    // Markers that enclose no audio of the file give way to the whole loop; points that
    // are no numbers are left out.
    ASSERT_TRUE(TestAudio::writeBytes(path, R"(<project><Loop filename='other.wav'
 startmarker='9000' endmarker='100'><SlicePoint position='x'/><SlicePoint position='800'/>
 <SlicePoint position='300'/></Loop></project>)"));
    ASSERT_TRUE(m_engine->loadProject(path));
    EXPECT_TRUE(kerfer->getCuts() == (Kerfer::Cuts{{300, 800}, 0, 10000}));
}

TEST_F(ProjectFileTest, MissingAttributesTakeDefaultsAndBadEntriesAreSkipped)
{
    loadPlain(9);
    m_engine->setBPM(101);
    const QString path = m_dir + "/project/hand.tmx";
    ASSERT_TRUE(TestAudio::writeBytes(path, R"(<!DOCTYPE project><project><Unknown/><BankSampler>
 <Sample filename='kick.wav' index='1'/><Sample filename='kick.wav' index='16'/>
 <Sample filename='kick.wav' index='-1'/><Sample filename='gone.wav' index='2'/>
 <Other filename='kick.wav' index='4'/><Sample filename='kick.wav' index='3'/>
 <Sample filename='../samples/hat.wav' index='3' gain='loud' loopend='500'/>
 <Sample filename='kick.wav'/></BankSampler></project>)"));
    ASSERT_TRUE(m_engine->loadProject(path));
    EXPECT_EQ(m_engine->getBPM(), 101u); // no Engine element

    EXPECT_EQ(describe(bank()->getSample(1)), "0 1 0 0 8000 1 0 None 8000");
    EXPECT_TRUE(LogCapture::containsAll({"no pad 16 for", "kick.wav", "skipped"}));
    // A later entry for a pad replaces the earlier; text that is no number reads as 0.
    EXPECT_EQ(bank()->getSample(3)->getFilename(), m_dir + "/project/../samples/hat.wav");
    EXPECT_EQ(bank()->getSample(3)->getGain(), 0.0f);
    EXPECT_EQ(bank()->getSample(3)->getLoopEnd(), 500u);
    EXPECT_TRUE(bank()->hasSample(0)); // no index: pad 0
    // The pad whose file is missing is named in the log; the others loaded.
    EXPECT_TRUE(
        LogCapture::containsAll({"could not load pad 2 from", m_dir + "/project/gone.wav"}));
    EXPECT_EQ(bank()->getSample(2)->getLength(), 0u);
    for (int pad : {4, 9, 15})
        EXPECT_FALSE(bank()->hasSample(pad)) << pad;
}

TEST_F(ProjectFileTest, ValuesBeyondThePadEditorAreKeptToItsRangesAndPlay)
{
    // Shapes a fuzzer found: pitches and ratios that hung or crashed the
    // resampler, some of them on the audio thread.
    const QString path = m_dir + "/project/fuzzed.tmx";
    ASSERT_TRUE(TestAudio::writeBytes(path, QString(R"(<project><Engine bpm="120"/><BankSampler>
 <Sample filename='kick.wav' index='0' semitone='200' loopmode='1' timestretchratio='1e-6'/>
 <Sample filename='kick.wav' index='1' semitone='-1000' timestretchratio='1e38' loopmode='7'/>
 <Sample filename='kick.wav' index='2' semitone='2147483647' loopstart='3' loopend='99999'/>
 <Sample filename='kick.wav' index='3' gain='nan' timestretchratio='inf' chokegroup='%1'/>
 <Sample filename='kick.wav' index='4' gain='-2' loopmode='-1' loopend='1'/>
 </BankSampler></project>)")
                                                .arg(QString(1000, 'x'))
                                                .toUtf8()));
    LogCapture::clear();
    ASSERT_TRUE(m_engine->loadProject(path));
    EXPECT_EQ(describe(bank()->getSample(0)), "24 0.0625 1 0 8000 1 0 None 8000");
    EXPECT_EQ(describe(bank()->getSample(1)), "-24 16 2 0 8000 1 0 None 8000");
    EXPECT_EQ(describe(bank()->getSample(2)), "24 1 0 2 8000 1 0 None 8000");
    EXPECT_EQ(describe(bank()->getSample(3)),
              QString("0 1 0 0 8000 1 0 %1 8000").arg(QString(64, 'x')));
    EXPECT_EQ(describe(bank()->getSample(4)), "0 1 0 0 2 0 0 None 8000");
    for (const char* line : {"Pad 0 pitch 200", "Pad 0 stretch ratio 1e-06", "Pad 1 pitch -1000",
                             "Pad 1 loop mode 7", "Pad 2 loop end 100000", "Pad 3 gain nan",
                             "Pad 3 choke group name of 1000", "Pad 4 gain -2"})
        EXPECT_TRUE(LogCapture::contains(line)) << line;
    // The pad editor is held to the same ranges: a quarter beat at least, and
    // 32 beats of so short a sample is as long as playback stretches.
    bank()->setSemitone(2, -99);
    bank()->setTimeStretchBeats(3, 0.001);
    bank()->setTimeStretchBeats(2, 1e9);
    EXPECT_EQ(bank()->getSample(2)->getPitch(), -24);
    EXPECT_DOUBLE_EQ(bank()->getSample(3)->getTimeStretchRatio(), 11025.0 / 8000);
    EXPECT_EQ(bank()->getSample(2)->getTimeStretchRatio(), 16.0);

    // Every pad plays, looped ones for long; the render keeps returning.
    for (int pad = 0; pad < 5; ++pad)
        bank()->triggerSample(pad);
    std::vector<float> out(4096);
    for (int block = 0; block < 30; ++block)
        m_engine->render(out.data(), out.size());
    EXPECT_TRUE(bank()->getSample(0)->isPlaying());
}

TEST_F(ProjectFileTest, UnreadableProjectsChangeNothing)
{
    m_engine->setBPM(88);
    loadPlain(0);
    const QSharedPointer<Slice> before = bank()->getSample(0);

    EXPECT_FALSE(m_engine->loadProject(m_dir + "/project/none.tmx"));
    const QString broken = m_dir + "/project/broken.tmx";
    ASSERT_TRUE(
        TestAudio::writeBytes(broken, "<project><Engine bpm=\"60\"/><BankSampler></project>"));
    EXPECT_FALSE(m_engine->loadProject(broken));
    EXPECT_FALSE(m_engine->loadProject(m_beside));
    EXPECT_EQ(m_engine->getBPM(), 88u);
    EXPECT_EQ(bank()->getSample(0), before);
}

TEST_F(ProjectFileTest, SavingAddsTheExtensionAndNeverLeavesAHalfFile)
{
    const QString dir = m_dir + "/project/";
    for (const char* name : {"plain", "upper.TMX"})
        ASSERT_TRUE(m_engine->saveProject(dir + name)) << name;
    EXPECT_EQ(QDir(dir).entryList({"*.tmx", "*.TMX"}, QDir::Files, QDir::Name),
              (QStringList{"plain.tmx", "upper.TMX"}));
    EXPECT_FALSE(m_engine->saveProject(m_beside + "/inside.tmx"));

    // Disk full: the previous project stays as it was, and no temporary file.
    const QByteArray old = readBytes(dir + "plain.tmx");
    for (int pad = 0; pad < BankSampler::PadCount; ++pad)
        loadPlain(pad);
    EXPECT_FALSE(withFileSizeLimit(512, [&] { return m_engine->saveProject(dir + "plain.tmx"); }));
    EXPECT_EQ(readBytes(dir + "plain.tmx"), old);
    EXPECT_EQ(QDir(dir).entryList({"plain*"}, QDir::Files | QDir::Hidden),
              QStringList{"plain.tmx"});
}

} // namespace
