#pragma once

#include "RecordingState.h"

#include <QObject>
#include <QSharedPointer>

#include <atomic>
#include <mutex>

class Slice;

// One loop recorder: captures what the engine plays (loop and pads) into its
// take and plays the take back in a cycle. Off, armed (waiting for a MIDI
// note) or recording; any note starts an armed recorder, note 51 ends a
// recording. A recorder may be cut to a quantization length that the first
// recorder publishes, so later loops come out exactly as long as the first.
//
// record, render and handleNote run on the audio thread; the slots run there
// too (MIDI) and on the user-interface thread (widgets). A mutex of the
// recorder keeps the state transitions whole; lock order: engine, recorder,
// the take's Slice.
class LoopingSampler : public QObject
{
    Q_OBJECT
public:
    // Note that ends recordings (also the note of pad 15).
    static constexpr int StopNote = 51;
    // The take's room, reserved once so that recording never reallocates on
    // the audio thread: one minute (5292000 samples, about 21 MB). A recording
    // that reaches it ends there as if quantized to it.
    static constexpr unsigned long MaxRecordingSamples = 5292000;

    LoopingSampler();
    ~LoopingSampler() override;

    RecordingState getRecordingState() const;
    // The one place where the state changes; a master quantization looper
    // publishes its take's length with each change.
    void setRecordingState(RecordingState state);

    // The take; never replaced, only cleared and appended to.
    QSharedPointer<Slice> getLoop() const;
    bool isPlaying() const;
    long getQuantizationLength() const;
    bool isMasterQuantizationLooper() const;

    // A MIDI note; velocity 0 does nothing.
    void handleNote(int note, int velocity);
    // Appends the buffer's samples to the take while recording.
    void record(const float* buffer, unsigned long numSamples);
    // Adds the take's playback into the buffer unless recording.
    void render(float* buffer, unsigned long numSamples);

signals:
    void recordingStateChanged(RecordingState state);
    void playbackStateChanged(bool playing);
    void quantizationLengthChanged(long quant_len);

public slots:
    void armRecording(bool arm);
    // What a note does to an armed recorder: the take is cleared, playback
    // stops and recording begins. Nothing happens in any other state.
    void startRecording();
    void stopRecording();
    void togglePlayback(bool play);
    void setQuantizationLength(long length);
    void setMasterQuantizationLooper(bool master);

private:
    std::atomic<RecordingState> m_recordingState{RecordingState::Off};
    QSharedPointer<Slice> m_pLoop;
    // Written by the master's signal, possibly while this recorder records.
    std::atomic<long> m_quantizationLength{-1};
    std::atomic<bool> m_masterQuantizationLooper{false};
    // Recursive: transitions call each other (stopRecording plays), and a
    // widget may call back from a signal emitted inside one.
    mutable std::recursive_mutex m_mutex;
};
