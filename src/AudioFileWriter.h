#pragma once

#include "ExportFormat.h"
#include "SampleQuantiser.h"

#include <QSaveFile>
#include <QString>

#include <sndfile.h>

#include <memory>
#include <vector>

class WavMarkers;

// A stereo sound file written under a temporary name beside the target and
// renamed over it only once complete: a full disk or a crash never leaves a
// truncated file, and an existing file is not lost before its replacement
// exists. Dropped without commit(), the target stays as it was.
//
// Takes float samples; an integer format gets them rounded with dither (see
// SampleQuantiser), a float format as they are, beyond full scale included.
class AudioFileWriter
{
public:
    // frames: the length announced in the header where it is known, else 0.
    AudioFileWriter(const QString& fileName, const ExportFormat& format, int rate,
                    sf_count_t frames = 0);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    bool isOpen() const;
    // Puts slice markers into a WAV file's header: before the first write.
    // False, and the file fails, when they could not be.
    bool setMarkers(const WavMarkers& markers);
    // Appends interleaved samples; false once a write fell short.
    bool write(const float* samples, sf_count_t count);
    quint64 getSamplesWritten() const;
    // Completes the file and puts it in place; false (and nothing replaced)
    // when any write failed.
    bool commit();
    // Why the file could not be written, in a few words for the user ("disk
    // full", "cannot create the file: Permission denied"); empty otherwise.
    QString errorString() const;

private:
    void fail(const QString& reason);

    QString m_fileName;
    QSaveFile m_file;
    SNDFILE* m_pSndFile = nullptr;
    std::unique_ptr<SampleQuantiser> m_pQuantiser;
    std::vector<int> m_integers;
    quint64 m_written = 0;
    QString m_error;
};
