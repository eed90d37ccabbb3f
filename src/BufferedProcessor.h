#pragma once

#include <QThread>

#include <condition_variable>
#include <mutex>

// Double-buffered hand-off from a real-time producer to a low-priority worker:
// the producer appends without waiting; when the current buffer is full the two
// buffers swap and the worker is woken for the full one. The worker does
// nothing with it yet. write() and the destructor must not run concurrently.
class BufferedProcessor : public QThread
{
public:
    static constexpr int BufferSize = 65536;

    BufferedProcessor();
    ~BufferedProcessor() override;

    // Appends count samples; allocates nothing and locks only when it swaps.
    // Whatever does not fit in the buffer after a swap is dropped (and logged).
    void write(const float* samples, unsigned count);
    // Hands the current buffer to the worker and starts writing the other one.
    void swapBuffers();

    // Producer side, for inspection.
    int getFill() const { return m_fill; }
    // 0 while writing buffer A, 1 while writing buffer B.
    int getCurrentBufferIndex() const { return m_pCurrentBuffer == m_pBufferA ? 0 : 1; }
    const float* getCurrentBuffer() const { return m_pCurrentBuffer; }
    const float* getFullBuffer() const { return m_pFullBuffer; }

protected:
    void run() override;

private:
    bool m_stopRequested; // guarded by m_wakeMutex
    bool m_workerDone;    // guarded by m_wakeMutex
    int m_fill;
    float* m_pCurrentBuffer;
    float* m_pFullBuffer;
    float* m_pBufferA;
    float* m_pBufferB;
    std::mutex m_teardownMutex;
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeCondition;
};
