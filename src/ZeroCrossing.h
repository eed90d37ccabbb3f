#pragma once

#include <cstddef>

class AudioCache;

// Where a cut begins without a click: a frame where the louder of the two
// channels changes sign (or is silent), so the slice starts at, or next to,
// a zero of the waveform. The louder channel decides because a crossing of a
// near-silent channel says nothing about the one that is heard.
//
// Positions are frames of an interleaved stereo stream. A crossing between
// frames f - 1 and f is reported as whichever of the two lies nearer zero.
class ZeroCrossing
{
public:
    // The crossing nearest to frame within [frame - maxBefore, frame +
    // maxAfter] (clipped to the audio); on equal distances the earlier one.
    // -1 when there is none. The louder channel is judged over that window.
    static long nearest(const float* stereo, long frames, long frame, long maxBefore,
                        long maxAfter);

    // The same over the interleaved samples of a cache, with positions and
    // distances in samples (even); -1 when there is none. Takes the cache's
    // lock for the read; must not be called with it held.
    static long nearestSample(AudioCache& cache, unsigned long sample, unsigned long maxBefore,
                              unsigned long maxAfter);

    // Frames that ms milliseconds span at rate (at least 0).
    static long framesForMs(double ms, int rate);
};
