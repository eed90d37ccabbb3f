#pragma once

#include <QList>
#include <QObject>

#include <atomic>

class LoopingSampler;

// The four loop recorders. Feeds them from the engine's render cycle (record
// pass, then playback pass), hands them every MIDI note, and turns MIDI
// Machine Control transport commands into commands for the selected one.
class LoopingSamplerBank : public QObject
{
    Q_OBJECT
public:
    static constexpr int LooperCount = 4;

    // MIDI Machine Control command codes acted on.
    enum TransportCommand
    {
        TransportStop = 1,
        TransportPlay = 2,
        TransportFastForward = 4,
        TransportRewind = 5,
        TransportRecordStrobe = 6
    };

    LoopingSamplerBank();
    ~LoopingSamplerBank() override;

    const QList<LoopingSampler*>& getLoopers() const;
    int getSelectedLooperIndex() const;

    // "To first loop": recorder 0 publishes its take's length as the others'
    // quantization length. Off: no recorder is cut. Connects only once
    // however often it is switched on.
    void setQuantizeToFirstLoop(bool on);

    void recordAll(const float* buffer, unsigned long numSamples);
    void renderAll(float* buffer, unsigned long numSamples);
    // Every recorder sees the note with velocity 127.
    void handleNoteAll(int note);
    // A transport command for the selected recorder; any command ends a
    // recording in progress instead.
    void handleTransport(int command);

signals:
    void selectedLooperChanged(int newSelectedLooperIndex);

public slots:
    void selectNextLooper();
    void selectPrevLooper();

private:
    QList<LoopingSampler*> m_loopers;
    // Changed from the audio thread (transport) and the user-interface thread.
    std::atomic<int> m_selectedLooper{0};
};
