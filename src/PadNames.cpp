#include "PadNames.h"

#include "BankSampler.h"

QString PadNames::noteName(int note)
{
    static const char* const kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};
    // Middle C (60) is C3, so that the first pad's note 36 is the C1 kits
    // and grooves name. Floor division: a note below 0 still gets a name.
    const int octave = (note >= 0 ? note / 12 : (note - 11) / 12) - 2;
    const int pitch = note - (octave + 2) * 12;
    return QString::fromLatin1(kNames[pitch]) + QString::number(octave);
}

QString PadNames::padLabel(int padIndex)
{
    const int note = BankSampler::FirstNote + padIndex;
    return tr("Pad %1 \u00b7 %2 (%3)").arg(padIndex + 1).arg(noteName(note)).arg(note);
}
