#include "DrumLoops.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace DrumLoops {

namespace {

using Rng = std::mt19937;

double uniform(Rng& rng, double lo, double hi)
{
    return std::uniform_real_distribution<double>(lo, hi)(rng);
}

bool chance(Rng& rng, double p)
{
    return uniform(rng, 0.0, 1.0) < p;
}

double dB(double db)
{
    return std::pow(10.0, db / 20.0);
}

// Second-order filter after the well-known cookbook formulas.
struct Biquad
{
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, z1 = 0, z2 = 0;

    static Biquad make(int type, double hz, double q, int rate)
    {
        const double w = 2 * M_PI * std::min(hz, 0.45 * rate) / rate;
        const double alpha = std::sin(w) / (2 * q), c = std::cos(w);
        Biquad f;
        double a0 = 1 + alpha;
        switch (type) {
        case 0: // low-pass
            f.b0 = f.b2 = (1 - c) / 2, f.b1 = 1 - c;
            break;
        case 1: // high-pass
            f.b0 = f.b2 = (1 + c) / 2, f.b1 = -(1 + c);
            break;
        default: // band-pass, 0 dB peak
            f.b0 = alpha, f.b1 = 0, f.b2 = -alpha;
            break;
        }
        f.a1 = -2 * c, f.a2 = 1 - alpha;
        f.b0 /= a0, f.b1 /= a0, f.b2 /= a0, f.a1 /= a0, f.a2 /= a0;
        return f;
    }
    double operator()(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};
Biquad lowPass(double hz, int rate, double q = 0.707)
{
    return Biquad::make(0, hz, q, rate);
}
Biquad highPass(double hz, int rate, double q = 0.707)
{
    return Biquad::make(1, hz, q, rate);
}
Biquad bandPass(double hz, int rate, double q)
{
    return Biquad::make(2, hz, q, rate);
}

// The sound of each voice in one loop: drawn once per loop, so a loop sounds
// like one kit, and varied a little per hit.
struct Kit
{
    double kickHigh, kickLow, kickSweep, kickDecay, kickClick, kickDrive;
    double snareBody, snareBodyDecay, snareNoiseHz, snareNoiseDecay, snareMix;
    double hatHz, hatClosedDecay, hatOpenDecay, hatMetal;
    double tomHz, tomDecay;
    double clapHz, clapSpacing, clapDecay;
    double rimHz, shakerRise, bellHz;
    double attackMs; // the kit's fade-in at each hit's start
};

Kit drawKit(Rng& rng)
{
    Kit k;
    k.kickHigh = uniform(rng, 110, 260);
    k.kickLow = uniform(rng, 42, 62);
    k.kickSweep = uniform(rng, 0.012, 0.06);
    k.kickDecay = uniform(rng, 0.12, 0.45);
    k.kickClick = uniform(rng, 0.0, 0.5);
    k.kickDrive = uniform(rng, 1.0, 3.0);
    k.snareBody = uniform(rng, 150, 260);
    k.snareBodyDecay = uniform(rng, 0.05, 0.14);
    k.snareNoiseHz = uniform(rng, 1500, 6000);
    k.snareNoiseDecay = uniform(rng, 0.08, 0.25);
    k.snareMix = uniform(rng, 0.3, 0.8);
    k.hatHz = uniform(rng, 6000, 10000);
    k.hatClosedDecay = uniform(rng, 0.012, 0.05);
    k.hatOpenDecay = uniform(rng, 0.15, 0.45);
    k.hatMetal = uniform(rng, 0.0, 0.6);
    k.tomHz = uniform(rng, 80, 200);
    k.tomDecay = uniform(rng, 0.15, 0.4);
    k.clapHz = uniform(rng, 900, 2200);
    k.clapSpacing = uniform(rng, 0.006, 0.012);
    k.clapDecay = uniform(rng, 0.06, 0.16);
    k.rimHz = uniform(rng, 1200, 2600);
    k.shakerRise = uniform(rng, 0.002, 0.006);
    k.bellHz = uniform(rng, 500, 900);
    k.attackMs = chance(rng, 0.5) ? 0.0 : uniform(rng, 0.1, 1.5);
    return k;
}

// White noise in [-1, 1) from the generator's own bits: the library's
// distributions cost more than the rest of the synthesis together.
double noise(Rng& rng)
{
    return double(std::int32_t(rng())) * (1.0 / 2147483648.0);
}

// exp(-t / seconds) at successive samples, by multiplication.
struct Decay
{
    double value = 1.0, factor = 1.0;
    Decay(double seconds, int rate) : factor(std::exp(-1.0 / (seconds * rate))) {}
    double operator()()
    {
        const double v = value;
        value *= factor;
        return v;
    }
};

// One hit, mono, peak near 1, starting with its first sample.
std::vector<float> renderVoice(Voice voice, const Kit& k, int rate, Rng& rng)
{
    const double vary = uniform(rng, 0.97, 1.03);
    // Long enough for the slowest decay to fall by 60 dB, then faded out:
    // a tail cut short would click, which is a hit of its own.
    double decay = 0.2;
    switch (voice) {
    case Voice::Kick:
        decay = k.kickDecay;
        break;
    case Voice::Snare:
        decay = std::max(k.snareBodyDecay, k.snareNoiseDecay);
        break;
    case Voice::ClosedHat:
        decay = k.hatClosedDecay;
        break;
    case Voice::OpenHat:
        decay = k.hatOpenDecay;
        break;
    case Voice::Tom:
        decay = k.tomDecay;
        break;
    case Voice::Clap:
        decay = k.clapDecay;
        break;
    default:
        break;
    }
    const double seconds = 7 * decay + 0.04;
    const long n = long(seconds * rate);
    std::vector<float> out(n);
    Biquad f1, f2, f3;
    double phase = 0, phase2 = 0;
    switch (voice) {
    case Voice::Snare:
        f1 = highPass(k.snareNoiseHz * 0.5, rate), f2 = bandPass(k.snareNoiseHz, rate, 0.7);
        break;
    case Voice::ClosedHat:
    case Voice::OpenHat:
        f1 = highPass(k.hatHz * vary, rate, 0.9), f2 = highPass(k.hatHz * 0.8, rate);
        break;
    case Voice::Clap:
        f1 = bandPass(k.clapHz * vary, rate, 1.2);
        break;
    case Voice::Rim:
        f1 = highPass(800, rate);
        break;
    case Voice::Shaker:
        f1 = bandPass(6000 * vary, rate, 1.5), f2 = highPass(3000, rate);
        break;
    default:
        f1 = lowPass(3000, rate);
        break;
    }
    f3 = lowPass(k.bellHz * 6, rate);
    const double pitchJitter = uniform(rng, 0.98, 1.02);
    Decay sweep(voice == Voice::Tom ? 0.03 : k.kickSweep, rate), fast(0.002, rate),
        slow(decay, rate), snareBody(k.snareBodyDecay, rate), snareNoise(k.snareNoiseDecay, rate),
        burst(0.003, rate), rim(0.015, rate), shaker(0.05, rate), bell(0.18, rate),
        tomClick(0.004, rate);
    for (long i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        double v = 0;
        switch (voice) {
        case Voice::Kick: {
            const double hz = k.kickLow + (k.kickHigh - k.kickLow) * sweep();
            phase += 2 * M_PI * hz * pitchJitter / rate;
            v = std::tanh(k.kickDrive * std::sin(phase)) / std::tanh(k.kickDrive) * slow();
            v += k.kickClick * f1(noise(rng)) * fast();
            break;
        }
        case Voice::Snare: {
            phase += 2 * M_PI * k.snareBody * vary / rate;
            const double body = (std::sin(phase) + 0.5 * std::sin(1.6 * phase)) * snareBody() / 1.5;
            const double hiss = f2(f1(noise(rng))) * 2.5 * snareNoise();
            v = (1 - k.snareMix) * body + k.snareMix * hiss;
            break;
        }
        case Voice::ClosedHat:
        case Voice::OpenHat: {
            // Six square waves at clashing pitches, the classic metallic ring.
            static const double ratios[] = {1.0, 1.342, 1.2312, 1.6532, 1.9523, 2.1523};
            double metal = 0;
            for (double r : ratios) {
                const double cycles = 410 * r * vary * t + r;
                metal += cycles - std::floor(cycles) < 0.5 ? 1 : -1;
            }
            const double raw = k.hatMetal * metal / 6 + (1 - k.hatMetal) * noise(rng);
            v = f2(f1(raw)) * 2.0 * slow();
            break;
        }
        case Voice::Tom: {
            const double hz = k.tomHz * vary * (1 + 0.4 * sweep());
            phase += 2 * M_PI * hz / rate;
            v = std::sin(phase) * slow() + 0.15 * f1(noise(rng)) * tomClick();
            break;
        }
        case Voice::Clap: {
            double env = 0;
            for (int b = 0; b < 4; ++b) {
                const double tb = t - b * k.clapSpacing;
                if (tb >= 0)
                    env += (b == 3 ? 1.0 : 0.7) * std::exp(-tb / (b == 3 ? k.clapDecay : 0.003));
            }
            v = f1(noise(rng)) * 3.0 * env;
            break;
        }
        case Voice::Rim: {
            phase += 2 * M_PI * k.rimHz * vary / rate;
            v = std::sin(phase) * rim() + 0.6 * f1(noise(rng)) * burst();
            break;
        }
        case Voice::Shaker: {
            const double rise = std::min(1.0, t / k.shakerRise);
            v = f2(f1(noise(rng))) * 4.0 * rise * shaker();
            break;
        }
        case Voice::Bell: {
            phase += 2 * M_PI * k.bellHz * vary / rate;
            phase2 += 2 * M_PI * k.bellHz * 1.48 * vary / rate;
            v = f3(std::tanh(3 * std::sin(phase)) + std::tanh(3 * std::sin(phase2))) * 0.5 * bell();
            break;
        }
        }
        if (k.attackMs > 0 && t * 1000 < k.attackMs)
            v *= t * 1000 / k.attackMs;
        if (i > n * 7 / 10)
            v *= 0.5 + 0.5 * std::cos(M_PI * (i - n * 7 / 10) / (n - n * 7 / 10));
        out[i] = float(v);
    }
    return out;
}

struct Note
{
    int step; // sixteenth of the loop
    Voice voice;
    double db; // level relative to the voice's base level
};

std::vector<Note> drawPattern(Rng& rng, int bars)
{
    std::vector<Note> notes;
    const bool sixteenthHats = chance(rng, 0.5);
    const bool hats = chance(rng, 0.9);
    const bool ghosts = chance(rng, 0.6);
    const bool clapOnBackbeat = chance(rng, 0.25);
    const Voice extra =
        std::vector<Voice>{Voice::Rim, Voice::Shaker, Voice::Bell,
                           Voice::Tom}[std::uniform_int_distribution<int>(0, 3)(rng)];
    const double extraProb = uniform(rng, 0.0, 0.25);
    for (int bar = 0; bar < bars; ++bar) {
        for (int s = 0; s < 16; ++s) {
            const int step = bar * 16 + s;
            const bool fill = bar == bars - 1 && s >= 12 && chance(rng, 0.3);
            if (s == 0 || (s % 2 == 0 && s != 4 && s != 12 && chance(rng, 0.3)) ||
                chance(rng, 0.05))
                notes.push_back({step, Voice::Kick, uniform(rng, -4, 0)});
            if (s == 4 || s == 12) {
                notes.push_back({step, Voice::Snare, uniform(rng, -3, 0)});
                if (clapOnBackbeat)
                    notes.push_back({step, Voice::Clap, uniform(rng, -8, -2)});
            } else if (ghosts && chance(rng, 0.18)) {
                notes.push_back({step, Voice::Snare, uniform(rng, -26, -14)});
            }
            if (fill)
                notes.push_back({step, Voice::Tom, uniform(rng, -6, 0)});
            if (hats && (sixteenthHats || s % 2 == 0) && !fill) {
                const bool open = s % 4 == 2 && chance(rng, 0.2);
                const double db = s % 4 == 0   ? uniform(rng, -3, 0)
                                  : s % 2 == 0 ? uniform(rng, -8, -2)
                                               : uniform(rng, -16, -6);
                notes.push_back({step, open ? Voice::OpenHat : Voice::ClosedHat, db});
            }
            if (chance(rng, extraProb))
                notes.push_back({step, extra, uniform(rng, -14, 0)});
        }
    }
    return notes;
}

double baseLevel(Voice v, Rng& rng)
{
    switch (v) {
    case Voice::Kick:
        return uniform(rng, 0.6, 0.9);
    case Voice::Snare:
        return uniform(rng, 0.45, 0.85);
    case Voice::ClosedHat:
    case Voice::OpenHat:
        return uniform(rng, 0.08, 0.3);
    case Voice::Shaker:
        return uniform(rng, 0.05, 0.2);
    default:
        return uniform(rng, 0.2, 0.6);
    }
}

// Energy of the mono sum of sample(f) over frames [from, to) in three bands
// (low, middle, high). The filters run in from 30 ms earlier to settle.
struct Bands
{
    double e[3] = {0, 0, 0};
};
template <typename Sample> Bands bandEnergy(const Sample& sample, long from, long to, int rate)
{
    Biquad lo = lowPass(200, rate), midHp = highPass(200, rate), midLp = lowPass(2500, rate),
           hi = highPass(4000, rate);
    Bands b;
    for (long i = std::max(0L, from - rate * 3 / 100); i < to; ++i) {
        const double x = sample(i);
        const double l = lo(x), m = midLp(midHp(x)), h = hi(x);
        if (i >= from)
            b.e[0] += l * l, b.e[1] += m * m, b.e[2] += h * h;
    }
    return b;
}

} // namespace

Loop make(std::uint32_t seed, const Style& style)
{
    Rng rng(seed * 2654435761u + 12345u);
    Loop loop;
    loop.rate = style.rate;
    loop.bars = style.bars > 0 ? style.bars : (chance(rng, 0.5) ? 1 : 2);
    loop.bpm = uniform(rng, style.minBpm, style.maxBpm);
    const int rate = loop.rate;
    const double stepFrames = 60.0 / loop.bpm / 4.0 * rate;
    const long frames = std::lround(loop.bars * 16 * stepFrames);
    loop.stereo.assign(2 * frames, 0.0f);

    const Kit kit = drawKit(rng);
    double levels[9];
    double pans[9];
    for (int v = 0; v < 9; ++v) {
        levels[v] = baseLevel(Voice(v), rng);
        pans[v] = v == int(Voice::Kick) || v == int(Voice::Snare) ? uniform(rng, -0.1, 0.1)
                                                                  : uniform(rng, -0.8, 0.8);
    }

    struct Placed
    {
        Hit hit;
        std::vector<float> own; // its stereo contribution, before wrapping
    };
    std::vector<Placed> placed;
    for (const Note& note : drawPattern(rng, loop.bars)) {
        // Humanised: most hits near the grid, a few further off.
        double offsetMs = std::normal_distribution<double>(0.0, style.swingMs / 2.5)(rng);
        offsetMs = std::clamp(offsetMs, -style.swingMs, style.swingMs);
        long frame = std::lround(note.step * stepFrames + offsetMs * rate / 1000.0);
        frame = std::clamp(frame, 0L, frames - 1);
        const std::vector<float> mono = renderVoice(note.voice, kit, rate, rng);
        const double gain = levels[int(note.voice)] * dB(note.db + uniform(rng, -1.5, 1.5));
        const double pan = pans[int(note.voice)];
        const double gl = gain * std::sqrt(0.5 * (1 - pan)), gr = gain * std::sqrt(0.5 * (1 + pan));
        Placed p;
        p.hit.frame = frame;
        p.hit.voice = note.voice;
        p.own.resize(2 * mono.size());
        for (size_t i = 0; i < mono.size(); ++i) {
            p.own[2 * i] = float(mono[i] * gl);
            p.own[2 * i + 1] = float(mono[i] * gr);
        }
        placed.push_back(std::move(p));
    }

    // Tails that run past the end come back at the start, as in a loop cut
    // from a longer performance.
    auto addInto = [&](std::vector<float>& dest, const Placed& p, float sign) {
        for (size_t i = 0; i < p.own.size() / 2; ++i) {
            const long f = (p.hit.frame + long(i)) % frames;
            dest[2 * f] += sign * p.own[2 * i];
            dest[2 * f + 1] += sign * p.own[2 * i + 1];
        }
    };
    for (const Placed& p : placed)
        addInto(loop.stereo, p, 1.0f);
    if (style.noiseFloor) {
        const double level = dB(uniform(rng, -66, -46)) * std::sqrt(3.0);
        Biquad tint[2] = {lowPass(uniform(rng, 2000, 12000), rate),
                          lowPass(uniform(rng, 2000, 12000), rate)};
        for (long i = 0; i < frames; ++i)
            for (int c = 0; c < 2; ++c)
                loop.stereo[2 * i + c] += float(level * tint[c](noise(rng)) * 1.4);
    }
    float peak = 0;
    for (float s : loop.stereo)
        peak = std::max(peak, std::fabs(s));
    const float normalise = peak > 0 ? float(dB(uniform(rng, -14, -0.5))) / peak : 1.0f;
    for (float& s : loop.stereo)
        s *= normalise;

    // Audible: in some band the hit's first 20 ms are at least twice as loud
    // as everything else sounding there (and stand above silence).
    const long window = rate / 50;
    for (Placed& p : placed) {
        for (float& s : p.own)
            s *= normalise;
        const long ownFrames = long(p.own.size() / 2);
        auto own = [&](long f) {
            const long i = (f - p.hit.frame + frames) % frames;
            return i < ownFrames ? double(p.own[2 * i]) + p.own[2 * i + 1] : 0.0;
        };
        auto rest = [&](long f) { return loop.stereo[2 * f] + loop.stereo[2 * f + 1] - own(f); };
        const long end = std::min(frames, p.hit.frame + window);
        const Bands mine = bandEnergy(own, p.hit.frame, end, rate);
        const Bands other = bandEnergy(rest, p.hit.frame, end, rate);
        p.hit.audible = false;
        for (int b = 0; b < 3; ++b)
            if (mine.e[b] >= 2 * other.e[b] && mine.e[b] > window * 1e-8)
                p.hit.audible = true;
        loop.hits.push_back(p.hit);
    }
    std::stable_sort(loop.hits.begin(), loop.hits.end(),
                     [](const Hit& a, const Hit& b) { return a.frame < b.frame; });
    return loop;
}

std::vector<Onset> onsets(const Loop& loop, double minGapMs)
{
    const long gap = std::lround(minGapMs * loop.rate / 1000.0);
    std::vector<Onset> out;
    for (const Hit& h : loop.hits) {
        if (out.empty() || h.frame - out.back().earliest >= gap) {
            Onset o;
            o.frame = o.earliest = o.latest = h.frame;
            o.required = h.audible;
            out.push_back(o);
            continue;
        }
        Onset& o = out.back();
        o.latest = h.frame;
        if (h.audible && !o.required)
            o.frame = h.frame, o.required = true;
    }
    return out;
}

Score& Score::operator+=(const Score& other)
{
    required += other.required;
    matched += other.matched;
    cuts += other.cuts;
    errorsMs.insert(errorsMs.end(), other.errorsMs.begin(), other.errorsMs.end());
    return *this;
}

Score score(const Loop& loop, const std::vector<long>& cuts, double windowMs)
{
    const long w = std::lround(windowMs * loop.rate / 1000.0);
    // The loop's start is a slice boundary of its own: hits there need no cut.
    const long lead = loop.rate * 3 / 100;
    std::vector<Onset> groups = onsets(loop);
    Score s;
    std::vector<long> best(groups.size(), -1);
    for (long cut : cuts) {
        int group = -1;
        long distance = 0;
        for (size_t g = 0; g < groups.size(); ++g) {
            const Onset& o = groups[g];
            if (cut < o.earliest - w || cut > o.frame + w)
                continue;
            const long d = std::labs(cut - o.frame);
            if (group < 0 || d < distance)
                group = int(g), distance = d;
        }
        if (group >= 0 && (!groups[group].required || groups[group].frame < lead))
            continue; // a cut at a buried hit or at the start counts neither way
        ++s.cuts;
        if (group < 0)
            continue;
        if (best[group] < 0 ||
            std::labs(cut - groups[group].frame) < std::labs(best[group] - groups[group].frame))
            best[group] = cut;
    }
    for (size_t g = 0; g < groups.size(); ++g) {
        if (!groups[g].required || groups[g].frame < lead)
            continue;
        ++s.required;
        if (best[g] >= 0) {
            ++s.matched;
            s.errorsMs.push_back((best[g] - groups[g].frame) * 1000.0 / loop.rate);
        }
    }
    return s;
}

bool writeWav(const Loop& loop, const QString& path)
{
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = loop.rate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t frames = sf_count_t(loop.stereo.size() / 2);
    const bool ok = sf_writef_float(f, loop.stereo.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

} // namespace DrumLoops
