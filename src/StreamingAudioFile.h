#pragma once

#include <QString>

#include <sndfile.h>

#include <memory>

class StereoDownmix;

// A file previewed straight from disk: each render cycle adds the next stretch
// of it to the output, with no decoding into memory, no rate conversion and no
// gain; more than two channels are mixed down to stereo. Plays once, then
// stays silent. A file outside the supported rates is refused (silent), as one
// that does not open. Built and destroyed on the user-interface thread, read
// on the audio thread under the engine's mutex; it has no lock.
class StreamingAudioFile
{
public:
    explicit StreamingAudioFile(const QString& fileName);
    ~StreamingAudioFile();

    StreamingAudioFile(const StreamingAudioFile&) = delete;
    StreamingAudioFile& operator=(const StreamingAudioFile&) = delete;

    // Samples in the file (frames x channels); 0 when it cannot be played.
    int getLength() const { return m_length; }

    // Adds the next numSamples / 2 frames of the file into buffer (interleaved
    // stereo). numSamples must be even; any size is served. Samples past what
    // the file still holds are left as they were.
    void read(float* buffer, unsigned numSamples);

    // Requests are served in pieces of at most this many output samples.
    static constexpr unsigned BufferSize = 4096;

private:
    SF_INFO m_info;
    SNDFILE* m_pFile;
    QString m_fileName;
    int m_length;
    // One piece of source frames (BufferSize / 2 of them, in every channel).
    float* m_pAudioBuffer;
    sf_count_t m_position;
    std::unique_ptr<StereoDownmix> m_pDownmix;
};
