#pragma once

#include <QList>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

class AudioCache;

// The one thread that fills caches, one at a time, in the order they were
// queued. Created on first use and never destroyed.
class BackgroundReader : public QThread
{
    Q_OBJECT
public:
    static BackgroundReader* instance();

    void addCache(AudioCache* cache);
    // Called by a dying cache: takes it out of the queue, or, if it is being
    // filled now, stops that fill and waits until the reader has let go of it.
    void removeCache(AudioCache* cache);

protected:
    void run() override;

private:
    BackgroundReader();

    QList<AudioCache*> m_queue;
    QMutex m_mutex;
    QWaitCondition m_wake;
    AudioCache* m_pCurrent = nullptr;
};
