#pragma once

#include <QSharedPointer>

class Slice;

// Renders a slice at another rate by interpolating neighbouring frames; used
// by export, block by block. Holds no state.
class LinearResampler
{
public:
    // Adds up to numSamples output samples into out, pulling
    // ceil(numSamples * ratio) source samples from the slice through renderRaw,
    // where ratio = rate * 2^(semitones / 12). Returns the samples produced, 0
    // when the slice rendered nothing.
    static unsigned process(float* out, unsigned numSamples, int semitones, float rate,
                            const QSharedPointer<Slice>& slice);
    // Source samples one process call pulls from the slice for numSamples
    // output samples: ceil(numSamples * ratio), rounded up to a whole frame so
    // that the slice's play position stays on a frame boundary.
    static unsigned sourceSamples(unsigned numSamples, int semitones, float rate);

private:
    static float ratioOf(int semitones, float rate);
};
