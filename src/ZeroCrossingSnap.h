#pragma once

#include <QList>
#include <QString>

class Kerfer;
class Slice;

// Places a cut made by hand where the waveform crosses zero, so that the
// slice starts without a click: at the nearest crossing of the louder
// channel within kReachMs, or where it was put when there is none that near.
// Only the places where the user puts points ask for it; the Kerfer's own
// rules keep their exact (musical) positions.
class ZeroCrossingSnap
{
public:
    static constexpr double kReachMs = 2.0;
    // Settings keys ("1" or "0") of the Slice menu's option, on by default,
    // and of the Advanced Slicing dialog's, off by default.
    static const char* const kSettingKey;
    static const char* const kAdvancedSlicingKey;

    static bool isEnabled(const char* key = kSettingKey);
    static void setEnabled(bool on, const char* key = kSettingKey);

    // The position a cut at sample takes; sample itself when the loop has
    // no crossing within reach (or no audio there).
    static unsigned long snap(const Slice& loop, unsigned long sample);
    // Moves each of the given points of the Kerfer's loop to its snapped place.
    static void snapPoints(Kerfer& kerfer, const QList<unsigned long>& points);
};
