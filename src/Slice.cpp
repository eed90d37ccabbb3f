#include "Slice.h"

#include "Assert.h"
#include "AudioCache.h"
#include "AudioFile.h"
#include "AudioFileAudioDecoder.h"
#include "ExportFormat.h"
#include "SoundTouchResampler.h"

#include <QDebug>
#include <QThread>

#include <algorithm>
#include <cmath>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define TMB_TSAN 1
#endif

namespace {
// Holds the slice's recursive mutex for a scope. Qt 5's recursive mutex locks
// inside the uninstrumented Qt library, where ThreadSanitizer cannot see it;
// the annotations tell it what the mutex orders, so that a race it reports in
// the race-check build is a real one.
class Locker
{
public:
    explicit Locker(QRecursiveMutex& mutex) : m_mutex(mutex)
    {
#ifdef TMB_TSAN
        __tsan_mutex_pre_lock(&m_mutex, 0);
#endif
        m_mutex.lock();
#ifdef TMB_TSAN
        __tsan_mutex_post_lock(&m_mutex, 0, 0);
#endif
    }
    ~Locker()
    {
#ifdef TMB_TSAN
        __tsan_mutex_pre_unlock(&m_mutex, 0);
#endif
        m_mutex.unlock();
#ifdef TMB_TSAN
        __tsan_mutex_post_unlock(&m_mutex, 0);
#endif
    }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

private:
    QRecursiveMutex& m_mutex;
};

// A position from floating-point arithmetic, truncated into 32 bits: below 0
// (and NaN) gives 0, 2^32 and above give the largest value.
quint32 toPosition(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= 4294967296.0)
        return 0xFFFFFFFFu;
    return static_cast<quint32>(value);
}

quint32 evenDown(quint32 value)
{
    return value & ~quint32(1);
}

bool usableRatio(double ratio)
{
    return ratio >= Slice::kMinTimeStretchRatio && ratio <= Slice::kMaxTimeStretchRatio;
}
} // namespace

Slice::Slice()
{
    setDefaults();
}

Slice::Slice(const QString& fileName)
{
    setDefaults();
    m_filename = fileName;

    AudioFile* file = new AudioFileAudioDecoder(fileName);
    m_pAudioFile = file;
    // Asked before the cache exists: once the background fill runs, only the
    // reader thread may touch the reader.
    const unsigned long length = file->getLength();
    const int rate = file->getSampleRate();
    // The cache borrows the reader, and slices cut from this one share the
    // cache and may outlive it: the reader goes with the last holder of the
    // cache, after the cache has stopped filling from it.
    m_pAudioCache = QSharedPointer<AudioCache>(new AudioCache(file), [file](AudioCache* cache) {
        delete cache;
        delete file;
    });

    m_sampleRate = rate;
    m_pResampler->prepare(playbackRate());
    qDebug() << "samplerate:" << rate;
    if (length != 0 && rate > 0) {
        qDebug() << "Constructing new slice, f=" << fileName << "l=" << length;
        m_length = static_cast<quint32>(length);
        m_endSample = m_length;
    }
}

Slice::Slice(const QSharedPointer<std::vector<float>>& audioBuffer,
             const QSharedPointer<AudioCache>& audioCache, int sampleRate,
             unsigned long startSample, unsigned long length)
{
    setDefaults();
    qDebug() << "Slice from source slice ctor (UNSAFE)";
    if (audioBuffer)
        m_pAudioBuffer = audioBuffer;
    m_pAudioCache = audioCache;
    m_sampleRate = sampleRate;
    m_audioOffset = static_cast<quint32>(startSample);
    m_pResampler->prepare(playbackRate());
    m_length = static_cast<quint32>(length);
    m_endSample = m_length;
}

Slice::~Slice()
{
    {
        Locker lock(m_mutex);
        qDebug() << "Destroying slice";
        delete m_pResampler;
        m_pResampler = nullptr;
        // The reader belongs to the cache's last holder (see the file constructor).
        m_pAudioFile = nullptr;
        disconnect();
    }
#ifdef TMB_TSAN
    __tsan_mutex_destroy(&m_mutex, 0);
#endif
}

void Slice::setDefaults()
{
#ifdef TMB_TSAN
    __tsan_mutex_create(&m_mutex, __tsan_mutex_write_reentrant);
#endif
    qDebug() << "Slice default ctor";
    m_filename.clear();
    m_pAudioFile = nullptr;
    m_pAudioCache.reset();
    m_pAudioBuffer = QSharedPointer<std::vector<float>>::create();
    m_pResampledBuffer = QSharedPointer<std::vector<float>>::create();
    m_sampleRate = 0;
    m_length = 0;
    m_audioOffset = 0;
    m_playPosOffset = 0;
    m_endSample = 0;
    m_loopMode = 0;
    m_loopStart = 0;
    m_loopEnd = 0;
    m_gain = 1.0f;
    m_playing = false;
    m_pitch = 0.0f;
    m_timeStretchRatio = 1.0;
    m_reversed = false;
    m_chokeGroup = QStringLiteral("None");
    m_pResampler = new SoundTouchResampler();
}

QString Slice::getFilename() const
{
    Locker lock(m_mutex);
    return m_filename;
}

unsigned long Slice::getLength() const
{
    Locker lock(m_mutex);
    return m_length;
}

int Slice::getSampleRate() const
{
    Locker lock(m_mutex);
    return m_sampleRate;
}

unsigned long Slice::getPlayPos() const
{
    Locker lock(m_mutex);
    return m_playPosOffset;
}

bool Slice::isPlaying() const
{
    Locker lock(m_mutex);
    return m_playing;
}

int Slice::getLoopMode() const
{
    Locker lock(m_mutex);
    return m_loopMode;
}

void Slice::setLoopMode(int mode)
{
    Locker lock(m_mutex);
    m_loopMode = mode;
    // The loop end is compared as stretched length against the unstretched
    // position, as the pad editor has always done.
    if (mode > 0 && !(static_cast<double>(m_loopEnd) * m_timeStretchRatio > m_playPosOffset))
        resetPlayPos();
    emit loopChanged();
}

unsigned long Slice::getLoopStart() const
{
    Locker lock(m_mutex);
    return m_loopStart;
}

void Slice::setLoopStart(unsigned long start)
{
    {
        Locker lock(m_mutex);
        m_loopStart = static_cast<quint32>(start);
    }
    emit loopChanged();
}

unsigned long Slice::getLoopEnd() const
{
    Locker lock(m_mutex);
    return m_loopEnd;
}

void Slice::setLoopEnd(unsigned long end)
{
    {
        Locker lock(m_mutex);
        const quint32 value = static_cast<quint32>(end);
        m_endSample = value;
        m_loopEnd = value;
        if (value < m_loopStart) {
            m_loopEnd = m_loopStart;
            m_loopStart = value;
        }
        if (!(static_cast<double>(m_loopEnd) * m_timeStretchRatio > m_playPosOffset))
            resetPlayPos();
    }
    emit loopChanged();
}

float Slice::getGain() const
{
    Locker lock(m_mutex);
    return m_gain;
}

void Slice::setGain(float gain)
{
    Locker lock(m_mutex);
    // One NaN would turn the whole mix into noise.
    if (!std::isfinite(gain)) {
        qDebug() << "Refusing gain" << gain;
        return;
    }
    m_gain = gain;
}

int Slice::getPitch() const
{
    Locker lock(m_mutex);
    return static_cast<int>(m_pitch);
}

void Slice::setPitch(int semitones)
{
    Locker lock(m_mutex);
    if (semitones < -kMaxPitch || semitones > kMaxPitch) {
        qDebug() << "Refusing pitch of" << semitones << "semitones";
        return;
    }
    m_pitch = static_cast<float>(semitones);
    rebuild();
}

double Slice::getTimeStretchRatio() const
{
    Locker lock(m_mutex);
    return m_timeStretchRatio;
}

void Slice::setTimeStretchRatio(double ratio, unsigned /*bpm*/)
{
    Locker lock(m_mutex);
    if (!usableRatio(ratio)) {
        qDebug() << "Refusing time stretch ratio" << ratio;
        return;
    }
    // Going back to 1.0 from a stretch must reach the resampler too, or the
    // slice would go on playing at the old tempo while reporting 1.0. A ratio
    // of 1.0 that was already in force needs no rebuild.
    const bool wasStretched = m_timeStretchRatio != 1.0;
    m_timeStretchRatio = ratio;
    if (ratio != 1.0 || wasStretched)
        rebuild();
}

void Slice::stretchToBeats(double beats, unsigned bpm)
{
    Locker lock(m_mutex);
    if (beats == 0.0) {
        const bool wasStretched = m_timeStretchRatio != 1.0;
        m_timeStretchRatio = 1.0;
        if (wasStretched)
            rebuild();
        return;
    }
    if (bpm == 0 || m_length == 0) {
        qDebug() << "Refusing to stretch to" << beats << "beats at" << bpm << "bpm, slice length"
                 << m_length;
        return;
    }
    // In samples of the slice's own rate, which its length counts.
    const quint32 newLength = toPosition((1.0 / bpm) * samplesPerMinute(m_sampleRate) * beats);
    double ratio = newLength * (1.0 / m_length);
    if (!(ratio > 0.0)) {
        qDebug() << "Refusing to stretch to" << beats << "beats at" << bpm << "bpm, slice length"
                 << m_length;
        return;
    }
    // A length the picker offers may lie beyond what playback takes for a
    // very short or very long slice: it gets as close as playback goes.
    if (!usableRatio(ratio)) {
        const double kept = std::clamp(ratio, kMinTimeStretchRatio, kMaxTimeStretchRatio);
        qDebug() << "Stretch ratio" << ratio << "for" << beats << "beats is beyond playback - using"
                 << kept;
        ratio = kept;
    }
    m_timeStretchRatio = ratio;
    qDebug() << "Stretching to" << beats << "beats.";
    qDebug() << "Orig length was" << m_length << " and new is" << newLength;
    rebuild();
}

bool Slice::isReversed() const
{
    Locker lock(m_mutex);
    return m_reversed;
}

void Slice::reverse()
{
    Locker lock(m_mutex);
    TMB_ASSERT_TEXT(m_length % 2 == 0, "m_length % 2 == 0");

    // Reversed in place, frame by frame with the channel order kept, so that
    // every holder of the shared buffer sees it. Only what the buffer holds is
    // touched: a slice loaded from a file has an empty one.
    std::vector<float>& buffer = *m_pAudioBuffer;
    const std::size_t size = buffer.size() - buffer.size() % 2;
    if (size >= 4) {
        for (std::size_t i = 0, j = size - 2; i < j; i += 2, j -= 2) {
            std::swap(buffer[i], buffer[j]);
            std::swap(buffer[i + 1], buffer[j + 1]);
        }
    }
    // The cache presents its audio reversed to every reader (playback, the
    // waveform views, export) and does so even while it is still filling.
    if (m_pAudioCache)
        m_pAudioCache->setReversed(!m_pAudioCache->isReversed());

    m_reversed = !m_reversed;
    rebuild();
}

QString Slice::getChokeGroup() const
{
    Locker lock(m_mutex);
    return m_chokeGroup;
}

void Slice::setChokeGroup(const QString& group)
{
    Locker lock(m_mutex);
    m_chokeGroup = group;
}

QSharedPointer<AudioCache> Slice::getAudioCache() const
{
    Locker lock(m_mutex);
    return m_pAudioCache;
}

QSharedPointer<std::vector<float>> Slice::getAudioBuffer() const
{
    Locker lock(m_mutex);
    return m_pAudioBuffer;
}

QSharedPointer<std::vector<float>> Slice::getResampledBuffer() const
{
    Locker lock(m_mutex);
    return m_pResampledBuffer;
}

void Slice::appendSamples(const float* samples, unsigned count)
{
    Locker lock(m_mutex);
    std::vector<float>& buffer = *m_pAudioBuffer;
    buffer.resize(static_cast<std::size_t>(m_length) + count);
    if (count > 0)
        std::copy(samples, samples + count, buffer.begin() + m_length);
    m_length += count;
    m_loopEnd = m_length;
}

void Slice::reserveSamples(unsigned long count)
{
    Locker lock(m_mutex);
    m_pAudioBuffer->reserve(count);
}

void Slice::clear()
{
    Locker lock(m_mutex);
    m_pAudioBuffer->clear();
    m_length = 0;
    m_loopStart = 0;
    m_loopEnd = 0;
    m_playPosOffset = 0;
}

void Slice::play(bool play, double startFraction, double endFraction)
{
    Locker lock(m_mutex);
    if (play) {
        const double start = startFraction * m_length;
        m_playPosOffset = toPosition(start);
        if (m_loopMode == 2 && static_cast<double>(m_loopStart) <= start &&
            start < static_cast<double>(m_loopEnd)) {
            // A start inside the loop region plays the loop region.
            m_endSample = m_loopEnd;
        } else {
            m_endSample = toPosition(endFraction * m_length);
        }
    }
    m_playPosOffset = evenDown(m_playPosOffset);
    m_endSample = evenDown(m_endSample);

    if (!play) {
        resetPlayPos();
        m_playing = false;
        emit stopped();
        emit playbackToggled(false);
    } else if (!m_playing) {
        m_playing = true;
        emit played();
        emit playbackToggled(true);
    }
    // Playing and play again: the new pass takes over at the next render.
}

unsigned Slice::render(float* out, unsigned numSamples)
{
    Locker lock(m_mutex);
    if (!m_playing && m_pResampler->isEmpty())
        return 0;
    const unsigned delivered =
        m_pResampler->process(out, numSamples, static_cast<int>(m_pitch),
                              static_cast<float>(m_timeStretchRatio), playbackRate(), this);
    if (delivered > 0)
        emit playPosChanged();
    return delivered;
}

unsigned Slice::renderRaw(float* out, unsigned numSamples)
{
    Locker lock(m_mutex);
    if (!m_playing || numSamples == 0)
        return 0;

    if (m_playPosOffset > m_endSample) {
        qDebug() << "Playpos is past loop end";
        // In loop mode 0 this is simply the end of the pass, handled below.
        if (m_loopMode > 0)
            m_endSample = m_length;
    }

    AudioCache* cache = m_pAudioCache.data();
    const quint32 limit = readableLength();
    const float gain = m_gain;

    if (static_cast<quint64>(m_playPosOffset) + numSamples < m_endSample) {
        if (cache)
            cache->lock();
        mixAudio(m_playPosOffset, out, numSamples, gain, limit);
        if (cache)
            cache->unlock();
        m_playPosOffset += numSamples;
        return numSamples;
    }

    // The pass ends in this block.
    const quint32 passEnd = m_endSample;
    if (m_loopMode > 0)
        m_endSample = m_loopEnd;
    const qint32 loopLength = static_cast<qint32>(m_loopEnd - m_loopStart);

    if (m_loopMode == 0 || loopLength <= 0) {
        // A one-shot pass, or a loop with nothing to wrap into: what is left
        // of the pass plays and the rest of the block stays silent. Filling it
        // on from the loop start would put a burst of the loop's beginning
        // after every slice.
        if (m_playPosOffset < passEnd) {
            const quint32 rest = passEnd - m_playPosOffset;
            if (cache)
                cache->lock();
            mixAudio(m_playPosOffset, out, std::min<quint32>(numSamples, rest), gain, limit);
            if (cache)
                cache->unlock();
        }
        if (m_loopMode > 0)
            qDebug() << "Loop region is empty, stopping playback";
        const bool once = m_loopMode == 0;
        this->play(false, 0.0, 1.0);
        if (once) {
            emit stopped();
            emit playbackToggled(false);
        }
        return numSamples;
    }

    // r counts from the loop start and wraps at the loop length with the
    // remainder that keeps the dividend's sign. The block is mixed run by run;
    // within a run the index only counts up, so it equals the sample-by-sample
    // walk.
    qint32 r = static_cast<qint32>(m_playPosOffset - m_loopStart);
    if (cache)
        cache->lock();
    unsigned k = 0;
    while (k < numSamples) {
        unsigned run;
        if (r >= 0 && r < loopLength) {
            run = std::min<unsigned>(numSamples - k, static_cast<unsigned>(loopLength - r));
            mixAudio(m_loopStart + static_cast<quint32>(r), out + k, run, gain, limit);
            r += static_cast<qint32>(run);
            if (r == loopLength)
                r = 0;
        } else if (r < 0 && r > -loopLength) {
            // Before the loop start: counts up to it unchanged by the remainder.
            run = std::min<unsigned>(numSamples - k, static_cast<unsigned>(-r));
            mixAudio(m_loopStart + static_cast<quint32>(r), out + k, run, gain, limit);
            r += static_cast<qint32>(run);
        } else {
            // At or beyond the loop end, or more than a loop length before its
            // start: one sample, then the remainder moves r into the region.
            run = 1;
            mixAudio(m_loopStart + static_cast<quint32>(r), out + k, 1, gain, limit);
            r = static_cast<qint32>((static_cast<qint64>(r) + 1) % loopLength);
        }
        k += run;
    }
    if (cache)
        cache->unlock();
    m_playPosOffset = m_loopStart + static_cast<quint32>(r);
    return numSamples;
}

bool Slice::save(const QString& fileName, unsigned long startSample, unsigned long endSample,
                 QString* error)
{
    return save(fileName, startSample, endSample, ExportFormat::forSliceFile(fileName), error);
}

bool Slice::save(const QString& fileName, unsigned long startSample, unsigned long endSample,
                 const ExportFormat& format, QString* error)
{
    qDebug() << "Saving" << fileName << "with start @" << startSample << " and end @" << endSample;
    if (endSample == 0) {
        const unsigned long length = getLength();
        endSample = length - length % 2;
    }
    TMB_ASSERT(startSample % 2 == 0 && endSample % 2 == 0);
    // A pad whose file could not be read has nothing to write.
    if (startSample >= endSample) {
        qDebug() << "Nothing to save in" << fileName;
        if (error)
            *error = QStringLiteral("the slice holds no audio");
        return false;
    }
    QList<AudioExporter::Failure> failed;
    const QStringList written =
        saveRanges({static_cast<quint32>(startSample), static_cast<quint32>(endSample)}, {fileName},
                   format, &failed);
    if (written.isEmpty() && error && !failed.isEmpty())
        *error = failed.first().reason;
    return !written.isEmpty();
}

QStringList Slice::saveRanges(const QList<quint32>& bounds, const QStringList& fileNames,
                              const ExportFormat& format, QList<AudioExporter::Failure>* failed)
{
    TMB_ASSERT(bounds.size() == fileNames.size() + 1);
    const quint32 first = bounds.first();
    const int rate = getSampleRate();
    AudioExporter exporter(format, rate, format.outputRate(rate));
    QList<AudioExporter::Piece> pieces;
    for (int i = 0; i < fileNames.size(); ++i) {
        TMB_ASSERT(bounds.at(i) % 2 == 0 && bounds.at(i) <= bounds.at(i + 1));
        pieces.append({fileNames.at(i), exporter.convertedLength((bounds.at(i + 1) - first) / 2)});
    }
    const QStringList written =
        exporter.write(exportSource(first), (bounds.last() - first) / 2, pieces, failed);
    qDebug() << "wrote" << written.size() << "of" << fileNames.size() << "files";
    return written;
}

AudioExporter::Source Slice::exportSource(quint32 startSample)
{
    // The fill is waited for without the slice's mutex, so playback of this
    // slice goes on meanwhile. Until the fill reaches it, audio reads as
    // silence, and an export made right after loading would keep that silence.
    const QSharedPointer<AudioCache> cache = getAudioCache();
    if (cache && !cache->isFilled()) {
        qDebug() << "Waiting for" << getFilename() << "to be decoded before saving";
        while (!cache->isFilled())
            QThread::msleep(2);
    }
    // Read a block at a time, each under the slice's mutex: playback of this
    // slice waits for one block at most, never for the whole file.
    return [this, position = startSample](float* out, unsigned frames) mutable {
        Locker lock(m_mutex);
        AudioCache* audio = m_pAudioCache.data();
        if (audio)
            audio->lock();
        mixAudio(position, out, 2 * frames, 1.0f, readableLength());
        if (audio)
            audio->unlock();
        position += 2 * frames;
    };
}

void Slice::rebuild()
{
    m_pResampler->resample(static_cast<int>(m_pitch), static_cast<float>(m_timeStretchRatio), this);
    resetPlayPos();
}

float Slice::playbackRate() const
{
    // A take recorded in memory has no rate of its own: it was recorded at the
    // working rate.
    return m_sampleRate > 0 ? static_cast<float>(m_sampleRate) * (1.0f / 44100.0f) : 1.0f;
}

void Slice::resetPlayPos()
{
    m_playPosOffset = m_loopMode == 2 ? m_loopStart : 0;
}

void Slice::mixAudio(quint32 index, float* out, unsigned count, float gain, quint32 limit)
{
    // Past the end of the audio (a loop end beyond the length) is silence.
    if (index >= limit)
        return;
    count = std::min<quint32>(count, limit - index);
    const unsigned long source = static_cast<unsigned long>(m_audioOffset) + index;
    if (m_pAudioCache) {
        m_pAudioCache->mixSamples(source, out, count, gain);
        return;
    }
    const float* samples = m_pAudioBuffer->data() + source;
    for (unsigned i = 0; i < count; ++i)
        out[i] = samples[i] * gain + out[i];
}

quint32 Slice::readableLength() const
{
    const unsigned long available =
        m_pAudioCache ? m_pAudioCache->getLength() : m_pAudioBuffer->size();
    if (available <= m_audioOffset)
        return 0;
    return static_cast<quint32>(std::min<unsigned long>(m_length, available - m_audioOffset));
}
