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

unsigned LinearResampler::process(float* out, unsigned numSamples, int semitones, float rate,
                                  const QSharedPointer<Slice>& slice)
{
    // Whole frames only: the last frame written must fit in out.
    numSamples -= numSamples % 2;
    const float s = 1.0f / 12.0f;
    const float ratio =
        static_cast<float>(static_cast<double>(rate) *
                           std::pow(2.0, static_cast<double>(static_cast<float>(semitones) * s)));
    const float wanted = std::ceil(static_cast<float>(numSamples) * ratio);
    // A negative (or NaN) ratio asks for nothing.
    const unsigned count = wanted > 0.0f ? static_cast<unsigned>(wanted) : 0u;
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
