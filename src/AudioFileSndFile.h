#pragma once

#include "AudioFile.h"

#include <QString>

#include <sndfile.h>

#include <memory>
#include <vector>

class StereoDownmix;

// Reads the formats libsndfile opens (WAV, AIFF and their relatives). Mono is
// delivered with both channels equal; more than two channels are mixed down
// to stereo. A source outside the supported rates or longer than the longest
// loop is refused like one that does not open. The length is what reading the
// file yields, counted once at open (never more than its header claims), and
// read delivers exactly that.
//
// Not thread-safe: created and asked for its length on the user-interface
// thread, then read by one thread at a time (the background reader).
class AudioFileSndFile : public AudioFile
{
public:
    // Opens the file at once. A file that cannot be opened (or is refused) is
    // only logged; the object stays usable with length 0 and every read
    // returning 0.
    explicit AudioFileSndFile(const QString& filename);
    ~AudioFileSndFile() override;

    AudioFileSndFile(const AudioFileSndFile&) = delete;
    AudioFileSndFile& operator=(const AudioFileSndFile&) = delete;

    unsigned long getLength() override;
    int getSampleRate() override;
    unsigned read(float* buffer, unsigned numSamples) override;
    void seek(unsigned long sample) override;
    std::uint64_t getPosition() override;

    int getChannels() const { return m_info.channels; }

private:
    // Frames the file yields when read to its end (no more than it claims);
    // afterwards it is read from the start again.
    sf_count_t countFrames();

    QString m_filename;
    SF_INFO m_info;
    SNDFILE* m_pSndFile = nullptr;
    unsigned long m_length = 0;
    int m_sampleRate = 0;
    // Current position in frames of the source.
    unsigned long m_position = 0;
    // For more than two channels: the mix-down and a block of source frames.
    std::unique_ptr<StereoDownmix> m_pDownmix;
    std::vector<float> m_scratch;
};
