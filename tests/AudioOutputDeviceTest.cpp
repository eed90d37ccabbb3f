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

#include <cstring>
#include <memory>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

// No sound card here: ALSA's default device becomes a file plugin over the
// null device, so PortAudio opens a real stream whose callbacks run (unpaced,
// far faster than real time) and whose output lands in out.raw as raw
// interleaved float32 frames.
class AudioOutputDeviceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = TestAudio::scratchDir("alsa");
        s_raw = s_dir + "/out.raw";
        const QString config = s_dir + "/asound.conf";
        const QByteArray text = QString("pcm.!default { type file; slave.pcm \"null\"; "
                                        "file \"%1\"; format \"raw\" }\n")
                                    .arg(s_raw)
                                    .toUtf8();
        ASSERT_TRUE(TestAudio::writeBytes(config, text));
        // Read by ALSA when PortAudio first initialises it: before any open.
        qputenv("ALSA_CONFIG_PATH", QFile::encodeName("/usr/share/alsa/alsa.conf:" + config));
    }

    void SetUp() override
    {
        m_dir =
            TestAudio::scratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        QFile::remove(s_raw);
        LogCapture::clear();
    }

    void TearDown() override { m_engine.reset(); }

    void buildEngine(const QMap<QString, QString>& settings)
    {
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

    static std::vector<float> captured()
    {
        QFile file(s_raw);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QByteArray bytes = file.readAll();
        std::vector<float> samples(static_cast<size_t>(bytes.size()) / sizeof(float));
        std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
        return samples;
    }

    static QString s_dir;
    static QString s_raw;
    QString m_dir;
    std::unique_ptr<SliceEngine> m_engine;
};

QString AudioOutputDeviceTest::s_dir;
QString AudioOutputDeviceTest::s_raw;

TEST_F(AudioOutputDeviceTest, PlaysTheLoopOnTheFirstDeviceAndRemembersIt)
{
    buildEngine({});
    // An empty store: the first output device is opened and written back.
    const QString device = Settings::instance()->getSetting("AudioDevice");
    EXPECT_TRUE(device.startsWith("0. ")) << device.toStdString();
    EXPECT_TRUE(device.endsWith(" (ALSA)")) << device.toStdString();
    const QStringList devices = AudioOutputDevice::getDeviceList();
    ASSERT_FALSE(devices.isEmpty());
    EXPECT_EQ(devices.first(), device);
    EXPECT_EQ(AudioOutputDevice::getDefaultDeviceName(), device);
    EXPECT_TRUE(LogCapture::containsAll({"AudioDevice: Parsed devId", "0"}));
    EXPECT_TRUE(LogCapture::containsAll({"iFramesPerBuffer:", "1024"}));
    EXPECT_EQ(m_engine->getAudioOutputDevice()->getFramesPerBuffer(), 1024u);

    // Closed, PortAudio is let go of: no devices are listed.
    m_engine->closeAudioDevice();
    EXPECT_TRUE(AudioOutputDevice::getDeviceList().isEmpty());

    const std::vector<float> loop = loadLoop(30000);
    m_engine->getKerfer()->playLoop(true);
    QFile::remove(s_raw);
    m_engine->openAudioDevice();
    ASSERT_NE(m_engine->getAudioOutputDevice(), nullptr);
    // Until the loop has played out and some silence followed it; the
    // stream runs unpaced, so that takes milliseconds unless the machine is
    // busy.
    QElapsedTimer timer;
    timer.start();
    while ((m_engine->getKerfer()->getLoop()->isPlaying() ||
            QFileInfo(s_raw).size() < static_cast<qint64>((loop.size() + 16384) * sizeof(float))) &&
           timer.elapsed() < 10000)
        QThread::msleep(1);
    m_engine->closeAudioDevice();
    EXPECT_FALSE(m_engine->getKerfer()->getLoop()->isPlaying());

    const std::vector<float> out = captured();
    ASSERT_GT(out.size(), loop.size() + 4096);
    size_t first = 0;
    while (first < out.size() && out[first] == 0.0f)
        ++first;
    // The stream primes the device with silence, a whole number of frames.
    EXPECT_GE(first, 2u);
    EXPECT_EQ(first % 2, 0u);
    ASSERT_LE(first + loop.size(), out.size());

    // What the loop sounds like through the same chain, one 1024-frame
    // buffer at a time: the device got exactly that, in order.
    Kerfer alone;
    ASSERT_TRUE(alone.slotLoadLoop(m_engine->getKerfer()->getLoop()->getFilename()));
    ASSERT_TRUE(waitFilled(alone.getLoop()->getAudioCache().data()));
    alone.playLoop(true);
    std::vector<float> expected(loop.size() + 4096, 0.0f);
    for (size_t b = 0; b < expected.size(); b += 2048)
        alone.render(expected.data() + b,
                     static_cast<unsigned>(std::min<size_t>(2048, expected.size() - b)));
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(out[first + i], expected[i]) << "sample " << i << " after " << first;
    // And that is the loop itself, to within the resampler's rounding,
    // followed by silence: it played once.
    for (size_t i = 0; i < loop.size(); ++i)
        ASSERT_NEAR(out[first + i], loop[i], 1e-3) << "sample " << i;
    for (size_t i = loop.size() + 2048; i < expected.size(); ++i)
        ASSERT_EQ(out[first + i], 0.0f) << "sample " << i;
}

TEST_F(AudioOutputDeviceTest, BufferSizeSettingAndItsFallbacks)
{
    buildEngine({{"AudioDeviceBufferSize", "512"}, {"MidiDevice", "None"}});
    EXPECT_TRUE(LogCapture::containsAll({"iFramesPerBuffer:", "256"}));
    EXPECT_EQ(m_engine->getAudioOutputDevice()->getFramesPerBuffer(), 256u);
    EXPECT_EQ(Settings::instance()->getSetting("AudioDevice"),
              AudioOutputDevice::getDeviceList().first());

    for (const char* text : {"0", "-512", "lots", ""}) {
        Settings::instance()->setSetting("AudioDeviceBufferSize", text);
        m_engine->closeAudioDevice();
        m_engine->openAudioDevice();
        EXPECT_EQ(m_engine->getAudioOutputDevice()->getFramesPerBuffer(), 1024u) << text;
    }
}

TEST_F(AudioOutputDeviceTest, ADeviceThatIsNotThereRendersNothing)
{
    buildEngine({{"AudioDevice", "7. Gone (Nowhere)"}, {"MidiDevice", "None"}});
    EXPECT_TRUE(LogCapture::containsAll({"Audio device", "7", "not found"}));
    EXPECT_FALSE(LogCapture::contains("iFramesPerBuffer:"));
    loadLoop(20000);
    m_engine->getKerfer()->playLoop(true);
    QThread::msleep(20);
    EXPECT_EQ(m_engine->getKerfer()->getLoop()->getPlayPos(), 0u);
    EXPECT_FALSE(QFile::exists(s_raw));
    // The setting names a device; it is kept, not replaced by the first one.
    EXPECT_EQ(Settings::instance()->getSetting("AudioDevice"), "7. Gone (Nowhere)");

    // The callback: nothing for zero frames, otherwise cleared, then rendered.
    AudioOutputDevice* device = m_engine->getAudioOutputDevice();
    std::vector<float> buffer(64, 0.5f);
    EXPECT_EQ(AudioOutputDevice::streamCallback(nullptr, buffer.data(), 0, nullptr, 0, device),
              paContinue);
    EXPECT_EQ(buffer, std::vector<float>(64, 0.5f));
    EXPECT_EQ(m_engine->getKerfer()->getLoop()->getPlayPos(), 0u);
    EXPECT_EQ(AudioOutputDevice::streamCallback(nullptr, buffer.data(), 32, nullptr, 0, device),
              paContinue);
    EXPECT_NE(m_engine->getKerfer()->getLoop()->getPlayPos(), 0u);
    m_engine->getKerfer()->playLoop(false);
    std::fill(buffer.begin(), buffer.end(), 0.5f);
    // Drain what the stopped loop still holds, then a block is plain silence.
    for (int i = 0; i < 2000; ++i)
        AudioOutputDevice::streamCallback(nullptr, buffer.data(), 32, nullptr, 0, device);
    EXPECT_EQ(buffer, std::vector<float>(64, 0.0f));
}

} // namespace
