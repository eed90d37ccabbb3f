#include "Settings.h"

#include "LogCapture.h"
#include "TestAudio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every test gets its own data location, set before the instance is created.
class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override { useLocation(TestAudio::scratchDir(testName()) + "/data"); }
    void TearDown() override { Settings::resetInstanceForTests(); }

    static QString testName()
    {
        return ::testing::UnitTest::GetInstance()->current_test_info()->name();
    }
    void useLocation(const QString& xdgDataHome)
    {
        Settings::resetInstanceForTests();
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdgDataHome));
        m_dir = xdgDataHome + "/Fennory/Tamberlo";
        m_path = m_dir + "/settings.xml";
        LogCapture::clear();
    }
    void writeSettingsFile(const QByteArray& bytes)
    {
        QDir().mkpath(m_dir);
        ASSERT_TRUE(TestAudio::writeBytes(m_path, bytes));
    }

    QString m_dir;
    QString m_path;
};

TEST_F(SettingsTest, FirstRunWritesAnEmptyStoreWhereverTheApplicationNamesPoint)
{
    QCoreApplication::setOrganizationName("Elsewhere");
    QCoreApplication::setApplicationName("Other");
    Settings* settings = Settings::instance();
    EXPECT_EQ(QCoreApplication::organizationName(), "Elsewhere");
    EXPECT_EQ(QCoreApplication::applicationName(), "Other");
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setApplicationName(QString());

    EXPECT_EQ(settings->getFilePath(), m_path);
    EXPECT_EQ(readAll(m_path), QByteArray("<!DOCTYPE settings>\n<settings/>\n"));
    EXPECT_TRUE(LogCapture::contains("Creating default settings"));
    EXPECT_TRUE(LogCapture::containsAll({"Saving settings", "\"" + m_path + "\""}));
}

TEST_F(SettingsTest, ValuesRoundTripEscapedInKeyOrder)
{
    Settings* settings = Settings::instance();
    settings->setSetting("b", "Grüße");
    settings->setSetting("a", "");
    settings->setSetting("Z", "a < b && c");
    settings->setSetting("A", "first");
    settings->setSetting("A", "1");
    EXPECT_TRUE(settings->getSetting("Missing").isNull());
    ASSERT_TRUE(settings->save());

    EXPECT_EQ(readAll(m_path), QString("<!DOCTYPE settings>\n"
                                       "<settings>\n"
                                       " <A>1</A>\n"
                                       " <Z>a &lt; b &amp;&amp; c</Z>\n"
                                       " <a/>\n"
                                       " <b>Grüße</b>\n"
                                       "</settings>\n")
                                   .toUtf8());

    Settings::resetInstanceForTests();
    settings = Settings::instance();
    EXPECT_EQ(settings->getSetting("A"), "1");
    EXPECT_EQ(settings->getSetting("Z"), "a < b && c");
    EXPECT_EQ(settings->getSetting("a"), "");
    EXPECT_EQ(settings->getSetting("b"), "Grüße");
    EXPECT_FALSE(readAll(m_path).contains("Missing"));
}

TEST_F(SettingsTest, ReadsChildElementsOfAnyRootAndTheLaterDuplicateWins)
{
    writeSettingsFile("<?xml version=\"1.0\"?>\n<preferences>\n <!-- edited by hand -->\n"
                      " <MidiDevice>None</MidiDevice>\n loose text\n <?note skip?>\n"
                      " <SampleLibPath>/old</SampleLibPath>\n"
                      " <SampleLibPath>/new</SampleLibPath>\n</preferences>\n");
    Settings* settings = Settings::instance();
    EXPECT_EQ(settings->getSetting("MidiDevice"), "None");
    EXPECT_EQ(settings->getSetting("SampleLibPath"), "/new");
    EXPECT_FALSE(LogCapture::contains("Creating default settings"));
}

TEST_F(SettingsTest, CorruptFileIsReplacedAtStartAndKeptBesideIt)
{
    const QByteArray corrupt("<settings>\n <AudioDevice>1. Out (ALSA)</AudioDevic>\n");
    writeSettingsFile(corrupt);
    Settings* settings = Settings::instance();
    EXPECT_TRUE(settings->getSetting("AudioDevice").isNull());
    EXPECT_TRUE(LogCapture::contains("Creating default settings"));
    EXPECT_EQ(readAll(m_path), QByteArray("<!DOCTYPE settings>\n<settings/>\n"));
    EXPECT_EQ(readAll(m_path + ".corrupt"), corrupt);
}

TEST_F(SettingsTest, KeysThatAreNotXmlNamesAreRefused)
{
    Settings* settings = Settings::instance();
    const QString loneSurrogate = QString("key") + QChar(0xD800);
    for (const QString& key : {QString("1st"), QString("two words"), QString("a<b"), QString(),
                               QString("-x"), loneSurrogate}) {
        LogCapture::clear();
        settings->setSetting(key, "value");
        EXPECT_TRUE(settings->getSetting(key).isNull()) << qPrintable(key);
        EXPECT_TRUE(LogCapture::contains("Refusing setting")) << qPrintable(key);
    }
    const QStringList valid{"ns:key", "_x", "Überall", "a.b-c9"};
    for (const QString& key : valid)
        settings->setSetting(key, "kept");
    ASSERT_TRUE(settings->save());

    Settings::resetInstanceForTests();
    settings = Settings::instance();
    EXPECT_FALSE(LogCapture::contains("Creating default settings"));
    for (const QString& key : valid)
        EXPECT_EQ(settings->getSetting(key), "kept") << qPrintable(key);
}

TEST_F(SettingsTest, UnwritableLocationFailsAndSays)
{
    // Tests run as root, which ignores permissions: a regular file where a
    // directory should be stops everyone.
    const QString blocker = TestAudio::scratchDir(testName()) + "/blocker";
    ASSERT_TRUE(TestAudio::writeBytes(blocker, "not a directory"));
    useLocation(blocker + "/data");

    Settings* settings = Settings::instance();
    settings->setSetting("AudioDevice", "x");
    LogCapture::clear();
    EXPECT_FALSE(settings->save());
    EXPECT_TRUE(LogCapture::containsAll({"Failed to write settings.xml", "Settings.cpp"}));
    EXPECT_EQ(settings->getSetting("AudioDevice"), "x");
}

TEST_F(SettingsTest, DiskFullMidSaveLeavesThePreviousFile)
{
    Settings* settings = Settings::instance();
    settings->setSetting("AudioDevice", "1. Out (ALSA)");
    ASSERT_TRUE(settings->save());
    const QByteArray before = readAll(m_path);

    settings->setSetting("SampleLibPath", QString(100000, QChar('p')));
    // A file size limit binds root too: writes past it fail as on a full disk.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 4096;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = settings->save();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_TRUE(LogCapture::contains("Failed to write settings.xml"));
    EXPECT_EQ(readAll(m_path), before);
    EXPECT_EQ(QDir(m_dir).entryList(QDir::Files), QStringList{"settings.xml"});
}

} // namespace
