#include "SoundTouchResampler.h"

#include "Assert.h"
#include "AudioFile.h"
#include "Slice.h"

#include <QDebug>

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <cstring>

namespace {
// Frames taken out of the processor per call while draining it.
const unsigned kDrainFrames = ST_ORIGBUF_SIZE / TMB_FRAMESIZE;

void drainInto(soundtouch::SoundTouch* st, float* scratch, std::vector<float>& dest)
{
    for (;;) {
        const unsigned got = st->receiveSamples(scratch, kDrainFrames);
        if (got == 0)
            return;
        dest.insert(dest.end(), scratch, scratch + got * TMB_FRAMESIZE);
    }
}
} // namespace

SoundTouchResampler::SoundTouchResampler()
    : m_pSoundTouch(new soundtouch::SoundTouch()), m_pScratch(new float[ST_ORIGBUF_SIZE]())
{
    m_pSoundTouch->setChannels(2);
    m_pSoundTouch->setSampleRate(44100);
    prepare(1.0f);
}

SoundTouchResampler::~SoundTouchResampler()
{
    delete m_pSoundTouch;
    delete[] m_pScratch;
}

void SoundTouchResampler::prepare(float rate)
{
    // SoundTouch grows its internal buffers while the first blocks pass
    // through, and again after a change of pitch, tempo or rate. Letting a
    // large block of silence through here does that on the calling thread
    // instead of on the audio thread at the slice's next note. The processor
    // is left empty, with its bookkeeping reset.
    m_rate = rate;
    m_pSoundTouch->setRate(rate);
    std::memset(m_pScratch, 0, ST_ORIGBUF_SIZE * sizeof(float));
    // One block as large as any the audio thread passes is enough.
    m_pSoundTouch->putSamples(m_pScratch, kDrainFrames);
    while (m_pSoundTouch->receiveSamples(m_pScratch, kDrainFrames) > 0) {
    }
    m_pSoundTouch->clear();
    m_flushed = true;
}

unsigned SoundTouchResampler::process(float* out, unsigned numSamples, int /*semitones*/,
                                      float /*tempo*/, float rate, Slice* slice)
{
    TMB_ASSERT(numSamples <= ST_ORIGBUF_SIZE);
    m_rate = rate;
    m_pSoundTouch->setRate(rate);
    const unsigned frames = numSamples / TMB_FRAMESIZE;

    bool enough = false;
    do {
        const unsigned ready = m_pSoundTouch->numSamples();
        if (ready >= frames) {
            enough = true;
            break;
        }
        // A stopped slice whose tail has been flushed only drains: feeding it
        // more silence would keep a stretched pipeline producing silence for
        // ever, and flush again on every call.
        if (m_flushed && !slice->isPlaying())
            break;
        const unsigned numFramesNeededFromSlice = frames - ready;
        TMB_ASSERT_TEXT(numFramesNeededFromSlice * TMB_FRAMESIZE < ST_ORIGBUF_SIZE,
                        "numFramesNeededFromSlice * TMB_FRAMESIZE < ST_ORIGBUF_SIZE");
        const unsigned needed = numFramesNeededFromSlice * TMB_FRAMESIZE;
        // renderRaw adds into the block; only the part handed on needs clearing.
        std::memset(m_pScratch, 0, needed * sizeof(float));
        slice->renderRaw(m_pScratch, needed);
        // A stopped slice adds nothing and so feeds silence.
        m_pSoundTouch->putSamples(m_pScratch, numFramesNeededFromSlice);
        m_flushed = false;
    } while (slice->isPlaying());

    if (!enough && !m_flushed) {
        // The slice ended without enough output: push the pipeline's tail out.
        m_pSoundTouch->flush();
        m_flushed = true;
    }

    const unsigned got = m_pSoundTouch->receiveSamples(m_pScratch, frames);
    // After a stop a short block is the tail running out, not a failure.
    if (got < frames && slice->isPlaying())
        qDebug() << "WTF SoundTouch didn't return enough frames!";
    if (m_flushed && m_pSoundTouch->numSamples() == 0 && !slice->isPlaying()) {
        // The tail is out. SoundTouch's flush is meant for the end of a stream:
        // carried on across passes, its bookkeeping makes every later flush
        // add more silence to the tail (tens of milliseconds per pass, without
        // bound), which delays a pad triggered while it plays. Starting each
        // pass from a clean processor keeps the tails exact.
        m_pSoundTouch->clear();
    }
    const unsigned delivered = got * TMB_FRAMESIZE;
    for (unsigned i = 0; i < delivered; ++i)
        out[i] += m_pScratch[i];
    return delivered;
}

void SoundTouchResampler::resample(int semitones, float ratio, Slice* slice)
{
    qDebug() << "Resampling slice with pitch adjust" << semitones << "and tempo ratio" << ratio;
    m_pSoundTouch->setPitchSemiTones(semitones);
    m_pSoundTouch->setTempo(1.0 / ratio);

    const QSharedPointer<std::vector<float>> source = slice->getAudioBuffer();
    const QSharedPointer<std::vector<float>> resampled = slice->getResampledBuffer();
    resampled->clear();

    const std::size_t size = source->size();
    for (std::size_t pos = 0; pos < size; pos += ST_ORIGBUF_SIZE) {
        const std::size_t count = std::min<std::size_t>(ST_ORIGBUF_SIZE, size - pos);
        std::memcpy(m_pScratch, source->data() + pos, count * sizeof(float));
        m_pSoundTouch->putSamples(m_pScratch, static_cast<unsigned>(count / TMB_FRAMESIZE));
    }
    drainInto(m_pSoundTouch, m_pScratch, *resampled);
    m_pSoundTouch->flush();
    drainInto(m_pSoundTouch, m_pScratch, *resampled);
    prepare(m_rate);

    qDebug() << "Resampled buffer size:" << resampled->size();
}

void SoundTouchResampler::Clear()
{
    TMB_ASSERT(m_pSoundTouch);
    qDebug() << "SoundTouchResapler::Clear()";
    m_pSoundTouch->clear();
    m_flushed = true;
}

bool SoundTouchResampler::isEmpty() const
{
    // Input not yet flushed through still counts: a slice stopped from outside
    // must let its tail out rather than keep it for the next start. Output
    // frames are what counts, not SoundTouch's isEmpty(), which stays false
    // for ever once the pitch is raised: the rate stage keeps a few input
    // frames that nothing will push out.
    return m_flushed && m_pSoundTouch->numSamples() == 0;
}
