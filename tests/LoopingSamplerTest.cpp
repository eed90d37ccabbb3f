#include "LoopingSampler.h"
#include "LogCapture.h"
#include "LoopingSamplerBank.h"
#include "Slice.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSignalSpy>

#include <vector>

namespace {

// Distinct values per sample index, so a misplaced sample shows.
float sourceSample(unsigned long i)
{
    return float((i * 7919) % 20011) / 20011.0f - 0.5f;
}

class LoopingSamplerTest : public ::testing::Test
{
protected:
    LoopingSampler* looper(int i) { return m_bank.getLoopers().at(i); }
    RecordingState state(int i) { return looper(i)->getRecordingState(); }

    // Feeds the record pass numSamples samples of the source, in blocks, the
    // way the engine does (record pass, then playback pass into the same
    // buffer); returns the playback the recorders added.
    std::vector<float> cycle(unsigned long numSamples, unsigned long block = 512)
    {
        std::vector<float> played;
        std::vector<float> buffer(block);
        for (unsigned long done = 0; done < numSamples; done += block) {
            const unsigned long n = std::min(block, numSamples - done);
            for (unsigned long i = 0; i < n; ++i)
                buffer[i] = sourceSample(m_fed + i);
            m_bank.recordAll(buffer.data(), n);
            m_bank.renderAll(buffer.data(), n);
            for (unsigned long i = 0; i < n; ++i)
                played.push_back(buffer[i] - sourceSample(m_fed + i));
            m_fed += n;
        }
        return played;
    }

    // Plays the recorders into silence.
    std::vector<float> playback(unsigned long numSamples, unsigned long block = 512)
    {
        std::vector<float> out(numSamples, 0.0f);
        for (unsigned long done = 0; done < numSamples; done += block)
            m_bank.renderAll(out.data() + done, std::min(block, numSamples - done));
        return out;
    }

    std::vector<float> take(int i) { return *looper(i)->getLoop()->getAudioBuffer(); }

    LoopingSamplerBank m_bank;
    unsigned long m_fed = 0;
};

TEST_F(LoopingSamplerTest, NewBankAndLooperSelection)
{
    ASSERT_EQ(m_bank.getLoopers().count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(state(i), RecordingState::Off);
        EXPECT_EQ(looper(i)->getQuantizationLength(), -1);
        EXPECT_FALSE(looper(i)->isMasterQuantizationLooper());
        EXPECT_FALSE(looper(i)->isPlaying());
        EXPECT_EQ(looper(i)->getLoop()->getLength(), 0u);
    }
    EXPECT_EQ(m_bank.getSelectedLooperIndex(), 0);

    QSignalSpy selected(&m_bank, &LoopingSamplerBank::selectedLooperChanged);
    m_bank.selectPrevLooper();
    m_bank.selectNextLooper();
    m_bank.selectNextLooper();
    EXPECT_EQ(m_bank.getSelectedLooperIndex(), 1);
    ASSERT_EQ(selected.count(), 3);
    EXPECT_EQ(selected.at(0).at(0).toInt(), 3);
    EXPECT_EQ(selected.at(1).at(0).toInt(), 0);
}

TEST_F(LoopingSamplerTest, RecordingStateTravelsThroughQueuedConnections)
{
    EXPECT_NE(QMetaType::type("RecordingState"), int(QMetaType::UnknownType));
    QList<RecordingState> received;
    QObject receiver;
    QObject::connect(
        looper(0), &LoopingSampler::recordingStateChanged, &receiver,
        [&received](RecordingState s) { received.append(s); }, Qt::QueuedConnection);
    looper(0)->armRecording(true);
    m_bank.handleNoteAll(40);
    QCoreApplication::processEvents();
    EXPECT_EQ(received, QList<RecordingState>({RecordingState::Armed, RecordingState::Recording}));
}

TEST_F(LoopingSamplerTest, OneNoteStartsEveryArmedRecorderAndNote51EndsThem)
{
    QSignalSpy toggled(looper(2), &LoopingSampler::playbackStateChanged);
    looper(0)->armRecording(true);
    looper(2)->armRecording(true);
    EXPECT_TRUE(LogCapture::contains("Looper armed"));
    EXPECT_EQ(state(0), RecordingState::Armed);

    // Velocity 0 changes nothing (the bank always passes 127).
    looper(0)->handleNote(40, 0);
    EXPECT_EQ(state(0), RecordingState::Armed);

    LogCapture::clear();
    m_bank.handleNoteAll(40);
    EXPECT_EQ(state(0), RecordingState::Recording);
    EXPECT_EQ(state(1), RecordingState::Off);
    EXPECT_EQ(state(2), RecordingState::Recording);
    EXPECT_EQ(state(3), RecordingState::Off);
    EXPECT_EQ(LogCapture::count("Cleared loop, starting recording"), 2);
    EXPECT_TRUE(LogCapture::contains("Recording state: 2"));

    // Recording recorders add nothing to the output.
    std::vector<float> played = cycle(3000);
    EXPECT_EQ(played, std::vector<float>(3000, 0.0f));

    // Another note while recording changes nothing.
    m_bank.handleNoteAll(45);
    EXPECT_EQ(state(0), RecordingState::Recording);

    m_bank.handleNoteAll(LoopingSampler::StopNote);
    for (int i : {0, 2}) {
        EXPECT_EQ(state(i), RecordingState::Off);
        EXPECT_TRUE(looper(i)->isPlaying());
        EXPECT_EQ(looper(i)->getLoop()->getLength(), 3000u);
        EXPECT_EQ(looper(i)->getLoop()->getLoopEnd(), 3000u);
    }
    EXPECT_FALSE(looper(1)->isPlaying());
    // Stopped for the recording, started after it.
    ASSERT_GE(toggled.count(), 2);
    EXPECT_FALSE(toggled.at(toggled.count() - 2).at(0).toBool());
    EXPECT_TRUE(toggled.last().at(0).toBool());

    // Armed, note 51 disarms without playing; disarming plays even an empty
    // take, which sounds like silence.
    looper(1)->armRecording(true);
    m_bank.handleNoteAll(LoopingSampler::StopNote);
    EXPECT_EQ(state(1), RecordingState::Off);
    EXPECT_FALSE(looper(1)->isPlaying());
    looper(3)->armRecording(true);
    looper(3)->armRecording(false);
    EXPECT_TRUE(LogCapture::contains("Looper OFF"));
    EXPECT_EQ(state(3), RecordingState::Off);
    EXPECT_TRUE(looper(3)->isPlaying());
    looper(0)->togglePlayback(false);
    looper(2)->togglePlayback(false);
    EXPECT_EQ(playback(1024), std::vector<float>(1024, 0.0f));
}

TEST_F(LoopingSamplerTest, RecordedTakeIsHeardInACycle)
{
    looper(1)->armRecording(true);
    m_bank.handleNoteAll(60);
    cycle(3000);
    looper(1)->stopRecording();
    ASSERT_TRUE(looper(1)->isPlaying());

    std::vector<float> recorded = take(1);
    ASSERT_EQ(recorded.size(), 3000u);
    for (unsigned long i = 0; i < 3000; ++i)
        ASSERT_EQ(recorded[i], sourceSample(i)) << i;

    // Playback starts at the take's beginning and wraps, block boundaries
    // falling anywhere in it.
    std::vector<float> out = playback(7000);
    for (unsigned long i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], recorded[i % 3000]) << i;

    // Transport Stop silences it.
    m_bank.selectNextLooper();
    m_bank.handleTransport(LoopingSamplerBank::TransportStop);
    EXPECT_FALSE(looper(1)->isPlaying());
    EXPECT_EQ(playback(512), std::vector<float>(512, 0.0f));
}

TEST_F(LoopingSamplerTest, QuantizedSecondRecordingStopsAtTheFirstLoopsLength)
{
    // Switched on twice: each recorder still hears each length once.
    m_bank.setQuantizeToFirstLoop(true);
    m_bank.setQuantizeToFirstLoop(true);
    EXPECT_TRUE(looper(0)->isMasterQuantizationLooper());

    looper(0)->armRecording(true);
    m_bank.handleNoteAll(40);
    // The master publishes 0 as it starts: the others are not cut meanwhile.
    EXPECT_EQ(looper(1)->getQuantizationLength(), 0);
    cycle(176400);
    LogCapture::clear();
    looper(0)->stopRecording();
    EXPECT_EQ(LogCapture::count("set quant len: 176400"), 3);
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(looper(i)->getQuantizationLength(), 176400);
    // The master is not cut by its own length.
    EXPECT_EQ(looper(0)->getQuantizationLength(), 176400);

    looper(1)->armRecording(true);
    m_bank.handleNoteAll(40);
    const unsigned long start = m_fed;
    // 176400 is not a multiple of 512: the last block is cut in its middle.
    cycle(200000);
    EXPECT_EQ(state(1), RecordingState::Off);
    EXPECT_TRUE(looper(1)->isPlaying());
    EXPECT_TRUE(LogCapture::contains("Quantization induced stop rec"));
    std::vector<float> recorded = take(1);
    ASSERT_EQ(recorded.size(), 176400u);
    EXPECT_EQ(looper(1)->getLoop()->getLoopEnd(), 176400u);
    for (unsigned long i = 0; i < recorded.size(); ++i)
        ASSERT_EQ(recorded[i], sourceSample(start + i)) << i;

    // Off: nobody is cut any more.
    m_bank.setQuantizeToFirstLoop(false);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(looper(i)->getQuantizationLength(), -1);
        EXPECT_FALSE(looper(i)->isMasterQuantizationLooper());
    }
    looper(2)->armRecording(true);
    m_bank.handleNoteAll(40);
    cycle(180000);
    EXPECT_EQ(state(2), RecordingState::Recording);
}

TEST_F(LoopingSamplerTest, TakeAlreadyLongerThanThePublishedLengthEndsWithoutWrapping)
{
    m_bank.setQuantizeToFirstLoop(true);
    looper(1)->armRecording(true);
    m_bank.handleNoteAll(40);
    cycle(10240);
    looper(0)->armRecording(true);
    m_bank.handleNoteAll(40);
    cycle(4096);
    looper(0)->stopRecording();
    ASSERT_EQ(looper(1)->getQuantizationLength(), 4096);

    // Recorder 1 holds 14336 samples, more than it may have: it ends at once
    // and keeps what it has.
    cycle(512);
    EXPECT_EQ(state(1), RecordingState::Off);
    EXPECT_EQ(looper(1)->getLoop()->getLength(), 14336u);
}

TEST_F(LoopingSamplerTest, RecordingEndsAtTheReservedLimitWithoutReallocating)
{
    looper(0)->armRecording(true);
    m_bank.handleNoteAll(40);
    const float* storage = looper(0)->getLoop()->getAudioBuffer()->data();
    LogCapture::setEcho(false);
    cycle(LoopingSampler::MaxRecordingSamples + 20000, 8192);
    LogCapture::setEcho(true);
    EXPECT_EQ(state(0), RecordingState::Off);
    EXPECT_TRUE(looper(0)->isPlaying());
    EXPECT_EQ(looper(0)->getLoop()->getLength(), LoopingSampler::MaxRecordingSamples);
    EXPECT_EQ(looper(0)->getLoop()->getAudioBuffer()->data(), storage);
    EXPECT_EQ(LogCapture::count("Recording reached its limit"), 1);
    const std::vector<float> recorded = take(0);
    EXPECT_EQ(recorded.back(), sourceSample(LoopingSampler::MaxRecordingSamples - 1));

    // A new take reuses the same room.
    looper(0)->armRecording(true);
    m_bank.handleNoteAll(40);
    cycle(4096);
    EXPECT_EQ(looper(0)->getLoop()->getAudioBuffer()->data(), storage);
}

} // namespace
