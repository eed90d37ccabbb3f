// The real program on an X display of the suite's own, driven from outside (xdotool, ImageMagick);
// its sound goes to an unpaced ALSA file plugin and its settings to a private data location.
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

#include <dlfcn.h>
#include <functional>
#include <memory>

// Last: Xlib defines macros (None, Bool, Status, ...) that clash with the rest.
#include <X11/Xlib.h>

namespace {

bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(20000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = process.readAllStandardOutput();
    return ok;
}

// Polls until the condition holds or a minute passed; whether it holds.
template <typename Condition> bool waitFor(Condition condition, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(100);
    }
    return true;
}

// The visible window of process pid titled exactly title; 0 when none appears.
unsigned long findWindow(qint64 pid, const QString& title, int timeoutMs = 60000)
{
    unsigned long window = 0;
    waitFor(
        [&] {
            QByteArray ids;
            run("xdotool",
                {"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--name",
                 "^" + title + "$"},
                &ids);
            return (window = ids.split('\n').first().toULong()) != 0;
        },
        timeoutMs);
    return window;
}

bool pressKeys(unsigned long window, const QString& keys)
{
    return run("xdotool", {"windowfocus", "--sync", QString::number(window)}) &&
           run("xdotool", {"key", "--clearmodifiers", keys});
}

// The WM_DELETE_WINDOW request a window manager sends when the user closes the
// window. Xlib is loaded at run time (and never unloaded: the toolkit may use it).
bool requestClose(unsigned long window)
{
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
#define TMB_XLIB(name) reinterpret_cast<decltype(&name)>(dlsym(xlib, #name))
    Display* display = xlib ? TMB_XLIB(XOpenDisplay)(nullptr) : nullptr;
    if (!display)
        return false;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = TMB_XLIB(XInternAtom)(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(TMB_XLIB(XInternAtom)(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = TMB_XLIB(XSendEvent)(display, window, False, NoEventMask, &event) != 0;
    TMB_XLIB(XCloseDisplay)(display); // flushes the request
#undef TMB_XLIB
    return sent;
}

// Pixels passing in rows [top, bottom), or with byColumn the columns holding one.
template <typename Pass>
int count(const QImage& image, int top, int bottom, Pass pass, bool byColumn = false)
{
    int n = 0;
    for (int x = 0; x < image.width(); ++x) {
        int hits = 0;
        for (int y = top; y < bottom && y < image.height(); ++y)
            hits += pass(image.pixel(x, y)) ? 1 : 0;
        n += byColumn ? (hits > 0 ? 1 : 0) : hits;
    }
    return n;
}

// The views' waveform green, which the tool bar icons are painted with too.
bool isGreen(QRgb p)
{
    return qGreen(p) > 200 && qRed(p) > 100 && qRed(p) < 190 && qBlue(p) < 70;
}

// Waveform green across (nearly) the whole slice editing view, the window's middle band.
bool showsLoop(const QImage& image)
{
    const int h = image.height();
    return count(image, h * 3 / 10, h * 8 / 10, isGreen, true) >= image.width() * 9 / 10;
}

// Green in the tool bar under the menu bar; a disabled tool bar's icons are grey.
int toolBarGreen(const QImage& image)
{
    return count(image, 22, 76, isGreen);
}

// Painted: a light menu bar, and the view below where a message box would be not black.
bool isPainted(const QImage& image)
{
    const auto light = [](QRgb p) { return qGray(p) > 180; };
    const auto notBlack = [](QRgb p) { return qGray(p) > 20; };
    const int w = image.width(), h = image.height();
    return count(image, 0, 20, light) > w * 5 &&
           count(image, h * 6 / 10, h * 7 / 10, notBlack, true) > w / 2;
}

// The window's pixels once painted and showing what `done` waits for (or after a minute).
QImage grab(unsigned long window, const std::function<bool(const QImage&)>& done = {})
{
    QImage shot;
    waitFor([&] {
        QByteArray png;
        run("import", {"-window", QString::number(window), "png:-"}, &png);
        shot = QImage::fromData(png, "PNG");
        return !shot.isNull() && isPainted(shot) && (!done || done(shot));
    });
    return shot;
}

class AppEndToEndTest : public ::testing::Test
{
protected:
    // An X server of the suite's own (Xvfb), so that windows of suites running
    // at the same time neither cover the windows grabbed here nor take their keys.
    static void SetUpTestSuite()
    {
        s_server = new QProcess;
        s_server->start("Xvfb",
                        {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        // -displayfd: the server picks a free display and writes its number.
        ASSERT_TRUE(s_server->waitForReadyRead(30000)) << "no Xvfb";
        qputenv("DISPLAY", ":" + s_server->readAllStandardOutput().trimmed());
        // Seen once on a busy machine: the number came before the server took clients.
        ASSERT_TRUE(waitFor([] { return run("xdotool", {"getdisplaygeometry"}); }, 30000))
            << "Xvfb takes no clients";
    }
    static void TearDownTestSuite()
    {
        s_server->terminate();
        s_server->waitForFinished(10000);
        delete s_server;
    }

    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(ViewTest::testName());
        m_raw = m_dir + "/out.raw";
        const QString alsa = m_dir + "/asound.conf";
        const QString pcm("pcm.!default { type file; slave.pcm null; file \"%1\"; format raw }\n");
        ASSERT_TRUE(TestAudio::writeBytes(alsa, pcm.arg(m_raw).toUtf8()));
        // An existing, empty store, dated back so that the write at the end shows.
        QDir().mkpath(m_dir + "/Fennory/Tamberlo");
        m_settings.setFileName(m_dir + "/Fennory/Tamberlo/settings.xml");
        ASSERT_TRUE(m_settings.open(QIODevice::WriteOnly) &&
                    m_settings.write("<!DOCTYPE settings>\n<settings/>\n") > 0 &&
                    m_settings.flush() &&
                    m_settings.setFileTime(kOld, QFileDevice::FileModificationTime));
        m_settings.close();

        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert("ALSA_CONFIG_PATH", "/usr/share/alsa/alsa.conf:" + alsa);
        m_env.insert("XDG_DATA_HOME", m_dir);
        m_env.insert("QT_LOGGING_RULES", "*.debug=false;default.debug=true");
        // A sanitizer build checks the program too, with the repository's suppressions.
        const QString source = qEnvironmentVariable("TAMBERLO_SOURCE_DIR");
        for (const QString tool : {"lsan", "asan"})
            if (!source.isEmpty() && !m_env.contains(tool.toUpper() + "_OPTIONS"))
                m_env.insert(tool.toUpper() + "_OPTIONS",
                             "suppressions=" + source + "/tests/" + tool + ".supp");
    }

    void TearDown() override
    {
        m_process.reset(); // kills it if still running
        QFile::remove(m_raw);
    }

    // Starts the program and waits for its window.
    unsigned long start(const QStringList& arguments)
    {
        unsigned long window = 0;
        // On a loaded machine the server now and then refuses a connection for a
        // moment; the program then ends at once, and a second start finds it.
        for (int attempt = 0; attempt < 3 && window == 0; ++attempt) {
            m_process = std::make_unique<QProcess>();
            m_process->setProcessEnvironment(m_env);
            m_process->setStandardOutputFile(QProcess::nullDevice());
            m_process->setStandardErrorFile(m_dir + "/stderr.log");
            m_process->start(kBuildDir + "/tamberlo", arguments);
            EXPECT_TRUE(m_process->waitForStarted(10000));
            // Titled after the loop once one is loaded.
            window = findWindow(m_process->processId(), QString::fromUtf8("(.* \u2014 )?Tamberlo"));
            if (window == 0 && !log().contains("could not connect to display"))
                break;
        }
        EXPECT_NE(window, 0u) << "no window; log:\n" << log().toStdString();
        return window;
    }

    QString log() const
    {
        QFile file(m_dir + "/stderr.log");
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
    }

    // The program ended by itself with status 0, having saved the settings once.
    void expectEndedSavingOnce()
    {
        EXPECT_EQ(QFileInfo(m_settings).lastModified(), kOld);
        EXPECT_TRUE(m_process->waitForFinished(120000) &&
                    m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0)
            << log().toStdString();
        EXPECT_EQ(log().count("Saving settings"), 1) << log().toStdString();
        EXPECT_GT(QFileInfo(m_settings).lastModified(), kOld);
    }

    // Whether the captured output is not all zero between the byte offsets (at most 1 GiB).
    bool soundsBetween(qint64 from, qint64 to) const
    {
        QFile file(m_raw);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
            return false;
        to = qMin(to, from + (qint64(1) << 30));
        for (QByteArray block; file.pos() < to && !(block = file.read(1 << 20)).isEmpty();)
            if (block.count('\0') != block.size())
                return true;
        return false;
    }

    const QString kBuildDir = QDir(QCoreApplication::applicationDirPath() + "/..").absolutePath();
    const QDateTime kOld = QDateTime::currentDateTime().addDays(-1);
    QString m_dir, m_raw;
    QFile m_settings;
    QProcessEnvironment m_env;
    std::unique_ptr<QProcess> m_process;
    static QProcess* s_server;
};

QProcess* AppEndToEndTest::s_server = nullptr;

TEST_F(AppEndToEndTest, StartedWithALoopItShowsItAndTheDigitOnePlaysIt)
{
    const QString loop = kBuildDir + "/demo-loops/tamberlo-beat-120bpm.wav";
    ASSERT_TRUE(QFile::exists(loop));
    const unsigned long window = start({loop});
    ASSERT_NE(window, 0u);
    EXPECT_EQ(findWindow(m_process->processId(),
                         QString::fromUtf8("tamberlo-beat-120bpm\\.wav \u2014 Tamberlo")),
              window);
    // The waveform fills the view once the background fill is done.
    const QImage shot = grab(window, showsLoop);
    EXPECT_TRUE(showsLoop(shot));
    EXPECT_GE(toolBarGreen(shot), 50);

    // Nothing plays by itself; the digit 1 plays the first slice, here the whole loop.
    const qint64 before = QFileInfo(m_raw).size();
    ASSERT_GT(before, 0);
    EXPECT_FALSE(soundsBetween(qMax<qint64>(0, before - (8 << 20)), before));
    ASSERT_TRUE(pressKeys(window, "1"));
    EXPECT_TRUE(waitFor([&] { return soundsBetween(before, QFileInfo(m_raw).size()); }));
    QFile::remove(m_raw);

    ASSERT_TRUE(pressKeys(window, "ctrl+q"));
    expectEndedSavingOnce();
    EXPECT_EQ(log().count("app.exec() finished"), 0);
}

TEST_F(AppEndToEndTest, AtTwiceThePixelDensityTheWholeLoopShowsOnTheScreen)
{
    m_env.insert("QT_SCALE_FACTOR", "2");
    const unsigned long window = start({kBuildDir + "/demo-loops/tamberlo-beat-120bpm.wav"});
    ASSERT_NE(window, 0u);
    // The ruler's labels, light on its dark strip, at the doubled size: over 10 rows tall.
    const auto strip = [](QRgb p) {
        return qGray(p) >= 28 && qGray(p) <= 42 && QColor(p).saturation() < 10;
    };
    const auto light = [](QRgb p) { return qGray(p) > 150; };
    const auto labelRows = [&](const QImage& image) {
        int rows = 0;
        for (int y = 60; y < image.height() / 2; ++y)
            if (count(image, y, y + 1, strip) > image.width() / 2 &&
                count(image, y, y + 1, light) > 4)
                ++rows;
        return rows;
    };
    // A loaded machine may paint the ruler a frame after the waveform.
    const QImage shot = grab(
        window, [&](const QImage& image) { return showsLoop(image) && labelRows(image) >= 10; });
    EXPECT_TRUE(showsLoop(shot));
    // Twice the designed 716 x 376, held to the 1024 x 768 screen rather than cut off by it.
    EXPECT_EQ(shot.width(), 1024);
    EXPECT_EQ(shot.height(), 752);
    EXPECT_GE(labelRows(shot), 10);
    ASSERT_TRUE(pressKeys(window, "ctrl+q"));
    expectEndedSavingOnce();
}

TEST_F(AppEndToEndTest, ClosingTheWindowSavesTheSettingsOnce)
{
    // The compressed demo loop goes through the decoder.
    const QString loop = kBuildDir + "/demo-loops/tamberlo-beat-120bpm.mp3";
    if (!QFile::exists(loop))
        GTEST_SKIP() << "built without the ffmpeg command: no MP3 demo loop";
    const unsigned long window = start({loop});
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(showsLoop(grab(window, showsLoop)));
    ASSERT_TRUE(requestClose(window));
    expectEndedSavingOnce();
}

TEST_F(AppEndToEndTest, ANonAudioArgumentShowsTheErrorBoxAndTheApplicationsQuitSavesOnce)
{
    // This way out closes the display and the GL driver's libraries are
    // unloaded before the leak check, which then cannot tell their blocks from ours.
    m_env.insert("ASAN_OPTIONS", m_env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    const QString notes = m_dir + "/notes.wav";
    ASSERT_TRUE(TestAudio::writeBytes(notes, "not a sound\n"));
    const unsigned long window = start({notes});
    ASSERT_NE(window, 0u);
    const unsigned long box = findWindow(m_process->processId(), "Error");
    ASSERT_NE(box, 0u);
    const QImage shot = grab(window);
    EXPECT_TRUE(isPainted(shot));
    EXPECT_LE(toolBarGreen(shot), 2);
    EXPECT_FALSE(showsLoop(shot));

    ASSERT_TRUE(pressKeys(box, "Return"));
    EXPECT_TRUE(waitFor([&] { return !findWindow(m_process->processId(), "Error", 0); }));
    EXPECT_LE(toolBarGreen(grab(window)), 2);

    // A termination request (a session ending) quits through the event loop.
    m_process->terminate();
    expectEndedSavingOnce();
    EXPECT_EQ(log().count("app.exec() finished"), 1);
}

} // namespace
