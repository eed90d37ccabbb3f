#pragma once

#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QtGlobal>

class Kerfer;
class Slice;

// The slices of the loop between its markers, as they stand when taken: the
// loop and the ascending bounds that cut it (the start marker, every point
// inside the markers once, and the end marker or the end of the audio),
// whole frames of the loop's own audio. What every export of the slices
// works from. Take it on the user-interface thread, which makes every edit.
class LoopSlices
{
public:
    explicit LoopSlices(Kerfer* kerfer);
    // Audio held without a Kerfer (the command line): the loop, its ascending
    // even bounds, and the name the loop goes by in what is written.
    LoopSlices(const QSharedPointer<Slice>& loop, const QList<quint32>& bounds,
               const QString& name);

    // No loop, or no audio between the markers.
    bool isEmpty() const { return m_bounds.size() < 2; }
    int count() const { return isEmpty() ? 0 : m_bounds.size() - 1; }
    QSharedPointer<Slice> loop() const { return m_pLoop; }
    // Sample positions of the interleaved stream: count() + 1 of them.
    const QList<quint32>& bounds() const { return m_bounds; }
    int sampleRate() const;
    // The loop file's name without its suffix ("loop" when it has none).
    QString loopName() const;

    // The slice that holds the sample, -1 outside the markers.
    int indexAt(unsigned long sample) const;
    // The first frames of the slices from the start of the first, and the end
    // of the last: count() + 1 values.
    QList<quint64> frames() const;
    // The largest magnitude of each slice's samples (1.0 is full scale).
    QList<float> peaks() const;

private:
    QSharedPointer<Slice> m_pLoop;
    QList<quint32> m_bounds;
    QString m_name;
};
