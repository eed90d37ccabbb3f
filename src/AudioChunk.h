#pragma once

// One block of decoded audio in an AudioCache: 4096 samples (2048 frames),
// zeroed when created, filled once by the background reader.
class AudioChunk
{
public:
    static constexpr unsigned long kSamples = 4096;

    AudioChunk();
    ~AudioChunk();

    AudioChunk(const AudioChunk&) = delete;
    AudioChunk& operator=(const AudioChunk&) = delete;

    // Index of the first sample in the stream; also the chunk's key in its cache.
    unsigned long m_startSample = 0;
    // kSamples floats from AlignedMalloc, never moved while the chunk lives.
    float* m_pBuffer = nullptr;
    // kSamples until filled; then the number of samples the reader delivered.
    unsigned long m_size = kSamples;
};
