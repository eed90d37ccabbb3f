#pragma once

#include <QtGlobal>

#include <portmidi.h>

#include <vector>

// PortMidi events as a MIDI input delivers them.
namespace MidiEvents {

inline PmEvent shortMessage(int status, int data1, int data2)
{
    return PmEvent{Pm_Message(status, data1, data2), 0};
}

// Four bytes of a system exclusive message, packed from byte 0 up.
inline PmEvent sysexBytes(int b0, int b1, int b2, int b3)
{
    return PmEvent{
        PmMessage(quint32(b0) | quint32(b1) << 8 | quint32(b2) << 16 | quint32(b3) << 24), 0};
}

// A MIDI Machine Control command, F0 7F <device> 06 <command> F7: two events.
inline void appendMachineControl(std::vector<PmEvent>& events, int command)
{
    events.push_back(sysexBytes(0xF0, 0x7F, 0x7F, 0x06));
    events.push_back(sysexBytes(command, 0xF7, 0, 0));
}

} // namespace MidiEvents
