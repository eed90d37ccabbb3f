#pragma once

#include <QCoreApplication>
#include <QString>

// How pads and MIDI notes are named to the user, the same on the pads
// themselves and in every menu that sends something to a pad.
class PadNames
{
    Q_DECLARE_TR_FUNCTIONS(PadNames)
public:
    // "C3" for note 60 (middle C), "C#1" for 37, "G8" for 127, "C-2" for 0.
    static QString noteName(int note);
    // "Pad 2 · C#1 (37)": the pad's number counted from 1, and the note that
    // plays it, by name and number.
    static QString padLabel(int padIndex);
};
