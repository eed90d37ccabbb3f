#include "LoopingSampler.h"
#include "LogCapture.h"
#include "LoopingSamplerBank.h"
#include "Slice.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    unsigned long length(int i) { return looper(i)->getLoop()->getLength(); }

    void startRecording(int i)
    {
        looper(i)->armRecording(true);
        m_bank.handleNoteAll(40);
    }

    // Feeds the source in blocks through the record pass, then playback, as the engine does.
    void cycle(unsigned long numSamples, unsigned long block = 512)
    {
        std::vector<float> buffer(block);
        for (unsigned long done = 0; done < numSamples; done += block) {
            const unsigned long n = std::min(block, numSamples - done);
            for (unsigned long i = 0; i < n; ++i)
                buffer[i] = sourceSample(m_fed + i);
            m_bank.recordAll(buffer.data(), n);
            m_bank.renderAll(buffer.data(), n);
            m_fed += n;
        }
    }

    LoopingSamplerBank m_bank;
    unsigned long m_fed = 0;
};

TEST_F(LoopingSamplerTest, QuantizedSecondRecordingStopsAtTheFirstLoopsLength)
{
    m_bank.setQuantizeToFirstLoop(true);
    startRecording(0);
    // The master publishes 0 as it starts: the others are not cut meanwhile.
    EXPECT_EQ(looper(1)->getQuantizationLength(), 0);
    cycle(176400);
    looper(0)->stopRecording();
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(looper(i)->getQuantizationLength(), 176400);

    startRecording(1);
    const unsigned long start = m_fed;
    // 176400 is not a multiple of 512: the last block is cut in its middle.
    cycle(200000);
    EXPECT_EQ(state(1), RecordingState::Off);
    EXPECT_TRUE(looper(1)->isPlaying());
    EXPECT_EQ(looper(1)->getLoop()->getLoopEnd(), 176400u);
    const std::vector<float>& take = *looper(1)->getLoop()->getAudioBuffer();
    ASSERT_EQ(take.size(), 176400u);
    for (unsigned long i = 0; i < take.size(); ++i)
        ASSERT_EQ(take[i], sourceSample(start + i)) << i;
}

// A take already longer than the length published later ends at once, keeping what
// it has rather than a wrapped count.
TEST_F(LoopingSamplerTest, TakeAlreadyLongerThanThePublishedLengthEndsWithoutWrapping)
{
    m_bank.setQuantizeToFirstLoop(true);
    startRecording(1);
    cycle(10240);
    startRecording(0);
    cycle(4096);
    looper(0)->stopRecording();
    ASSERT_EQ(looper(1)->getQuantizationLength(), 4096);
    cycle(512);
    EXPECT_EQ(state(1), RecordingState::Off);
    EXPECT_EQ(length(1), 14336u);
}

TEST_F(LoopingSamplerTest, RecordingEndsAtTheReservedLimitWithoutReallocating)
{
    startRecording(0);
    const float* storage = looper(0)->getLoop()->getAudioBuffer()->data();
    LogCapture::setEcho(false);
    cycle(LoopingSampler::MaxRecordingSamples + 20000, 8192);
    LogCapture::setEcho(true);
    EXPECT_EQ(state(0), RecordingState::Off);
    EXPECT_TRUE(looper(0)->isPlaying());
    EXPECT_EQ(length(0), LoopingSampler::MaxRecordingSamples);
    EXPECT_EQ(looper(0)->getLoop()->getAudioBuffer()->data(), storage);
    EXPECT_EQ(looper(0)->getLoop()->getAudioBuffer()->back(),
              sourceSample(LoopingSampler::MaxRecordingSamples - 1));
}

} // namespace
