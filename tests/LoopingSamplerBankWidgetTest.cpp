#include "LoopingSamplerBankWidget.h"

#include "LogCapture.h"
#include "LooperPadWidget.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "Slice.h"
#include "ViewTestSupport.h"

#include <QContextMenuEvent>
#include <QRadioButton>
#include <QToolButton>

#include <thread>
#include <vector>

using namespace ViewTest;
using Rows = std::vector<bool>;

namespace {

// As MIDI does it: on another thread, reaching the widgets through their queue.
void onAudioThread(const std::function<void()>& action)
{
    std::thread(action).join();
    QCoreApplication::processEvents();
}

QColor corner(QWidget* row)
{
    return row->grab().toImage().pixel(1, 1);
}

class LoopingSamplerBankWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_widget = std::make_unique<LoopingSamplerBankWidget>(nullptr, &m_bank);
        m_widget->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_widget.get()));
        LogCapture::clear();
    }
    // Which rows are shown selected, as flags and as painted.
    Rows selectedRows()
    {
        Rows rows;
        for (LooperPadWidget* row : m_widget->getLooperPadWidgets()) {
            EXPECT_EQ(corner(row) == QColor(Qt::green), row->isSelected());
            rows.push_back(row->isSelected());
        }
        return rows;
    }
    LoopingSampler* looper(int i) { return m_bank.getLoopers().at(i); }

    LoopingSamplerBank m_bank;
    std::unique_ptr<LoopingSamplerBankWidget> m_widget;
};

TEST_F(LoopingSamplerBankWidgetTest, ButtonsFollowTheRecorderWithoutSendingItBack)
{
    LooperPadWidget* row = m_widget->getLooperPadWidgets().first();
    LoopingSampler* recorder = looper(0);
    auto* arm = row->findChild<QToolButton*>("toolButtonRecord");
    auto* play = row->findChild<QToolButton*>("toolButtonPlay");
    // Had the button answered, arming would log "Looper armed" and Off would
    // start playback.
    recorder->setRecordingState(RecordingState::Armed);
    EXPECT_TRUE(arm->isChecked());
    recorder->setRecordingState(RecordingState::Off);
    EXPECT_FALSE(arm->isChecked());
    EXPECT_FALSE(recorder->isPlaying());
    recorder->togglePlayback(true);
    EXPECT_TRUE(play->isChecked());
    recorder->togglePlayback(false);
    EXPECT_FALSE(play->isChecked());
    EXPECT_FALSE(LogCapture::contains("Looper armed"));
    EXPECT_EQ(LogCapture::count("Starting playback"), 1);
}

TEST_F(LoopingSamplerBankWidgetTest, ArmButtonRecordsWithoutMidi)
{
    LooperPadWidget* row = m_widget->getLooperPadWidgets().at(1);
    LoopingSampler* recorder = looper(1);
    auto* arm = row->findChild<QToolButton*>("toolButtonRecord");
    const std::vector<float> block(512, 0.5f);
    // Arm, then a second click starts recording as a note would, a third ends it.
    QTest::mouseClick(arm, Qt::LeftButton);
    EXPECT_EQ(recorder->getRecordingState(), RecordingState::Armed);
    QTest::mouseClick(arm, Qt::LeftButton);
    EXPECT_EQ(recorder->getRecordingState(), RecordingState::Recording);
    EXPECT_TRUE(arm->isChecked());
    recorder->record(block.data(), 512);
    QTest::mouseClick(arm, Qt::LeftButton);
    EXPECT_EQ(recorder->getRecordingState(), RecordingState::Off);
    EXPECT_FALSE(arm->isChecked());
    EXPECT_EQ(recorder->getLoop()->getLength(), 512u);
    EXPECT_TRUE(recorder->isPlaying());
    // A right click disarms; recording needs arming again.
    QTest::mouseClick(arm, Qt::LeftButton);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(2, 2));
    QCoreApplication::sendEvent(arm, &menu);
    EXPECT_EQ(recorder->getRecordingState(), RecordingState::Off);
}

TEST_F(LoopingSamplerBankWidgetTest, TheBanksSelectionIsTheGreenRow)
{
    EXPECT_EQ(selectedRows(), (Rows{true, false, false, false}));
    QTest::keyClick(m_widget.get(), Qt::Key_Up);
    EXPECT_EQ(selectedRows(), (Rows{false, false, false, true}));
    onAudioThread([this] { m_bank.handleTransport(LoopingSamplerBank::TransportFastForward); });
    EXPECT_EQ(selectedRows(), (Rows{true, false, false, false}));
    // Selecting a selected row again keeps the colour to return to.
    LooperPadWidget* row = m_widget->getLooperPadWidgets().first();
    const QColor normal = corner(m_widget->getLooperPadWidgets().at(1));
    row->setSelected(true);
    row->setSelected(false);
    EXPECT_EQ(corner(row), normal);
}

TEST_F(LoopingSamplerBankWidgetTest, ToFirstLoopDeliversTheLengthOnceHoweverOftenChosen)
{
    auto* first = m_widget->findChild<QRadioButton*>("radioButtonLooperQuantizeFirst");
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(first, Qt::LeftButton);
    const std::vector<float> take(1000, 0.25f);
    looper(0)->getLoop()->appendSamples(take.data(), 1000);
    LogCapture::clear();
    looper(0)->setRecordingState(RecordingState::Off);
    EXPECT_EQ(LogCapture::count("set quant len: 1000"), LoopingSamplerBank::LooperCount - 1);
    EXPECT_EQ(looper(3)->getQuantizationLength(), 1000);
}

} // namespace
