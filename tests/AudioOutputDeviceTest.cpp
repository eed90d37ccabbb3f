#include "AudioOutputDevice.h"

#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "LogCapture.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <memory>
#include <portaudio.h>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

// Stops that wait until the buffers queued at the device have played: a sound
// server may hold seconds of them, and quitting waited that long. Counted on
// the way to PortAudio's own.
static int g_waitingStops = 0;
extern "C" PaError Pa_StopStream(PaStream* stream)
{
    ++g_waitingStops;
    using Stop = PaError (*)(PaStream*);
    static const Stop real = reinterpret_cast<Stop>(dlsym(RTLD_NEXT, "Pa_StopStream"));
    return real(stream);
}

namespace {

// No sound card here: ALSA's default device becomes a file plugin, so PortAudio runs a
// real (unpaced) stream whose output lands in out.raw as interleaved float32 frames.
class AudioOutputDeviceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        const QString dir = TestAudio::scratchDir("alsa");
        s_raw = dir + "/out.raw";
        ASSERT_TRUE(TestAudio::writeBytes(dir + "/asound.conf",
                                          QString("pcm.!default { type file; slave.pcm \"null\"; "
                                                  "file \"%1\"; format \"raw\" }\n")
                                              .arg(s_raw)
                                              .toUtf8()));
        // Read by ALSA when PortAudio first initialises it: before any open.
        qputenv("ALSA_CONFIG_PATH",
                QFile::encodeName("/usr/share/alsa/alsa.conf:" + dir + "/asound.conf"));
    }

    void buildEngine(const QMap<QString, QString>& settings)
    {
        m_dir = freshTestDir();
        QFile::remove(s_raw);
        useFreshSettings(m_dir + "/data", settings);
        m_engine.reset(new SliceEngine());
    }

    // Loads a loop of distinctive samples and waits until it is decoded.
    std::vector<float> loadLoop(long frames)
    {
        const QString path = writeWav(m_dir, "loop.wav", frames);
        EXPECT_TRUE(m_engine->getKerfer()->slotLoadLoop(path));
        EXPECT_TRUE(waitFilled(m_engine->getKerfer()->getLoop()->getAudioCache().data()));
        return stereoSamples(path);
    }

    static QString s_raw;
    QString m_dir;
    std::unique_ptr<SliceEngine> m_engine;
};

QString AudioOutputDeviceTest::s_raw;

TEST_F(AudioOutputDeviceTest, PlaysTheLoopOnTheFirstDeviceAndRemembersIt)
{
    buildEngine({});
    // An empty store: the first output device is opened and written back.
    const QStringList devices = AudioOutputDevice::getDeviceList();
    ASSERT_FALSE(devices.isEmpty());
    EXPECT_TRUE(devices.first().startsWith("0. ")) << devices.first().toStdString();
    EXPECT_EQ(Settings::instance()->getSetting("AudioDevice"), devices.first());

    // "AudioDeviceBufferSize" counts the samples of both channels. One frame
    // crashed PortAudio's ALSA code; two billion samples were allocated.
    const std::pair<const char*, unsigned long> sizes[] = {
        {"512", 256}, {"-512", 1024}, {"lots", 1024}, {"3", 16}, {"2147483647", 2048}};
    for (const auto& size : sizes) {
        Settings::instance()->setSetting("AudioDeviceBufferSize", size.first);
        m_engine->closeAudioDevice();
        m_engine->openAudioDevice();
        EXPECT_EQ(m_engine->getAudioOutputDevice()->getFramesPerBuffer(), size.second)
            << size.first;
    }

    m_engine->closeAudioDevice();
    const std::vector<float> loop = loadLoop(30000);
    m_engine->getKerfer()->playLoop(true);
    QFile::remove(s_raw);
    m_engine->openAudioDevice();
    // Until the loop has played out and some silence followed (the stream runs unpaced).
    QElapsedTimer timer;
    timer.start();
    while ((m_engine->getKerfer()->getLoop()->isPlaying() ||
            QFileInfo(s_raw).size() < static_cast<qint64>((loop.size() + 16384) * sizeof(float))) &&
           timer.elapsed() < 10000)
        QThread::msleep(1);
    m_engine->closeAudioDevice();
    EXPECT_FALSE(m_engine->getKerfer()->getLoop()->isPlaying());
    EXPECT_EQ(g_waitingStops, 0);

    const QByteArray bytes = readBytes(s_raw);
    const float* written = reinterpret_cast<const float*>(bytes.constData());
    const std::vector<float> out(written, written + bytes.size() / sizeof(float));
    size_t first = 0;
    while (first < out.size() && out[first] == 0.0f)
        ++first;
    // The stream primes the device with silence, a whole number of frames.
    EXPECT_GE(first, 2u);
    EXPECT_EQ(first % 2, 0u);
    ASSERT_LE(first + loop.size() + 4096, out.size());

    // The loop in order, within the resampler's rounding (less than the step between
    // neighbouring frames), then silence right away: it played once, and the block
    // it ended in did not go on with its beginning.
    for (size_t i = 0; i < loop.size() + 4096; ++i) {
        const float expected = i < loop.size() ? loop[i] : 0.0f;
        ASSERT_NEAR(out[first + i], expected, 1e-3) << "sample " << i << " after " << first;
    }
}

TEST_F(AudioOutputDeviceTest, ExportLoopLeavesTheDevicePlayingAndItNeverHearsTheExport)
{
    buildEngine({});
    const std::vector<float> loop = loadLoop(88200);
    AudioOutputDevice* device = m_engine->getAudioOutputDevice();
    ASSERT_NE(device, nullptr);
    const auto captured = [] { return QFileInfo(s_raw).size(); };
    while (captured() == 0)
        QThread::msleep(1);
    LogCapture::clear();
    const qint64 before = captured();
    ASSERT_TRUE(m_engine->exportLoopFromStart(m_dir + "/loop.wav"));
    // The stream ran on (silent) while the export rendered, and was not reopened.
    EXPECT_GT(captured(), before);
    EXPECT_EQ(m_engine->getAudioOutputDevice(), device);
    EXPECT_FALSE(LogCapture::contains("iFramesPerBuffer"));
    const qint64 after = captured();
    while (captured() < after + (1 << 20))
        QThread::msleep(1);
    m_engine->closeAudioDevice();

    // Nothing of the loop, nor of the tail its resampler kept, reached the device.
    const QByteArray bytes = readBytes(s_raw);
    EXPECT_EQ(bytes.count('\0'), bytes.size());
    const std::vector<float> file = readWritten(m_dir + "/loop.wav").samples;
    ASSERT_EQ(file.size(), loop.size());
    for (size_t i = 0; i < 1024; ++i)
        ASSERT_NEAR(file[i], loop[i], 1e-3) << i;
}

TEST_F(AudioOutputDeviceTest, ADeviceThatIsNotThereRendersNothing)
{
    buildEngine({{"AudioDevice", "7. Gone (Nowhere)"}, {"MidiDevice", "None"}});
    EXPECT_TRUE(LogCapture::contains("Audio device 7 not found"));
    loadLoop(20000);
    m_engine->getKerfer()->playLoop(true);
    QThread::msleep(20);
    EXPECT_EQ(m_engine->getKerfer()->getLoop()->getPlayPos(), 0u);
    EXPECT_FALSE(QFile::exists(s_raw));
    // The setting names a device; it is kept, not replaced by the first one.
    EXPECT_EQ(Settings::instance()->getSetting("AudioDevice"), "7. Gone (Nowhere)");
}

} // namespace
