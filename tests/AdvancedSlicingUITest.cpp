#include "AdvancedSlicingUI.h"

#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "Settings.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"
#include "ViewTestSupport.h"

#include <QPushButton>

#include <gtest/gtest.h>

using Points = QList<unsigned long>;

namespace {

const char* const kKeys[] = {"Tempo", "Interval", "TimeSigNumer", "TimeSigDenom", "SliceByBeats"};

class AdvancedSlicingUITest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(ViewTest::testName());
        EngineTestSupport::useFreshSettings(m_dir + "/data");
    }
    void TearDown() override { Settings::resetInstanceForTests(); }

    // tempo|interval|numerator|denominator|by beats, as stored and as shown.
    QString stored()
    {
        QStringList values;
        for (const char* key : kKeys)
            values << Settings::instance()->getSetting(QString("AdvancedSlicing") + key);
        return values.join('|');
    }
    void store(const QString& values)
    {
        const QStringList v = values.split('|');
        int i = 0;
        for (const char* key : kKeys)
            Settings::instance()->setSetting(QString("AdvancedSlicing") + key, v.at(i++));
    }
    static QString shown(const Ui_DialogAdvancedSlicing& ui)
    {
        return QStringList{QString::number(ui.doubleSpinBoxTempo->value()),
                           QString::number(ui.doubleSpinBoxInterval->value()),
                           QString::number(ui.spinBoxTimeSigNumer->value()),
                           QString::number(ui.spinBoxTimeSigDenom->value()),
                           ui.radioButtonBeats->isChecked() ? "1" : "0"}
            .join('|');
    }

    QString m_dir;
    Kerfer m_kerfer;
};

TEST_F(AdvancedSlicingUITest, StoredValuesComeBackAndOkSlicesAsChosenAndStoresThem)
{
    // Four seconds: 705600 samples.
    ASSERT_TRUE(m_kerfer.slotLoadLoop(SliceTestSupport::writeWav(m_dir, "loop.wav", 352800)));
    store("90.5|2.5|3|8|0");
    {
        AdvancedSlicingUI dialog(nullptr, &m_kerfer);
        const Ui_DialogAdvancedSlicing& ui = dialog.getUi();
        EXPECT_EQ(shown(ui), "90.5|2.5|3|8|0");
        EXPECT_EQ(ui.labelSlicingAction->text(), "Slicing every 2.5 bars.");
        // 1 bar of 6 beats at 120: 264600 samples, the denominator aside.
        ui.doubleSpinBoxTempo->setValue(120.0);
        ui.doubleSpinBoxInterval->setValue(1.0);
        ui.spinBoxTimeSigNumer->setValue(6);
        ui.spinBoxTimeSigDenom->setValue(16);
        ui.buttonBox->button(QDialogButtonBox::Ok)->click();
        EXPECT_EQ(m_kerfer.getSlicePoints(), Points({264600, 529200}));
        EXPECT_EQ(stored(), "120|1|6|16|0");
    }
    {
        AdvancedSlicingUI dialog(nullptr, &m_kerfer);
        const Ui_DialogAdvancedSlicing& ui = dialog.getUi();
        EXPECT_EQ(shown(ui), "120|1|6|16|0");
        ui.radioButtonBeats->setChecked(true);
        ui.doubleSpinBoxInterval->setValue(2.0);
        EXPECT_EQ(ui.labelSlicingAction->text(), "Slicing every 2 beats.");
        dialog.accept();
        EXPECT_EQ(m_kerfer.getSlicePoints(),
                  Points({88200, 176400, 264600, 352800, 441000, 529200, 617400}));
        EXPECT_EQ(stored(), "120|2|6|16|1");
    }
    {
        AdvancedSlicingUI dialog(nullptr, &m_kerfer);
        dialog.getUi().doubleSpinBoxTempo->setValue(60.0);
        dialog.getUi().buttonBox->button(QDialogButtonBox::Cancel)->click();
    }
    EXPECT_EQ(m_kerfer.getSlicePoints().size(), 7);
    EXPECT_EQ(stored(), "120|2|6|16|1");
}

TEST_F(AdvancedSlicingUITest, UnsetOrUnreadableValuesFallBackOrAreClamped)
{
    {
        AdvancedSlicingUI dialog(nullptr, &m_kerfer);
        EXPECT_EQ(shown(dialog.getUi()), "120|4|4|4|1");
    }
    store("fast|0.01||400|x");
    AdvancedSlicingUI dialog(nullptr, &m_kerfer);
    EXPECT_EQ(shown(dialog.getUi()), "120|0.25|4|99|1");
    // No loop: nothing to slice, the values are stored all the same.
    dialog.accept();
    EXPECT_TRUE(m_kerfer.getSlicePoints().isEmpty());
    EXPECT_EQ(stored(), "120|0.25|4|99|1");
}

} // namespace
