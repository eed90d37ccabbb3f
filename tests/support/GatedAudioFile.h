#pragma once

#include "AudioFile.h"

#include <QString>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// An AudioFile that reads through a real reader but holds the reading thread
// at a gate before each read until the test lets it pass, so that a test can
// act while a background fill stands at a known chunk. Every read is counted
// and may be reported to a callback (on the reading thread).
class GatedAudioFile : public AudioFile
{
public:
    // Takes ownership of inner. The gate starts closed with no reads allowed
    // unless openGate is true.
    explicit GatedAudioFile(AudioFile* inner, bool openGate = false);
    ~GatedAudioFile() override;

    // Lets n more reads pass the gate.
    void allow(int n);
    // Lets every read pass from now on.
    void openGate();
    // Waits until a read stands at the closed gate; false after timeoutMs.
    bool waitUntilHeld(int timeoutMs = 10000);
    // Reads that have been asked for (also the one held at the gate).
    int readsStarted() const;
    // Called on the reading thread as each read starts, with its number (from 0).
    void setOnRead(std::function<void(int)> onRead);

    unsigned long getLength() override;
    int getSampleRate() override;
    unsigned read(float* buffer, unsigned numSamples) override;
    void seek(unsigned long sample) override;
    std::uint64_t getPosition() override;

private:
    std::unique_ptr<AudioFile> m_inner;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_allowed = 0;
    bool m_open = false;
    bool m_held = false;
    int m_started = 0;
    std::function<void(int)> m_onRead;
};
