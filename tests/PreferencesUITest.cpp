#include "PreferencesUI.h"

#include "AudioOutputDevice.h"
#include "EngineTestSupport.h"
#include "LogCapture.h"
#include "Settings.h"
#include "SliceEngine.h"
#include "TestAudio.h"
#include "ViewTestSupport.h"

#include <QFile>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

using namespace EngineTestSupport;

namespace {

class PreferencesUITest : public ::testing::Test
{
protected:
    // No sound card here: ALSA's default device is a file plugin over the null
    // device, so there is a device to list and to open.
    static void SetUpTestSuite()
    {
        const QString dir = TestAudio::scratchDir("alsa");
        s_raw = dir + "/out.raw";
        const QString config = dir + "/asound.conf";
        ASSERT_TRUE(TestAudio::writeBytes(
            config, QString("pcm.!default { type file; slave.pcm \"null\"; file \"%1\"; "
                            "format \"raw\" }\n")
                        .arg(s_raw)
                        .toUtf8()));
        qputenv("ALSA_CONFIG_PATH", QFile::encodeName("/usr/share/alsa/alsa.conf:" + config));
    }

    void SetUp() override { m_dir = TestAudio::scratchDir(ViewTest::testName()); }
    void TearDown() override
    {
        m_engine.reset();
        Settings::resetInstanceForTests();
        QFile::remove(s_raw);
    }

    // An engine whose audio device is not found: PortAudio runs (so devices
    // are listed) but no stream renders.
    void buildEngine(const QString& bufferSize)
    {
        QMap<QString, QString> settings = silentDevices();
        if (!bufferSize.isNull())
            settings.insert("AudioDeviceBufferSize", bufferSize);
        useFreshSettings(m_dir + "/data", settings);
        m_engine = std::make_unique<SliceEngine>();
        LogCapture::clear();
    }

    int shownBufferSize()
    {
        PreferencesUI dialog(nullptr, m_engine.get());
        return dialog.getUi().spinBoxBufferSize->value();
    }

    static QString s_raw;
    QString m_dir;
    std::unique_ptr<SliceEngine> m_engine;
};

QString PreferencesUITest::s_raw;

TEST_F(PreferencesUITest, AnUnsetOrUselessBufferSizeShows2048)
{
    buildEngine(QString());
    EXPECT_EQ(shownBufferSize(), 2048);
    Settings::instance()->setSetting("AudioDeviceBufferSize", "0");
    EXPECT_EQ(shownBufferSize(), 2048);
    Settings::instance()->setSetting("AudioDeviceBufferSize", "-512");
    EXPECT_EQ(shownBufferSize(), 2048);
    Settings::instance()->setSetting("AudioDeviceBufferSize", "big");
    EXPECT_EQ(shownBufferSize(), 2048);
    Settings::instance()->setSetting("AudioDeviceBufferSize", "512");
    EXPECT_EQ(shownBufferSize(), 512);
}

TEST_F(PreferencesUITest, ALargerBufferThanThePreviewTakesIsShownAndStoredAs4096)
{
    buildEngine("8192");
    PreferencesUI dialog(nullptr, m_engine.get());
    const Ui_DialogPreferences10& ui = dialog.getUi();
    EXPECT_EQ(ui.spinBoxBufferSize->value(), 4096);
    EXPECT_EQ(ui.spinBoxBufferSize->maximum(), PreferencesUI::kMaxBufferSize);
    EXPECT_EQ(ui.spinBoxBufferSize->suffix(), " samples");
    // The device that is not there selects the first one listed.
    const QStringList devices = AudioOutputDevice::getDeviceList();
    ASSERT_FALSE(devices.isEmpty());
    ASSERT_EQ(ui.comboBoxAudioDevice->count(), devices.size());
    EXPECT_EQ(ui.comboBoxAudioDevice->currentIndex(), 0);

    dialog.show();
    ui.buttonBox->button(QDialogButtonBox::Ok)->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Settings::instance()->getSetting("AudioDeviceBufferSize"), "4096");
    EXPECT_EQ(Settings::instance()->getSetting("AudioDevice"), devices.first());
    // Both devices were re-opened with the stored choice.
    EXPECT_TRUE(
        LogCapture::containsAll({"AudioDevice: Parsed devId", devices.first().section('.', 0, 0)}));
    EXPECT_TRUE(LogCapture::containsAll({"iFramesPerBuffer:", "2048"}));
}

TEST_F(PreferencesUITest, TheStoredDeviceIsSelectedAndCancelKeepsEverything)
{
    buildEngine("1024");
    const QStringList devices = AudioOutputDevice::getDeviceList();
    ASSERT_FALSE(devices.isEmpty());
    Settings::instance()->setSetting("AudioDevice", devices.last());
    {
        PreferencesUI dialog(nullptr, m_engine.get());
        EXPECT_EQ(dialog.getUi().comboBoxAudioDevice->currentText(), devices.last());
        dialog.getUi().spinBoxBufferSize->setValue(256);
        dialog.show();
        dialog.getUi().buttonBox->button(QDialogButtonBox::Cancel)->click();
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_EQ(Settings::instance()->getSetting("AudioDeviceBufferSize"), "1024");
    EXPECT_EQ(Settings::instance()->getSetting("AudioDevice"), devices.last());
    EXPECT_FALSE(LogCapture::contains("AudioDevice: Parsed devId"));

    // Matched exactly: another case is another device.
    Settings::instance()->setSetting("AudioDevice", devices.last().toUpper());
    if (devices.last() != devices.last().toUpper()) {
        PreferencesUI dialog(nullptr, m_engine.get());
        EXPECT_EQ(dialog.getUi().comboBoxAudioDevice->currentIndex(), 0);
    }
}

} // namespace
