#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The rhythm of a sliced loop as a standard MIDI file: format 0, 480 ticks
// per quarter note, the tempo and a 4/4 time signature, then one note per
// slice on channel 1, at the slice's start, key 36 + the slice's index,
// lasting until the next slice starts. Played into a kit of the same slices
// it plays the loop back, at any tempo.
class MidiGroove
{
public:
    static constexpr int kTicksPerQuarter = 480;
    static constexpr int kFirstKey = 36;
    // There is no key above 127: slices after the 92nd get no note.
    static constexpr int kMaxNotes = 128 - kFirstKey;

    // frames: the slice starts and then the end of the last slice, in frames
    // at rate from the start of the first; velocities: one per slice. Empty
    // when the tempo is no tempo or the loop too long for the file's times.
    static QByteArray build(const QList<quint64>& frames, const QList<int>& velocities, int rate,
                            double tempo, const QString& name);

    // The tick a frame falls on at the tempo (rounded, not accumulated from
    // rounded steps, so no note drifts).
    static quint64 tickAt(quint64 frame, int rate, double tempo);
    // A note's velocity (1 to 127) for a slice whose peak magnitude is peak.
    static int velocityOf(float peak);
    // The tempo as the file stores it: whole microseconds per quarter note.
    static quint32 microsecondsPerQuarter(double tempo);
};
