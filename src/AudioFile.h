#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

// Positions and lengths are held in unsigned long but never exceed 32 bits: a
// 32-bit count of samples bounds every file, slice and buffer. Where a rule
// depends on 32-bit arithmetic (saturation, wrap-around) the code says so.

// All audio in memory is 32-bit float, stereo, interleaved left then right.
// Every position and length in the program counts samples of that stream, not
// frames, so positions are even.
#define TMB_FRAMESIZE 2
// Exclusive bound on one read request (callers ask for 4096).
#define TMB_AUDIOFILE_BUFFER_SIZE 8192

// One opened audio source, read sequentially from its start into the stereo
// representation. Implementations keep the read contract documented on read().
class AudioFile
{
public:
    // The rates a source may have. The formats go no further; a header that
    // claims more is broken, and the resampler would take ages over a block.
    static constexpr int kMinSampleRate = 1000;
    static constexpr int kMaxSampleRate = 768000;
    // The longest source a reader accepts, in samples of the stereo stream:
    // 2^28, 1 GiB of decoded audio (about 50 minutes at 44.1 kHz).
    static constexpr unsigned long kMaxLength = 1ul << 28;

    static bool isSupportedRate(int rate)
    {
        return rate >= kMinSampleRate && rate <= kMaxSampleRate;
    }
    // Sets NaN and infinite samples (a damaged float file) to 0: one would
    // take the whole mix, and stick in a resampler's filters for good.
    static void silenceNonFinite(float* samples, std::size_t count)
    {
        std::replace_if(
            samples, samples + count, [](float v) { return !std::isfinite(v); }, 0.0f);
    }

    virtual ~AudioFile();

    // Samples the source yields as stereo (2 x frames, whatever its channel
    // count); 0 when the source could not be opened.
    virtual unsigned long getLength() = 0;
    // Frames per second of the source; 0 when it could not be opened.
    virtual int getSampleRate() = 0;
    // Reads up to numSamples (< TMB_AUDIOFILE_BUFFER_SIZE, even) samples from
    // the current position. The request is cut to what is left in the stream;
    // between the samples delivered and the cut request the buffer is zeroed,
    // beyond the cut request it is left untouched. Returns the even number of
    // samples delivered; fewer than asked means the end was reached.
    virtual unsigned read(float* buffer, unsigned numSamples) = 0;
    // Moves the current position to frame sample / 2.
    virtual void seek(unsigned long sample) = 0;
    // Current position in samples (2 x the current frame).
    virtual std::uint64_t getPosition() = 0;
};
