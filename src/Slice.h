#pragma once

#include "AudioExporter.h"

#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <vector>

class AudioCache;
class AudioFile;
class SoundTouchResampler;

// One piece of audio that can be shown, edited and played: the loop being
// sliced, a sampler pad, a loop recorder's take, a piece being exported.
//
// The audio lives either in a chunk cache filled in the background from a file
// (the sample buffer then stays empty) or, for a take recorded in memory, in
// the sample buffer. Either way positions index the interleaved stereo stream
// from sample 0, so the same play position means the same sample.
//
// The user-interface thread edits a slice while the audio thread plays it;
// every operation takes the slice's recursive mutex. Lock order: the holder's
// mutex (Kerfer, sampler) first, then the slice's, then its cache's.
class Slice : public QObject
{
    Q_OBJECT
public:
    // What playback takes: two octaves of pitch either way, and stretches up
    // to 16 times shorter or longer. A little beyond, with the pitch shifted
    // too, a rebuild holds the slice (and its playback) for seconds, or a
    // block takes longer than it plays; far beyond, the resampler hangs,
    // crashes or grows its buffers without bound.
    static constexpr int kMaxPitch = 24;
    static constexpr double kMinTimeStretchRatio = 1.0 / 16;
    static constexpr double kMaxTimeStretchRatio = 16.0;

    // Samples in one minute of audio at rate frames per second (two samples
    // to a frame), the working rate's 5292000 when the rate is unknown. Tempo
    // arithmetic counts in a loop's own samples, so a beat is as long at 48
    // or 96 kHz as at 44.1.
    static double samplesPerMinute(int rate) { return 120.0 * (rate > 0 ? rate : 44100); }

    // An empty in-memory slice, filled by appendSamples (loop recorders).
    Slice();
    // Loads a file through the decoder reader. Returns at once with the full
    // length; the cache fills in the background and reads as silence until then.
    // A length of 0 afterwards means the file could not be loaded.
    explicit Slice(const QString& fileName);
    // Shares another slice's audio without copying it (the pieces that export
    // writes). Position p of the new slice is sample startSample + p of the
    // shared audio, so the piece plays, measures and saves as itself. Reversing
    // such a piece would reverse the whole shared audio under it; nothing does.
    Slice(const QSharedPointer<std::vector<float>>& audioBuffer,
          const QSharedPointer<AudioCache>& audioCache, int sampleRate, unsigned long startSample,
          unsigned long length);
    ~Slice() override;

    Slice(const Slice&) = delete;
    Slice& operator=(const Slice&) = delete;

    QString getFilename() const;
    unsigned long getLength() const;
    int getSampleRate() const;
    unsigned long getPlayPos() const;
    bool isPlaying() const;

    // 0 plays once, 1 loops the region for ever after the first pass, 2 is
    // like 1 and a start inside the region plays only the region.
    int getLoopMode() const;
    void setLoopMode(int mode);
    unsigned long getLoopStart() const;
    // Takes the value as it is; a start above the end is only put right by
    // the next setLoopEnd.
    void setLoopStart(unsigned long start);
    unsigned long getLoopEnd() const;
    // Also ends the current pass there; swaps start and end when the value
    // lies below the loop start.
    void setLoopEnd(unsigned long end);

    float getGain() const;
    // Refuses (logs and keeps the gain) a value that is not finite.
    void setGain(float gain);

    // Whole semitones; setting the pitch rebuilds the resampler. Refuses (logs
    // and keeps the pitch) a value beyond kMaxPitch either way.
    int getPitch() const;
    void setPitch(int semitones);
    // Stretched length / unstretched length (2.0 plays twice as long).
    double getTimeStretchRatio() const;
    // Refuses a ratio outside kMinTimeStretchRatio .. kMaxTimeStretchRatio.
    // bpm is the project tempo; it does not change the ratio.
    void setTimeStretchRatio(double ratio, unsigned bpm);
    // Stretches the slice to last the given number of beats at bpm, as near
    // as the ratio's limits allow. Refuses bpm 0, a slice of length 0 and
    // beats that give no length.
    void stretchToBeats(double beats, unsigned bpm);

    bool isReversed() const;
    // Plays and shows the audio back to front (the cached audio and the sample
    // buffer, for every holder of them); a second call restores it exactly.
    void reverse();

    QString getChokeGroup() const;
    void setChokeGroup(const QString& group);

    // Null for an in-memory slice.
    QSharedPointer<AudioCache> getAudioCache() const;
    QSharedPointer<std::vector<float>> getAudioBuffer() const;
    QSharedPointer<std::vector<float>> getResampledBuffer() const;

    // Appends recorded samples to the sample buffer; the loop end follows the
    // length. Emits nothing.
    void appendSamples(const float* samples, unsigned count);
    // Makes room for count samples in the sample buffer, so that appending up
    // to that length never reallocates (a recorder appends on the audio thread).
    void reserveSamples(unsigned long count);
    // Empties the sample buffer; length, loop region and play position become 0.
    void clear();

    // Starts (or re-targets) a pass from startFraction to endFraction of the
    // length, or stops with play false. Fractions are position / length.
    void play(bool play, double startFraction, double endFraction);
    // Adds numSamples at the working rate into out, through the resampler
    // (rate conversion, pitch, stretch). Returns the samples delivered.
    unsigned render(float* out, unsigned numSamples);
    // Adds numSamples of the slice's own audio, at its own rate, times the gain
    // into out. Returns numSamples, or 0 when the slice is not playing.
    unsigned renderRaw(float* out, unsigned numSamples);

    // Writes samples startSample .. endSample - 1 (end 0: the length) as a
    // file: 16-bit PCM at 44.1 kHz unless the format says otherwise, converted
    // from the slice's own rate to exactly round(frames * 44100 / rate)
    // frames; without a format, AIFF when the name ends in ".aiff" or ".aif",
    // WAV otherwise. The slice's pitch, stretch, gain and loop settings do not
    // apply. Waits for the background fill first, so the file never holds
    // silence for audio not yet decoded. An existing file is replaced only by
    // a complete new one. Both positions must be even. False, with a reason
    // for the user in error, when nothing was written.
    bool save(const QString& fileName, unsigned long startSample, unsigned long endSample,
              QString* error = nullptr);
    bool save(const QString& fileName, unsigned long startSample, unsigned long endSample,
              const ExportFormat& format, QString* error = nullptr);
    // Writes the consecutive ranges bounds[i] .. bounds[i + 1] - 1 to
    // fileNames[i]: the audio from the first bound to the last is converted
    // as one stream and cut at the converted bounds, so the files together
    // last exactly as long as the whole range converted. Bounds are even and
    // ascending. Returns the files written; the others, with the reason, go
    // to failed.
    QStringList saveRanges(const QList<quint32>& bounds, const QStringList& fileNames,
                           const ExportFormat& format,
                           QList<AudioExporter::Failure>* failed = nullptr);

    // The audio from startSample on as AudioExporter reads it: each call adds
    // the next frames (silence beyond the audio) at the slice's own rate,
    // unpitched and without gain. Waits for the background fill first. The
    // slice must outlive the source.
    AudioExporter::Source exportSource(quint32 startSample);

signals:
    void played();
    void playPosChanged();
    void stopped();
    void playbackToggled(bool playing);
    void loopChanged();

private:
    void setDefaults();
    // Passes the slice through the resampler with the current pitch and
    // ratio (which is how they reach playback), then rewinds.
    void rebuild();
    void resetPlayPos();
    // Source rate / working rate, as the resampler converts it.
    float playbackRate() const;
    // Mixes count samples of the audio from index on; from limit on (the end
    // of the readable audio) it is silence.
    void mixAudio(quint32 index, float* out, unsigned count, float gain, quint32 limit);
    // Length of the audio actually readable, never beyond the buffer or cache.
    quint32 readableLength() const;

    QString m_filename;
    // Borrowed: it lives as long as the cache that reads from it.
    AudioFile* m_pAudioFile = nullptr;
    QSharedPointer<AudioCache> m_pAudioCache;
    QSharedPointer<std::vector<float>> m_pAudioBuffer;
    QSharedPointer<std::vector<float>> m_pResampledBuffer;
    int m_sampleRate = 0;
    quint32 m_length = 0;
    // Where position 0 lies in the audio; non-zero only for a piece sharing
    // another slice's audio.
    quint32 m_audioOffset = 0;
    quint32 m_playPosOffset = 0;
    quint32 m_endSample = 0;
    int m_loopMode = 0;
    quint32 m_loopStart = 0;
    quint32 m_loopEnd = 0;
    float m_gain = 1.0f;
    bool m_playing = false;
    float m_pitch = 0.0f;
    double m_timeStretchRatio = 1.0;
    bool m_reversed = false;
    mutable QRecursiveMutex m_mutex;
    QString m_chokeGroup;
    SoundTouchResampler* m_pResampler = nullptr;
};
