#include "LoopingSamplerBankWidget.h"

#include "LogCapture.h"
#include "LooperPadWidget.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "Slice.h"
#include "ViewTestSupport.h"

#include <QKeyEvent>
#include <QRadioButton>

#include <thread>
#include <vector>

using namespace ViewTest;

namespace {

class LoopingSamplerBankWidgetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_widget = std::make_unique<LoopingSamplerBankWidget>(nullptr, &m_bank);
        m_widget->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_widget.get()));
        keepGlDriverLoaded();
        LogCapture::clear();
    }
    // Which rows are shown selected, as flags and as painted.
    std::vector<bool> selectedRows()
    {
        std::vector<bool> rows;
        for (LooperPadWidget* row : m_widget->getLooperPadWidgets()) {
            const bool green = QColor(row->grab().toImage().pixel(1, 1)) == QColor(Qt::green);
            EXPECT_EQ(green, row->isSelected());
            rows.push_back(row->isSelected());
        }
        return rows;
    }
    void click(const char* radio)
    {
        auto* button = m_widget->findChild<QRadioButton*>(radio);
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    LoopingSampler* looper(int i) { return m_bank.getLoopers().at(i); }

    LoopingSamplerBank m_bank;
    std::unique_ptr<LoopingSamplerBankWidget> m_widget;
};

TEST_F(LoopingSamplerBankWidgetTest, OneRowPerRecorderAndTheBanksSelectionInGreen)
{
    const QList<LooperPadWidget*>& rows = m_widget->getLooperPadWidgets();
    ASSERT_EQ(rows.size(), LoopingSamplerBank::LooperCount);
    for (int i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows.at(i)->getLooper(), looper(i));
    EXPECT_EQ(selectedRows(), (std::vector<bool>{true, false, false, false}));

    QTest::keyClick(m_widget.get(), Qt::Key_Down);
    EXPECT_EQ(m_bank.getSelectedLooperIndex(), 1);
    EXPECT_EQ(selectedRows(), (std::vector<bool>{false, true, false, false}));
    QTest::keyClick(m_widget.get(), Qt::Key_Up);
    QTest::keyClick(m_widget.get(), Qt::Key_Up);
    EXPECT_EQ(m_bank.getSelectedLooperIndex(), 3);
    EXPECT_EQ(selectedRows(), (std::vector<bool>{false, false, false, true}));

    // Other keys are passed on.
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    QCoreApplication::sendEvent(m_widget.get(), &other);
    EXPECT_FALSE(other.isAccepted());
    EXPECT_EQ(m_bank.getSelectedLooperIndex(), 3);

    // A transport command selects on the audio thread.
    std::thread midi([this] { m_bank.handleTransport(LoopingSamplerBank::TransportFastForward); });
    midi.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(selectedRows(), (std::vector<bool>{true, false, false, false}));
}

TEST_F(LoopingSamplerBankWidgetTest, ToFirstLoopDeliversTheLengthOnceHoweverOftenChosen)
{
    for (int i = 0; i < 3; ++i)
        click("radioButtonLooperQuantizeFirst");
    EXPECT_EQ(LogCapture::count("slotSetLooperQuantization"), 3);
    EXPECT_TRUE(looper(0)->isMasterQuantizationLooper());

    const std::vector<float> take(1000, 0.25f);
    looper(0)->getLoop()->appendSamples(take.data(), 1000);
    LogCapture::clear();
    looper(0)->setRecordingState(RecordingState::Off);
    EXPECT_EQ(LogCapture::count("set quant len: 1000"), LoopingSamplerBank::LooperCount - 1);
    for (int i = 1; i < LoopingSamplerBank::LooperCount; ++i)
        EXPECT_EQ(looper(i)->getQuantizationLength(), 1000);

    click("radioButtonLooperQuantizeOff");
    for (int i = 0; i < LoopingSamplerBank::LooperCount; ++i) {
        EXPECT_EQ(looper(i)->getQuantizationLength(), -1);
        EXPECT_FALSE(looper(i)->isMasterQuantizationLooper());
    }
    LogCapture::clear();
    looper(0)->setRecordingState(RecordingState::Off);
    EXPECT_FALSE(LogCapture::contains("set quant len:"));
    EXPECT_EQ(looper(1)->getQuantizationLength(), -1);
}

} // namespace
