#include "HitAnalysis.h"

#include "AttackLocator.h"
#include "AudioCache.h"
#include "RealFft.h"
#include "ZeroCrossing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The detection function: how much the spectrum, in bands about a third of an
// octave wide (single bins at the bottom), rises from one step to the next,
// on a logarithmic scale that treats everything below about -70 dB as silence.
// Bands rather than bins: a noise floor then flickers far less than a hit rises.
const float kCompression = 1e7f;
// Below this the transform's short window sees less than a cycle, and a
// kick's ringing tail would flicker with its phase; that range is measured
// as the plain energy of a low-passed signal instead.
const double kLowHz = 150.0;
const float kLowWeight = 3.0f;
// The low end rings longer than the rest, and a kick's tail beating against a
// bass note swells and fades over tens of ms: a rise there counts only above
// the loudest it was over this long.
const double kLowMemoryMs = 60.0;
// A lossy encoding keeps nothing above its cut-off (about 16 kHz at 128k),
// where a hat's or a shaker's rise is as strong as in the bands below it; the
// rise of the highs it kept is counted for the bands it removed, so a quiet
// hat stands out of an MP3 as it does out of the WAV it came from. A band is
// removed when it never rose out of silence anywhere in the file.
const double kHighHz = 8000.0;
const float kRemovedLevel = 0.05f;
// In a file with next to nothing in the highs, the few bands there that kept
// anything would otherwise count for many.
const float kMostForRemoved = 2.0f;
// The attack start is found to within a quarter ms, and a fade-in under
// other sounds from where it shows; a cut must never fall after it.
const double kLeadMs = 0.3;

struct Geometry
{
    unsigned size; // transform length
    unsigned hop;
    std::vector<unsigned> bandEdges; // bins; band b is [edges[b], edges[b + 1])

    explicit Geometry(int rate)
    {
        // About 12 ms windows every 6 ms, whatever the rate.
        size = 512;
        while (size * 44100.0 < 512.0 * rate * 0.75)
            size *= 2;
        hop = size / 2;
        const unsigned half = size / 2;
        const unsigned lowest = unsigned(std::ceil(kLowHz * size / rate));
        for (unsigned edge = std::max(1u, lowest); edge < half;) {
            bandEdges.push_back(edge);
            edge += std::max(1u, edge * 26 / 100);
        }
        bandEdges.push_back(half);
    }
    size_t bands() const { return bandEdges.size() - 1; }
};

// Per-analysis-step detection function over the whole file, computed in
// blocks so only one transform's worth of audio is held at a time; with it,
// per step, the band that rose most (0 the low end, b + 1 band b), where the
// attack is then best timed; and whether an encoder removed the top bands.
std::vector<float> detectionFunction(const HitAnalysis::Reader& read, unsigned long frames,
                                     int rate, const Geometry& g, const std::atomic<bool>* cancel,
                                     std::vector<unsigned char>* risen, bool* lossy)
{
    const unsigned size = g.size, hop = g.hop;
    // Only whole windows: one running past the end would see the audio stop
    // dead, and find a click there.
    const unsigned long steps = frames >= size ? (frames - size) / hop + 1 : 0;
    std::vector<float> odf(steps, 0.0f), highRise(steps, 0.0f);
    risen->assign(steps, 0);
    size_t firstHigh = 1; // in the rows below: 0 the low end, b + 1 band b
    while (firstHigh <= g.bands() && g.bandEdges[firstHigh - 1] * double(rate) / size < kHighHz)
        ++firstHigh;
    std::vector<float> loudest(g.bands() + 1, 0.0f);
    RealFft fft(size);
    std::vector<float> window(size), frame(size), power(size / 2 + 1);
    for (unsigned i = 0; i < size; ++i)
        window[i] = float(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / size));
    // Power of a full-scale sine's peak bin, so band levels read as fractions
    // of full scale whatever the transform length.
    const float norm = 1.0f / (float(size) * size / 16.0f);

    // Mono history of the last transform length, refilled a block at a time.
    const unsigned kBlock = 4096;
    std::vector<float> block(2 * kBlock);
    std::vector<float> mono(size + kBlock, 0.0f);
    std::vector<float> lowSquared(size + kBlock, 0.0f);
    const double lowCoefficient = 1.0 - std::exp(-2.0 * M_PI * 120.0 / rate);
    double low1 = 0.0, low2 = 0.0;
    // Each band's level in the last few steps: a rise counts only above the
    // loudest of them, so a sound that pulses faster than that (a saturated
    // kick's tail, a beating pair of tones) makes no hits of its own.
    const unsigned memory = std::max(2u, unsigned(std::lround(0.022 * rate / hop)));
    const unsigned lowMemory =
        std::max(memory, unsigned(std::lround(kLowMemoryMs * 0.001 * rate / hop)));
    std::vector<float> history(lowMemory * (g.bands() + 1), 0.0f);
    std::vector<size_t> rows(lowMemory); // the last steps' rows, newest first
    std::vector<float> current(g.bands() + 1);
    unsigned long nextRead = 0;  // first frame not yet read
    unsigned long monoStart = 0; // frame of mono[0]
    unsigned monoCount = 0;

    for (unsigned long t = 0; t < steps; ++t) {
        if (cancel && (t & 63) == 0 && cancel->load(std::memory_order_relaxed))
            return {};
        // Step t's window covers frames [t * hop, t * hop + size).
        const unsigned long first = t * hop;
        while (nextRead < std::min(frames, first + size)) {
            // Drop what no later window needs, then append a block.
            if (first > monoStart) {
                const unsigned drop =
                    unsigned(std::min<unsigned long>(first - monoStart, monoCount));
                std::memmove(mono.data(), mono.data() + drop, (monoCount - drop) * sizeof(float));
                std::memmove(lowSquared.data(), lowSquared.data() + drop,
                             (monoCount - drop) * sizeof(float));
                monoCount -= drop;
                monoStart += drop;
            }
            const unsigned n = unsigned(
                std::min<unsigned long>({kBlock, frames - nextRead, mono.size() - monoCount}));
            read(nextRead, n, block.data());
            for (unsigned i = 0; i < n; ++i) {
                const float x = 0.5f * (block[2 * i] + block[2 * i + 1]);
                mono[monoCount + i] = x;
                low1 += lowCoefficient * (x - low1);
                low2 += lowCoefficient * (low1 - low2);
                lowSquared[monoCount + i] = float(low2 * low2);
            }
            monoCount += n;
            nextRead += n;
        }
        double lowSum = 0.0;
        for (unsigned i = 0; i < size; ++i) {
            const unsigned long f = first + i;
            const bool have = f >= monoStart && f - monoStart < monoCount;
            frame[i] = have ? mono[f - monoStart] * window[i] : 0.0f;
            lowSum += have ? lowSquared[f - monoStart] : 0.0f;
        }
        // A full-scale sine's mean square is 1/2.
        const float low = std::log1p(kCompression * float(2.0 * lowSum / size));
        fft.powerSpectrum(frame.data(), power.data());
        current[0] = low;
        for (size_t b = 0; b < g.bands(); ++b) {
            float sum = 0.0f;
            for (unsigned k = g.bandEdges[b]; k < g.bandEdges[b + 1]; ++k)
                sum += power[k];
            const float mean = sum * norm / float(g.bandEdges[b + 1] - g.bandEdges[b]);
            current[b + 1] = std::log1p(kCompression * mean);
        }
        const size_t width = current.size();
        for (unsigned m = 1; m <= lowMemory; ++m)
            rows[m - 1] = ((t + lowMemory - m) % lowMemory) * width;
        float flux = 0.0f, most = 0.0f, high = 0.0f;
        for (size_t b = 0; b < width; ++b) {
            float recent = 0.0f;
            const unsigned span = b == 0 ? lowMemory : memory;
            for (unsigned m = 0; m < span; ++m)
                recent = std::max(recent, history[rows[m] + b]);
            const float rise = (b == 0 ? kLowWeight : 1.0f) * std::max(0.0f, current[b] - recent);
            flux += rise;
            if (b >= firstHigh)
                high += rise;
            loudest[b] = std::max(loudest[b], current[b]);
            if (rise > most)
                most = rise, (*risen)[t] = static_cast<unsigned char>(std::min<size_t>(b, 255));
        }
        std::copy(current.begin(), current.end(), history.begin() + (t % lowMemory) * width);
        odf[t] = flux;
        highRise[t] = high;
    }
    size_t kept = loudest.size();
    while (kept > firstHigh && loudest[kept - 1] < kRemovedLevel)
        --kept;
    *lossy = kept < loudest.size();
    if (*lossy && kept > firstHigh) {
        const float more =
            std::min(kMostForRemoved, float(loudest.size() - kept) / float(kept - firstHigh));
        for (unsigned long t = 0; t < steps; ++t)
            odf[t] += more * highRise[t];
    }
    return odf;
}

} // namespace

HitAnalysis HitAnalysis::analyse(const Reader& read, unsigned long frames, int rate,
                                 const std::atomic<bool>* cancel)
{
    HitAnalysis result;
    result.m_rate = rate;
    result.m_frames = frames;
    if (rate <= 0 || frames == 0) {
        result.m_complete = true;
        return result;
    }
    const Geometry g(rate);
    std::vector<unsigned char> risen;
    bool lossy = false;
    const std::vector<float> odf = detectionFunction(read, frames, rate, g, cancel, &risen, &lossy);
    if (odf.empty())
        return result;

    // A candidate is a step whose rise is the largest from about 12 ms before
    // it to the step after; its strength is how far it exceeds the mean of
    // the detection function around it, so a busy or noisy stretch asks more.
    // A step just short of a louder rise two steps on is a candidate too: a
    // hat or a tom 5 to 12 ms ahead of a kick is where that pair's sound
    // starts, and picking keeps it over the louder rise when it is strong
    // enough for the sensitivity (a flam is one hit).
    const long n = long(odf.size());
    const long peakReach = 2;
    const long meanBefore = std::max(2L, long(0.1 * rate / g.hop));
    const long meanAfter = std::max(1L, long(0.03 * rate / g.hop));
    const float minStrength = threshold(100.0);
    AttackLocator attacks(read, frames, rate, lossy);
    const long minGapFrames = long(0.010 * rate);
    long lastCut = -minGapFrames, cutBefore = lastCut; // the last hit's cut, and the one before
    long shoulderStep = -1; // the last hit's step, when a louder rise followed it
    std::vector<float> around;
    for (long t = 1; t < n; ++t) {
        if (cancel && (t & 255) == 0 && cancel->load(std::memory_order_relaxed))
            return HitAnalysis();
        const float v = odf[t];
        bool isPeak = v > 0.0f;
        for (long j = std::max(0L, t - peakReach); isPeak && j < std::min(n, t + peakReach); ++j)
            if (odf[j] > v || (odf[j] == v && j < t))
                isPeak = false;
        if (!isPeak)
            continue;
        const bool shoulder = t + peakReach < n && odf[t + peakReach] > v;
        around.assign(odf.begin() + std::max(0L, t - meanBefore),
                      odf.begin() + std::min(n, t + meanAfter + 1));
        std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
        const float strength = v - around[around.size() / 2];
        if (strength < minStrength)
            continue;

        // The rise began in the first step of the climb to this peak; the
        // sound may have started up to a quarter window before that step's
        // new part.
        long climb = t;
        while (climb > 0 && t - climb < 4 && odf[climb - 1] < odf[climb])
            --climb;
        // The louder rise after a shoulder is located as if the shoulder were
        // not there, so its cut stays where it was when picking passes over
        // the shoulder.
        const bool led = shoulderStep >= 0 && t - shoulderStep <= 2 * peakReach;
        const long previous = led ? cutBefore : lastCut;
        long from = long(climb) * long(g.hop) - long(g.hop / 2);
        from = std::max(
            {from, long(t) * long(g.hop) - long(0.030 * rate), previous + minGapFrames, 0L});
        const long to = long(t) * long(g.hop) + long(g.size);
        const unsigned band = risen[t];
        const double loHz = band == 0 ? 0.0 : g.bandEdges[band - 1] * double(rate) / g.size;
        const double hiHz = band == 0 ? 0.0 : g.bandEdges[band] * double(rate) / g.size;
        const long notBefore = std::max(0L, previous + long(0.002 * rate));
        long cut = attacks.find(static_cast<unsigned long>(from), static_cast<unsigned long>(to),
                                static_cast<unsigned long>(notBefore), loHz, hiHz);
        if (cut < 0)
            cut = std::max(from, long(t) * long(g.hop) + long(g.hop / 2));
        if (cut >= long(frames))
            continue;
        if (led && cut <= lastCut) {
            // Both found the same start: one hit, as loud as the louder rise.
            result.m_hits.pop_back();
            lastCut = cutBefore;
        }
        cutBefore = lastCut;
        lastCut = cut;
        shoulderStep = shoulder ? t : -1;
        result.m_hits.push_back({static_cast<unsigned long>(cut), strength});
    }

    // Back to a zero crossing of the louder channel within 1 ms, so the
    // slice starts without a click; never onto or before the cut before.
    const long reach = ZeroCrossing::framesForMs(1.0, rate);
    const unsigned long lead = static_cast<unsigned long>(std::lround(kLeadMs * 0.001 * rate));
    unsigned long floor = 0;
    for (Hit& hit : result.m_hits) {
        hit.frame = std::max(floor, hit.frame - std::min(hit.frame, lead));
        const unsigned long first =
            std::max(floor, hit.frame - std::min<unsigned long>(hit.frame, reach));
        const unsigned count = unsigned(hit.frame - first + 1);
        around.resize(2 * size_t(count));
        read(first, count, around.data());
        const long zero = ZeroCrossing::nearest(around.data(), count, count - 1, reach, 0);
        if (zero >= 0)
            hit.frame = first + static_cast<unsigned long>(zero);
        floor = hit.frame + 1;
    }
    result.m_complete = true;
    return result;
}

HitAnalysis HitAnalysis::analyse(const float* stereo, unsigned long frames, int rate,
                                 const std::atomic<bool>* cancel)
{
    const Reader read = [stereo, frames](unsigned long first, unsigned count, float* dest) {
        const unsigned long available =
            first < frames ? std::min<unsigned long>(count, frames - first) : 0;
        std::memcpy(dest, stereo + 2 * first, 2 * available * sizeof(float));
        std::fill(dest + 2 * available, dest + 2 * size_t(count), 0.0f);
    };
    return analyse(read, frames, rate, cancel);
}

HitAnalysis HitAnalysis::analyse(AudioCache& cache, int rate, const std::atomic<bool>* cancel)
{
    const unsigned long frames = cache.getLength() / 2;
    const Reader read = [&cache](unsigned long first, unsigned count, float* dest) {
        // A block at a time under the lock, never the whole window: a render
        // waiting for the lock must not wait long.
        const unsigned kMax = 4096;
        for (unsigned done = 0; done < count; done += kMax) {
            const unsigned n = std::min(kMax, count - done);
            cache.lock();
            cache.readSamples(2 * (first + done), dest + 2 * size_t(done), 2 * n);
            cache.unlock();
        }
    };
    return analyse(read, frames, rate, cancel);
}

float HitAnalysis::threshold(double sensitivity)
{
    // An even step in sensitivity is an even factor in strength: from 4x the
    // default strength at 0 to a quarter of it at 100.
    const double s = std::clamp(sensitivity, 0.0, 100.0);
    return float(4.0 * std::pow(2.0, (50.0 - s) / 25.0));
}

std::vector<unsigned long> HitAnalysis::pick(double sensitivity, unsigned long startFrame,
                                             unsigned long endFrame, double minSliceMs) const
{
    const float needed = threshold(sensitivity);
    const unsigned long gap =
        static_cast<unsigned long>(std::max(0.0, std::round(minSliceMs * 0.001 * m_rate)));
    std::vector<unsigned long> cuts;
    unsigned long last = startFrame;
    for (const Hit& hit : m_hits) {
        if (hit.strength < needed || hit.frame <= startFrame || hit.frame >= endFrame)
            continue;
        if (hit.frame - last < gap)
            continue;
        cuts.push_back(hit.frame);
        last = hit.frame;
    }
    return cuts;
}
