#pragma once

#include <QString>
#include <QStringList>

#include <portaudio.h>

class SliceEngine;

// The sound card, through one PortAudio output stream (stereo, 32-bit float,
// 44100 Hz) on the device named by the "AudioDevice" setting, whose callback
// has the engine fill every buffer. A device object is opened once and closed
// once; the engine builds a new one to re-open.
//
// open, close and the device list run on the user-interface thread; the
// callback runs on PortAudio's audio thread. close returns only after the
// last callback has, so the engine may be destroyed right after it.
class AudioOutputDevice
{
public:
    explicit AudioOutputDevice(SliceEngine* engine);
    ~AudioOutputDevice();

    AudioOutputDevice(const AudioOutputDevice&) = delete;
    AudioOutputDevice& operator=(const AudioOutputDevice&) = delete;

    // Initialises PortAudio, opens the device and starts the stream. 0 on
    // success, 1 on failure (logged; the program then runs without sound).
    int open();
    // Stops the stream at once, without playing out what is queued, closes
    // it and lets go of PortAudio. 0 on success, 1 when PortAudio reported an
    // error (logged). No callback runs afterwards either way.
    int close();

    // The output devices as "index. name (host API)" entries, the form of the
    // "AudioDevice" setting. Empty unless PortAudio is initialised (between
    // open and close of some device object).
    static QStringList getDeviceList();
    // The first entry of a fresh device list, or an empty string.
    static QString getDefaultDeviceName();

    // Frames per buffer the stream was opened with (0 before a successful open).
    unsigned long getFramesPerBuffer() const { return m_framesPerBuffer; }

    // PortAudio's stream callback: clears the buffer, then lets the engine
    // add into it. Allocates nothing and logs nothing.
    static int streamCallback(const void* input, void* output, unsigned long frameCount,
                              const PaStreamCallbackTimeInfo* timeInfo,
                              PaStreamCallbackFlags statusFlags, void* userData);

private:
    SliceEngine* m_pEngine;
    PaStream* m_pStream = nullptr;
    bool m_initialised = false;
    unsigned long m_framesPerBuffer = 0;

    static QStringList s_deviceList;
};
