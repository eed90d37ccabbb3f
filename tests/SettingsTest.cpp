#include "Settings.h"
#include "LogCapture.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using SliceTestSupport::readBytes;

namespace {

const QByteArray kEmptyFile("<!DOCTYPE settings>\n<settings/>\n");

// Every test gets its own data location, chosen before the instance exists.
class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override { useLocation(m_scratch + "/data"); }
    void TearDown() override { Settings::resetInstanceForTests(); }
    void useLocation(const QString& xdgDataHome)
    {
        Settings::resetInstanceForTests();
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdgDataHome));
        m_dir = xdgDataHome + "/Fennory/Tamberlo";
        m_path = m_dir + "/settings.xml";
    }
    QString m_scratch = SliceTestSupport::freshTestDir(), m_dir, m_path;
};

TEST_F(SettingsTest, ValuesRoundTripEscapedInKeyOrderAndBadKeysAreRefused)
{
    // The location must not follow whatever names the application carries.
    QCoreApplication::setOrganizationName("Elsewhere");
    Settings* settings = Settings::instance();
    QCoreApplication::setOrganizationName(QString());
    EXPECT_EQ(readBytes(m_path), kEmptyFile);
    EXPECT_TRUE(LogCapture::contains("Creating default settings"));
    settings->setSetting("b", "Grüße");
    settings->setSetting("a", "");
    settings->setSetting("Z", "a < b && c");
    settings->setSetting("A", "1");
    // Keys that are not XML names would make the file unreadable.
    for (const QString& key : {QString("1st"), QString("two words"), QString("a<b"), QString(),
                               QString("key") + QChar(0xD800)}) {
        settings->setSetting(key, "value");
        EXPECT_TRUE(settings->getSetting(key).isNull()) << qPrintable(key);
    }
    settings->setSetting("ns:_Über.b-9", "kept");
    ASSERT_TRUE(settings->save());
    EXPECT_EQ(readBytes(m_path), QString("<!DOCTYPE settings>\n<settings>\n <A>1</A>\n"
                                         " <Z>a &lt; b &amp;&amp; c</Z>\n <a/>\n"
                                         " <b>Grüße</b>\n <ns:_Über.b-9>kept</ns:_Über.b-9>\n"
                                         "</settings>\n")
                                     .toUtf8());
    Settings::resetInstanceForTests();
    settings = Settings::instance();
    EXPECT_EQ(settings->getSetting("Z"), "a < b && c");
    EXPECT_EQ(settings->getSetting("b"), "Grüße");
    EXPECT_EQ(settings->getSetting("ns:_Über.b-9"), "kept");
}

TEST_F(SettingsTest, ReadsAnyRootTheLaterDuplicateWinsAndACorruptFileIsKeptBeside)
{
    QDir().mkpath(m_dir);
    ASSERT_TRUE(TestAudio::writeBytes(m_path, "<?xml version=\"1.0\"?>\n<preferences>\n"
                                              " <!-- edited by hand --> loose text <?note?>\n"
                                              " <SampleLibPath>/old</SampleLibPath>\n"
                                              " <SampleLibPath>/new</SampleLibPath>\n"
                                              "</preferences>\n"));
    EXPECT_EQ(Settings::instance()->getSetting("SampleLibPath"), "/new");
    Settings::resetInstanceForTests(); // saves: the corrupt file comes after
    const QByteArray corrupt("<settings>\n <AudioDevice>1. Out (ALSA)</AudioDevic>\n");
    ASSERT_TRUE(TestAudio::writeBytes(m_path, corrupt));
    EXPECT_TRUE(Settings::instance()->getSetting("AudioDevice").isNull());
    EXPECT_EQ(readBytes(m_path), kEmptyFile);
    EXPECT_EQ(readBytes(m_path + ".corrupt"), corrupt);
    // Far larger than settings ever are: not parsed into memory at all.
    Settings::resetInstanceForTests();
    const QByteArray huge =
        "<settings><SampleLibPath>" + QByteArray(2 << 20, 'p') + "</SampleLibPath></settings>";
    ASSERT_TRUE(TestAudio::writeBytes(m_path, huge));
    EXPECT_TRUE(Settings::instance()->getSetting("SampleLibPath").isNull());
    EXPECT_EQ(readBytes(m_path + ".corrupt"), huge);
}

TEST_F(SettingsTest, FailedSavesSayAndLeaveThePreviousFile)
{
    Settings* settings = Settings::instance();
    settings->setSetting("AudioDevice", "1. Out (ALSA)");
    ASSERT_TRUE(settings->save());
    const QByteArray before = readBytes(m_path);
    // Disk full mid-save: a file size limit binds root too.
    settings->setSetting("SampleLibPath", QString(100000, QChar('p')));
    EXPECT_FALSE(SliceTestSupport::withFileSizeLimit(4096, [&] { return settings->save(); }));
    EXPECT_EQ(readBytes(m_path), before);
    EXPECT_EQ(QDir(m_dir).entryList(QDir::Files), QStringList{"settings.xml"});
    // Unwritable location; permissions do not stop root, a file in the way does.
    const QString blocker = m_scratch + "/blocker";
    ASSERT_TRUE(TestAudio::writeBytes(blocker, "not a directory"));
    useLocation(blocker + "/data");
    LogCapture::clear();
    Settings::instance()->setSetting("AudioDevice", "x");
    EXPECT_FALSE(Settings::instance()->save());
    EXPECT_TRUE(LogCapture::containsAll({"Failed to write settings.xml", "Settings.cpp"}));
}

TEST_F(SettingsTest, NumbersAreReadWithinTheirRangesOrAsTheFallback)
{
    Settings* settings = Settings::instance();
    // The buffer size the preferences offer: even, 32 to 4096; no number above 0 is 2048.
    const std::pair<const char*, int> sizes[] = {{"512", 512},
                                                 {"2", 32},
                                                 {"3", 32},
                                                 {"33", 32},
                                                 {"2147483647", 4096},
                                                 {"8192", 4096},
                                                 {"99999999999", 4096},
                                                 {"0", 2048},
                                                 {"-5", 2048},
                                                 {"lots", 2048},
                                                 {"", 2048}};
    for (const auto& size : sizes) {
        settings->setSetting("AudioDeviceBufferSize", size.first);
        EXPECT_EQ(settings->getAudioBufferSize(), size.second) << size.first;
    }
    settings->setSetting("Tempo", "nan");
    EXPECT_EQ(settings->getDoubleSetting("Tempo", 120.0, 1.0, 1000.0), 120.0);
    settings->setSetting("Tempo", "1e999");
    EXPECT_EQ(settings->getDoubleSetting("Tempo", 120.0, 1.0, 1000.0), 120.0);
    LogCapture::clear();
    settings->setSetting("Tempo", " 5000.5 ");
    EXPECT_EQ(settings->getDoubleSetting("Tempo", 120.0, 1.0, 1000.0), 1000.0);
    EXPECT_TRUE(LogCapture::containsAll({"Tempo", "5000.5", "1000"}));
    settings->setSetting("Beats", "-7");
    EXPECT_EQ(settings->getIntSetting("Beats", 4, 1, 99), 1);
    EXPECT_EQ(settings->getIntSetting("Missing", 4, 1, 99), 4);
}

} // namespace
