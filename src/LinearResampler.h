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
};
