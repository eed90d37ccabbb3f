#pragma once

// Scratch space of a resampler, in samples (8192 frames): the most one
// real-time call may pull from its slice, and the largest block it may deliver.
#define ST_ORIGBUF_SIZE 16384

namespace soundtouch {
class SoundTouch;
}
class Slice;

// Converts one slice's audio to the working rate of 44100 frames per second
// with its pitch shift and time stretch, on SoundTouch. Each Slice owns one.
//
// The pitch and tempo are set only by resample() (the slice's rebuild); the
// rate is set by every process() call. Both run with the slice's mutex held,
// so they never overlap.
class SoundTouchResampler
{
public:
    SoundTouchResampler();
    virtual ~SoundTouchResampler();

    SoundTouchResampler(const SoundTouchResampler&) = delete;
    SoundTouchResampler& operator=(const SoundTouchResampler&) = delete;

    // Audio thread. Adds up to numSamples processed samples into out, pulling
    // source audio from the slice through renderRaw as needed. semitones and
    // tempo are not applied here (the last resample() set them); rate is the
    // slice's sample rate / 44100. Returns the samples delivered. Allocates
    // nothing on the way.
    unsigned process(float* out, unsigned numSamples, int semitones, float tempo, float rate,
                     Slice* slice);
    // User-interface thread. Configures pitch and tempo for playback, then
    // pushes the slice's sample buffer through and leaves the result in its
    // resampled buffer, draining the pipeline.
    void resample(int semitones, float ratio, Slice* slice);
    // Empties the pipeline.
    void Clear();
    // Off the audio thread: readies the processor for playback at rate
    // (source rate / 44100) so that process() finds its buffers sized.
    void prepare(float rate);

    // True when no processed output is waiting.
    bool isEmpty() const;

private:
    soundtouch::SoundTouch* m_pSoundTouch;
    float* m_pScratch;
    // Whether the pipeline was last flushed after its input ended: a stopped
    // slice then only drains what is there instead of feeding more silence.
    bool m_flushed = true;
    // The rate of the last process() call, kept for prepare() after a rebuild.
    float m_rate = 1.0f;
};
