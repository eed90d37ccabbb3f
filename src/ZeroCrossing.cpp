#include "ZeroCrossing.h"

#include "AudioCache.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

bool crosses(float a, float b)
{
    return (a <= 0.0f && b >= 0.0f) || (a >= 0.0f && b <= 0.0f);
}

} // namespace

long ZeroCrossing::nearest(const float* stereo, long frames, long frame, long maxBefore,
                           long maxAfter)
{
    if (!stereo || frames <= 0 || frame < 0 || frame >= frames)
        return -1;
    const long first = std::max(0L, frame - std::max(0L, maxBefore));
    const long last = std::min(frames - 1, frame + std::max(0L, maxAfter));

    double level[2] = {0.0, 0.0};
    for (long f = first; f <= last; ++f) {
        level[0] += std::fabs(stereo[2 * f]);
        level[1] += std::fabs(stereo[2 * f + 1]);
    }
    const int channel = level[1] > level[0] ? 1 : 0;
    auto value = [&](long f) { return stereo[2 * f + channel]; };

    // Candidates in order of distance, earlier first on a tie: the frame
    // itself, then one step back, one step forward, two back, ...
    auto candidate = [&](long f) -> long {
        if (f < first || f > last)
            return -1;
        if (value(f) == 0.0f)
            return f;
        // A crossing between f - 1 and f counts when f - 1 is in the window
        // too; the frame of the two nearer zero is where the cut goes, but it
        // must stay inside the window.
        if (f > first && crosses(value(f - 1), value(f)))
            return std::fabs(value(f - 1)) < std::fabs(value(f)) ? f - 1 : f;
        return -1;
    };
    const long reach = std::max(frame - first, last - frame);
    for (long d = 0; d <= reach; ++d) {
        long found = candidate(frame - d);
        if (found < 0 && d > 0)
            found = candidate(frame + d);
        if (found >= 0)
            return found;
    }
    return -1;
}

long ZeroCrossing::nearestSample(AudioCache& cache, unsigned long sample, unsigned long maxBefore,
                                 unsigned long maxAfter)
{
    const unsigned long length = cache.getLength();
    sample &= ~1UL;
    if (sample >= length)
        return -1;
    const unsigned long start = (sample - std::min(sample, maxBefore)) & ~1UL;
    const unsigned long end = std::min(length, sample + maxAfter + 2) & ~1UL;
    std::vector<float> window(end - start);
    cache.lock();
    cache.readSamples(start, window.data(), static_cast<unsigned>(window.size()));
    cache.unlock();
    const long frame = nearest(window.data(), static_cast<long>(window.size() / 2),
                               static_cast<long>((sample - start) / 2),
                               static_cast<long>(maxBefore / 2), static_cast<long>(maxAfter / 2));
    return frame < 0 ? -1 : static_cast<long>(start) + 2 * frame;
}

long ZeroCrossing::framesForMs(double ms, int rate)
{
    if (!(ms > 0.0) || rate <= 0)
        return 0;
    return std::lround(ms * 0.001 * rate);
}
