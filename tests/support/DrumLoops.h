#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// Drum loops made from scratch with every hit's position known: kicks with a
// pitch sweep, snares of body and noise, closed and open hats, toms, claps,
// rims, shakers and bells, mixed on a humanised grid at many levels, panned,
// over each other's tails and, for some loops, over a noise floor.
namespace DrumLoops {

enum class Voice
{
    Kick,
    Snare,
    ClosedHat,
    OpenHat,
    Tom,
    Clap,
    Rim,
    Shaker,
    Bell,
    Bass, // a plucked note held until the next
    Ride, // a ping over a long wash
    Crash
};

struct Hit
{
    long frame = 0; // attack start in the mix: the hit's first audible sample
    Voice voice = Voice::Kick;
    // Heard in the mix: in some band its first 20 ms are at least twice as
    // loud as everything else sounding then. A hit that is not is buried.
    bool audible = true;
};

struct Loop
{
    int rate = 44100;
    double bpm = 120.0;
    int bars = 1;
    std::vector<float> stereo; // interleaved, exactly bars of 4/4 long
    std::vector<Hit> hits;     // in time order
};

struct Style
{
    int bars = 0; // 0: one or two, chosen by the seed
    double minBpm = 80.0;
    double maxBpm = 175.0;
    bool noiseFloor = false; // a hiss at -66 to -46 dB under the whole loop
    double swingMs = 12.0;   // largest timing deviation from the grid
    int rate = 44100;

    // What recordings have and the plain loop lacks. With all of it off, a
    // seed gives the same loop as it always has.
    double shuffle = 0.0;    // off-beat sixteenths late by this share of a sixteenth
    double room = 0.0;       // early reflections and a reverb tail, wet to dry
    bool compressed = false; // compressor, look-ahead limiter and soft clipping
    bool bed = false;        // bass notes (hits of their own) and a pad under the drums
    bool ornaments = false;  // more ghost notes, flams, drags and rolls
    bool cymbals = false;    // a ride and crashes
    double slowAttackMs = 0; // hats, shakers and rides fade in over up to this
    bool vinyl = false;      // crackle, rumble and mains hum
    double driftDb = 0.0;    // the level wanders across the loop by up to this
    double dcOffset = 0.0;   // up to this, either sign
    double preRollMs = 0.0;  // the loop starts up to this before its first downbeat
};

// The same seed and style give the same loop, sample for sample.
Loop make(std::uint32_t seed, const Style& style);

// Classes of material, each a style varied per loop by its index, so an
// evaluation covers more than one kind of recording.
enum class Material
{
    Clean,
    Noise,
    Room,
    Compressed,
    Bed,
    Ornaments,
    Swing,
    SlowAttacks,
    Vinyl,
    Drift,
    DcOffset,
    PreRoll,
    Cymbals,
    HighRates,
    Everything
};
constexpr int kMaterials = int(Material::Everything) + 1;
const char* name(Material material);
Style style(Material material, int index);
// Whether loops of the material are whole bars, so their tempo follows from the length.
bool wholeBars(Material material);

// Hit positions grouped as the slicer must cut them: hits within minGapMs
// of a group's first hit belong to it. Each group is cut at its earliest hit
// that is audible; a group of buried hits only is not required.
struct Onset
{
    long frame = 0;    // where the cut belongs
    long earliest = 0; // the group's first hit, audible or not
    long latest = 0;   // its last hit
    bool required = true;
};
std::vector<Onset> onsets(const Loop& loop, double minGapMs = 30.0);

// How a set of cuts compares with the onsets.
struct Score
{
    int required = 0; // onsets that must be cut
    int matched = 0;  // of them, cut within the window
    int cuts = 0;     // cuts counted (those near buried hits are not)
    double precision() const { return cuts ? double(matched) / cuts : 1.0; }
    double recall() const { return required ? double(matched) / required : 1.0; }
    double f() const
    {
        const double p = precision(), r = recall();
        return p + r > 0 ? 2 * p * r / (p + r) : 0.0;
    }
    // Signed cut - onset in ms, for every match.
    std::vector<double> errorsMs;
    Score& operator+=(const Score& other);
};
// Cuts in frames; each onset takes the nearest cut within windowMs. With
// leeway (frames per onset, as preEcho gives them), a cut that many frames
// early is on time.
Score score(const Loop& loop, const std::vector<long>& cuts, double windowMs,
            const std::vector<long>* leeway = nullptr);

// For each onset, how far ahead of it a lossy encoding's decoded audio
// already rises (its pre-echo), in frames: there the decoded sound starts,
// and a cut there keeps the whole hit.
std::vector<long> preEcho(const Loop& loop, const std::vector<float>& decoded);

// Writes the loop as a 16-bit WAV file; false on failure.
bool writeWav(const Loop& loop, const QString& path);

} // namespace DrumLoops
