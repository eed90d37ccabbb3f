// The real program, started as users start it, on an X display of the
// suite's own: keys are typed and windows grabbed from outside. Its sound goes to an ALSA
// file plugin (unpaced, so far faster than real time) and its settings to a
// private data location.
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

#include <cstring>
#include <memory>

using namespace DesktopTestSupport;

namespace {

const char* const kTitle = "Tamberlo";

QImage grabWindow(unsigned long window)
{
    return QImage::fromData(grabWindowPng(window), "PNG");
}

// The views' waveform green and what the tool bar icons are painted with.
bool isGreen(QRgb pixel)
{
    return qGreen(pixel) > 200 && qRed(pixel) > 100 && qRed(pixel) < 190 && qBlue(pixel) < 70;
}

// Columns of the window's middle band (the slice editing view) that hold
// waveform green.
int waveformColumns(const QImage& image)
{
    int columns = 0;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = image.height() * 3 / 10; y < image.height() * 8 / 10; ++y) {
            if (isGreen(image.pixel(x, y))) {
                ++columns;
                break;
            }
        }
    }
    return columns;
}

// Green pixels in the tool bar band, under the menu bar. A disabled tool bar
// shows its icons in grey.
int toolBarGreen(const QImage& image)
{
    int count = 0;
    for (int y = 22; y < 76 && y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += isGreen(image.pixel(x, y)) ? 1 : 0;
    return count;
}

// Whether the window has been painted: its menu bar is light and the slice
// editing view shows its grey background (or more) rather than black.
bool isPainted(const QImage& image)
{
    int light = 0;
    for (int y = 0; y < 20 && y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            light += qGray(image.pixel(x, y)) > 180 ? 1 : 0;
    int viewColumns = 0;
    for (int x = 0; x < image.width(); ++x) {
        // Below where a message box over the window would be.
        for (int y = image.height() * 55 / 100; y < image.height() * 65 / 100; ++y) {
            if (qGray(image.pixel(x, y)) > 20) {
                ++viewColumns;
                break;
            }
        }
    }
    return light > image.width() * 5 && viewColumns > image.width() / 2;
}

// Grabs the window until it shows what `done` waits for (or a minute passed).
template <typename Done> QImage grabUntil(unsigned long window, Done done)
{
    QElapsedTimer timer;
    timer.start();
    QImage shot;
    do {
        shot = grabWindow(window);
        if (!shot.isNull() && isPainted(shot) && done(shot))
            break;
        QThread::msleep(200);
    } while (timer.elapsed() < 60000);
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
        const QString settingsDir = m_dir + "/Fennory/Tamberlo";
        QDir().mkpath(settingsDir);
        m_settings = settingsDir + "/settings.xml";
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

    static QString buildDir()
    {
        return QDir(QCoreApplication::applicationDirPath() + "/..").absolutePath();
    }

    // Starts the program and waits for its window.
    unsigned long start(const QStringList& arguments)
    {
        m_process = std::make_unique<QProcess>();
        m_process->setProcessEnvironment(m_env);
        m_process->setStandardOutputFile(m_dir + "/stdout.log");
        m_process->setStandardErrorFile(m_dir + "/stderr.log");
        m_process->start(buildDir() + "/tamberlo", arguments);
        EXPECT_TRUE(m_process->waitForStarted(10000));
        const unsigned long window = findWindow(m_process->processId(), kTitle);
        EXPECT_NE(window, 0u) << "no window; log:\n" << log().toStdString();
        return window;
    }

    // Waits until the log holds the fragment `count` times.
    bool logs(const QString& fragment, int count = 1) const
    {
        QElapsedTimer timer;
        timer.start();
        while (logCount(fragment) < count && timer.elapsed() < 60000)
            QThread::msleep(100);
        return logCount(fragment) == count;
    }

    // Waits for the program to end; true when it ended by itself with status 0.
    bool finishes()
    {
        const bool finished = m_process->waitForFinished(120000);
        return finished && m_process->exitStatus() == QProcess::NormalExit &&
               m_process->exitCode() == 0;
    }

    QString log() const
    {
        QFile file(m_dir + "/stderr.log");
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    int logCount(const QString& fragment) const
    {
        int count = 0;
        for (const QString& line : log().split('\n'))
            count += line.contains(fragment) ? 1 : 0;
        return count;
    }

    // Whether any sample of the captured output between the byte offsets
    // `from` and `to` is not zero. The output runs far faster than real time,
    // so a scan stops after `limit` bytes.
    bool soundsBetween(qint64 from, qint64 to, qint64 limit = qint64(1) << 30) const
    {
        QFile file(m_raw);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
            return false;
        qint64 left = qMin(to - from, limit);
        const QByteArray silence(1 << 20, '\0');
        while (left > 0) {
            const QByteArray block = file.read(qMin<qint64>(left, silence.size()));
            if (block.isEmpty())
                break;
            left -= block.size();
            if (std::memcmp(block.constData(), silence.constData(), size_t(block.size())) != 0)
                return true;
        }
        return false;
    }

    qint64 rawSize() const { return QFileInfo(m_raw).size(); }

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
    const QString loop = buildDir() + "/demo-loops/tamberlo-beat-120bpm.wav";
    ASSERT_TRUE(QFile::exists(loop));
    const unsigned long window = start({loop});
    ASSERT_NE(window, 0u);

    // The waveform fills the view once the background fill is done.
    const QImage shot =
        grabUntil(window, [](const QImage& s) { return waveformColumns(s) >= s.width() * 9 / 10; });
    ASSERT_FALSE(shot.isNull());
    shot.save(m_dir + "/loaded.png");
    EXPECT_GE(waveformColumns(shot), shot.width() * 9 / 10);
    EXPECT_GE(toolBarGreen(shot), 50);
    EXPECT_TRUE(logs("Arguments:", 2));

    // Nothing plays by itself (the latest output is silence); the digit 1
    // plays the first slice, here the whole loop.
    const qint64 before = rawSize();
    ASSERT_GT(before, 0);
    EXPECT_FALSE(soundsBetween(qMax<qint64>(0, before - (8 << 20)), before));
    ASSERT_TRUE(pressKeys(window, "1"));
    QThread::msleep(500);
    QElapsedTimer timer;
    timer.start();
    bool sounded = false;
    while (!(sounded = soundsBetween(before, rawSize())) && timer.elapsed() < 60000)
        QThread::msleep(200);
    EXPECT_TRUE(sounded);
    QFile::remove(m_raw);

    ASSERT_TRUE(pressKeys(window, "ctrl+q"));
    EXPECT_TRUE(finishes()) << log().toStdString();
    EXPECT_EQ(logCount("Saving settings"), 1) << log().toStdString();
    EXPECT_EQ(logCount("app.exec() finished"), 0);
}

TEST_F(AppEndToEndTest, ClosingTheWindowSavesTheSettingsOnce)
{
    // The compressed demo loop goes through the decoder.
    const QString loop = buildDir() + "/demo-loops/tamberlo-beat-120bpm.mp3";
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
    const QImage shot =
        grabUntil(window, [](const QImage& s) { return waveformColumns(s) >= s.width() * 9 / 10; });
    EXPECT_GE(waveformColumns(shot), shot.width() * 9 / 10);
    EXPECT_GE(toolBarGreen(shot), 50);
    EXPECT_EQ(QFileInfo(m_settings).lastModified(), old);

    ASSERT_TRUE(requestClose(window));
    EXPECT_TRUE(finishes()) << log().toStdString();
    EXPECT_EQ(logCount("Saving settings"), 1) << log().toStdString();
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
    EXPECT_TRUE(logs("Arguments:", 1));
    // Nothing loaded: an empty view, a grey tool bar.
    const QImage shot = grabUntil(window, [](const QImage&) { return true; });
    shot.save(m_dir + "/empty.png");
    EXPECT_TRUE(isPainted(shot));
    EXPECT_LT(waveformColumns(shot), shot.width() / 2);
    EXPECT_LE(toolBarGreen(shot), 2);

    // A termination request (a session ending) quits through the event loop.
    m_process->terminate();
    EXPECT_TRUE(finishes()) << log().toStdString();
    EXPECT_EQ(logCount("Saving settings"), 1) << log().toStdString();
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
    const QImage shot = grabUntil(window, [](const QImage&) { return true; });
    shot.save(m_dir + "/error.png");
    EXPECT_TRUE(isPainted(shot));
    EXPECT_LE(toolBarGreen(shot), 2);
    EXPECT_LT(waveformColumns(shot), shot.width() / 2);

    ASSERT_TRUE(pressKeys(box, "Return"));
    QElapsedTimer timer;
    timer.start();
    while (windowExists(m_process->processId(), "Error") && timer.elapsed() < 60000)
        QThread::msleep(100);
    EXPECT_FALSE(windowExists(m_process->processId(), "Error"));
    const QImage after = grabUntil(window, [](const QImage&) { return true; });
    after.save(m_dir + "/after-error.png");
    EXPECT_TRUE(isPainted(after));
    EXPECT_LE(toolBarGreen(after), 2);

    ASSERT_TRUE(pressKeys(window, "ctrl+q"));
    EXPECT_TRUE(finishes()) << log().toStdString();
    EXPECT_EQ(logCount("Saving settings"), 1) << log().toStdString();
}

} // namespace
