#pragma once

#include "LinearPredictor.h"

#include <functional>
#include <vector>

// Where, near a detected hit, its sound first rises out of what sounded
// before: the attack start, to the quarter millisecond.
//
// The audio is looked at in a few ways at once, since a hit may stand out in
// only one of them: the error of a predictor fitted to the 20 ms before (what
// rang on is foreseen there, so even a quiet hit under a loud tail shows), the
// whole signal, its middle (300 Hz to 3 kHz) and high frequencies, the highs
// above 6 kHz alone (a quiet hat under a room's or a record's hiss rises there
// first), and the band where the detection saw the hit most. In each, the rise
// is followed back to where the level left what it was before; a slow fade-in
// is followed back along its slope to where it began, but never into digital
// silence, where nothing hid its beginning. The earliest start among the views
// that rise with the clearest one wins, as a hat a few ms ahead of a snare
// shows in the highs alone.
//
// In a lossy file (lossy true) the encoder spreads faint coding noise ahead
// of an attack, its pre-echo, which is not taken for the start: a rise counts
// only within 20 dB of the level it leads to within 8 ms (24 ms after digital
// silence, where nothing masks the pre-echo); the predictor's error climbing
// through it is not followed back as a fade-in unless the predictor is the
// clearest view, and no fade-in is followed back by more than 2 ms.
class AttackLocator
{
public:
    // Copies frames [first, first + count) of interleaved stereo into dest.
    using Reader = std::function<void(unsigned long first, unsigned count, float* dest)>;

    AttackLocator(const Reader& read, unsigned long frames, int rate, bool lossy = false);

    // The attack start of the hit detected within [from, to): a frame, at
    // most a few ms before from, never before notBefore; -1 when no view
    // rises there. loHz and hiHz bound the band where the detection saw the
    // hit most (hiHz 0 for none).
    long find(unsigned long from, unsigned long to, unsigned long notBefore, double loHz,
              double hiHz);

private:
    enum View
    {
        Predicted,
        Whole,
        Middle,
        High,
        Top,
        Band,
        kViews
    };
    struct Rise
    {
        long box = -1;   // first box clearly above what came before
        long start = -1; // where the rise began
        long steep = -1; // the same, not followed back along a fade-in's slope
        double ratio = 0.0;
    };
    Rise rise(View view, long fromBox, long boxes);

    const Reader& m_read;
    unsigned long m_frames;
    int m_rate;
    bool m_lossy;
    long m_box; // frames per energy box
    LinearPredictor m_predictor;
    std::vector<float> m_audio;
    std::vector<double> m_mono, m_smooth;
    std::vector<double> m_energy[kViews];
};
