#include "BackgroundReader.h"

#include "Assert.h"
#include "AudioCache.h"

#include <QDebug>

BackgroundReader::BackgroundReader() = default;

BackgroundReader* BackgroundReader::instance()
{
    static BackgroundReader* s_instance = [] {
        BackgroundReader* reader = new BackgroundReader;
        reader->start();
        return reader;
    }();
    return s_instance;
}

void BackgroundReader::addCache(AudioCache* cache)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.append(cache);
    m_wake.notify_one();
}

void BackgroundReader::removeCache(AudioCache* cache)
{
    // On this thread the fill being waited for could never return.
    TMB_ASSERT(QThread::currentThread() != this);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_queue.removeAll(cache);
    if (m_pCurrent == cache) {
        cache->m_cancel.store(true, std::memory_order_release);
        m_fillDone.wait(lock, [&] { return m_pCurrent != cache; });
    }
}

void BackgroundReader::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.isEmpty(); });
        lock.unlock();
        qDebug() << "Running background reader";
        lock.lock();
        while (!m_queue.isEmpty()) {
            AudioCache* cache = m_queue.takeFirst();
            m_pCurrent = cache;
            lock.unlock();
            cache->fill();
            lock.lock();
            m_pCurrent = nullptr;
            m_fillDone.notify_all();
        }
    }
}
