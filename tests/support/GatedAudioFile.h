#pragma once

#include "AudioFile.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// An AudioFile that reads through a real reader (which it owns) but holds the
// reading thread at a gate before each read until the test lets it pass, so
// that a test can act while a background fill stands at a known chunk.
class GatedAudioFile : public AudioFile
{
public:
    explicit GatedAudioFile(AudioFile* inner, bool openGate = false)
        : m_inner(inner), m_open(openGate)
    {
    }

    // Lets n more reads pass the gate.
    void allow(int n)
    {
        change([&] { m_allowed += n; });
    }
    // Lets every read pass from now on.
    void openGate()
    {
        change([&] { m_open = true; });
    }
    // Waits until a read stands at the closed gate; false after timeoutMs.
    bool waitUntilHeld(int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_held; });
    }
    // Reads that have been asked for (also the one held at the gate).
    int readsStarted()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_started;
    }
    // Called on the reading thread as each read starts, with its number (from 0).
    void setOnRead(std::function<void(int)> onRead)
    {
        change([&] { m_onRead = onRead; });
    }

    unsigned long getLength() override { return m_inner->getLength(); }
    int getSampleRate() override { return m_inner->getSampleRate(); }
    void seek(unsigned long sample) override { m_inner->seek(sample); }
    std::uint64_t getPosition() override { return m_inner->getPosition(); }
    unsigned read(float* buffer, unsigned numSamples) override
    {
        std::function<void(int)> onRead;
        int number;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            number = m_started++;
            onRead = m_onRead;
            m_held = !m_open && m_allowed == 0;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_open || m_allowed > 0; });
            m_held = false;
            if (!m_open)
                --m_allowed;
        }
        if (onRead)
            onRead(number);
        return m_inner->read(buffer, numSamples);
    }

private:
    template <typename F> void change(F f)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        f();
        m_changed.notify_all();
    }

    std::unique_ptr<AudioFile> m_inner;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_allowed = 0;
    bool m_open = false;
    bool m_held = false;
    int m_started = 0;
    std::function<void(int)> m_onRead;
};
