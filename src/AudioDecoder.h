#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Decodes one compressed (or uncompressed) audio file through FFmpeg into
// interleaved 32-bit floats at the source's own rate, in its own channels when
// it has one or two; more are mixed down to stereo.
//
// After open() the total it reports is exactly what read() delivers to the end
// of the file, and is gapless: encoder delay and padding are removed, so a file
// encoded from a WAV has the WAV's frame count and lines up with it.
class AudioDecoder
{
public:
    explicit AudioDecoder(const std::string& filename);
    virtual ~AudioDecoder();

    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // What open() found: Ready, TooLong (the file decodes to more frames
    // than setMaxFrames allows), or another non-zero value (missing, empty,
    // not audio, no decodable stream, more than 64 channels).
    enum OpenResult
    {
        Ready = 0,
        TooLong = 1,
    };
    int open();
    // Frames the next open() accepts; 0 (the default) for no limit.
    void setMaxFrames(std::int64_t frames);
    // Reads up to size samples (all delivered channels together) into buffer; returns the
    // number written, fewer only at the end of the file.
    int read(int size, float* buffer);
    // Moves the decoding position to a sample index (all delivered channels together).
    void seek(int sampleIdx);

    // Sample count of the whole file, all delivered channels together.
    std::int64_t getTotalSamples() const;
    int getChannels() const;
    int getSampleRate() const;
    // Current position in samples, all delivered channels together.
    std::int64_t getPosition() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
