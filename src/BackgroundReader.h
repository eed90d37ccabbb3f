#pragma once

#include <QList>
#include <QThread>

#include <condition_variable>
#include <mutex>

class AudioCache;

// The one thread that fills caches, one at a time, in the order they were
// queued. Created on first use and never destroyed; it sleeps while the queue
// is empty, so a cache queued at any moment is filled.
//
// The queue's mutex is held only to add, take or remove an entry, never during
// a fill: queueing a cache on the user-interface thread never waits for the
// fill that is running.
class BackgroundReader : public QThread
{
    Q_OBJECT
public:
    static BackgroundReader* instance();

    void addCache(AudioCache* cache);
    // Takes the cache out of the queue, or, if it is being filled now, stops
    // that fill after the chunk in progress and waits until the reader has let
    // go of the cache. Must not be called on the reader thread.
    void removeCache(AudioCache* cache);

protected:
    void run() override;

private:
    BackgroundReader();

    // The standard primitives rather than QMutex and QWaitCondition: their
    // waits happen inside the Qt library, where ThreadSanitizer cannot see
    // them, and the race checks of this class would report phantom races.
    QList<AudioCache*> m_queue;
    std::mutex m_mutex;
    // Signalled when a cache is queued.
    std::condition_variable m_wake;
    // Signalled when the fill of m_pCurrent has returned.
    std::condition_variable m_fillDone;
    AudioCache* m_pCurrent = nullptr;
};
