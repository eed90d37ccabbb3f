#include "LooperPadWidget.h"

#include "LogCapture.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "Slice.h"
#include "ViewTestSupport.h"

#include <QToolButton>

#include <thread>

using namespace ViewTest;

namespace {

class LooperPadWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_looper = m_bank.getLoopers().first();
        m_widget = std::make_unique<LooperPadWidget>(nullptr, m_looper);
        m_widget->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_widget.get()));
        keepGlDriverLoaded();
        m_arm = m_widget->findChild<QToolButton*>("toolButtonRecord");
        m_play = m_widget->findChild<QToolButton*>("toolButtonPlay");
        ASSERT_TRUE(m_arm && m_play);
        LogCapture::clear();
    }
    // As MIDI does it: on another thread, reaching the widget through its queue.
    void onAudioThread(const std::function<void()>& action)
    {
        std::thread thread(action);
        thread.join();
        QCoreApplication::processEvents();
    }

    LoopingSamplerBank m_bank;
    LoopingSampler* m_looper = nullptr;
    std::unique_ptr<LooperPadWidget> m_widget;
    QToolButton* m_arm = nullptr;
    QToolButton* m_play = nullptr;
};

TEST_F(LooperPadWidgetTest, ButtonsFollowTheRecorderWithoutSendingItBack)
{
    // Had the button answered, arming would turn Recording back into Armed,
    // and Off would start playback.
    m_looper->setRecordingState(RecordingState::Armed);
    EXPECT_TRUE(m_arm->isChecked());
    m_looper->setRecordingState(RecordingState::Recording);
    EXPECT_TRUE(m_arm->isChecked());
    EXPECT_EQ(m_looper->getRecordingState(), RecordingState::Recording);
    m_looper->setRecordingState(RecordingState::Off);
    EXPECT_FALSE(m_arm->isChecked());
    EXPECT_FALSE(m_looper->isPlaying());
    EXPECT_FALSE(LogCapture::contains("Looper armed"));
    EXPECT_FALSE(LogCapture::contains("Looper OFF"));
    EXPECT_TRUE(LogCapture::contains("updateRecButtonState: 2"));

    m_looper->togglePlayback(true);
    EXPECT_TRUE(m_play->isChecked());
    EXPECT_TRUE(LogCapture::contains("updatePlayButtonState: true"));
    m_looper->togglePlayback(false);
    EXPECT_FALSE(m_play->isChecked());
    EXPECT_EQ(LogCapture::count("Starting playback"), 1);
    EXPECT_EQ(LogCapture::count("Stopping playback"), 1);

    // MIDI: arm, a note starts the recording, note 51 ends it and plays.
    onAudioThread([this] { m_looper->armRecording(true); });
    EXPECT_TRUE(m_arm->isChecked());
    onAudioThread([this] { m_looper->handleNote(60, 127); });
    EXPECT_TRUE(m_arm->isChecked());
    EXPECT_EQ(m_looper->getRecordingState(), RecordingState::Recording);
    onAudioThread([this] { m_looper->handleNote(LoopingSampler::StopNote, 127); });
    EXPECT_FALSE(m_arm->isChecked());
    EXPECT_TRUE(m_play->isChecked());
    EXPECT_EQ(m_looper->getRecordingState(), RecordingState::Off);
    EXPECT_TRUE(m_looper->isPlaying());
    EXPECT_EQ(LogCapture::count("Looper armed"), 1);
    EXPECT_FALSE(LogCapture::contains("Looper OFF"));
}

TEST_F(LooperPadWidgetTest, ButtonsDriveTheRecorder)
{
    QTest::mouseClick(m_arm, Qt::LeftButton);
    EXPECT_EQ(m_looper->getRecordingState(), RecordingState::Armed);
    // Disarming starts playback, which the Play button then shows.
    QTest::mouseClick(m_arm, Qt::LeftButton);
    EXPECT_EQ(m_looper->getRecordingState(), RecordingState::Off);
    EXPECT_TRUE(m_looper->isPlaying());
    EXPECT_TRUE(m_play->isChecked());
    QTest::mouseClick(m_play, Qt::LeftButton);
    EXPECT_FALSE(m_looper->isPlaying());
    EXPECT_FALSE(m_play->isChecked());
}

TEST_F(LooperPadWidgetTest, SelectionIsGreenAndSelectingTwiceStillRestores)
{
    const auto corner = [this] { return QColor(m_widget->grab().toImage().pixel(1, 1)); };
    const QColor normal = corner();
    ASSERT_NE(normal, QColor(Qt::green));
    m_widget->setSelected(true);
    m_widget->setSelected(true);
    EXPECT_TRUE(m_widget->isSelected());
    EXPECT_EQ(corner(), QColor(Qt::green));
    m_widget->setSelected(false);
    EXPECT_EQ(corner(), normal);
    m_widget->setSelected(false);
    EXPECT_EQ(corner(), normal);
}

} // namespace
