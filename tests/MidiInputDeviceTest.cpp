#include "MidiInputDevice.h"
#include "BankSampler.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "MidiEvents.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace MidiEvents;

class MidiInputDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString file =
            SliceTestSupport::writeWav(TestAudio::scratchDir("midi"), "pad.wav", 22050);
        m_pads.loadSample(0, file, 0, 1.0, 1, 0, 0, 1.0f, false, "None");
        m_pads.loadSample(15, file, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    }

    int feed(const std::vector<PmEvent>& events)
    {
        return m_device.handleEvents(events.data(), int(events.size()));
    }
    // A Machine Control command, its two events in two polls.
    void command(int code)
    {
        feed({sysexBytes(0xF0, 0x7F, 0x7F, 0x06)});
        feed({sysexBytes(code, 0xF7, 0, 0)});
    }

    bool padPlaying(int pad) { return m_pads.getSample(pad)->isPlaying(); }
    LoopingSampler* looper(int i) { return m_loopers.getLoopers().at(i); }
    RecordingState state(int i) { return looper(i)->getRecordingState(); }

    BankSampler m_pads;
    LoopingSamplerBank m_loopers;
    MidiInputDevice m_device{&m_pads, &m_loopers};
};

TEST_F(MidiInputDeviceTest, NotesOnChannelOneReachPadsAndRecorders)
{
    looper(0)->armRecording(true);
    looper(1)->armRecording(true);
    // A note on channel 2 and a controller: nothing plays or records.
    EXPECT_EQ(feed({shortMessage(0x91, 36, 100), shortMessage(0xB0, 36, 100)}), 2);
    EXPECT_FALSE(padPlaying(0));
    EXPECT_EQ(state(0), RecordingState::Armed);
    // Notes 35 and 52 are no pads, but start the armed recorders.
    feed({shortMessage(0x90, 35, 100), shortMessage(0x90, 52, 100)});
    EXPECT_FALSE(padPlaying(0));
    EXPECT_FALSE(padPlaying(15));
    EXPECT_EQ(state(0), RecordingState::Recording);
    EXPECT_EQ(state(1), RecordingState::Recording);

    // Velocity 0 is a note on; note off stops a loop mode 1 pad, never a recording.
    feed({shortMessage(0x90, 36, 0)});
    EXPECT_TRUE(padPlaying(0));
    feed({shortMessage(0x80, 51, 0), shortMessage(0x80, 36, 0)});
    EXPECT_FALSE(padPlaying(0));
    EXPECT_EQ(state(0), RecordingState::Recording);

    // Note 51 triggers pad 15 and ends both recordings in the same poll.
    feed({shortMessage(0x90, 51, 90)});
    EXPECT_TRUE(padPlaying(15));
    EXPECT_EQ(state(0), RecordingState::Off);
    EXPECT_EQ(state(1), RecordingState::Off);
}

TEST_F(MidiInputDeviceTest, MachineControlDrivesTheSelectedRecorderAndOtherSysexIsConsumed)
{
    // Non-real-time universal with a Play command's shape, a message over three
    // events, one that ends in the last byte of its only event: the note after is a note.
    feed({sysexBytes(0xF0, 0x7E, 0x7F, 0x06), sysexBytes(0x02, 0xF7, 0, 0),
          sysexBytes(0xF0, 0x41, 0x10, 0x42), sysexBytes(0x12, 0x40, 0x00, 0x7F),
          sysexBytes(0x00, 0x41, 0xF7, 0), sysexBytes(0xF0, 0x7D, 0x01, 0xF7),
          shortMessage(0x90, 51, 100)});
    EXPECT_TRUE(padPlaying(15));
    EXPECT_FALSE(looper(0)->isPlaying());

    command(0x02); // Play
    EXPECT_TRUE(looper(0)->isPlaying());
    command(0x01); // Stop
    EXPECT_FALSE(looper(0)->isPlaying());
    // Fast Forward and Rewind wrap around the four recorders; unknown commands do nothing.
    for (int code : {0x05, 0x04, 0x04, 0x03, 0x44})
        command(code);
    EXPECT_EQ(m_loopers.getSelectedLooperIndex(), 1);

    // Record Strobe arms; Play while recording ends the recording and plays it.
    command(0x06);
    EXPECT_EQ(state(1), RecordingState::Armed);
    feed({shortMessage(0x90, 40, 100)});
    ASSERT_EQ(state(1), RecordingState::Recording);
    std::vector<float> block(512, 0.25f);
    m_loopers.recordAll(block.data(), block.size());
    command(0x02);
    EXPECT_EQ(state(1), RecordingState::Off);
    EXPECT_TRUE(looper(1)->isPlaying());
    EXPECT_EQ(looper(1)->getLoop()->getLength(), 512u);
}

TEST_F(MidiInputDeviceTest, MoreThanOneBufferOfPendingEventsIsHandledOverTwoPolls)
{
    // A note, then fifty Fast Forward commands: 101 events, the command in
    // events 63 and 64 straddling the two reads.
    std::vector<PmEvent> pending{shortMessage(0x90, 36, 100)};
    for (int i = 0; i < 50; ++i)
        appendMachineControl(pending, 0x04);
    const int first = MidiInputDevice::EventBufferSize;
    EXPECT_EQ(m_device.handleEvents(pending.data(), first), 64);
    EXPECT_EQ(m_device.handleEvents(pending.data() + first, int(pending.size()) - first), 37);
    EXPECT_TRUE(padPlaying(0));
    EXPECT_EQ(m_loopers.getSelectedLooperIndex(), 50 % 4);
}

} // namespace
