#include "AttackLocator.h"

#include <algorithm>
#include <cmath>

namespace {

const int kOrder = 16;
// What came before: long enough to hold a few cycles of a low tone, short
// enough to stay clear of the hit before.
const double kHistoryMs = 20.0;
// A rise is a level three times the loudest the view held before ...
const double kRise = 3.0;
// ... and, in a lossy file, within 20 dB of the loudest it reaches in the
// next 8 ms, so the pre-echo the encoder smears ahead of an attack is not
// taken for it. Elsewhere a quiet hat just ahead of a loud snare is a start.
const double kWithinPeak = 0.01;
const double kHorizonMs = 8.0;
// Over digital silence (below about -90 dB) nothing masks the pre-echo, and
// it shows over the whole of an encoder's long block ahead of the attack.
const double kSilentLevel = 1e-9;
const double kSilentHorizonMs = 24.0;
// Followed back down to a quarter of the first peak's amplitude, as long as
// it stays above what came before, at most this far before the detection.
const double kLowestShare = 0.25;
const double kBackMs = 3.0;
// A climb from a quarter to half the peak slower than this is a fade-in; it
// is followed back along its slope, by at most kSlopeMs.
const double kFadeInMs = 0.7;
const double kSlopeMs = 4.0;
// In a lossy file a longer climb is mostly the pre-echo the encoder spreads
// over a block ahead of the attack, not the hit fading in.
const double kLossySlopeMs = 2.0;
// ... but only a steady climb, a good part of the way up by its middle. One
// that lingers at its lower level and then jumps is a lossy encoding's
// pre-echo held ahead of the attack: its sound starts where the climb begins.
const double kSteadyShare = 0.3;
// Views that start rising this long before the clearest one still count.
const double kReachMs = 12.0;
// A hit that rises less than 10 dB above what sounded before was already
// sounding under it for a while: the start moves back by up to 3 ms, more
// the fainter the rise.
const double kFaint = 10.0;
const double kFaintMs = 6.0;
const double kFaintMostMs = 3.0;
// Above this a lossy encoding keeps nothing, while an uncompressed file may
// hiss; neither says where a hit starts.
const double kTopHz = 15000.0;
// Where the middle frequencies begin.
const double kMiddleLowHz = 300.0;
// The highs alone: a hat's or a shaker's sound, where the hiss and the
// reverberation other sounds leave behind are weakest.
const double kTopViewHz = 6000.0;
// Below this the detection's band is the low end, which rises too slowly to
// time a hit.
const double kBandLowestHz = 500.0;

// Second-order filter after the well-known cookbook formulas.
struct Biquad
{
    double b0 = 0, b1 = 0, b2 = 0, a1 = 0, a2 = 0, z1 = 0, z2 = 0;

    static Biquad lowPass(double hz, int rate)
    {
        const double w = 2 * M_PI * hz / rate, alpha = std::sin(w) / (2 * M_SQRT1_2);
        const double c = std::cos(w), a0 = 1 + alpha;
        return {(1 - c) / 2 / a0, (1 - c) / a0, (1 - c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
    }
    static Biquad highPass(double hz, int rate)
    {
        const double w = 2 * M_PI * hz / rate, alpha = std::sin(w) / (2 * M_SQRT1_2);
        const double c = std::cos(w), a0 = 1 + alpha;
        return {(1 + c) / 2 / a0, -(1 + c) / a0, (1 + c) / 2 / a0, -2 * c / a0, (1 - alpha) / a0};
    }
    // An octave wide around hz.
    static Biquad bandPass(double hz, int rate)
    {
        const double w = 2 * M_PI * hz / rate, alpha = std::sin(w) / (2 * M_SQRT2);
        const double a0 = 1 + alpha;
        return {alpha / a0, 0, -alpha / a0, -2 * std::cos(w) / a0, (1 - alpha) / a0};
    }
    double operator()(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// Two high-passes in a row, fourth order: steep enough that a loud sound
// just below the band does not leak in.
struct SteepHighPass
{
    Biquad first, second;

    SteepHighPass() = default;
    SteepHighPass(double hz, int rate) : first(Biquad::highPass(hz, rate)), second(first) {}
    double operator()(double x) { return second(first(x)); }
};

} // namespace

AttackLocator::AttackLocator(const Reader& read, unsigned long frames, int rate, bool lossy)
    : m_read(read), m_frames(frames), m_rate(rate), m_lossy(lossy), m_box(std::max(4, rate / 4000)),
      m_predictor(kOrder)
{
}

long AttackLocator::find(unsigned long from, unsigned long to, unsigned long notBefore, double loHz,
                         double hiHz)
{
    to = std::min(to, m_frames);
    if (to <= from)
        return -1;
    const long history = long(kHistoryMs * 0.001 * m_rate);
    long first = std::max({0L, long(from) - history, std::min(long(from), long(notBefore))});
    if (long(from) - first < 3 * kOrder)
        first = std::max(0L, long(from) - 3 * kOrder);
    const unsigned count = unsigned(to - first);
    m_audio.resize(2 * size_t(count));
    m_read(static_cast<unsigned long>(first), count, m_audio.data());
    m_mono.resize(count);
    const bool topCut = kTopHz < 0.45 * m_rate;
    Biquad top = Biquad::lowPass(kTopHz, m_rate);
    for (unsigned i = 0; i < count; ++i) {
        const double x = 0.5 * (double(m_audio[2 * i]) + m_audio[2 * i + 1]);
        m_mono[i] = topCut ? top(x) : x;
    }
    const long before = long(from) - first;
    m_predictor.fit(m_mono.data(), before);

    // Energy per box in every view, from where the predictor has its past.
    const long boxes = (long(count) - kOrder) / m_box;
    const long fromBox = (before - kOrder) / m_box;
    if (fromBox <= 2 || fromBox >= boxes)
        return -1;
    const double w = 2.0 * M_PI / m_rate;
    const double dc = std::exp(-w * 30.0), mid = 1.0 - std::exp(-w * 3000.0);
    double dcIn = 0, dcOut = 0, mid1 = 0, mid2 = 0;
    // A kick's or a bass's low tone, loud and slow, would otherwise leak into
    // the middle and hide a tom under it.
    SteepHighPass middleFloor(kMiddleLowHz, m_rate);
    const double centre = std::sqrt(std::max(1.0, loHz) * hiHz);
    const bool useBand = centre >= kBandLowestHz && centre < 0.45 * m_rate;
    // The highs of a kick or a snare under the hat fall away fast.
    const bool useTop = kTopViewHz < 0.4 * m_rate;
    SteepHighPass highs = useTop ? SteepHighPass(kTopViewHz, m_rate) : SteepHighPass();
    Biquad band = useBand ? Biquad::bandPass(centre, m_rate) : Biquad();
    for (int v = 0; v < kViews; ++v)
        m_energy[v].assign(size_t(boxes), 0.0);
    for (long n = 0; n < kOrder + boxes * m_box; ++n) {
        const double x = m_mono[n];
        dcOut = dc * dcOut + x - dcIn;
        dcIn = x;
        mid1 += mid * (dcOut - mid1);
        mid2 += mid * (mid1 - mid2);
        const double banded = useBand ? band(dcOut) : 0.0;
        const double middle = middleFloor(mid2);
        const double topped = useTop ? highs(dcOut) : 0.0;
        if (n < kOrder)
            continue;
        const double values[kViews] = {
            m_predictor.error(&m_mono[n]), dcOut, middle, dcOut - mid2, topped, banded};
        const long b = (n - kOrder) / m_box;
        for (int v = 0; v < kViews; ++v)
            m_energy[v][b] += values[v] * values[v];
    }

    Rise rises[kViews];
    int clearest = -1;
    for (int v = 0; v < kViews; ++v) {
        if ((v == Band && !useBand) || (v == Top && !useTop))
            continue;
        rises[v] = rise(View(v), fromBox, boxes);
        if (rises[v].box >= 0 && (clearest < 0 || rises[v].ratio > rises[clearest].ratio))
            clearest = v;
    }
    if (clearest < 0)
        return -1;
    const long reach = long(kReachMs * 0.001 * m_rate) / m_box;
    long start = rises[clearest].start, earliestRise = rises[clearest].box;
    for (int v = 0; v < kViews; ++v) {
        const Rise& r = rises[v];
        if (r.box < 0 || r.box < rises[clearest].box - reach)
            continue;
        const bool coded = m_lossy && v == Predicted && v != clearest;
        start = std::min(start, coded ? r.steep : r.start);
        earliestRise = std::min(earliestRise, r.box);
    }
    // A rise is where the new sound already shows: the start is no later.
    start = std::min(start, earliestRise);
    const double ratio = rises[clearest].ratio;
    if (ratio < kFaint)
        start -= long(std::min(kFaintMostMs, kFaintMs / std::sqrt(ratio)) * 0.001 * m_rate) / m_box;
    return std::max({0L, long(notBefore), first + kOrder + start * m_box});
}

AttackLocator::Rise AttackLocator::rise(View view, long fromBox, long boxes)
{
    const std::vector<double>& e = m_energy[view];
    // Smoothed over three boxes, centred so a step keeps its place.
    std::vector<double>& s = m_smooth;
    s.assign(size_t(boxes), 0.0);
    for (long k = 0; k < boxes; ++k) {
        const long lo = std::max(0L, k - 1), hi = std::min(boxes - 1, k + 1);
        double sum = 0.0;
        for (long j = lo; j <= hi; ++j)
            sum += e[j];
        s[k] = sum / double(hi - lo + 1);
    }
    // What came before: its loudest and its mean, above silence.
    const double silence = 1e-14 * m_box;
    double loudest = silence, sum = 0.0;
    for (long k = 0; k + 1 < fromBox; ++k) {
        loudest = std::max(loudest, s[k]);
        sum += s[k];
    }
    const double usual = std::max(silence, sum / double(fromBox - 1));

    const long horizon = std::max(1L, long(kHorizonMs * 0.001 * m_rate) / m_box);
    const long echoHorizon = loudest <= kSilentLevel * m_box
                                 ? std::max(1L, long(kSilentHorizonMs * 0.001 * m_rate) / m_box)
                                 : horizon;
    auto ahead = [&](long k) {
        double most = 0.0;
        for (long j = k; j < std::min(boxes, k + echoHorizon); ++j)
            most = std::max(most, s[j]);
        return most;
    };
    long k = fromBox;
    while (k < boxes && (s[k] < kRise * loudest || (m_lossy && s[k] < kWithinPeak * ahead(k))))
        ++k;
    if (k >= boxes)
        return {};

    // The first peak: where the level, having risen, falls back by half.
    long peakBox = k;
    for (long j = k + 1; j < std::min(boxes, k + horizon); ++j) {
        if (s[j] > s[peakBox])
            peakBox = j;
        else if (s[j] < 0.5 * s[peakBox])
            break;
    }
    auto a = [&](long j) { return std::sqrt(std::max(0.0, s[j] - usual)); };
    const double peak = a(peakBox);
    const long lowest = std::max(0L, fromBox - long(kBackMs * 0.001 * m_rate) / m_box);
    long j = peakBox;
    while (j > lowest && a(j - 1) >= 0.5 * peak)
        --j;
    const long half = j;
    while (j > lowest && a(j - 1) >= kLowestShare * peak && s[j - 1] > loudest)
        --j;
    double start = double(j);
    const long steep = j;
    const double share = a(j) / peak;
    const bool steady = a((j + half) / 2) - a(j) >= kSteadyShare * (a(half) - a(j));
    if (steady && share < 0.45 && (half - j) * m_box > kFadeInMs * 0.001 * m_rate) {
        const double slope = (half - j) * share / (0.5 - share);
        const double most = m_lossy ? kLossySlopeMs : kSlopeMs;
        start -= std::min(slope, most * 0.001 * m_rate / m_box);
        // A fade-in is hidden under what sounded before, never under
        // digital silence: there it shows from its first sample.
        for (long b = j - 1; b >= 0 && b >= long(std::floor(start)); --b)
            if (s[b] <= kSilentLevel * m_box) {
                start = double(b + 1);
                break;
            }
    }
    return {k, std::max(0L, long(std::floor(start))), steep, s[peakBox] / loudest};
}
