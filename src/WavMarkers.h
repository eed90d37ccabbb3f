#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <sndfile.h>

// Where a loop is cut, in the chunks of a WAV file's header that other
// software reads: a cue point per slice start ("cue "), named "Slice 1",
// "Slice 2", ... (LIST/adtl labl), the whole file as one forward loop
// ("smpl"), and the tempo and length in beats ("acid").
class WavMarkers
{
public:
    // Slice starts and the file's length, in frames at the rate written.
    QList<quint32> cueFrames;
    quint32 frames = 0;
    int rate = 0;
    // Beats per minute.
    double tempo = 0.0;

    // The loop's length in whole beats at the tempo, at least 1.
    quint32 beats() const;

    // The chunk bodies, little-endian as RIFF wants them.
    QByteArray cueChunk() const;
    QByteArray labelChunk() const;
    QByteArray acidChunk() const;

    // Adds the chunks to a WAV file opened for writing, before its first
    // sample. The reason when libsndfile refused one, else empty.
    QString writeTo(SNDFILE* file) const;
};
