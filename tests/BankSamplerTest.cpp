#include "BankSampler.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// One second of stereo audio at 44100 Hz: 88200 samples.
const unsigned long kLength = 88200;

class BankSamplerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_file = SliceTestSupport::writeWav(TestAudio::scratchDir("bank"), "pad.wav", 44100);
    }

    void load(int pad, int loopMode = 0, const QString& group = "None")
    {
        m_bank.loadSample(pad, m_file, 0, 1.0, loopMode, 0, 0, 1.0f, false, group);
    }

    bool playing(int pad) { return m_bank.getSample(pad)->isPlaying(); }

    QString m_file;
    BankSampler m_bank;
};

TEST_F(BankSamplerTest, EmptyPadsAndIndicesOutsideTheBankAreHarmless)
{
    for (int pad : {3, 99, -1}) {
        m_bank.triggerSample(pad);
        m_bank.stopSample(pad);
        m_bank.setSemitone(pad, 3);
        m_bank.setTimeStretchBeats(pad, 2.0);
    }
    m_bank.handleNote(40, true);
    load(16);
    EXPECT_FALSE(m_bank.hasSample(16));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(m_bank.getSample(16), "index < m_pSampleBank->count\\(\\)");
}

TEST_F(BankSamplerTest, LoopModesAgainstNoteOnAndOff)
{
    for (int mode : {0, 1, 2}) {
        load(mode, mode);
        m_bank.handleNote(36 + mode, true);
        m_bank.handleNote(36 + mode, false);
    }
    // Mode 0 plays on after note off, mode 1 stops on it, mode 2 ignores it.
    EXPECT_EQ(QVector<bool>({playing(0), playing(1), playing(2)}),
              QVector<bool>({true, false, true}));
    std::vector<float> out(4096, 0.0f);
    m_bank.render(out.data(), out.size());
    EXPECT_GT(m_bank.getSample(2)->getPlayPos(), 0u);
    // Mode 2 stops on the next note on; the one after starts it from the beginning.
    m_bank.handleNote(38, true);
    EXPECT_FALSE(playing(2));
    m_bank.handleNote(38, true);
    EXPECT_TRUE(playing(2));
    EXPECT_EQ(m_bank.getSample(2)->getPlayPos(), 0u);
    // Mode 0: a second note on restarts the pad from its beginning.
    EXPECT_GT(m_bank.getSample(0)->getPlayPos(), 0u);
    m_bank.handleNote(36, true);
    EXPECT_TRUE(playing(0));
    EXPECT_EQ(m_bank.getSample(0)->getPlayPos(), 0u);
}

TEST_F(BankSamplerTest, ChokeGroupsStopTheirOtherPadsAndFollowMovedPads)
{
    const char* groups[] = {"Hi-hats", "Hi-hats", "None", "Other"};
    for (int pad : {0, 1, 2, 3}) {
        load(pad, 0, groups[pad]);
        m_bank.triggerSample(pad);
    }
    m_bank.handleNote(36, true);
    EXPECT_EQ(QVector<bool>({playing(0), playing(1), playing(2), playing(3)}),
              QVector<bool>({true, false, true, true}));

    // Moving pad 1 to "Other" takes out only its own "Hi-hats" entry;
    // repeating a choice lists a pad once.
    m_bank.addToChokeGroup(1, "Other");
    m_bank.addToChokeGroup(3, "Other");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), QList<quint32>({0}));
    EXPECT_EQ(m_bank.getChokeGroupPads("Other"), QList<quint32>({1, 3}));
    m_bank.triggerSample(1);
    EXPECT_TRUE(playing(0));
    EXPECT_FALSE(playing(3));
    // Loading a pad anew takes it out of its old group.
    load(1);
    EXPECT_EQ(m_bank.getChokeGroupPads("Other"), QList<quint32>({3}));

    // Stale entries (pad 0 after clearBank, empty pad 5 entered into a group) must
    // not choke a sample later loaded there in "None".
    m_bank.addToChokeGroup(5, "Hi-hats");
    m_bank.clearBank();
    load(0, 0, "None");
    load(5, 0, "None");
    load(6, 0, "Hi-hats");
    EXPECT_EQ(m_bank.getChokeGroupPads("Hi-hats"), QList<quint32>({6}));
    for (int pad : {0, 5, 6})
        m_bank.triggerSample(pad);
    EXPECT_TRUE(playing(0));
    EXPECT_TRUE(playing(5));
}

TEST_F(BankSamplerTest, StretchingToBeatsUsesTheBanksTempo)
{
    load(9);
    m_bank.setMasterTempo(90);
    // 4 beats at 90 bpm last 235200 samples, 8/3 of the one-second pad.
    m_bank.setTimeStretchBeats(9, 4.0);
    EXPECT_NEAR(m_bank.getSample(9)->getTimeStretchRatio(), 235200.0 / kLength, 1e-9);
}

} // namespace
