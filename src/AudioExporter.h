#pragma once

#include "ExportFormat.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class WavMarkers;

// Writes a stretch of stereo audio, converted to the format's rate, as one
// file or as consecutive files that follow on from one another: the audio is
// converted as one stream and cut at the converted boundaries, so the files
// played back to back are exactly the stretch converted whole, without a frame
// lost or doubled. Shared by the slice exports and the loop export.
class AudioExporter
{
public:
    // Adds the next frames of the stretch into out (cleared by the caller).
    using Source = std::function<void(float* out, unsigned frames)>;

    struct Piece
    {
        QString fileName;
        // Where the piece ends, in frames of the converted stretch.
        quint64 endFrame;
        // For a WAV piece that carries the slice markers in its header.
        const WavMarkers* markers = nullptr;
    };

    struct Failure
    {
        QString fileName;
        // A few words for the user: "disk full", "cannot create the file: ...".
        QString reason;
    };

    // Audio at sourceRate written at outputRate, normally
    // format.outputRate(sourceRate). A rate of 0 is the working rate.
    AudioExporter(const ExportFormat& format, int sourceRate, int outputRate);

    // Frames the output rate makes of sourceFrames at the source rate.
    quint64 convertedLength(quint64 sourceFrames) const;

    // Pulls sourceFrames from the source and writes the pieces, in order, the
    // last ending where the stretch ends once converted. A piece that cannot
    // be written is left out (and any file of its name as it was) with the
    // reason in failed; the others are still written. Returns the files written.
    QStringList write(const Source& source, quint64 sourceFrames, const QList<Piece>& pieces,
                      QList<Failure>* failed = nullptr);

private:
    ExportFormat m_format;
    int m_sourceRate;
    int m_outputRate;
};
