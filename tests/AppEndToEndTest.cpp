// The real program, started as users start it, on an X display of the suite's
// own: keys are typed and windows grabbed from outside. Its sound goes to an
// ALSA file plugin (unpaced, so far faster than real time) and its settings to
// a private data location.
#include "DesktopTestSupport.h"
#include "TestAudio.h"
#include "ViewTestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace DesktopTestSupport;

namespace {

// The views' waveform green, which the tool bar icons are painted with too.
bool isGreen(QRgb pixel)
{
    return qGreen(pixel) > 200 && qRed(pixel) > 100 && qRed(pixel) < 190 && qBlue(pixel) < 70;
}

// Columns holding a pixel that passes in the rows from top to bottom tenths of
// the height.
template <typename Pass> int columns(const QImage& image, int top, int bottom, Pass pass)
{
    int count = 0;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = image.height() * top / 10; y < image.height() * bottom / 10; ++y) {
            if (pass(image.pixel(x, y))) {
                ++count;
                break;
            }
        }
    }
    return count;
}

// Pixels that pass in the rows [top, bottom).
template <typename Pass> int pixels(const QImage& image, int top, int bottom, Pass pass)
{
    int count = 0;
    for (int y = top; y < bottom && y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += pass(image.pixel(x, y)) ? 1 : 0;
    return count;
}

// Waveform green across (nearly) the whole slice editing view, the window's
// middle band.
bool showsLoop(const QImage& image)
{
    return columns(image, 3, 8, isGreen) >= image.width() * 9 / 10;
}

// Green in the tool bar under the menu bar; a disabled tool bar's icons are grey.
int toolBarGreen(const QImage& image)
{
    return pixels(image, 22, 76, isGreen);
}

// Painted: the menu bar is light and the slice editing view, below where a
// message box would be, shows its grey background (or more) rather than black.
bool isPainted(const QImage& image)
{
    return pixels(image, 0, 20, [](QRgb p) { return qGray(p) > 180; }) > image.width() * 5 &&
           columns(image, 6, 7, [](QRgb p) { return qGray(p) > 20; }) > image.width() / 2;
}

// Polls until the condition holds or a minute passed; whether it holds.
template <typename Condition> bool waitFor(Condition condition)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 60000)
            return false;
        QThread::msleep(200);
    }
    return true;
}

// The window's pixels once it is painted and shows what `done` waits for (or
// after a minute).
QImage grab(unsigned long window, bool (*done)(const QImage&) = nullptr)
{
    QImage shot;
    waitFor([&] {
        shot = QImage::fromData(grabWindowPng(window), "PNG");
        return !shot.isNull() && isPainted(shot) && (!done || done(shot));
    });
    return shot;
}

class AppEndToEndTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_display = new PrivateDisplay;
        ASSERT_TRUE(s_display->start()) << "no Xvfb";
    }
    static void TearDownTestSuite()
    {
        delete s_display;
        s_display = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(s_display, nullptr);
        m_dir = TestAudio::scratchDir(ViewTest::testName());
        m_raw = m_dir + "/out.raw";
        const QString alsa = m_dir + "/asound.conf";
        ASSERT_TRUE(TestAudio::writeBytes(
            alsa, QString("pcm.!default { type file; slave.pcm \"null\"; file \"%1\"; "
                          "format \"raw\" }\n")
                      .arg(m_raw)
                      .toUtf8()));
        // An existing, empty store: the only write is the one at the end.
        QDir().mkpath(m_dir + "/Fennory/Tamberlo");
        m_settings = m_dir + "/Fennory/Tamberlo/settings.xml";
        ASSERT_TRUE(TestAudio::writeBytes(m_settings, "<!DOCTYPE settings>\n<settings/>\n"));

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" + alsa);
        m_env.insert("XDG_DATA_HOME", m_dir);
        m_env.insert("QT_LOGGING_RULES", "*.debug=false;default.debug=true");
        // A sanitizer build checks the program too, with the repository's
        // suppressions for the system libraries.
        const QString source = qEnvironmentVariable("TAMBERLO_SOURCE_DIR");
        if (!source.isEmpty() && !m_env.contains("LSAN_OPTIONS"))
            m_env.insert("LSAN_OPTIONS", "suppressions=" + source + "/tests/lsan.supp");
        if (!source.isEmpty() && !m_env.contains("ASAN_OPTIONS"))
            m_env.insert("ASAN_OPTIONS", "suppressions=" + source + "/tests/asan.supp");
    }

    void TearDown() override
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->kill();
            m_process->waitForFinished(10000);
        }
        QFile::remove(m_raw);
    }

    // Starts the program and waits for its window.
    unsigned long start(const QStringList& arguments)
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(m_env);
        m_process->setStandardOutputFile(m_dir + "/stdout.log");
        m_process->setStandardErrorFile(m_dir + "/stderr.log");
        m_process->start(kBuildDir + "/tamberlo", arguments);
        EXPECT_TRUE(m_process->waitForStarted(10000));
        const unsigned long window = findWindow(m_process->processId(), "Tamberlo");
        EXPECT_NE(window, 0u) << "no window; log:\n" << log();
        return window;
    }

    std::string log() const
    {
        QFile file(m_dir + "/stderr.log");
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

    int logCount(const QString& fragment) const
    {
        return QString::fromStdString(log()).count(fragment);
    }

    // The program ended by itself with status 0, having saved the settings once.
    void expectEndedSavingOnce()
    {
        EXPECT_TRUE(m_process->waitForFinished(120000) &&
                    m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0)
            << log();
        EXPECT_EQ(logCount("Saving settings"), 1) << log();
    }

    // Whether the captured output holds a sample that is not zero between the
    // byte offsets from and to; at most 1 GiB of it, as it runs far faster
    // than real time.
    bool soundsBetween(qint64 from, qint64 to) const
    {
        QFile file(m_raw);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
            return false;
        for (qint64 left = qMin(to - from, qint64(1) << 30); left > 0;) {
            const QByteArray block = file.read(qMin<qint64>(left, 1 << 20));
            if (block.isEmpty())
                return false;
            if (block.count('\0') != block.size())
                return true;
            left -= block.size();
        }
        return false;
    }

    const QString kBuildDir = QDir(QCoreApplication::applicationDirPath() + "/..").absolutePath();
    QString m_dir;
    QString m_raw;
    QString m_settings;
    QProcessEnvironment m_env;
    std::unique_ptr<QProcess> m_process;
    static PrivateDisplay* s_display;
};

PrivateDisplay* AppEndToEndTest::s_display = nullptr;

TEST_F(AppEndToEndTest, StartedWithALoopItShowsItAndTheDigitOnePlaysIt)
{
    const QString loop = kBuildDir + "/demo-loops/tamberlo-beat-120bpm.wav";
    ASSERT_TRUE(QFile::exists(loop));
    const unsigned long window = start({loop});
    ASSERT_NE(window, 0u);
    // The waveform fills the view once the background fill is done.
    const QImage shot = grab(window, showsLoop);
    EXPECT_TRUE(showsLoop(shot));
    EXPECT_GE(toolBarGreen(shot), 50);

    // Nothing plays by itself (the latest output is silence); the digit 1
    // plays the first slice, here the whole loop.
    const qint64 before = QFileInfo(m_raw).size();
    ASSERT_GT(before, 0);
    EXPECT_FALSE(soundsBetween(qMax<qint64>(0, before - (8 << 20)), before));
    ASSERT_TRUE(pressKeys(window, "1"));
    EXPECT_TRUE(waitFor([&] { return soundsBetween(before, QFileInfo(m_raw).size()); }));
    QFile::remove(m_raw);

    ASSERT_TRUE(pressKeys(window, "ctrl+q"));
    expectEndedSavingOnce();
    EXPECT_EQ(logCount("app.exec() finished"), 0);
}

TEST_F(AppEndToEndTest, ClosingTheWindowSavesTheSettingsOnce)
{
    // The compressed demo loop goes through the decoder.
    const QString loop = kBuildDir + "/demo-loops/tamberlo-beat-120bpm.mp3";
    if (!QFile::exists(loop))
        GTEST_SKIP() << "built without the ffmpeg command: no MP3 demo loop";
    // Dated back, so that the write at the end shows.
    const QDateTime old = QDateTime::currentDateTime().addDays(-1);
    {
        QFile settings(m_settings);
        ASSERT_TRUE(settings.open(QIODevice::ReadWrite));
        ASSERT_TRUE(settings.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const unsigned long window = start({loop});
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(showsLoop(grab(window, showsLoop)));
    EXPECT_EQ(QFileInfo(m_settings).lastModified(), old);

    ASSERT_TRUE(requestClose(window));
    expectEndedSavingOnce();
    EXPECT_GT(QFileInfo(m_settings).lastModified(), old);
}

TEST_F(AppEndToEndTest, TheApplicationsQuitSavesTheSettingsOnce)
{
    // This way out closes the display, and the GL driver's libraries are
    // unloaded before the leak check, which then cannot tell their blocks
    // from ours; the other ways out are checked.
    m_env.insert("ASAN_OPTIONS", m_env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    const unsigned long window = start({});
    ASSERT_NE(window, 0u);
    // Painted: the event loop runs, and with it the signal handling.
    EXPECT_TRUE(isPainted(grab(window)));

    // A termination request (a session ending) quits through the event loop.
    m_process->terminate();
    expectEndedSavingOnce();
    EXPECT_EQ(logCount("app.exec() finished"), 1);
}

TEST_F(AppEndToEndTest, ANonAudioArgumentShowsTheErrorBoxAndNoLoop)
{
    const QString notes = m_dir + "/notes.wav";
    ASSERT_TRUE(TestAudio::writeBytes(notes, "not a sound\n"));
    const unsigned long window = start({notes});
    ASSERT_NE(window, 0u);
    const unsigned long box = findWindow(m_process->processId(), "Error");
    ASSERT_NE(box, 0u);
    const QImage shot = grab(window);
    EXPECT_TRUE(isPainted(shot));
    EXPECT_LE(toolBarGreen(shot), 2);
    EXPECT_LT(columns(shot, 3, 8, isGreen), shot.width() / 2);

    ASSERT_TRUE(pressKeys(box, "Return"));
    EXPECT_TRUE(waitFor([&] { return !findWindow(m_process->processId(), "Error", 0); }));
    EXPECT_LE(toolBarGreen(grab(window)), 2);
    ASSERT_TRUE(pressKeys(window, "ctrl+q"));
    expectEndedSavingOnce();
}

} // namespace
