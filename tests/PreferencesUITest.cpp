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

    // An engine whose audio device is not found: devices are listed, no stream renders.
    void buildEngine()
    {
        useFreshSettings(m_dir + "/data", silentDevices());
        m_engine = std::make_unique<SliceEngine>();
        LogCapture::clear();
    }

    static QString setting(const char* key) { return Settings::instance()->getSetting(key); }
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

TEST_F(PreferencesUITest, AnUnsetOrUselessBufferSizeShows2048AndALargerOne4096)
{
    buildEngine();
    EXPECT_EQ(shownBufferSize(), 2048);
    // 4096 is the most the preview takes in one piece.
    for (const auto& [stored, shown] : {std::pair("0", 2048), std::pair("big", 2048),
                                        std::pair("512", 512), std::pair("8192", 4096)}) {
        Settings::instance()->setSetting("AudioDeviceBufferSize", stored);
        EXPECT_EQ(shownBufferSize(), shown) << stored;
    }
}

TEST_F(PreferencesUITest, OkStoresWhatIsShownAndReopensTheDevicesCancelKeepsEverything)
{
    buildEngine();
    Settings::instance()->setSetting("AudioDeviceBufferSize", "8192");
    const QStringList devices = AudioOutputDevice::getDeviceList();
    ASSERT_FALSE(devices.isEmpty());
    {
        PreferencesUI dialog(nullptr, m_engine.get());
        // The device that is not there selects the first one listed.
        EXPECT_EQ(dialog.getUi().comboBoxAudioDevice->currentIndex(), 0);
        dialog.show();
        dialog.getUi().buttonBox->button(QDialogButtonBox::Ok)->click();
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_EQ(setting("AudioDeviceBufferSize"), "4096");
    EXPECT_EQ(setting("AudioDevice"), devices.first());
    EXPECT_TRUE(
        LogCapture::containsAll({"AudioDevice: Parsed devId", devices.first().section('.', 0, 0)}));
    EXPECT_TRUE(LogCapture::containsAll({"iFramesPerBuffer:", "2048"}));

    LogCapture::clear();
    Settings::instance()->setSetting("AudioDevice", devices.last());
    {
        PreferencesUI dialog(nullptr, m_engine.get());
        EXPECT_EQ(dialog.getUi().comboBoxAudioDevice->currentText(), devices.last());
        dialog.getUi().spinBoxBufferSize->setValue(256);
        dialog.show();
        dialog.getUi().buttonBox->button(QDialogButtonBox::Cancel)->click();
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_EQ(setting("AudioDeviceBufferSize"), "4096");
    EXPECT_EQ(setting("AudioDevice"), devices.last());
    EXPECT_FALSE(LogCapture::contains("AudioDevice: Parsed devId"));
}

} // namespace
