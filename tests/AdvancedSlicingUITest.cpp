#include "AdvancedSlicingUI.h"

#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"
#include "ViewTestSupport.h"

#include <QPushButton>

#include <gtest/gtest.h>

using namespace EngineTestSupport;
using namespace SliceTestSupport;
using Points = QList<unsigned long>;

namespace {

class AdvancedSlicingUITest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(ViewTest::testName());
        useFreshSettings(m_dir + "/data");
    }
    void TearDown() override { Settings::resetInstanceForTests(); }

    // Four seconds: 705600 samples.
    void loadLoop() { ASSERT_TRUE(m_kerfer.slotLoadLoop(writeWav(m_dir, "loop.wav", 352800))); }

    QString setting(const char* key) { return Settings::instance()->getSetting(key); }

    QString m_dir;
    Kerfer m_kerfer;
};

TEST_F(AdvancedSlicingUITest, AFreshStoreOpensAtFourBeatsAndOkSlicesAndStores)
{
    loadLoop();
    AdvancedSlicingUI dialog(nullptr, &m_kerfer);
    const Ui_DialogAdvancedSlicing& ui = dialog.getUi();
    EXPECT_EQ(ui.doubleSpinBoxTempo->value(), 120.0);
    EXPECT_EQ(ui.doubleSpinBoxInterval->value(), 4.0);
    EXPECT_EQ(ui.spinBoxTimeSigNumer->value(), 4);
    EXPECT_EQ(ui.spinBoxTimeSigDenom->value(), 4);
    EXPECT_TRUE(ui.radioButtonBeats->isChecked());
    EXPECT_FALSE(ui.radioButtonBars->isChecked());
    EXPECT_EQ(ui.labelSlicingAction->text(), "Slicing every 4 beats.");
    EXPECT_TRUE(dialog.windowFlags().testFlag(Qt::Sheet));

    // The label follows the choice; the word stays plural.
    ui.radioButtonBars->setChecked(true);
    EXPECT_FALSE(ui.radioButtonBeats->isChecked());
    ui.doubleSpinBoxInterval->setValue(1.0);
    EXPECT_EQ(ui.labelSlicingAction->text(), "Slicing every 1 bars.");
    ui.radioButtonBeats->setChecked(true);
    ui.doubleSpinBoxInterval->setValue(2.0);
    EXPECT_EQ(ui.labelSlicingAction->text(), "Slicing every 2 beats.");

    // Every 2 beats at 120: 88200 apart, up to the loop's length.
    ui.buttonBox->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(m_kerfer.getSlicePoints(),
              Points({88200, 176400, 264600, 352800, 441000, 529200, 617400}));
    EXPECT_EQ(setting("AdvancedSlicingTempo"), "120");
    EXPECT_EQ(setting("AdvancedSlicingInterval"), "2");
    EXPECT_EQ(setting("AdvancedSlicingTimeSigNumer"), "4");
    EXPECT_EQ(setting("AdvancedSlicingTimeSigDenom"), "4");
    EXPECT_EQ(setting("AdvancedSlicingSliceByBeats"), "1");
}

TEST_F(AdvancedSlicingUITest, StoredValuesComeBackAndBarsSliceByTheNumerator)
{
    loadLoop();
    Settings* settings = Settings::instance();
    settings->setSetting("AdvancedSlicingTempo", "90.5");
    settings->setSetting("AdvancedSlicingInterval", "2.5");
    settings->setSetting("AdvancedSlicingTimeSigNumer", "3");
    settings->setSetting("AdvancedSlicingTimeSigDenom", "8");
    settings->setSetting("AdvancedSlicingSliceByBeats", "0");
    {
        AdvancedSlicingUI dialog(nullptr, &m_kerfer);
        const Ui_DialogAdvancedSlicing& ui = dialog.getUi();
        EXPECT_EQ(ui.doubleSpinBoxTempo->value(), 90.5);
        EXPECT_EQ(ui.doubleSpinBoxInterval->value(), 2.5);
        EXPECT_EQ(ui.spinBoxTimeSigNumer->value(), 3);
        EXPECT_EQ(ui.spinBoxTimeSigDenom->value(), 8);
        EXPECT_TRUE(ui.radioButtonBars->isChecked());
        EXPECT_EQ(ui.labelSlicingAction->text(), "Slicing every 2.5 bars.");

        // 1 bar of 3 beats at 120: 132300 samples, the denominator aside.
        dialog.getUi().doubleSpinBoxTempo->setValue(120.0);
        dialog.getUi().doubleSpinBoxInterval->setValue(1.0);
        dialog.accept();
        EXPECT_EQ(m_kerfer.getSlicePoints(), Points({132300, 264600, 396900, 529200, 661500}));
        EXPECT_EQ(setting("AdvancedSlicingSliceByBeats"), "0");
        EXPECT_EQ(setting("AdvancedSlicingTimeSigDenom"), "8");
    }

    // Cancel: no points, nothing stored.
    m_kerfer.clearSlicePoints();
    {
        AdvancedSlicingUI dialog(nullptr, &m_kerfer);
        dialog.getUi().doubleSpinBoxTempo->setValue(60.0);
        dialog.getUi().buttonBox->button(QDialogButtonBox::Cancel)->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_TRUE(m_kerfer.getSlicePoints().isEmpty());
    EXPECT_EQ(setting("AdvancedSlicingTempo"), "120");
}

TEST_F(AdvancedSlicingUITest, UnreadableOrOutOfRangeValuesFallBackOrAreClamped)
{
    Settings* settings = Settings::instance();
    settings->setSetting("AdvancedSlicingTempo", "fast");
    settings->setSetting("AdvancedSlicingInterval", "0.01");
    settings->setSetting("AdvancedSlicingTimeSigNumer", "");
    settings->setSetting("AdvancedSlicingTimeSigDenom", "400");
    settings->setSetting("AdvancedSlicingSliceByBeats", "x");
    AdvancedSlicingUI dialog(nullptr, &m_kerfer);
    const Ui_DialogAdvancedSlicing& ui = dialog.getUi();
    EXPECT_EQ(ui.doubleSpinBoxTempo->value(), 120.0);
    EXPECT_EQ(ui.doubleSpinBoxInterval->value(), 0.25);
    EXPECT_EQ(ui.spinBoxTimeSigNumer->value(), 4);
    EXPECT_EQ(ui.spinBoxTimeSigDenom->value(), 99);
    EXPECT_TRUE(ui.radioButtonBeats->isChecked());
    EXPECT_EQ(ui.labelSlicingAction->text(), "Slicing every 0.25 beats.");

    // No loop: nothing to slice, the values are stored all the same.
    dialog.accept();
    EXPECT_TRUE(m_kerfer.getSlicePoints().isEmpty());
    EXPECT_EQ(setting("AdvancedSlicingInterval"), "0.25");
    EXPECT_EQ(setting("AdvancedSlicingTimeSigDenom"), "99");
}

} // namespace
