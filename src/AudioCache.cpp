#include "AudioCache.h"

#include "AudioChunk.h"
#include "AudioFile.h"
#include "BackgroundReader.h"

#include <QDebug>
#include <QElapsedTimer>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

const unsigned long kChunk = AudioChunk::kSamples;

// The table never evicts: it holds every chunk of the file plus the empty
// one the fill adds at the end of a file of whole chunks. Memory is what the
// decoded audio takes anyway (16 KiB per chunk); the 32-bit sample index
// bounds it at 2^20 chunks.
int tableCost(unsigned long length)
{
    const unsigned long needed = std::max(1ul, (length + kChunk - 1) / kChunk);
    return static_cast<int>(std::max(100000ul, needed + 1));
}

// Sample indices are 32-bit throughout the program.
const unsigned long kMaxLength = 0xfffffffeul;

// The chunks of the first minute (at 44.1 kHz) exist from construction on.
// Beyond that the fill adds each chunk as the reader delivers its audio, so
// memory follows what is decoded, never a length a header merely claims.
const unsigned long kPreallocatedSamples = 5292000;

inline unsigned long chunkKey(unsigned long index)
{
    return index - index % kChunk;
}

} // namespace

AudioCache::AudioCache(AudioFile* file) : m_pFile(file)
{
    m_length = file ? std::min(file->getLength(), kMaxLength) : 0;
    m_chunks.setMaxCost(tableCost(m_length));
    preallocate();
    BackgroundReader::instance()->addCache(this);
}

AudioCache::~AudioCache()
{
    qDebug() << "Destroying AudioCache" << this;
    stopFill();
    std::lock_guard<std::mutex> locker(m_mutex);
    m_chunks.clear();
}

void AudioCache::lock()
{
    m_mutex.lock();
}

void AudioCache::unlock()
{
    m_mutex.unlock();
}

void AudioCache::preallocate()
{
    qDebug() << "AudioCache::preallocate";
    std::lock_guard<std::mutex> locker(m_mutex);
    QElapsedTimer timer;
    timer.start();
    const unsigned long end = std::min(m_length, kPreallocatedSamples);
    unsigned long start = 0;
    try {
        do {
            if (!m_chunks.contains(start)) {
                AudioChunk* chunk = new AudioChunk;
                chunk->m_startSample = start;
                m_chunks.insert(start, chunk, 1);
            }
            start += kChunk;
        } while (start < end);
    } catch (const std::bad_alloc&) {
        // The chunks that exist are filled; the rest of the file reads as
        // silence, as beyond the last chunk.
        qDebug() << "AudioCache: out of memory after" << m_chunks.count() << "of"
                 << (m_length + kChunk - 1) / kChunk << "chunks";
    }
    m_numChunks.store(m_chunks.count(), std::memory_order_relaxed);
    qDebug() << "AudioCache preallocate took" << timer.elapsed() << "milliseconds"
             << "for" << m_chunks.count() << "chunks";
}

float AudioCache::getSample(long index)
{
    if (index < 0)
        return 0.0f;
    unsigned long i = static_cast<unsigned long>(index);
    if (m_reversed.load(std::memory_order_relaxed)) {
        const unsigned long limit = m_length & ~1ul;
        if (i >= limit)
            return 0.0f;
        i = limit - 2 - (i & ~1ul) + (i & 1ul);
    }
    const unsigned long key = chunkKey(i);
    const AudioChunk* chunk = m_chunks.object(key);
    return chunk ? chunk->m_pBuffer[i - key] : 0.0f;
}

void AudioCache::readSamples(unsigned long start, float* dest, unsigned count)
{
    if (m_reversed.load(std::memory_order_relaxed)) {
        readReversed(start, dest, count);
        return;
    }
    unsigned done = 0;
    while (done < count) {
        const unsigned long index = start + done;
        const unsigned long key = chunkKey(index);
        const unsigned long offset = index - key;
        const unsigned n =
            static_cast<unsigned>(std::min<unsigned long>(count - done, kChunk - offset));
        const AudioChunk* chunk = m_chunks.object(key);
        if (chunk)
            std::memcpy(dest + done, chunk->m_pBuffer + offset, n * sizeof(float));
        else
            std::fill(dest + done, dest + done + n, 0.0f);
        done += n;
    }
}

void AudioCache::readReversed(unsigned long start, float* dest, unsigned count)
{
    // Output frame f is frame N - 1 - f of the file, channels in their order:
    // within one chunk the source runs backwards a frame at a time, so each
    // chunk is looked up once and copied frame by frame.
    const unsigned long limit = m_length & ~1ul;
    unsigned i = 0;
    while (i < count) {
        const unsigned long index = start + i;
        if (index >= limit) {
            std::fill(dest + i, dest + count, 0.0f);
            return;
        }
        const unsigned long source = limit - 2 - (index & ~1ul) + (index & 1ul);
        const unsigned long key = chunkKey(source);
        unsigned long offset = source - key;
        // Down to the chunk's first frame; one sample less when the run
        // starts on a right channel.
        const unsigned long inChunk = 2 * ((offset >> 1) + 1) - (index & 1ul);
        const unsigned n =
            static_cast<unsigned>(std::min<unsigned long>({count - i, inChunk, limit - index}));
        float* d = dest + i;
        const AudioChunk* chunk = m_chunks.object(key);
        if (chunk == nullptr) {
            std::fill(d, d + n, 0.0f);
        } else {
            const float* b = chunk->m_pBuffer;
            unsigned k = 0;
            if (index & 1ul) {
                d[k++] = b[offset];
                offset -= 3; // to the left channel of the frame before
            }
            for (; k + 1 < n; k += 2, offset -= 2) {
                d[k] = b[offset];
                d[k + 1] = b[offset + 1];
            }
            if (k < n)
                d[k] = b[offset];
        }
        i += n;
    }
}

void AudioCache::mixSamples(unsigned long start, float* out, unsigned count, float gain)
{
    if (m_reversed.load(std::memory_order_relaxed)) {
        // Through a stack block, so that the sum is formed exactly as a
        // per-sample loop over getSample forms it.
        const unsigned kBlock = 512;
        float block[kBlock];
        for (unsigned done = 0; done < count;) {
            const unsigned n = std::min(kBlock, count - done);
            readReversed(start + done, block, n);
            float* o = out + done;
            for (unsigned i = 0; i < n; ++i)
                o[i] = block[i] * gain + o[i];
            done += n;
        }
        return;
    }
    unsigned done = 0;
    while (done < count) {
        const unsigned long index = start + done;
        const unsigned long key = chunkKey(index);
        const unsigned long offset = index - key;
        const unsigned n =
            static_cast<unsigned>(std::min<unsigned long>(count - done, kChunk - offset));
        const AudioChunk* chunk = m_chunks.object(key);
        float* o = out + done;
        if (chunk) {
            const float* s = chunk->m_pBuffer + offset;
            for (unsigned i = 0; i < n; ++i)
                o[i] = s[i] * gain + o[i];
        } else {
            // Still 0 * gain + out, not a no-op: a NaN or infinite gain, or a
            // -0.0 in out, must come out as getSample's silence would make it.
            for (unsigned i = 0; i < n; ++i)
                o[i] = 0.0f * gain + o[i];
        }
        done += n;
    }
}

void AudioCache::setReversed(bool reversed)
{
    std::lock_guard<std::mutex> locker(m_mutex);
    m_reversed.store(reversed, std::memory_order_relaxed);
}

AudioChunk* AudioCache::getChunk(unsigned long startSample)
{
    return m_chunks.object(startSample);
}

void AudioCache::stopFill()
{
    BackgroundReader::instance()->removeCache(this);
}

void AudioCache::fill()
{
    QElapsedTimer timer;
    timer.start();
    qDebug() << "Starting fill..." << this;

    // Decoding goes to a private block; the chunk is then published under the
    // mutex with one copy, so readers never see a half-written chunk and no
    // sample is written while another thread may read it.
    std::vector<float> block(kChunk);
    unsigned long pos = 0;
    unsigned long count = 0;
    for (;;) {
        if (m_cancel.load(std::memory_order_acquire)) {
            qDebug() << "AudioCache fill stopped after" << count << "chunks";
            return;
        }
        AudioChunk* chunk;
        {
            std::lock_guard<std::mutex> locker(m_mutex);
            chunk = m_chunks.object(pos);
        }
        if (chunk == nullptr) {
            // Beyond the preallocated part, and the last read of a file of
            // whole chunks (at the length). The reader never delivers past the
            // length, so the table stays within it. Allocated without the
            // lock; readers find the chunk once it is in.
            try {
                chunk = new AudioChunk;
            } catch (const std::bad_alloc&) {
                qDebug() << "AudioCache: out of memory at sample" << pos << "of" << m_length;
                break;
            }
            chunk->m_startSample = pos;
            {
                std::lock_guard<std::mutex> locker(m_mutex);
                m_chunks.insert(pos, chunk, 1);
                m_numChunks.store(m_chunks.count(), std::memory_order_relaxed);
            }
            if (pos == m_length)
                qDebug() << "Warning: Allocated and inserted new chunk during fill" << pos;
        }
        const unsigned asked = static_cast<unsigned>(chunk->m_size);
        const unsigned got = m_pFile ? std::min(m_pFile->read(block.data(), asked), asked) : 0;
        AudioFile::silenceNonFinite(block.data(), got);
        {
            std::lock_guard<std::mutex> locker(m_mutex);
            std::memcpy(chunk->m_pBuffer, block.data(), got * sizeof(float));
            chunk->m_size = got;
            chunk->m_startSample = pos;
        }
        ++count;
        pos += got;
        if (count % 128 == 0)
            emit fillProgress();
        if (got != asked)
            break;
    }

    m_filled.store(true, std::memory_order_release);
    qDebug() << "AudioCache fill took" << timer.elapsed() << "milliseconds"
             << "for" << getNumChunks() << "chunks";
    emit fillProgress();
}
