#pragma once

#include <QString>

#include <sndfile.h>

// A file previewed straight from disk: each render cycle adds the next stretch
// of it to the output, with no decoding into memory, no rate conversion and no
// gain. Plays once, then stays silent. Built and destroyed on the user-interface
// thread, read on the audio thread under the engine's mutex; it has no lock.
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

    // Capacity of the scratch buffer, in floats: requests are served in pieces
    // of at most this many output samples.
    static constexpr unsigned BufferSize = 4096;

private:
    SF_INFO m_info;
    SNDFILE* m_pFile;
    QString m_fileName;
    int m_length;
    float* m_pAudioBuffer;
    sf_count_t m_position;
};
