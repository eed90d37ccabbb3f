#include "DrumLoops.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <optional>
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
    // Drawn apart from the rest, so the loops without them stay as they were.
    double rideHz = 0, rideWash = 0, crashDecay = 0, bassHz = 0, bassAttackMs = 0;
    double slowAttackMs = 0; // hats, shakers and rides
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

void drawExtras(Kit& k, const Style& style, Rng& rng)
{
    k.rideHz = uniform(rng, 280, 520);
    k.rideWash = uniform(rng, 0.25, 0.6);
    k.crashDecay = uniform(rng, 0.5, 1.0);
    k.bassHz = uniform(rng, 41, 82);
    k.bassAttackMs = uniform(rng, 0.5, 6.0);
    k.slowAttackMs = style.slowAttackMs > 0 ? uniform(rng, 1.0, style.slowAttackMs) : 0.0;
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
    case Voice::Ride:
        decay = k.rideWash;
        break;
    case Voice::Crash:
        decay = k.crashDecay;
        break;
    default:
        break;
    }
    // Cymbals ring for seconds; -35 dB and a long fade end them early enough.
    const bool cymbal = voice == Voice::Ride || voice == Voice::Crash;
    const double seconds = (cymbal ? 4 : 7) * decay + 0.04;
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
    case Voice::Ride:
    case Voice::Crash:
        f1 = highPass(voice == Voice::Ride ? 2500 : 1200, rate), f2 = highPass(5000, rate);
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
        case Voice::Ride:
        case Voice::Crash: {
            // Inharmonic partials over noise: a ping that settles into a wash.
            static const double ratios[] = {1.0, 1.483, 1.932, 2.546, 2.63, 3.251};
            double metal = 0;
            for (double r : ratios) {
                const double cycles = k.rideHz * r * vary * t + r;
                metal += cycles - std::floor(cycles) < 0.5 ? 1 : -1;
            }
            if (voice == Voice::Ride) {
                v = f1(0.7 * metal / 6 + 0.3 * noise(rng)) * (1.2 * rim() + 0.5 * slow());
            } else {
                v = (f1(0.4 * metal / 6 + noise(rng)) + f2(noise(rng)) * burst()) * slow();
            }
            break;
        }
        case Voice::Bass:
            break;
        }
        if (k.attackMs > 0 && t * 1000 < k.attackMs)
            v *= t * 1000 / k.attackMs;
        const bool slowVoice = voice == Voice::ClosedHat || voice == Voice::OpenHat ||
                               voice == Voice::Shaker || voice == Voice::Ride;
        if (slowVoice && k.slowAttackMs > 0 && t * 1000 < k.slowAttackMs * vary)
            v *= t * 1000 / (k.slowAttackMs * vary);
        if (i > n * 7 / 10)
            v *= 0.5 + 0.5 * std::cos(M_PI * (i - n * 7 / 10) / (n - n * 7 / 10));
        out[i] = float(v);
    }
    return out;
}

// A bass note of the given length: a few harmonics, low-passed, plucked in
// over the kit's bass attack, sustained, released at the end.
std::vector<float> renderBass(const Kit& k, double hz, long frames, int rate)
{
    std::vector<float> out(size_t(std::max(1L, frames)));
    Biquad tone = lowPass(hz * 5, rate);
    Decay pluck(0.08, rate);
    const long release = std::min(frames / 2, long(0.015 * rate));
    double phase = 0;
    for (long i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        phase += 2 * M_PI * hz / rate;
        const double wave =
            std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase);
        double env = 0.6 + 0.4 * pluck();
        if (t * 1000 < k.bassAttackMs)
            env *= t * 1000 / k.bassAttackMs;
        if (i >= frames - release)
            env *= double(frames - i) / release;
        out[i] = float(tone(wave) * env * 0.6);
    }
    return out;
}

struct Note
{
    int step; // sixteenth of the loop
    Voice voice;
    double db;             // level relative to the voice's base level
    double offsetMs = 0;   // from the step, before humanising
    long length = 0;       // frames, for the held notes of a bass
    double halfStep = 0.0; // 0.5: a thirty-second note later
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

// Grace notes before backbeats (flams, drags), more ghost notes, and rolls
// of thirty-second notes that swell into the next bar.
void addOrnaments(std::vector<Note>& notes, int bars, Rng& rng)
{
    const size_t played = notes.size();
    for (size_t i = 0; i < played; ++i) {
        const Note n = notes[i];
        if (n.voice != Voice::Snare || n.db < -6)
            continue;
        if (chance(rng, 0.3))
            notes.push_back(
                {n.step, Voice::Snare, n.db - uniform(rng, 6, 16), -uniform(rng, 12, 28)});
        else if (chance(rng, 0.15))
            for (int g = 1; g <= 2; ++g)
                notes.push_back({n.step, Voice::Snare, n.db - uniform(rng, 10, 18), -g * 22.0});
    }
    for (int step = 1; step < bars * 16; step += 2)
        if (chance(rng, 0.2))
            notes.push_back({step, Voice::Snare, uniform(rng, -32, -16)});
    if (chance(rng, 0.6)) {
        const int first = (bars - 1) * 16 + (chance(rng, 0.5) ? 12 : 14);
        const double lastDb = uniform(rng, -6, 0);
        const int strokes = 2 * (bars * 16 - first);
        for (int s = 0; s < strokes; ++s)
            notes.push_back({first + s / 2, Voice::Snare, lastDb - 2.0 * (strokes - 1 - s), 0.0, 0,
                             s % 2 ? 0.5 : 0.0});
    }
}

// A ride on the quarters or eighths, crashes with the first downbeats.
void addCymbals(std::vector<Note>& notes, int bars, Rng& rng)
{
    const int every = chance(rng, 0.5) ? 2 : 4;
    for (int step = 0; step < bars * 16; step += every)
        notes.push_back(
            {step, Voice::Ride, step % 4 == 0 ? uniform(rng, -3, 0) : uniform(rng, -9, -3)});
    for (int bar = 0; bar < bars; ++bar)
        if (bar == 0 || chance(rng, 0.4))
            notes.push_back({bar * 16, Voice::Crash, uniform(rng, -4, 0)});
}

// Bass notes with the kicks and now and then on an off-beat, each held until
// the next; a hit of its own where it starts.
void addBass(std::vector<Note>& notes, int bars, double stepFrames, Rng& rng)
{
    std::vector<int> steps;
    for (const Note& n : notes)
        if (n.voice == Voice::Kick)
            steps.push_back(n.step);
    for (int step = 2; step < bars * 16; step += 4)
        if (chance(rng, 0.25))
            steps.push_back(step + (chance(rng, 0.5) ? 1 : 0));
    std::sort(steps.begin(), steps.end());
    steps.erase(std::unique(steps.begin(), steps.end()), steps.end());
    for (size_t i = 0; i < steps.size(); ++i) {
        const int next = i + 1 < steps.size() ? steps[i + 1] : steps.front() + bars * 16;
        const long length = std::lround((next - steps[i]) * stepFrames * uniform(rng, 0.6, 0.95));
        notes.push_back({steps[i], Voice::Bass, uniform(rng, -4, 0), 0.0, length});
    }
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
    case Voice::Ride:
        return uniform(rng, 0.06, 0.2);
    case Voice::Crash:
        return uniform(rng, 0.15, 0.4);
    case Voice::Bass:
        return uniform(rng, 0.3, 0.6);
    default:
        return uniform(rng, 0.2, 0.6);
    }
}

// Energy of the mono sum of sample(f) over frames [from, to) in three bands
// (low, middle, high). The filters run in from 30 ms earlier to settle. The
// high band stops at 16 kHz: few ears hear above it, and a lossy encoding
// keeps nothing there, so what is heard does not hang on it.
struct Bands
{
    double e[3] = {0, 0, 0};
};
// Adds the energy of x in each band, filtering on from the samples before.
class BandSplit
{
public:
    explicit BandSplit(int rate)
        : m_lo(lowPass(200, rate)), m_midHp(highPass(200, rate)), m_midLp(lowPass(2500, rate)),
          m_hi(highPass(4000, rate)), m_top(lowPass(16000, rate))
    {
    }
    void add(double x, Bands* bands)
    {
        const double l = m_lo(x), m = m_midLp(m_midHp(x)), h = m_top(m_hi(x));
        if (bands)
            bands->e[0] += l * l, bands->e[1] += m * m, bands->e[2] += h * h;
    }

private:
    Biquad m_lo, m_midHp, m_midLp, m_hi, m_top;
};
template <typename Sample> Bands bandEnergy(const Sample& sample, long from, long to, int rate)
{
    BandSplit split(rate);
    Bands b;
    for (long i = std::max(0L, from - rate * 3 / 100); i < to; ++i)
        split.add(sample(i), i >= from ? &b : nullptr);
    return b;
}

// A room around the kit: early reflections (walls, and the other microphones
// that pick a hit up a few ms later) and a tail of combs and all-passes.
// Adds its sound to what passes through; the state carries over calls.
class Room
{
public:
    Room(double amount, int rate, Rng& rng)
    {
        const int taps = 3 + int(uniform(rng, 0, 4));
        for (int i = 0; i < taps; ++i) {
            const double ms = uniform(rng, 1.5, 25.0);
            const double gain = amount * 0.7 * std::exp(-ms / 15.0) * uniform(rng, 0.5, 1.0);
            m_taps.push_back({long(ms * 0.001 * rate), gain * uniform(rng, 0.6, 1.0),
                              gain * uniform(rng, 0.6, 1.0)});
        }
        const double rt60 = uniform(rng, 0.3, 1.5);
        m_preDelay = long(uniform(rng, 5, 25) * 0.001 * rate);
        m_damping = 1.0 - std::exp(-2 * M_PI * uniform(rng, 2000, 8000) / rate);
        m_tailGain = amount * 0.12;
        static const double combMs[kCombs] = {29.7, 37.1, 41.1, 43.7};
        for (int c = 0; c < 2; ++c) {
            for (int i = 0; i < kCombs; ++i) {
                const double ms = combMs[i] * uniform(rng, 0.9, 1.1) + 0.6 * c;
                m_combs[c][i].line.assign(size_t(ms * 0.001 * rate), 0.0);
                m_combs[c][i].feedback = std::pow(10.0, -3.0 * ms * 0.001 / rt60);
            }
            m_allPasses[c][0].line.assign(size_t((5.0 + c * 0.3) * 0.001 * rate), 0.0);
            m_allPasses[c][1].line.assign(size_t((1.7 + c * 0.2) * 0.001 * rate), 0.0);
        }
        long longest = m_preDelay;
        for (const Tap& t : m_taps)
            longest = std::max(longest, t.delay);
        m_history.assign(size_t(longest + 1), 0.0);
    }

    // The same room, silent.
    Room fresh() const
    {
        Room r = *this;
        std::fill(r.m_history.begin(), r.m_history.end(), 0.0);
        for (int c = 0; c < 2; ++c) {
            for (Line& l : r.m_combs[c])
                std::fill(l.line.begin(), l.line.end(), 0.0), l.low = 0;
            for (Line& l : r.m_allPasses[c])
                std::fill(l.line.begin(), l.line.end(), 0.0);
        }
        return r;
    }

    void process(const float* in, float* out, long frames)
    {
        const long size = long(m_history.size());
        for (long f = 0; f < frames; ++f) {
            m_now = (m_now + 1) % size;
            m_history[m_now] = 0.5 * (double(in[2 * f]) + in[2 * f + 1]);
            auto past = [&](long d) { return m_history[(m_now - d + size) % size]; };
            const double feed = past(m_preDelay);
            for (int c = 0; c < 2; ++c) {
                double wet = 0;
                for (const Tap& t : m_taps)
                    wet += (c ? t.right : t.left) * past(t.delay);
                double tail = 0;
                for (Line& comb : m_combs[c]) {
                    double& slot = comb.line[comb.at];
                    comb.low += m_damping * (slot - comb.low);
                    tail += slot;
                    slot = feed + comb.feedback * comb.low;
                    comb.at = (comb.at + 1) % comb.line.size();
                }
                for (Line& ap : m_allPasses[c]) {
                    double& slot = ap.line[ap.at];
                    const double y = slot - 0.5 * tail;
                    slot = tail + 0.5 * y;
                    tail = y;
                    ap.at = (ap.at + 1) % ap.line.size();
                }
                out[2 * f + c] += float(wet + m_tailGain * tail);
            }
        }
    }

private:
    static constexpr int kCombs = 4;
    struct Tap
    {
        long delay;
        double left, right;
    };
    struct Line
    {
        std::vector<double> line;
        size_t at = 0;
        double feedback = 0, low = 0;
    };
    std::vector<Tap> m_taps;
    long m_preDelay = 0;
    double m_damping = 0, m_tailGain = 0;
    Line m_combs[2][kCombs];
    Line m_allPasses[2][2];
    std::vector<double> m_history;
    long m_now = 0;
};

// A smooth wander of the level between random points, in dB, 0 at its loudest.
std::vector<double> drift(long frames, double maxDb, Rng& rng)
{
    const int knots = 3 + int(uniform(rng, 0, 3));
    std::vector<double> at(size_t(knots) + 1);
    for (double& k : at)
        k = uniform(rng, -maxDb, 0.0);
    std::vector<double> gain(static_cast<size_t>(frames));
    for (long f = 0; f < frames; ++f) {
        const double x = double(f) * knots / frames;
        const int i = std::min(knots - 1, int(x));
        const double w = 0.5 - 0.5 * std::cos(M_PI * (x - i));
        gain[f] = dB(at[i] + w * (at[i + 1] - at[i]));
    }
    return gain;
}

// The gain a mastering chain applies at each frame: a compressor that pumps
// with the kicks, then a limiter that looks ahead so no peak passes its
// ceiling, the two linked across the channels.
std::vector<double> compression(const std::vector<float>& stereo, int rate, Rng& rng)
{
    const long frames = long(stereo.size() / 2);
    std::vector<double> peak(static_cast<size_t>(frames));
    double loudest = 1e-9;
    for (long f = 0; f < frames; ++f) {
        peak[f] = std::max(std::fabs(stereo[2 * f]), std::fabs(stereo[2 * f + 1]));
        loudest = std::max(loudest, peak[f]);
    }
    const double attack = std::exp(-1.0 / (uniform(rng, 0.5, 10.0) * 0.001 * rate));
    const double release = std::exp(-1.0 / (uniform(rng, 40.0, 250.0) * 0.001 * rate));
    const double threshold = loudest * dB(uniform(rng, -24, -10));
    const double ratio = uniform(rng, 3, 10);
    std::vector<double> gain(static_cast<size_t>(frames));
    // Twice round the loop, so the level it starts with is the one it ends with.
    double env = 0;
    for (long pass = 0; pass < 2; ++pass) {
        for (long f = 0; f < frames; ++f) {
            const double x = peak[f];
            env = x > env ? attack * env + (1 - attack) * x : release * env + (1 - release) * x;
            gain[f] = env > threshold ? std::pow(env / threshold, 1.0 / ratio - 1.0) : 1.0;
        }
    }
    // The limiter: the gain each frame needs to stay under the ceiling, the
    // least of it over the look-ahead, ramped in over the same span.
    const long ahead = std::max(1L, long(uniform(rng, 1.0, 3.0) * 0.001 * rate));
    double ceiling = 0;
    for (long f = 0; f < frames; ++f)
        ceiling = std::max(ceiling, peak[f] * gain[f]);
    ceiling *= dB(-uniform(rng, 2, 8));
    std::vector<double> need(static_cast<size_t>(frames)), least(static_cast<size_t>(frames));
    for (long f = 0; f < frames; ++f)
        need[f] = std::min(1.0, ceiling / std::max(1e-12, peak[f] * gain[f]));
    std::deque<long> queue;
    for (long f = frames - 1; f >= 0; --f) {
        while (!queue.empty() && need[queue.back()] >= need[f])
            queue.pop_back();
        queue.push_back(f);
        while (queue.front() > f + ahead)
            queue.pop_front();
        least[f] = need[queue.front()];
    }
    const double limiterRelease = std::exp(-1.0 / (uniform(rng, 20.0, 120.0) * 0.001 * rate));
    double sum = 0, held = 1.0;
    for (long f = 0; f < frames; ++f) {
        sum += least[f] - (f >= ahead ? least[f - ahead] : 1.0);
        const double ramped = (sum + double(ahead)) / ahead;
        held = ramped < held ? ramped : held + (1 - limiterRelease) * (ramped - held);
        gain[f] *= held;
    }
    return gain;
}

// The soft clipping of a hot master: untouched below the knee, rounded above.
double clip(double x)
{
    const double knee = 0.7, a = std::fabs(x);
    return a <= knee ? x : std::copysign(knee + 0.3 * std::tanh((a - knee) / 0.3), x);
}

// Crackle (short clicks, now and then a pop), rumble and mains hum, relative
// to full scale; none of it a hit.
void addVinyl(std::vector<float>& stereo, int rate, Rng& rng)
{
    const long frames = long(stereo.size() / 2);
    const double hum = dB(uniform(rng, -58, -40)), hz = chance(rng, 0.5) ? 50.0 : 60.0;
    const double rumble = dB(uniform(rng, -50, -38)), hiss = dB(uniform(rng, -66, -52));
    Biquad low[2] = {lowPass(25, rate), lowPass(25, rate)};
    Biquad tint[2] = {lowPass(9000, rate), lowPass(9000, rate)};
    const double clicksPerFrame = uniform(rng, 3, 20) / rate;
    long click = -1, clickLength = 0;
    double clickLevel = 0;
    for (long f = 0; f < frames; ++f) {
        const double t = double(f) / rate;
        const double mains =
            hum * (std::sin(2 * M_PI * hz * t) + 0.5 * std::sin(4 * M_PI * hz * t) +
                   0.3 * std::sin(6 * M_PI * hz * t + 1.0));
        if (click < 0 && uniform(rng, 0, 1) < clicksPerFrame) {
            click = 0;
            clickLength = std::max(2L, long(uniform(rng, 0.05, 0.5) * 0.001 * rate));
            clickLevel = dB(chance(rng, 0.05) ? uniform(rng, -34, -28) : uniform(rng, -54, -36));
            clickLevel = chance(rng, 0.5) ? clickLevel : -clickLevel;
        }
        double crackle = 0;
        if (click >= 0) {
            crackle = clickLevel * std::exp(-3.0 * click / clickLength) * (click % 2 ? -0.6 : 1.0);
            if (++click > 3 * clickLength)
                click = -1;
        }
        for (int c = 0; c < 2; ++c)
            stereo[2 * f + c] += float(mains + crackle + rumble * 40 * low[c](noise(rng)) +
                                       hiss * tint[c](noise(rng)));
    }
}

} // namespace

Loop make(std::uint32_t seed, const Style& style)
{
    Rng rng(seed * 2654435761u + 12345u);
    // What real recordings add comes from a generator of its own, so the
    // plain loops stay what they were.
    Rng more(seed * 40503u + 977u);
    Loop loop;
    loop.rate = style.rate;
    loop.bars = style.bars > 0 ? style.bars : (chance(rng, 0.5) ? 1 : 2);
    loop.bpm = uniform(rng, style.minBpm, style.maxBpm);
    const int rate = loop.rate;
    const double stepFrames = 60.0 / loop.bpm / 4.0 * rate;
    const long frames = std::lround(loop.bars * 16 * stepFrames);
    loop.stereo.assign(2 * frames, 0.0f);

    Kit kit = drawKit(rng);
    drawExtras(kit, style, more);
    const int voices = int(Voice::Crash) + 1;
    std::vector<double> levels(voices), pans(voices);
    for (int v = 0; v < voices; ++v) {
        Rng& r = v <= int(Voice::Bell) ? rng : more;
        levels[v] = baseLevel(Voice(v), r);
        pans[v] = v == int(Voice::Kick) || v == int(Voice::Snare) || v == int(Voice::Bass)
                      ? uniform(r, -0.1, 0.1)
                      : uniform(r, -0.8, 0.8);
    }

    struct Placed
    {
        Hit hit;
        std::vector<float> own; // its stereo contribution, before wrapping
    };
    std::vector<Placed> placed;
    auto place = [&](const Note& note, Rng& r) {
        // Humanised: most hits near the grid, a few further off.
        double offsetMs = std::normal_distribution<double>(0.0, style.swingMs / 2.5)(r);
        offsetMs = std::clamp(offsetMs, -style.swingMs, style.swingMs) + note.offsetMs;
        const double shuffled = note.step % 2 ? style.shuffle : 0.0;
        long frame = std::lround((note.step + shuffled + note.halfStep) * stepFrames +
                                 offsetMs * rate / 1000.0);
        frame = std::clamp(frame, 0L, frames - 1);
        const std::vector<float> mono =
            note.voice == Voice::Bass
                ? renderBass(kit, kit.bassHz * (note.step % 8 == 6 ? 1.5 : 1.0), note.length, rate)
                : renderVoice(note.voice, kit, rate, r);
        const double gain = levels[int(note.voice)] * dB(note.db + uniform(r, -1.5, 1.5));
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
    };
    const std::vector<Note> notes = drawPattern(rng, loop.bars);
    for (const Note& note : notes)
        place(note, rng);
    std::vector<Note> extra;
    if (style.ornaments)
        addOrnaments(extra, loop.bars, more);
    if (style.cymbals)
        addCymbals(extra, loop.bars, more);
    if (style.bed) {
        std::vector<Note> kicks = notes;
        addBass(kicks, loop.bars, stepFrames, more);
        extra.insert(extra.end(), kicks.begin() + long(notes.size()), kicks.end());
    }
    for (const Note& note : extra)
        place(note, more);

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
    if (style.bed) {
        // A pad of detuned saws, a chord a bar, swelling in and crossfading.
        const double level = uniform(more, 0.02, 0.08);
        const double swell = uniform(more, 0.08, 0.3) * rate;
        Biquad soft[2] = {lowPass(uniform(more, 700, 2000), rate),
                          lowPass(uniform(more, 700, 2000), rate)};
        const double roots[] = {220.0, 196.0, 246.9, 174.6};
        double phases[6] = {0, 0, 0, 0, 0, 0};
        const long bar = frames / loop.bars;
        for (long f = 0; f < frames; ++f) {
            const double root = roots[(f / bar) % 4];
            const long inBar = f % bar;
            const double env =
                std::min({1.0, (inBar + swell * 0.2) / swell, double(bar - inBar) / (0.2 * swell)});
            double v = 0;
            for (int i = 0; i < 6; ++i) {
                const double hz = root *
                                  (i < 2   ? 1.0
                                   : i < 4 ? 1.26
                                           : 1.5) *
                                  (i % 2 ? 1.003 : 0.997);
                phases[i] += hz / rate;
                // Band-limited: a naive saw's aliases would hiss over the
                // hats. Eight partials, each from the two below it.
                const double angle = 2 * M_PI * phases[i], twice = 2 * std::cos(angle);
                double below = 0, partial = std::sin(angle);
                for (int h = 1; h <= 8; ++h) {
                    v += partial / h;
                    const double next = twice * partial - below;
                    below = partial, partial = next;
                }
            }
            for (int c = 0; c < 2; ++c)
                loop.stereo[2 * f + c] += float(level * env * soft[c](v / 6));
        }
    }

    // The room, twice round the loop so its tail wraps to the start.
    std::optional<Room> room;
    if (style.room > 0) {
        room.emplace(style.room * uniform(more, 0.4, 1.0), rate, more);
        std::vector<float> wet(loop.stereo.size(), 0.0f);
        room->fresh().process(loop.stereo.data(), wet.data(), frames);
        Room warm = room->fresh();
        warm.process(loop.stereo.data(), wet.data(), frames);
        std::fill(wet.begin(), wet.end(), 0.0f);
        warm.process(loop.stereo.data(), wet.data(), frames);
        for (size_t i = 0; i < wet.size(); ++i)
            loop.stereo[i] += wet[i];
    }
    // Level changes, compression and clipping act on each frame alone: a
    // gain per frame, the same for every sound then, and the clipping's own.
    std::vector<double> gain(static_cast<size_t>(frames), 1.0);
    if (style.driftDb > 0)
        gain = drift(frames, style.driftDb, more);
    if (style.compressed) {
        std::vector<float> drifted(loop.stereo.size());
        for (size_t i = 0; i < drifted.size(); ++i)
            drifted[i] = float(loop.stereo[i] * gain[i / 2]);
        const std::vector<double> squeeze = compression(drifted, rate, more);
        for (long f = 0; f < frames; ++f)
            gain[f] *= squeeze[f];
    }
    const std::vector<float> beforeGain = loop.stereo;
    double drive = 1.0;
    if (style.compressed || style.driftDb > 0) {
        float loudest = 1e-9f;
        for (size_t i = 0; i < loop.stereo.size(); ++i)
            loudest = std::max(loudest, std::fabs(float(loop.stereo[i] * gain[i / 2])));
        drive = style.compressed ? dB(uniform(more, 0, 4)) / loudest : 1.0;
        for (size_t i = 0; i < loop.stereo.size(); ++i) {
            const double x = loop.stereo[i] * gain[i / 2] * drive;
            loop.stereo[i] = float(style.compressed ? clip(x) : x);
        }
    }

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
    const double dc = style.dcOffset > 0
                          ? style.dcOffset * uniform(more, 0.3, 1.0) * (chance(more, 0.5) ? 1 : -1)
                          : 0.0;
    const float normalise =
        peak > 0 ? float(dB(uniform(rng, -14, -0.5)) * (1 - std::fabs(dc))) / peak : 1.0f;
    for (float& s : loop.stereo)
        s *= normalise;
    if (style.vinyl)
        addVinyl(loop.stereo, rate, more);

    // The attack starts where the hit first sounds: a fade-in's silent first
    // sample is not yet the hit.
    std::vector<long> starts;
    for (const Placed& p : placed) {
        float loudest = 0;
        for (float s : p.own)
            loudest = std::max(loudest, std::fabs(s));
        long first = 0;
        while (first + 1 < long(p.own.size() / 2) &&
               std::max(std::fabs(p.own[2 * first]), std::fabs(p.own[2 * first + 1])) <
                   1e-3f * loudest)
            ++first;
        starts.push_back(std::min(frames - 1, p.hit.frame + first));
    }
    std::vector<long> sorted = starts;
    std::sort(sorted.begin(), sorted.end());

    // Audible: in some band the hit is at least twice as loud as everything
    // else sounding (and stands above silence), over its first 20 ms or until
    // the next hit starts, whichever is sooner, but at least 1 ms: a hat a few
    // ms ahead of a snare is heard before the snare covers it. What the hit
    // contributes is what the room and the gains made of it.
    const long window = rate / 50;
    std::vector<float> mine(2 * size_t(window));
    // Sixty dB under the loop's peak (of the two channels summed) is silence
    // in any mix.
    float mixPeak = 0;
    for (float s : loop.stereo)
        mixPeak = std::max(mixPeak, std::fabs(s));
    const double quiet = 4e-6 * mixPeak * mixPeak;
    for (size_t h = 0; h < placed.size(); ++h) {
        Placed& p = placed[h];
        const long ownFrames = std::min(window, long(p.own.size() / 2));
        std::fill(mine.begin(), mine.end(), 0.0f);
        std::copy(p.own.begin(), p.own.begin() + 2 * ownFrames, mine.begin());
        if (room) {
            std::vector<float> wet(mine.size(), 0.0f);
            room->fresh().process(mine.data(), wet.data(), window);
            for (size_t i = 0; i < mine.size(); ++i)
                mine[i] += wet[i];
        }
        for (long i = 0; i < window; ++i) {
            const long f = (p.hit.frame + i) % frames;
            for (int c = 0; c < 2; ++c) {
                double x = mine[2 * i + c] * gain[f] * drive;
                if (style.compressed) {
                    const double all = beforeGain[2 * f + c] * gain[f] * drive;
                    x *= std::fabs(all) > 1e-12 ? clip(all) / all : 1.0;
                }
                mine[2 * i + c] = float(x * normalise);
            }
        }
        auto own = [&](long f) {
            const long i = (f - p.hit.frame + frames) % frames;
            return i < window ? double(mine[2 * i]) + mine[2 * i + 1] : 0.0;
        };
        auto rest = [&](long f) { return loop.stereo[2 * f] + loop.stereo[2 * f + 1] - own(f); };
        const long start = starts[h];
        const auto later = std::upper_bound(sorted.begin(), sorted.end(), start);
        const long next = later != sorted.end() ? *later : sorted.front() + frames;
        const long heardFor = std::clamp(next - start, long(rate / 1000), window);
        const long end = std::min(frames, start + heardFor);
        const Bands heard = bandEnergy(own, start, end, rate);
        const Bands other = bandEnergy(rest, start, end, rate);
        p.hit.audible = false;
        for (int b = 0; b < 3; ++b)
            if (heard.e[b] >= 2 * other.e[b] && heard.e[b] > (end - start) * quiet)
                p.hit.audible = true;
        p.hit.frame = start;
        loop.hits.push_back(p.hit);
    }
    for (float& s : loop.stereo)
        s += float(dc);
    std::stable_sort(loop.hits.begin(), loop.hits.end(),
                     [](const Hit& a, const Hit& b) { return a.frame < b.frame; });

    // A loop cut a little before its downbeat: the end of the bar before it
    // leads in, hits and all.
    if (style.preRollMs > 0) {
        const long lead = std::lround(uniform(more, 0.3, 1.0) * style.preRollMs * 0.001 * rate);
        std::vector<float> longer(loop.stereo.end() - 2 * lead, loop.stereo.end());
        longer.insert(longer.end(), loop.stereo.begin(), loop.stereo.end());
        loop.stereo = std::move(longer);
        std::vector<Hit> shifted;
        for (const Hit& h : loop.hits)
            if (h.frame >= frames - lead)
                shifted.push_back({h.frame - (frames - lead), h.voice, h.audible});
        for (Hit h : loop.hits) {
            h.frame += lead;
            shifted.push_back(h);
        }
        loop.hits = std::move(shifted);
    }
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

std::vector<long> preEcho(const Loop& loop, const std::vector<float>& decoded)
{
    // An encoder's pre-echo spreads at most over one short block ahead of an
    // attack: 192 samples whatever the rate. It is looked for in each of the
    // bands that judge a hit heard, as a quiet hat's pre-echo shows in the
    // highs alone; and only where it is the hit's own sound, within 30 dB of
    // what that band holds as the hit starts, not coding noise in a quiet band.
    const long most = 192, box = std::max(4, loop.rate / 4000);
    const long frames = long(loop.stereo.size() / 2);
    auto boxed = [&](const std::vector<float>& audio) {
        std::vector<Bands> out(size_t(frames / box));
        BandSplit split(loop.rate);
        for (long f = 0; f < long(out.size()) * box; ++f)
            split.add(double(audio[2 * f]) + audio[2 * f + 1], &out[size_t(f / box)]);
        return out;
    };
    const std::vector<Bands> original = boxed(loop.stereo), coded = boxed(decoded);
    std::vector<long> out;
    for (const Onset& o : onsets(loop)) {
        const long at = o.frame / box;
        if (at + 1 >= long(coded.size())) {
            out.push_back(0);
            continue;
        }
        auto smeared = [&](long k) {
            for (int b = 0; b < 3; ++b) {
                const double hit = std::max(coded[size_t(at)].e[b], coded[size_t(at + 1)].e[b]);
                if (coded[size_t(k)].e[b] > 2 * original[size_t(k)].e[b] + box * 1e-12 &&
                    coded[size_t(k)].e[b] > 1e-3 * hit)
                    return true;
            }
            return false;
        };
        long start = o.frame;
        while (start - box >= std::max(0L, o.frame - most) && smeared((start - box) / box))
            start -= box;
        out.push_back(o.frame - start);
    }
    return out;
}

Score score(const Loop& loop, const std::vector<long>& cuts, double windowMs,
            const std::vector<long>* leeway)
{
    const long w = std::lround(windowMs * loop.rate / 1000.0);
    // The loop's start is a slice boundary of its own: hits there need no cut.
    const long lead = loop.rate * 3 / 100;
    std::vector<Onset> groups = onsets(loop);
    // How far a cut is from an attack start: after the group's first audible
    // hit, from that; before it, from the next hit of the group it precedes,
    // as a cut at a buried hit does not count against it. A cut within the
    // pre-echo before an attack is on time.
    auto echo = [&](size_t g) { return leeway ? (*leeway)[g] : 0L; };
    auto offset = [&](size_t g, long cut) {
        const Onset& o = groups[g];
        if (cut > o.frame)
            return cut - o.frame;
        long next = o.frame;
        for (const Hit& h : loop.hits)
            if (h.frame >= cut && h.frame < next && h.frame >= o.earliest)
                next = h.frame;
        const long early = next - echo(g);
        return cut < early ? cut - early : 0L;
    };
    Score s;
    std::vector<long> best(groups.size(), -1);
    for (long cut : cuts) {
        int group = -1;
        long distance = 0;
        for (size_t g = 0; g < groups.size(); ++g) {
            const Onset& o = groups[g];
            if (cut < o.earliest - w - echo(g))
                continue;
            const long d = std::labs(offset(g, cut));
            if (d > w)
                continue;
            if (group < 0 || d < distance)
                group = int(g), distance = d;
        }
        if (group >= 0 && (!groups[group].required || groups[group].frame < lead))
            continue; // a cut at a buried hit or at the start counts neither way
        ++s.cuts;
        if (group < 0)
            continue;
        if (best[group] < 0 || distance < std::labs(offset(size_t(group), best[group])))
            best[group] = cut;
    }
    for (size_t g = 0; g < groups.size(); ++g) {
        if (!groups[g].required || groups[g].frame < lead)
            continue;
        ++s.required;
        if (best[g] >= 0) {
            ++s.matched;
            s.errorsMs.push_back(offset(g, best[g]) * 1000.0 / loop.rate);
        }
    }
    return s;
}

const char* name(Material material)
{
    static const char* const names[kMaterials] = {
        "clean",     "noise floor", "room",         "compressed",  "bass and pad",
        "ornaments", "swing",       "slow attacks", "vinyl",       "level drift",
        "DC offset", "pre-roll",    "cymbals",      "other rates", "everything"};
    return names[int(material)];
}

Style style(Material material, int index)
{
    Style s;
    switch (material) {
    case Material::Clean:
        break;
    case Material::Noise:
        s.noiseFloor = true;
        break;
    case Material::Room:
        s.room = 0.25 * (1 + index % 4);
        break;
    case Material::Compressed:
        s.compressed = true;
        s.noiseFloor = index % 2;
        break;
    case Material::Bed:
        s.bed = true;
        break;
    case Material::Ornaments:
        s.ornaments = true;
        s.swingMs = 15;
        break;
    case Material::Swing:
        s.shuffle = 0.15 + 0.1 * (index % 4);
        s.swingMs = 18;
        break;
    case Material::SlowAttacks:
        s.slowAttackMs = 8;
        break;
    case Material::Vinyl:
        s.vinyl = true;
        break;
    case Material::Drift:
        s.driftDb = 6 + 3 * (index % 3);
        break;
    case Material::DcOffset:
        s.dcOffset = 0.08;
        break;
    case Material::PreRoll:
        s.preRollMs = 250;
        break;
    case Material::Cymbals:
        s.cymbals = true;
        break;
    case Material::HighRates: {
        static const int rates[] = {48000, 96000, 22050, 88200};
        s.rate = rates[index % 4];
        break;
    }
    case Material::Everything: {
        // A few of the above at once, as a real recording has them.
        std::uint32_t bits = std::uint32_t(index) * 2654435761u ^ 0x5bd1e995u;
        auto on = [&bits]() {
            bits = bits * 1664525u + 1013904223u;
            return (bits >> 16) % 5 < 2;
        };
        s.noiseFloor = on();
        s.room = on() ? 0.5 : 0.0;
        s.compressed = on();
        s.bed = on();
        s.ornaments = on();
        s.shuffle = on() ? 0.3 : 0.0;
        s.slowAttackMs = on() ? 6 : 0;
        s.vinyl = on();
        s.driftDb = on() ? 8 : 0;
        s.cymbals = on();
        s.rate = on() ? 48000 : 44100;
        break;
    }
    }
    return s;
}

bool wholeBars(Material material)
{
    return material != Material::PreRoll;
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
