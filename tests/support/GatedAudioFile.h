#pragma once

#include "AudioFile.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// Reads through a real reader (which it owns) but holds the reading thread at a gate
// before each read, so a test can act while a background fill stands at a known chunk.
class GatedAudioFile : public AudioFile
{
public:
    explicit GatedAudioFile(AudioFile* inner) : m_inner(inner) {}

    void allow(int n) // n more reads pass the gate
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_allowed += n;
        m_changed.notify_all();
    }
    void openGate() { allow(1 << 30); }
    // Waits until a read stands at the gate; false after timeoutMs.
    bool waitUntilHeld(int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_held; });
    }
    int readsStarted() // also the one held at the gate
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_started;
    }

    unsigned long getLength() override { return m_inner->getLength(); }
    int getSampleRate() override { return m_inner->getSampleRate(); }
    void seek(unsigned long sample) override { m_inner->seek(sample); }
    std::uint64_t getPosition() override { return m_inner->getPosition(); }
    unsigned read(float* buffer, unsigned numSamples) override
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_started;
            m_held = m_allowed == 0;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_allowed > 0; });
            m_held = false;
            --m_allowed;
        }
        return m_inner->read(buffer, numSamples);
    }

private:
    std::unique_ptr<AudioFile> m_inner;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_allowed = 0;
    bool m_held = false;
    int m_started = 0;
};
