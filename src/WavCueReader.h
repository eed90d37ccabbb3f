#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// The cue points of a WAV file, as the frames where it is cut: the markers we
// write and those other programs leave. Walks the file's chunks itself and
// reads no audio. A damaged or unusual header gives fewer points or none
// (each refusal said in the log), never more trouble than that.
class WavCueReader
{
public:
    // Ascending, each once, inside the audio (after its first frame, before
    // its end). Empty for a file without cue points and for other files.
    static QList<quint64> read(const QString& fileName);
};
