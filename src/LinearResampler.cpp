#include "LinearResampler.h"

#include "Slice.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {
// Source block that fits on the stack; export asks for 512 output samples,
// so this covers ratios up to 32. Larger requests use the heap.
const unsigned kStackSamples = 16384;
} // namespace

float LinearResampler::ratioOf(int semitones, float rate)
{
    const float s = 1.0f / 12.0f;
    return static_cast<float>(
        static_cast<double>(rate) *
        std::pow(2.0, static_cast<double>(static_cast<float>(semitones) * s)));
}

unsigned LinearResampler::sourceSamples(unsigned numSamples, int semitones, float rate)
{
    numSamples -= numSamples % 2;
    const float wanted = std::ceil(static_cast<float>(numSamples) * ratioOf(semitones, rate));
    // A negative (or NaN) ratio asks for nothing.
    if (!(wanted > 0.0f))
        return 0;
    // Beyond 32 bits no slice could deliver it anyway.
    if (wanted >= 4294967040.0f)
        return 4294967040u;
    // An odd count would leave the slice's position between the channels of a
    // frame, and every later block would come out with left and right swapped.
    const unsigned count = static_cast<unsigned>(wanted);
    return count + count % 2;
}

unsigned LinearResampler::process(float* out, unsigned numSamples, int semitones, float rate,
                                  const QSharedPointer<Slice>& slice)
{
    // Whole frames only: the last frame written must fit in out.
    numSamples -= numSamples % 2;
    const float ratio = ratioOf(semitones, rate);
    const unsigned count = sourceSamples(numSamples, semitones, rate);
    if (count == 0)
        return 0;

    float stackBlock[kStackSamples];
    std::vector<float> heapBlock;
    float* temp = stackBlock;
    if (count > kStackSamples) {
        heapBlock.resize(count);
        temp = heapBlock.data();
    }
    std::memset(temp, 0, count * sizeof(float));
    const unsigned n = slice->renderRaw(temp, count);
    if (n < 2)
        return 0;

    const double w = 1.0 - static_cast<double>(ratio);
    const unsigned last = n - 2;
    // An odd source count must not pair a left sample with a right one.
    const unsigned lastFrame = last - last % 2;
    for (unsigned i = 0;; i += 2) {
        if (i >= numSamples)
            return numSamples;
        const float x = static_cast<float>((i / 2) * 2) * ratio;
        const float fx = std::floor(x);
        unsigned k = fx >= static_cast<float>(last) ? last : static_cast<unsigned>(fx);
        k -= k % 2;
        const unsigned k2 = std::min(k + 2, lastFrame);
        out[i] += static_cast<float>(static_cast<double>(temp[k]) +
                                     (static_cast<double>(temp[k2]) - temp[k]) * w);
        out[i + 1] += static_cast<float>(static_cast<double>(temp[k + 1]) +
                                         (static_cast<double>(temp[k2 + 1]) - temp[k + 1]) * w);
        if (k == last)
            return i + 2;
    }
}
