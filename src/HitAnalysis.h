#pragma once

#include <atomic>
#include <functional>
#include <vector>

class AudioCache;

// Finds the hits of a loop: where a drum or other percussive sound starts.
//
// Analysing is the expensive part and is done once per loop, off the
// user-interface thread; it keeps every hit any sensitivity could choose,
// each with its strength and its cut already placed. Picking the cuts for a
// sensitivity is then cheap and can follow a slider at once.
//
// A cut sits at the hit's attack start: the first frame where the sound
// rises out of what sounded before, never after it, then moved back to the
// nearest zero crossing of the louder channel at most 1 ms earlier, so the
// slice starts without a click.
//
// Memory beyond the audio is small: the audio is read in blocks, and what is
// kept is one value per analysis step (about 6 ms) and the hits.
class HitAnalysis
{
public:
    // Copies frames [first, first + count) of interleaved stereo into dest.
    using Reader = std::function<void(unsigned long first, unsigned count, float* dest)>;

    struct Hit
    {
        unsigned long frame = 0; // where the cut goes
        float strength = 0.0f;   // how clearly it stands out; picking compares it
    };

    static constexpr double kDefaultSensitivity = 50.0;
    static constexpr double kDefaultMinSliceMs = 30.0;

    HitAnalysis() = default;

    // Analyses frames frames at rate through read. Setting *cancel from
    // another thread ends the analysis early; the result is then empty and
    // isComplete() false.
    static HitAnalysis analyse(const Reader& read, unsigned long frames, int rate,
                               const std::atomic<bool>* cancel = nullptr);
    static HitAnalysis analyse(const float* stereo, unsigned long frames, int rate,
                               const std::atomic<bool>* cancel = nullptr);
    // From a filled cache (its audio at the file's own rate); reads it in
    // blocks under its lock, so playback goes on meanwhile.
    static HitAnalysis analyse(AudioCache& cache, int rate,
                               const std::atomic<bool>* cancel = nullptr);

    bool isComplete() const { return m_complete; }
    int getSampleRate() const { return m_rate; }
    unsigned long getFrames() const { return m_frames; }
    // Every hit found, in time order.
    const std::vector<Hit>& getHits() const { return m_hits; }

    // The cuts at a sensitivity (0 to 100; higher finds more and quieter
    // hits), in frames, ascending, after startFrame and before endFrame. Hits
    // closer than minSliceMs to the cut before them (or to startFrame) add
    // no cut: a flam is one hit.
    std::vector<unsigned long> pick(double sensitivity, unsigned long startFrame,
                                    unsigned long endFrame,
                                    double minSliceMs = kDefaultMinSliceMs) const;
    // The strength a hit needs at a sensitivity.
    static float threshold(double sensitivity);

private:
    std::vector<Hit> m_hits;
    unsigned long m_frames = 0;
    int m_rate = 0;
    bool m_complete = false;
};
