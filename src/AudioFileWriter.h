#pragma once

#include <QSaveFile>
#include <QString>

#include <sndfile.h>

// A stereo 44.1 kHz sound file written under a temporary name beside the
// target and renamed over it only once complete: a full disk or a crash never
// leaves a truncated file, and an existing file is not lost before its
// replacement exists. Dropped without commit(), the target stays as it was.
class AudioFileWriter
{
public:
    // format: a libsndfile major format and sample type, e.g. WAV | PCM_16.
    // frames: the length announced in the header where it is known, else 0.
    AudioFileWriter(const QString& fileName, int format, sf_count_t frames = 0);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    bool isOpen() const;
    // Appends interleaved samples; false once a write fell short.
    bool write(const float* samples, sf_count_t count);
    quint64 getSamplesWritten() const;
    // Completes the file and puts it in place; false (and nothing replaced)
    // when any write failed.
    bool commit();

private:
    QString m_fileName;
    QSaveFile m_file;
    SNDFILE* m_pSndFile = nullptr;
    quint64 m_written = 0;
    bool m_failed = false;
};
