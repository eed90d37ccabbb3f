#pragma once

#include <QStringList>

#include <portmidi.h>

class BankSampler;
class LoopingSamplerBank;

// One MIDI input port, read through PortMidi. The engine polls it at the start
// of every render cycle: note on and off on channel 1 go to the pads, note on
// also to the loop recorders, and MIDI Machine Control commands (universal
// real-time system exclusive) become transport commands for the recorders.
//
// open and close run on the user-interface thread, poll on the audio thread;
// the engine never lets them overlap.
class MidiInputDevice
{
public:
    // Events read per poll; more pending events wait for the next cycles.
    static constexpr int EventBufferSize = 64;

    MidiInputDevice(BankSampler* bankSampler, LoopingSamplerBank* loopingSamplerBank);
    ~MidiInputDevice();

    MidiInputDevice(const MidiInputDevice&) = delete;
    MidiInputDevice& operator=(const MidiInputDevice&) = delete;

    // Opens the input named by the "MidiDevice" setting ("None": MIDI off),
    // or the default input when that is not an input. Failures are logged
    // and leave the device without a stream.
    void open();
    // Reads up to EventBufferSize pending events and acts on them. Returns the
    // number read, 0 without a stream, or PortMidi's negative error code.
    int poll();
    void close();
    bool isOpen() const { return m_pStream != nullptr; }

    // Decodes events as poll does after reading them; a system exclusive
    // message may continue from one call to the next. Returns count.
    int handleEvents(const PmEvent* events, int count);

    // The input devices as "index. name" entries, the form of the setting.
    static QStringList getDeviceList();

private:
    BankSampler* m_pBankSampler;
    LoopingSamplerBank* m_pLoopingSamplerBank;
    PortMidiStream* m_pStream = nullptr;
    PmEvent m_events[EventBufferSize];
    bool m_inSysex = false;
    bool m_realTimeSysex = false;
};
