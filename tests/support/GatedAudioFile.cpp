#include "GatedAudioFile.h"

#include <chrono>

GatedAudioFile::GatedAudioFile(AudioFile* inner, bool openGate) : m_inner(inner), m_open(openGate)
{
}

GatedAudioFile::~GatedAudioFile() = default;

void GatedAudioFile::allow(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_allowed += n;
    m_changed.notify_all();
}

void GatedAudioFile::openGate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
    m_changed.notify_all();
}

bool GatedAudioFile::waitUntilHeld(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_held; });
}

int GatedAudioFile::readsStarted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_started;
}

void GatedAudioFile::setOnRead(std::function<void(int)> onRead)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onRead = std::move(onRead);
}

unsigned long GatedAudioFile::getLength()
{
    return m_inner->getLength();
}

int GatedAudioFile::getSampleRate()
{
    return m_inner->getSampleRate();
}

unsigned GatedAudioFile::read(float* buffer, unsigned numSamples)
{
    std::function<void(int)> onRead;
    int number;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        number = m_started++;
        onRead = m_onRead;
        if (!m_open && m_allowed == 0) {
            m_held = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_open || m_allowed > 0; });
            m_held = false;
        }
        if (!m_open)
            --m_allowed;
    }
    if (onRead)
        onRead(number);
    return m_inner->read(buffer, numSamples);
}

void GatedAudioFile::seek(unsigned long sample)
{
    m_inner->seek(sample);
}

std::uint64_t GatedAudioFile::getPosition()
{
    return m_inner->getPosition();
}
