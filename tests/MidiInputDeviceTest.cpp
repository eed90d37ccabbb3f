#include "MidiInputDevice.h"
#include "BankSampler.h"
#include "LogCapture.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "MidiEvents.h"
#include "Settings.h"
#include "Slice.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QSignalSpy>

#include <sndfile.h>

#include <algorithm>
#include <vector>

namespace {

using namespace MidiEvents;

class MidiInputDeviceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Keeps the settings file the store writes on first use in scratch space.
        qputenv("XDG_DATA_HOME", TestAudio::scratchDir("xdg").toLocal8Bit());
    }

    void SetUp() override
    {
        const QString dir = TestAudio::scratchDir(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        const QString file = dir + "/pad.wav";
        ASSERT_TRUE(TestAudio::writeFile(file, 22050, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        m_pads.loadSample(0, file, 0, 1.0, 1, 0, 0, 1.0f, false, "None");
        m_pads.loadSample(15, file, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    }

    int feed(const std::vector<PmEvent>& events)
    {
        return m_device.handleEvents(events.data(), int(events.size()));
    }

    bool padPlaying(int pad) { return m_pads.getSample(pad)->isPlaying(); }
    LoopingSampler* looper(int i) { return m_loopers.getLoopers().at(i); }

    BankSampler m_pads;
    LoopingSamplerBank m_loopers;
    MidiInputDevice m_device{&m_pads, &m_loopers};
};

TEST_F(MidiInputDeviceTest, NotesOnChannelOneReachPadsAndRecorders)
{
    looper(0)->armRecording(true);
    looper(1)->armRecording(true);

    // Outside the pads, on channel 2, and a controller: no pad plays. The
    // channel-2 note and the controller do not start the recorders either.
    EXPECT_EQ(feed({shortMessage(0x91, 36, 100), shortMessage(0xB0, 36, 100)}), 2);
    EXPECT_FALSE(padPlaying(0));
    EXPECT_EQ(looper(0)->getRecordingState(), RecordingState::Armed);
    feed({shortMessage(0x90, 35, 100), shortMessage(0x90, 52, 100)});
    EXPECT_FALSE(padPlaying(0));
    EXPECT_FALSE(padPlaying(15));

    // Note 35 is no pad but starts the armed recorders.
    EXPECT_EQ(looper(0)->getRecordingState(), RecordingState::Recording);
    EXPECT_EQ(looper(1)->getRecordingState(), RecordingState::Recording);

    // Velocity 0 counts as a note on.
    feed({shortMessage(0x90, 36, 0)});
    EXPECT_TRUE(padPlaying(0));
    // Note off stops a pad in loop mode 1; the recorders never see it.
    feed({shortMessage(0x80, 51, 0), shortMessage(0x80, 36, 0)});
    EXPECT_FALSE(padPlaying(0));
    EXPECT_EQ(looper(0)->getRecordingState(), RecordingState::Recording);

    // Note 51 triggers pad 15 and ends both recordings in the same poll.
    feed({shortMessage(0x90, 51, 90)});
    EXPECT_TRUE(padPlaying(15));
    EXPECT_EQ(looper(0)->getRecordingState(), RecordingState::Off);
    EXPECT_EQ(looper(1)->getRecordingState(), RecordingState::Off);
    EXPECT_TRUE(looper(1)->isPlaying());
}

TEST_F(MidiInputDeviceTest, MachineControlCommandsDriveTheSelectedRecorder)
{
    std::vector<PmEvent> events;
    appendMachineControl(events, 0x02);
    LogCapture::clear();
    feed(events);
    EXPECT_TRUE(looper(0)->isPlaying());
    EXPECT_TRUE(LogCapture::contains("sysex finished!"));

    events.clear();
    appendMachineControl(events, 0x01);
    feed(events);
    EXPECT_FALSE(looper(0)->isPlaying());

    // Fast Forward and Rewind wrap around the four recorders; unknown
    // commands do nothing.
    events.clear();
    for (int command : {0x05, 0x04, 0x04, 0x03, 0x44})
        appendMachineControl(events, command);
    feed(events);
    EXPECT_EQ(m_loopers.getSelectedLooperIndex(), 1);
    EXPECT_FALSE(looper(1)->isPlaying());

    // Record Strobe arms; the command may arrive in the next poll.
    feed({sysexBytes(0xF0, 0x7F, 0x7F, 0x06)});
    EXPECT_EQ(looper(1)->getRecordingState(), RecordingState::Off);
    feed({sysexBytes(0x06, 0xF7, 0, 0)});
    EXPECT_EQ(looper(1)->getRecordingState(), RecordingState::Armed);

    // Play or Stop while recording ends the recording and plays instead.
    for (int command : {0x02, 0x01}) {
        if (command == 0x01)
            feed({sysexBytes(0xF0, 0x7F, 0x7F, 0x06), sysexBytes(0x06, 0xF7, 0, 0)});
        feed({shortMessage(0x90, 40, 100)});
        ASSERT_EQ(looper(1)->getRecordingState(), RecordingState::Recording);
        std::vector<float> block(512, 0.25f);
        m_loopers.recordAll(block.data(), block.size());
        events.clear();
        appendMachineControl(events, command);
        feed(events);
        EXPECT_EQ(looper(1)->getRecordingState(), RecordingState::Off);
        EXPECT_TRUE(looper(1)->isPlaying());
        EXPECT_EQ(looper(1)->getLoop()->getLength(), 512u);
    }
}

TEST_F(MidiInputDeviceTest, OtherSystemExclusiveMessagesAreConsumedWithoutEffect)
{
    // Non-real-time universal (F0 7E ... F7) with a Play command's shape, and
    // a manufacturer's message spanning three events.
    feed({sysexBytes(0xF0, 0x7E, 0x7F, 0x06), sysexBytes(0x02, 0xF7, 0, 0),
          sysexBytes(0xF0, 0x41, 0x10, 0x42), sysexBytes(0x12, 0x40, 0x00, 0x7F),
          sysexBytes(0x00, 0x41, 0xF7, 0)});
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(looper(i)->isPlaying());
    // Notes afterwards are read as notes again.
    feed({shortMessage(0x90, 36, 100)});
    EXPECT_TRUE(padPlaying(0));
    feed({shortMessage(0x80, 36, 0)});

    // The end byte in the fourth byte of an event (an eight-byte message),
    // and a message short enough to end in its first event.
    feed({sysexBytes(0xF0, 0x43, 0x10, 0x4C), sysexBytes(0x00, 0x00, 0x7E, 0xF7),
          sysexBytes(0xF0, 0x7D, 0x01, 0xF7), shortMessage(0x90, 36, 100)});
    EXPECT_TRUE(padPlaying(0));
}

TEST_F(MidiInputDeviceTest, MoreThanOneBufferOfPendingEventsIsHandledOverTwoPolls)
{
    // A note, then fifty Fast Forward commands: 101 events, the command that
    // occupies events 63 and 64 straddling the two reads.
    std::vector<PmEvent> pending{shortMessage(0x90, 36, 100)};
    for (int i = 0; i < 50; ++i)
        appendMachineControl(pending, 0x04);
    ASSERT_EQ(pending.size(), 101u);

    QSignalSpy selected(&m_loopers, &LoopingSamplerBank::selectedLooperChanged);
    std::vector<int> reads;
    // What each poll does: take at most one buffer's worth, act on it.
    std::size_t next = 0;
    while (next < pending.size()) {
        const int n =
            int(std::min<std::size_t>(MidiInputDevice::EventBufferSize, pending.size() - next));
        reads.push_back(m_device.handleEvents(pending.data() + next, n));
        next += std::size_t(n);
    }
    EXPECT_EQ(reads, std::vector<int>({64, 37}));
    EXPECT_TRUE(padPlaying(0));
    EXPECT_EQ(selected.count(), 50);
    EXPECT_EQ(m_loopers.getSelectedLooperIndex(), 50 % 4);
}

TEST_F(MidiInputDeviceTest, OpeningWithoutDevicesLogsAndCarriesOn)
{
    Settings::instance()->setSetting("MidiDevice", "None");
    LogCapture::clear();
    m_device.open();
    EXPECT_FALSE(m_device.isOpen());
    EXPECT_FALSE(LogCapture::contains("MidiDevice: Parsed devId"));
    EXPECT_EQ(m_device.poll(), 0);
    EXPECT_EQ(m_device.poll(), 0);
    m_device.close();

    const QRegularExpression entry("^\\d+\\. .*$");
    const QStringList devices = MidiInputDevice::getDeviceList();
    for (const QString& device : devices)
        EXPECT_TRUE(entry.match(device).hasMatch()) << device.toStdString();
    if (!devices.isEmpty())
        GTEST_SKIP() << "this machine has MIDI inputs";

    // Without MIDI inputs the named device and the fallback both fail; the
    // device stays without a stream and polls return 0.
    Settings::instance()->setSetting("MidiDevice", "2. Keyboard Port");
    m_device.open();
    EXPECT_TRUE(LogCapture::contains("MidiDevice: Parsed devId 2"));
    EXPECT_FALSE(m_device.isOpen());
    EXPECT_EQ(m_device.poll(), 0);

    Settings::instance()->setSetting("MidiDevice", "");
    m_device.open();
    EXPECT_TRUE(LogCapture::contains("MidiDevice: Parsed devId 0"));
    Settings::instance()->setSetting("MidiDevice", "Keyboard");
    LogCapture::clear();
    m_device.open();
    EXPECT_TRUE(LogCapture::contains("MidiDevice: Parsed devId 0"));
    EXPECT_FALSE(m_device.isOpen());
    m_device.close();
}

} // namespace
