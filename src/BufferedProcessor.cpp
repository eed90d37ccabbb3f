#include "BufferedProcessor.h"

#include "Align.h"

#include <QDebug>

#include <cstring>

BufferedProcessor::BufferedProcessor()
    : m_stopRequested(false), m_workerDone(false), m_fill(0), m_pCurrentBuffer(nullptr),
      m_pFullBuffer(nullptr),
      m_pBufferA(static_cast<float*>(AlignedMalloc(BufferSize * sizeof(float), 16))),
      m_pBufferB(static_cast<float*>(AlignedMalloc(BufferSize * sizeof(float), 16)))
{
    m_pCurrentBuffer = m_pBufferA;
    start(QThread::LowPriority);
}

BufferedProcessor::~BufferedProcessor()
{
    std::lock_guard<std::mutex> teardown(m_teardownMutex);
    {
        // Set under the mutex the worker waits with: a worker that has not yet
        // reached its first wait sees the flag before waiting, so the wake
        // below cannot be lost and the join cannot hang.
        std::unique_lock<std::mutex> lock(m_wakeMutex);
        m_stopRequested = true;
        m_wakeCondition.notify_all();
        // The worker's last touch of this object, seen through our own mutex:
        // QThread::wait() joins through Qt internals that race checkers
        // cannot follow. A thread that could not be created never answers.
        if (isRunning())
            m_wakeCondition.wait(lock, [this] { return m_workerDone; });
    }
    wait();
    AlignedFree(m_pBufferA);
    AlignedFree(m_pBufferB);
}

void BufferedProcessor::write(const float* samples, unsigned count)
{
    const unsigned space = static_cast<unsigned>(BufferSize - m_fill);
    if (count <= space) {
        std::memcpy(m_pCurrentBuffer + m_fill, samples, count * sizeof(float));
        m_fill += static_cast<int>(count);
        return;
    }
    std::memcpy(m_pCurrentBuffer + m_fill, samples, space * sizeof(float));
    swapBuffers();

    unsigned rest = count - space;
    if (rest > static_cast<unsigned>(BufferSize)) {
        qDebug() << "BufferedProcessor warning: dropped samples";
        rest = BufferSize;
    }
    std::memcpy(m_pCurrentBuffer, samples + space, rest * sizeof(float));
    m_fill = static_cast<int>(rest);
}

void BufferedProcessor::swapBuffers()
{
    // Does not wait for the worker: a full buffer it has not taken yet is
    // overwritten by the next round.
    m_pFullBuffer = m_pCurrentBuffer;
    m_pCurrentBuffer = m_pCurrentBuffer == m_pBufferB ? m_pBufferA : m_pBufferB;
    m_fill = 0;

    std::lock_guard<std::mutex> lock(m_wakeMutex);
    m_wakeCondition.notify_all();
}

void BufferedProcessor::run()
{
    std::unique_lock<std::mutex> lock(m_wakeMutex);
    while (!m_stopRequested) {
        m_wakeCondition.wait(lock);
        // A swap woke us: the full buffer would be processed here.
    }
    m_workerDone = true;
    m_wakeCondition.notify_all();
}
