#pragma once

#include <QCache>
#include <QObject>

#include <atomic>
#include <mutex>

class AudioChunk;
class AudioFile;

// The decoded audio of one file, in chunks of 4096 samples filled in the
// background, front to back. The chunks of the first minute exist (zeroed)
// from construction on; later ones are added as the fill delivers them. Until
// the fill reaches a chunk it reads as silence. No chunk is ever evicted.
//
// The cache borrows its AudioFile. The background reader stops touching it
// once the cache is destroyed or stopFill() has returned; until then the owner
// keeps the file alive.
class AudioCache : public QObject
{
    Q_OBJECT
public:
    explicit AudioCache(AudioFile* file);
    ~AudioCache() override;

    // Bracket a run of sample reads. getSample, readSamples, mixSamples and
    // getChunk expect the mutex to be held by the caller.
    void lock();
    void unlock();

    // Sample at index; 0.0 for an index beyond the last chunk (or, while
    // reversed, at or beyond the length).
    float getSample(long index);
    // Copies count samples from index start into dest with one chunk lookup
    // per chunk touched; exactly what getSample gives for each index.
    // Allocates nothing and logs nothing: the audio thread reads through it.
    void readSamples(unsigned long start, float* dest, unsigned count);
    // out[i] = sample(start + i) * gain + out[i], in single precision, with one
    // chunk lookup per chunk touched. Allocates nothing and logs nothing.
    void mixSamples(unsigned long start, float* out, unsigned count, float gain);

    // Presents the audio back to front, frame by frame with the channel order
    // kept, to every reader of the cache. Takes the mutex itself, only for the
    // flip, so a run read under lock() sees one direction; works while the fill
    // still runs. Must not be called with the mutex held.
    void setReversed(bool reversed);
    bool isReversed() const { return m_reversed.load(std::memory_order_relaxed); }

    // Length of the stream in samples, as the file reported it.
    unsigned long getLength() const { return m_length; }
    int getNumChunks() const { return m_numChunks.load(std::memory_order_relaxed); }
    // With the mutex held: the chunk whose first sample is startSample, or null.
    AudioChunk* getChunk(unsigned long startSample);
    // True once the fill has run to the end of the file (also for a file
    // that yielded nothing); false for a fill that was stopped.
    bool isFilled() const { return m_filled.load(std::memory_order_acquire); }

    // Creates the chunks of the first minute that do not exist yet.
    void preallocate();
    // Decodes the file into the chunks; run by the background reader.
    void fill();
    // Takes the cache out of the reader's queue, or stops its fill after the
    // chunk being read now and waits for that. Afterwards the file is no longer
    // touched: an owner that deletes the file while the cache may live on
    // (shared with other holders) calls this first.
    void stopFill();

signals:
    void fillProgress();

private:
    friend class BackgroundReader;

    void readReversed(unsigned long start, float* dest, unsigned count);

    QCache<unsigned long, AudioChunk> m_chunks;
    AudioFile* m_pFile;
    // Not recursive. A standard mutex rather than QMutex, whose contended
    // hand-over happens inside the Qt library where ThreadSanitizer cannot see
    // it.
    std::mutex m_mutex;
    unsigned long m_length = 0;
    // Written with the mutex held, so that a locked run of reads sees one
    // direction; read without it by isReversed().
    std::atomic<bool> m_reversed{false};
    std::atomic<int> m_numChunks{0};
    std::atomic<bool> m_filled{false};
    std::atomic<bool> m_cancel{false};
};
