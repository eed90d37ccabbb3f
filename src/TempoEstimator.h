#pragma once

#include "HitAnalysis.h"

// The tempo of a loop that holds whole bars of 4/4 between its markers.
//
// The length fixes the tempo for every whole number of bars; of the counts
// that give 70 to 180 bpm, the one chosen is where the hits fall best: on
// its sixteenth-note grid, the strong ones on its beats, and the grid neither
// mostly empty (a tempo too fast) nor crowded beyond it (too slow).
class TempoEstimator
{
public:
    static constexpr double kMinBpm = 70.0;
    static constexpr double kMaxBpm = 180.0;

    // Beats per minute for frames [startFrame, endFrame) of the analysed
    // audio, or 0 when no whole number of bars gives a tempo in range or
    // nothing there is a hit.
    static double estimate(const HitAnalysis& analysis, unsigned long startFrame,
                           unsigned long endFrame);
};
