#include "HitAnalysisJob.h"

#include "AudioCache.h"
#include "Slice.h"

#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

struct HitAnalysisJob::Run
{
    // Kept here, not borrowed from the loop: a loop replaced while it is read
    // would otherwise take its audio with it.
    QSharedPointer<AudioCache> cache;
    int rate = 0;
    std::atomic<bool> cancel{false};
    HitAnalysis result;
    std::thread thread;
};

HitAnalysisJob::HitAnalysisJob(QObject* parent) : QObject(parent) {}

HitAnalysisJob::~HitAnalysisJob()
{
    for (const std::unique_ptr<Run>& run : m_runs)
        run->cancel.store(true, std::memory_order_relaxed);
    for (const std::unique_ptr<Run>& run : m_runs)
        run->thread.join();
}

void HitAnalysisJob::start(const QSharedPointer<Slice>& loop)
{
    clear();
    if (!loop || loop->getLength() == 0 || loop->getSampleRate() <= 0 || !loop->getAudioCache())
        return;
    auto run = std::make_unique<Run>();
    run->cache = loop->getAudioCache();
    run->rate = loop->getSampleRate();
    Run* r = run.get();
    r->thread = std::thread([this, r] {
        // The fill runs on the reader's thread; the wait for it is this
        // thread's, so the user interface never waits for it.
        while (!r->cache->isFilled() && !r->cancel.load(std::memory_order_relaxed))
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!r->cancel.load(std::memory_order_relaxed))
            r->result = HitAnalysis::analyse(*r->cache, r->rate, &r->cancel);
        // Taken on this object's thread, where the cache is let go too; a
        // job destroyed meanwhile has joined this thread and drops the call.
        QMetaObject::invokeMethod(
            this, [this, r] { collect(r); }, Qt::QueuedConnection);
    });
    m_runs.push_back(std::move(run));
    m_pCurrent = r;
}

void HitAnalysisJob::clear()
{
    if (m_pCurrent)
        m_pCurrent->cancel.store(true, std::memory_order_relaxed);
    m_pCurrent = nullptr;
    m_result = HitAnalysis();
}

bool HitAnalysisJob::isBusy() const
{
    return m_pCurrent != nullptr;
}

void HitAnalysisJob::collect(Run* run)
{
    run->thread.join();
    const bool current = run == m_pCurrent;
    if (current) {
        m_pCurrent = nullptr;
        m_result = std::move(run->result);
    }
    m_runs.erase(std::find_if(m_runs.begin(), m_runs.end(),
                              [run](const std::unique_ptr<Run>& r) { return r.get() == run; }));
    if (current && m_result.isComplete())
        emit finished();
}
