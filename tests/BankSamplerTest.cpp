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

    void render(int blocks)
    {
        std::vector<float> out(512, 0.0f);
        for (int i = 0; i < blocks; ++i)
            m_bank.render(out.data(), out.size());
    }

    QString m_file;
    BankSampler m_bank;
};

TEST_F(BankSamplerTest, EmptyPadsAndIndicesOutsideTheBankAreHarmless)
{
    m_bank.triggerSample(3);
    m_bank.triggerSample(99);
    m_bank.stopSample(-1);
    m_bank.setSemitone(4, 3);
    m_bank.setTimeStretchBeats(4, 2.0);
    m_bank.handleNote(40, true);
    m_bank.loadSample(16, m_file, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    EXPECT_FALSE(m_bank.hasSample(16));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(m_bank.getSample(16), "index < m_pSampleBank->count\\(\\)");

    // Replaced and cleared samples are let go.
    load(3);
    QWeakPointer<Slice> previous = m_bank.getSample(3);
    load(3);
    EXPECT_TRUE(previous.isNull());
    previous = m_bank.getSample(3);
    m_bank.triggerSample(3);
    m_bank.clearBank();
    EXPECT_TRUE(previous.isNull());
}

TEST_F(BankSamplerTest, LoopModesAgainstNoteOnAndOff)
{
    for (int mode : {0, 1, 2})
        load(mode, mode);
    // Mode 0 plays on after note off; mode 1 stops on it.
    for (int note : {36, 37}) {
        m_bank.handleNote(note, true);
        m_bank.handleNote(note, false);
    }
    EXPECT_TRUE(playing(0));
    EXPECT_FALSE(playing(1));

    // Mode 2 ignores note off, stops on the next note on, and the one after
    // starts it again from the beginning.
    m_bank.handleNote(38, true);
    m_bank.handleNote(38, false);
    EXPECT_TRUE(playing(2));
    render(8);
    EXPECT_GT(m_bank.getSample(0)->getPlayPos(), 0u);
    EXPECT_GT(m_bank.getSample(2)->getPlayPos(), 0u);
    m_bank.handleNote(38, true);
    EXPECT_FALSE(playing(2));
    m_bank.handleNote(38, true);
    EXPECT_TRUE(playing(2));
    EXPECT_EQ(m_bank.getSample(2)->getPlayPos(), 0u);

    // Mode 0: a second note on restarts the pad from its beginning.
    m_bank.handleNote(36, true);
    EXPECT_TRUE(playing(0));
    EXPECT_EQ(m_bank.getSample(0)->getPlayPos(), 0u);
}

TEST_F(BankSamplerTest, ChokeGroupsStopTheirOtherPadsAndFollowMovedPads)
{
    load(0, 0, "Hi-hats");
    load(1, 0, "Hi-hats");
    load(2, 0, "None");
    load(3, 0, "Other");
    for (int pad : {0, 1, 2, 3})
        m_bank.triggerSample(pad);
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

    // After clearBank the map still lists pad 0 under "Hi-hats", and an empty
    // pad may be entered into a group. A sample loaded into such a pad in
    // "None" must not be choked by that stale entry.
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
    m_bank.addToChokeGroup(2, "Toms");
    EXPECT_EQ(m_bank.getChokeGroupNames(), QStringList({"Hi-hats", "None", "Other", "Toms"}));
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
