#pragma once

#include <QMetaType>

// State of one loop recorder. Travels in queued signals from the audio thread
// to the widgets, hence the meta-type registration (registerRecordingState).
enum class RecordingState
{
    // Not recording; the recorder may be playing its loop.
    Off = 0,
    // Waiting for a MIDI note to start recording; playback goes on meanwhile.
    Armed = 1,
    // Every render block is appended to the loop; the recorder's playback is silent.
    Recording = 2
};

Q_DECLARE_METATYPE(RecordingState)

// Registers the type under the name "RecordingState" (idempotent). Done by
// every LoopingSampler constructor, so any queued connection made after one
// exists works.
int registerRecordingState();
