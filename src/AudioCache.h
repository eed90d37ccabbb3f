#pragma once

#include <QCache>
#include <QMutex>
#include <QObject>

class AudioChunk;
class AudioFile;

// The decoded audio of one file, in zeroed chunks of 4096 samples that all
// exist from construction on and are filled in the background, front to back.
// Until the fill reaches a chunk it reads as silence. The cache borrows its
// AudioFile; the owner of the file keeps it alive until the cache is gone.
class AudioCache : public QObject
{
    Q_OBJECT
public:
    explicit AudioCache(AudioFile* file);
    ~AudioCache() override;

    // Bracket a run of sample reads. getSample, readSamples and mixSamples
    // expect the mutex to be held by the caller.
    void lock();
    void unlock();

    // Sample at index; 0.0 for an index beyond the last chunk.
    float getSample(long index);
    // Copies count samples from index start into dest with one chunk lookup
    // per chunk touched; samples beyond the last chunk are 0.0.
    void readSamples(unsigned long start, float* dest, unsigned count);
    // out[i] = sample(start + i) * gain + out[i], in single precision, with one
    // chunk lookup per chunk touched.
    void mixSamples(unsigned long start, float* out, unsigned count, float gain);

    // Presents the audio back to front, frame by frame with the channel order
    // kept, to every reader of the cache. Takes the mutex itself, briefly; works
    // while the fill still runs.
    void setReversed(bool reversed);
    bool isReversed();

    // Length of the stream in samples, as the file reported it.
    unsigned long getLength() const { return m_length; }
    int getNumChunks();
    // True once the fill has ended (also for a file that yielded nothing).
    bool isFilled() const;

    void preallocate();
    void fill();

signals:
    void fillProgress();

private:
    friend class BackgroundReader;

    QCache<unsigned long, AudioChunk> m_chunks;
    AudioFile* m_pFile;
    QMutex m_mutex;
    unsigned long m_length = 0;
    bool m_reversed = false;
    QAtomicInt m_filled;
    QAtomicInt m_cancel;
};
