#include "BankSampler.h"
#include "AudioCache.h"
#include "LogCapture.h"
#include "Slice.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QThread>

#include <sndfile.h>

#include <vector>

namespace {

// One second of stereo audio at 44100 Hz: 88200 samples.
const long kFrames = 44100;
const unsigned long kLength = 2 * kFrames;

class BankSamplerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        m_file = m_dir + "/pad.wav";
        ASSERT_TRUE(TestAudio::writeFile(m_file, kFrames, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                         TestAudio::sine(440.0, 44100)));
    }

    // The defaults the pad widget loads with, in a given group and loop mode.
    void load(int pad, int loopMode = 0, const QString& group = "None")
    {
        m_bank.loadSample(pad, m_file, 0, 1.0, loopMode, 0, 0, 1.0f, false, group);
    }

    bool playing(int pad) { return m_bank.getSample(pad)->isPlaying(); }

    static void waitFilled(const QSharedPointer<Slice>& slice)
    {
        QElapsedTimer timer;
        timer.start();
        while (!slice->getAudioCache()->isFilled() && timer.elapsed() < 10000)
            QThread::msleep(2);
        ASSERT_TRUE(slice->getAudioCache()->isFilled());
    }

    QString m_dir;
    QString m_file;
    BankSampler m_bank;
};

TEST_F(BankSamplerTest, NewBankHasSixteenEmptyPadsAndTheThreeGroups)
{
    for (int pad = 0; pad < BankSampler::PadCount; ++pad) {
        EXPECT_FALSE(m_bank.hasSample(pad));
        EXPECT_TRUE(m_bank.getSample(pad).isNull());
    }
    EXPECT_FALSE(m_bank.hasSample(16));
    EXPECT_EQ(m_bank.getMasterTempo(), 120);
    EXPECT_EQ(m_bank.getChokeGroupNames(), QStringList({"Hi-hats", "None", "Other"}));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(m_bank.getSample(16), "index < m_pSampleBank->count\\(\\)");
    EXPECT_DEATH(m_bank.getSample(-1), "index < m_pSampleBank->count\\(\\)");

    // Operations on empty pads and outside the bank do nothing.
    m_bank.triggerSample(3);
    m_bank.triggerSample(99);
    m_bank.stopSample(-1);
    m_bank.setSemitone(4, 3);
    m_bank.setTimeStretchBeats(4, 2.0);
    m_bank.handleNote(40, true);
    std::vector<float> out(512, 0.0f);
    m_bank.render(out.data(), out.size());
    EXPECT_EQ(out, std::vector<float>(512, 0.0f));
}

TEST_F(BankSamplerTest, LoadAppliesEveryPropertyAndLoopEndZeroMeansTheFullLength)
{
    QSignalSpy loaded(&m_bank, &BankSampler::sampleLoaded);
    m_bank.loadSample(3, m_file, 2, 1.5, 1, 100, 0, 0.5f, false, "Hi-hats");
    ASSERT_TRUE(m_bank.hasSample(3));
    QSharedPointer<Slice> s = m_bank.getSample(3);
    EXPECT_EQ(s->getFilename(), m_file);
    EXPECT_EQ(s->getLength(), kLength);
    EXPECT_EQ(s->getPitch(), 2);
    EXPECT_DOUBLE_EQ(s->getTimeStretchRatio(), 1.5);
    EXPECT_EQ(s->getLoopMode(), 1);
    EXPECT_EQ(s->getLoopStart(), 100u);
    EXPECT_EQ(s->getLoopEnd(), kLength);
    EXPECT_FLOAT_EQ(s->getGain(), 0.5f);
    EXPECT_FALSE(s->isReversed());
    EXPECT_EQ(s->getChokeGroup(), "Hi-hats");
    ASSERT_EQ(loaded.count(), 1);
    EXPECT_EQ(loaded.at(0).at(0).toInt(), 3);

    // An explicit loop end is kept; reversed is applied.
    m_bank.loadSample(3, m_file, -5, 1.0, 2, 400, 2000, 1.0f, true, "None");
    s = m_bank.getSample(3);
    EXPECT_EQ(s->getPitch(), -5);
    EXPECT_EQ(s->getLoopMode(), 2);
    EXPECT_EQ(s->getLoopStart(), 400u);
    EXPECT_EQ(s->getLoopEnd(), 2000u);
    EXPECT_TRUE(s->isReversed());

    // A file that cannot be read still fills the pad, with a silent sample.
    m_bank.loadSample(5, m_dir + "/missing.wav", 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    EXPECT_TRUE(m_bank.hasSample(5));
    EXPECT_EQ(m_bank.getSample(5)->getLength(), 0u);
    EXPECT_EQ(m_bank.getSample(5)->getLoopEnd(), 0u);

    // Outside the bank nothing is loaded.
    m_bank.loadSample(16, m_file, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    EXPECT_EQ(loaded.count(), 3);

    // Replaced and cleared samples are let go.
    QWeakPointer<Slice> previous = s;
    s.clear();
    load(3);
    EXPECT_TRUE(previous.isNull());
    previous = m_bank.getSample(3);
    m_bank.triggerSample(3);
    m_bank.clearBank();
    EXPECT_TRUE(previous.isNull());
    for (int pad = 0; pad < BankSampler::PadCount; ++pad)
        EXPECT_FALSE(m_bank.hasSample(pad));
}

TEST_F(BankSamplerTest, NotesAndLoopModes)
{
    load(0, 0);
    load(1, 1);
    load(2, 2);
    load(15, 0);
    std::vector<float> out(512, 0.0f);

    // Only notes 36 (pad 0) to 51 (pad 15) reach the pads.
    m_bank.handleNote(35, true);
    m_bank.handleNote(52, true);
    for (int pad : {0, 1, 2, 15})
        EXPECT_FALSE(playing(pad));
    m_bank.handleNote(51, true);
    EXPECT_TRUE(playing(15));

    // Mode 0 plays on after note off.
    m_bank.handleNote(36, true);
    m_bank.handleNote(36, false);
    EXPECT_TRUE(playing(0));

    // Mode 1 stops on note off.
    m_bank.handleNote(37, true);
    EXPECT_TRUE(playing(1));
    m_bank.handleNote(37, false);
    EXPECT_FALSE(playing(1));

    // Mode 2 ignores note off, stops on the next note on, and the one after
    // starts it again from the beginning.
    m_bank.handleNote(38, true);
    m_bank.handleNote(38, false);
    EXPECT_TRUE(playing(2));
    for (int i = 0; i < 8; ++i)
        m_bank.render(out.data(), out.size());
    EXPECT_GT(m_bank.getSample(2)->getPlayPos(), 0u);
    m_bank.handleNote(38, true);
    EXPECT_FALSE(playing(2));
    m_bank.handleNote(38, true);
    EXPECT_TRUE(playing(2));
    EXPECT_EQ(m_bank.getSample(2)->getPlayPos(), 0u);

    // A trigger restarts a playing pad from its beginning.
    for (int i = 0; i < 8; ++i)
        m_bank.render(out.data(), out.size());
    m_bank.triggerSample(0);
    EXPECT_EQ(m_bank.getSample(0)->getPlayPos(), 0u);
    EXPECT_TRUE(playing(0));
}

TEST_F(BankSamplerTest, ChokeGroupsStopTheirOtherPads)
{
    load(0, 0, "Hi-hats");
    load(1, 0, "Hi-hats");
    load(2, 0, "None");
    load(3, 0, "Other");

    m_bank.triggerSample(0);
    m_bank.triggerSample(1);
    EXPECT_FALSE(playing(0));
    EXPECT_TRUE(playing(1));
    m_bank.triggerSample(2);
    m_bank.triggerSample(3);
    EXPECT_TRUE(playing(1));
    m_bank.handleNote(36, true);
    EXPECT_TRUE(playing(0));
    EXPECT_FALSE(playing(1));
    EXPECT_TRUE(playing(2));
    EXPECT_TRUE(playing(3));

    // Moving pad 1 to "Other" takes out only its own "Hi-hats" entry.
    m_bank.addToChokeGroup(1, "Other");
    EXPECT_EQ(m_bank.getSample(1)->getChokeGroup(), "Other");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), QList<quint32>({0}));
    EXPECT_EQ(m_bank.getChokeGroupPads("Other"), QList<quint32>({1, 3}));
    m_bank.triggerSample(1);
    EXPECT_TRUE(playing(0));
    EXPECT_FALSE(playing(3));

    // Emptying a group keeps its name; repeating a choice lists a pad once.
    m_bank.addToChokeGroup(0, "None");
    m_bank.addToChokeGroup(3, "Other");
    m_bank.addToChokeGroup(3, "Other");
    EXPECT_TRUE(m_bank.getChokeGroupPads("Hi-hats").isEmpty());
    EXPECT_EQ(m_bank.getChokeGroupPads("Other"), QList<quint32>({1, 3}));
    EXPECT_EQ(m_bank.getChokeGroupNames(), QStringList({"Hi-hats", "None", "Other"}));
    EXPECT_TRUE(LogCapture::contains("add sample 3 to choke group \"Other\""));
    EXPECT_TRUE(LogCapture::contains("remove sample 3 from choke group \"Other\""));

    // A new group name joins the list.
    m_bank.addToChokeGroup(2, "Toms");
    EXPECT_EQ(m_bank.getChokeGroupNames(), QStringList({"Hi-hats", "None", "Other", "Toms"}));
}

TEST_F(BankSamplerTest, LoadingAPadLeavesEveryGroupItWasListedIn)
{
    load(0, 0, "Hi-hats");
    load(1, 0, "Hi-hats");
    m_bank.loadSample(1, m_file, 0, 1.0, 0, 0, 0, 1.0f, false, "Other");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), QList<quint32>({0}));
    EXPECT_EQ(m_bank.getChokeGroupPads("Other"), QList<quint32>({1}));

    // After clearBank the map still lists pad 0 under "Hi-hats", and an empty
    // pad may be entered into a group. A sample loaded into such a pad in
    // "None" must not be choked by that stale entry.
    m_bank.addToChokeGroup(5, "Hi-hats");
    m_bank.clearBank();
    load(0, 0, "None");
    load(5, 0, "None");
    load(6, 0, "Hi-hats");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), QList<quint32>({6}));
    m_bank.triggerSample(0);
    m_bank.triggerSample(5);
    m_bank.triggerSample(6);
    EXPECT_TRUE(playing(0));
    EXPECT_TRUE(playing(5));
}

TEST_F(BankSamplerTest, TempoChangeReappliesTheStretchOfLoadedPadsOnly)
{
    m_bank.loadSample(0, m_file, 0, 2.0, 1, 0, 0, 1.0f, false, "None");
    load(9);
    waitFilled(m_bank.getSample(0));
    m_bank.triggerSample(0);
    std::vector<float> out(512, 0.0f);
    for (int i = 0; i < 10; ++i)
        m_bank.render(out.data(), out.size());
    ASSERT_GT(m_bank.getSample(0)->getPlayPos(), 0u);

    LogCapture::clear();
    m_bank.setMasterTempo(90);
    EXPECT_EQ(m_bank.getMasterTempo(), 90);
    EXPECT_TRUE(LogCapture::contains("BankSampler: Telling samples to update their lengths..."));
    // The stretched pad was rebuilt (which rewinds it); the ratio stays.
    EXPECT_EQ(m_bank.getSample(0)->getPlayPos(), 0u);
    EXPECT_DOUBLE_EQ(m_bank.getSample(0)->getTimeStretchRatio(), 2.0);
    EXPECT_DOUBLE_EQ(m_bank.getSample(9)->getTimeStretchRatio(), 1.0);
    for (int pad = 1; pad < BankSampler::PadCount; ++pad)
        EXPECT_EQ(m_bank.hasSample(pad), pad == 9);

    // Stretching to beats uses the new tempo: 4 beats at 90 bpm last 235200
    // samples, 8/3 of the one-second pad.
    m_bank.setTimeStretchBeats(9, 4.0);
    EXPECT_NEAR(m_bank.getSample(9)->getTimeStretchRatio(), 235200.0 / kLength, 1e-9);
    m_bank.setSemitone(9, 7);
    EXPECT_EQ(m_bank.getSample(9)->getPitch(), 7);
}

TEST_F(BankSamplerTest, RenderAddsPlayingPadsIntoTheBuffer)
{
    load(0, 1);
    waitFilled(m_bank.getSample(0));
    std::vector<float> out(512, 0.25f);
    m_bank.render(out.data(), out.size());
    EXPECT_EQ(out, std::vector<float>(512, 0.25f)) << "a stopped pad adds nothing";

    m_bank.triggerSample(0);
    // The resampler needs a few blocks before sound comes out.
    double energy = 0.0;
    for (int block = 0; block < 40; ++block) {
        std::fill(out.begin(), out.end(), 0.0f);
        m_bank.render(out.data(), out.size());
        for (float v : out)
            energy += double(v) * v;
    }
    EXPECT_GT(energy, 1.0);

    // Stopped and drained, the pad is silent again.
    m_bank.stopSample(0);
    for (int block = 0; block < 40; ++block)
        m_bank.render(out.data(), out.size());
    std::fill(out.begin(), out.end(), 0.0f);
    m_bank.render(out.data(), out.size());
    EXPECT_EQ(out, std::vector<float>(512, 0.0f));
}

} // namespace
