#include "TempoEstimator.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace {

struct Placed
{
    double seconds; // from the start marker
    double strength;
};

// How well the hits suit a tempo; higher is better.
double suitability(const std::vector<Placed>& hits, double bpm, double seconds)
{
    const double sixteenth = 60.0 / bpm / 4.0;
    const long slots = std::lround(seconds / sixteenth);
    // Humanised playing strays from the grid by a few ms; a hit further off
    // than this belongs to no slot.
    const double tolerance = std::min(0.025, 0.22 * sixteenth);
    double total = 0.0, onGrid = 0.0, onBeats = 0.0;
    int onGridCount = 0, onBeatCount = 0;
    std::set<long> used;
    for (const Placed& h : hits) {
        total += h.strength;
        const long slot = std::lround(h.seconds / sixteenth);
        if (std::fabs(h.seconds - slot * sixteenth) > tolerance)
            continue;
        onGrid += h.strength;
        ++onGridCount;
        used.insert(slot % std::max(1L, slots));
        if (slot % 4 == 0) {
            onBeats += h.strength;
            ++onBeatCount;
        }
    }
    if (total <= 0.0 || onGridCount == 0 || slots <= 0)
        return 0.0;
    const double fit = onGrid / total;
    // Strong hits on the beats: kicks and snares mark the beat, hats fill.
    const double accent =
        onBeatCount > 0 ? std::min(1.0, (onBeats / onBeatCount) / (onGrid / onGridCount) - 1.0)
                        : -1.0;
    // Drum loops fill about half their sixteenths; far fewer means the grid
    // is finer than the playing, far more cannot be (a slot holds one hit).
    const double occupancy = double(used.size()) / double(slots);
    const double crowding = std::fabs(std::log2(std::max(occupancy, 1e-3) / 0.5));
    return fit + 0.5 * accent - 0.25 * crowding;
}

} // namespace

double TempoEstimator::estimate(const HitAnalysis& analysis, unsigned long startFrame,
                                unsigned long endFrame)
{
    const int rate = analysis.getSampleRate();
    if (rate <= 0 || endFrame <= startFrame)
        return 0.0;
    const double seconds = double(endFrame - startFrame) / rate;
    std::vector<double> candidates;
    for (int bars = 1; bars <= 4096; ++bars) {
        const double bpm = bars * 4 * 60.0 / seconds;
        if (bpm > kMaxBpm)
            break;
        if (bpm >= kMinBpm)
            candidates.push_back(bpm);
    }
    // The hit at the start marker counts too: it is the downbeat.
    std::vector<Placed> hits;
    const float needed = HitAnalysis::threshold(HitAnalysis::kDefaultSensitivity);
    for (const HitAnalysis::Hit& hit : analysis.getHits())
        if (hit.strength >= needed && hit.frame + rate / 100 >= startFrame && hit.frame < endFrame)
            hits.push_back({(double(hit.frame) - double(startFrame)) / rate, hit.strength});
    // Without a single hit there is no beat to speak of, whatever the length.
    if (hits.empty() || candidates.empty())
        return 0.0;
    if (candidates.size() == 1)
        return candidates.front();
    double best = candidates.front();
    double bestScore = -1e9;
    for (double bpm : candidates) {
        const double score = suitability(hits, bpm, seconds);
        if (score > bestScore) {
            bestScore = score;
            best = bpm;
        }
    }
    return best;
}
