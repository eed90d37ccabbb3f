#pragma once

#include "AudioFile.h"

#include <QString>

class AudioDecoder;

// Reads any file the decoder opens (MP3, M4A, WAV, AIFF, FLAC, Ogg) into the
// stereo stream: mono is spread to both channels, more than two channels are
// mixed down. A source outside the supported rates, or longer than the
// longest loop, is refused like one that does not open (length 0). Not
// thread-safe: after construction only the background reader calls read().
class AudioFileAudioDecoder : public AudioFile
{
public:
    explicit AudioFileAudioDecoder(const QString& fileName);
    ~AudioFileAudioDecoder() override;

    AudioFileAudioDecoder(const AudioFileAudioDecoder&) = delete;
    AudioFileAudioDecoder& operator=(const AudioFileAudioDecoder&) = delete;

    // 2 x the source's frames whatever its channel count; 0 when the file did
    // not open or was refused.
    unsigned long getLength() override;
    int getSampleRate() override;
    unsigned read(float* buffer, unsigned numSamples) override;
    // Moves to frame sample / 2 (clamped to the end) and reads on from there.
    void seek(unsigned long sample) override;
    std::uint64_t getPosition() override;

private:
    AudioDecoder* m_pDecoder;
    QString m_fileName;
    // Frames delivered since the start (or since the last seek's target).
    unsigned long m_framesRead = 0;
    // Opened, with a supported rate and length.
    bool m_usable = false;
};
