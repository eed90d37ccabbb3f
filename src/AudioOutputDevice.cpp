#include "AudioOutputDevice.h"

#include "Settings.h"
#include "SliceEngine.h"

#include <QDebug>

#include <cstring>

QStringList AudioOutputDevice::s_deviceList;

namespace {
const int kChannels = 2;
const double kSampleRate = 44100.0;
// Samples of both channels per second, the unit of "AudioDeviceBufferSize".
const float kSamplesPerSecond = 88200.0f;
} // namespace

AudioOutputDevice::AudioOutputDevice(SliceEngine* engine) : m_pEngine(engine) {}

AudioOutputDevice::~AudioOutputDevice()
{
    // The owner closes first; a device destroyed while still running would
    // leave PortAudio calling into freed memory.
    if (m_pStream || m_initialised)
        close();
}

int AudioOutputDevice::open()
{
    const PaError initError = Pa_Initialize();
    if (initError != paNoError) {
        qDebug() << "PortAudio initialization error:" << Pa_GetErrorText(initError);
        return 1;
    }
    m_initialised = true;

    Settings* settings = Settings::instance();
    QString device = settings->getSetting(QStringLiteral("AudioDevice"));
    if (device.isEmpty()) {
        device = getDefaultDeviceName();
        settings->setSetting(QStringLiteral("AudioDevice"), device);
    }

    // Only the index identifies the device; text that is no number gives 0.
    const PaDeviceIndex devId = device.split(QLatin1Char('.')).first().toInt();
    qDebug() << "AudioDevice: Parsed devId" << devId;
    if (!Pa_GetDeviceInfo(devId)) {
        qDebug() << "Audio device" << devId << "not found";
        return 1;
    }

    const int samples = settings->getAudioBufferSize();
    m_framesPerBuffer = static_cast<unsigned long>(samples / kChannels);
    const float latency = static_cast<float>(samples) * (1.0f / kSamplesPerSecond);
    qDebug() << "iFramesPerBuffer:" << m_framesPerBuffer;

    PaStreamParameters output;
    std::memset(&output, 0, sizeof(output));
    output.device = devId;
    output.channelCount = kChannels;
    output.sampleFormat = paFloat32;
    output.suggestedLatency = static_cast<double>(latency);
    output.hostApiSpecificStreamInfo = nullptr;

    PaStream* stream = nullptr;
    PaError error = Pa_OpenStream(&stream, nullptr, &output, kSampleRate, m_framesPerBuffer,
                                  paNoFlag, &AudioOutputDevice::streamCallback, this);
    if (error != paNoError) {
        qDebug() << "PortAudio error:" << Pa_GetErrorText(error);
        return 1;
    }
    m_pStream = stream;
    error = Pa_StartStream(m_pStream);
    if (error != paNoError) {
        qDebug() << "PortAudio error:" << Pa_GetErrorText(error);
        return 1;
    }
    return 0;
}

int AudioOutputDevice::close()
{
    int result = 0;
    if (m_pStream) {
        // Aborted, not stopped: a stop waits until every buffer already handed
        // to the device has played, and a sound server can hold seconds of
        // them. Nobody listens for that tail when the device goes away (at
        // quit, or when the preferences change it), and quitting waited for it.
        PaError error = Pa_AbortStream(m_pStream);
        if (error != paNoError) {
            qDebug() << "PortAudio error:" << Pa_GetErrorText(error);
            result = 1;
        }
        // Closing also aborts a stream that would not stop, so that no
        // callback reaches the engine once this returns.
        error = Pa_CloseStream(m_pStream);
        if (error != paNoError) {
            qDebug() << "PortAudio error:" << Pa_GetErrorText(error);
            result = 1;
        }
        m_pStream = nullptr;
    }
    // A failed open leaves PortAudio initialised too; every open is matched
    // here, or the library would never be let go of.
    if (m_initialised) {
        m_initialised = false;
        const PaError error = Pa_Terminate();
        if (error != paNoError) {
            qDebug() << "PortAudio error:" << Pa_GetErrorText(error);
            result = 1;
        }
    }
    return result;
}

QStringList AudioOutputDevice::getDeviceList()
{
    s_deviceList.clear();
    const PaDeviceIndex count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || info->maxOutputChannels < 1)
            continue;
        const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
        s_deviceList.append(QStringLiteral("%1. %2 (%3)")
                                .arg(QString::number(i), QString::fromUtf8(info->name),
                                     api ? QString::fromUtf8(api->name) : QString()));
    }
    return s_deviceList;
}

QString AudioOutputDevice::getDefaultDeviceName()
{
    const QStringList devices = getDeviceList();
    return devices.isEmpty() ? QString() : devices.first();
}

int AudioOutputDevice::streamCallback(const void* /*input*/, void* output, unsigned long frameCount,
                                      const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                      PaStreamCallbackFlags /*statusFlags*/, void* userData)
{
    if (frameCount == 0 || !output)
        return paContinue;
    float* buffer = static_cast<float*>(output);
    // Every part of the engine adds into the buffer; none overwrites it.
    std::memset(buffer, 0, frameCount * kChannels * sizeof(float));
    static_cast<AudioOutputDevice*>(userData)->m_pEngine->render(buffer, frameCount * kChannels);
    return paContinue;
}
