// Synthesises the demo loops that come with Tamberlo: two-bar drum loops made
// of a swept-sine kick, a tone-and-noise snare and filtered-noise hats, written
// as 16-bit stereo WAV files at 44100 Hz into the folder given as argument.
// Deterministic: the same build writes the same files.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int kRate = 44100;
const double kPi = 3.14159265358979323846;

// A small deterministic noise source (xorshift), so the loops never change.
class Noise
{
public:
    explicit Noise(uint32_t seed) : m_state(seed ? seed : 1) {}
    double next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return double(m_state) / 2147483648.0 - 1.0;
    }

private:
    uint32_t m_state;
};

// Second-order filter (the usual cookbook forms).
class Biquad
{
public:
    static Biquad bandPass(double hz, double q) { return make(hz, q, Kind::BandPass); }
    static Biquad highPass(double hz, double q) { return make(hz, q, Kind::HighPass); }

    double process(double x)
    {
        const double y = m_b0 * x + m_b1 * m_x1 + m_b2 * m_x2 - m_a1 * m_y1 - m_a2 * m_y2;
        m_x2 = m_x1;
        m_x1 = x;
        m_y2 = m_y1;
        m_y1 = y;
        return y;
    }

private:
    enum class Kind
    {
        BandPass,
        HighPass
    };

    static Biquad make(double hz, double q, Kind kind)
    {
        const double w = 2.0 * kPi * hz / kRate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double cosw = std::cos(w);
        const double a0 = 1.0 + alpha;
        Biquad f;
        if (kind == Kind::BandPass) {
            f.m_b0 = alpha / a0;
            f.m_b1 = 0.0;
            f.m_b2 = -alpha / a0;
        } else {
            f.m_b0 = (1.0 + cosw) / 2.0 / a0;
            f.m_b1 = -(1.0 + cosw) / a0;
            f.m_b2 = (1.0 + cosw) / 2.0 / a0;
        }
        f.m_a1 = -2.0 * cosw / a0;
        f.m_a2 = (1.0 - alpha) / a0;
        return f;
    }

    double m_b0 = 0, m_b1 = 0, m_b2 = 0, m_a1 = 0, m_a2 = 0;
    double m_x1 = 0, m_x2 = 0, m_y1 = 0, m_y2 = 0;
};

struct Stereo
{
    std::vector<double> left;
    std::vector<double> right;
    explicit Stereo(size_t frames) : left(frames, 0.0), right(frames, 0.0) {}
    size_t frames() const { return left.size(); }
};

// A hit of `voice` starting at frame `at`, scaled by gain and placed by pan
// (-1 left .. 1 right). The loop wraps: a tail running past the end sounds at
// the start, as it would when the loop repeats.
template <typename Voice>
void addHit(Stereo& out, size_t at, double gain, double pan, size_t length, Voice voice)
{
    const double left = gain * std::sqrt((1.0 - pan) / 2.0);
    const double right = gain * std::sqrt((1.0 + pan) / 2.0);
    for (size_t i = 0; i < length; ++i) {
        const double v = voice(i);
        const size_t frame = (at + i) % out.frames();
        out.left[frame] += v * left;
        out.right[frame] += v * right;
    }
}

// Kick: a sine sweeping from 150 Hz down to 45 Hz with a short click on top.
void kick(Stereo& out, size_t at, double gain)
{
    double phase = 0.0;
    addHit(out, at, gain, 0.0, size_t(0.45 * kRate), [&phase](size_t i) {
        const double t = double(i) / kRate;
        const double hz = 45.0 + 105.0 * std::exp(-t * 28.0);
        phase += 2.0 * kPi * hz / kRate;
        const double body = std::sin(phase) * std::exp(-t * 7.0);
        const double click = std::exp(-t * 900.0) * 0.4;
        return body + click;
    });
}

// Snare: a 185 Hz tone and band-passed noise, both decaying fast.
void snare(Stereo& out, size_t at, double gain, uint32_t seed)
{
    Noise noise(seed);
    Biquad band = Biquad::bandPass(1800.0, 0.7);
    addHit(out, at, gain, 0.08, size_t(0.25 * kRate), [&](size_t i) {
        const double t = double(i) / kRate;
        const double tone = std::sin(2.0 * kPi * 185.0 * t) * std::exp(-t * 30.0) * 0.5;
        const double rattle = band.process(noise.next()) * std::exp(-t * 16.0) * 1.6;
        return tone + rattle;
    });
}

// Hat: high-passed noise; open hats ring longer.
void hat(Stereo& out, size_t at, double gain, bool open, uint32_t seed)
{
    Noise noise(seed);
    Biquad high = Biquad::highPass(7000.0, 0.8);
    const double decay = open ? 9.0 : 55.0;
    addHit(out, at, gain, -0.3, size_t((open ? 0.35 : 0.08) * kRate), [&](size_t i) {
        const double t = double(i) / kRate;
        return high.process(noise.next()) * std::exp(-t * decay);
    });
}

// One step per sixteenth note over two bars: K kick, S snare, s ghost snare,
// h closed hat, o open hat, '.' nothing. Several lines play together.
struct Pattern
{
    double bpm;
    std::vector<std::string> lines;
    // Delay of every second sixteenth, as a fraction of a sixteenth.
    double swing;
};

Stereo render(const Pattern& pattern)
{
    const double sixteenth = 60.0 / pattern.bpm / 4.0 * kRate;
    const size_t steps = 32;
    Stereo out(size_t(std::llround(sixteenth * steps)));
    uint32_t seed = 1;
    for (const std::string& line : pattern.lines) {
        for (size_t step = 0; step < steps && step < line.size(); ++step) {
            const double offset = (step % 2 == 1) ? pattern.swing * sixteenth : 0.0;
            const size_t at = size_t(std::llround(step * sixteenth + offset));
            // Accents on the beat, a little less on the off-beats.
            const double accent = step % 4 == 0 ? 1.0 : 0.8;
            switch (line[step]) {
            case 'K':
                kick(out, at, 0.95);
                break;
            case 'S':
                snare(out, at, 0.75, ++seed);
                break;
            case 's':
                snare(out, at, 0.22, ++seed);
                break;
            case 'h':
                hat(out, at, 0.28 * accent, false, ++seed);
                break;
            case 'o':
                hat(out, at, 0.25, true, ++seed);
                break;
            default:
                break;
            }
        }
    }
    return out;
}

bool write(const Stereo& audio, const std::string& path)
{
    double peak = 0.0;
    for (size_t i = 0; i < audio.frames(); ++i)
        peak = std::max({peak, std::fabs(audio.left[i]), std::fabs(audio.right[i])});
    const double scale = peak > 0.0 ? 0.89 / peak : 1.0;
    std::vector<float> interleaved(audio.frames() * 2);
    for (size_t i = 0; i < audio.frames(); ++i) {
        interleaved[2 * i] = float(audio.left[i] * scale);
        interleaved[2 * i + 1] = float(audio.right[i] * scale);
    }

    SF_INFO info = {};
    info.samplerate = kRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    const sf_count_t frames = sf_count_t(audio.frames());
    const bool ok = sf_writef_float(file, interleaved.data(), frames) == frames;
    sf_close(file);
    if (!ok)
        std::fprintf(stderr, "short write to %s\n", path.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];

    // A straight rock beat at 120 bpm: two bars, four seconds.
    const Pattern beat{120.0,
                       {"K.......K.K.....K.......K..K....", "....S.......S.......S.......S..s",
                        "h.h.h.h.h.h.h.h.h.h.h.h.h.h.o.h."},
                       0.0};
    // A swung groove at 90 bpm with ghost notes: two bars, 5.33 seconds.
    const Pattern groove{90.0,
                         {"K.....K...K.....K.....K..K......", "....S..s...s.S......s.S.....S...",
                          "h.hhh.h.h.hhh.o.h.hhh.h.h.hhh.o."},
                         0.18};

    const bool ok = write(render(beat), dir + "/tamberlo-beat-120bpm.wav") &&
                    write(render(groove), dir + "/tamberlo-groove-90bpm.wav");
    return ok ? 0 : 1;
}
