#include "MidiInputDevice.h"

#include "BankSampler.h"
#include "LoopingSamplerBank.h"
#include "Settings.h"

#include <QDebug>

namespace {
const int kNoteOn = 0x90;
const int kNoteOff = 0x80;
const int kSysexStart = 0xF0;
const int kSysexEnd = 0xF7;
const int kUniversalRealTime = 0x7F;

int messageByte(PmMessage message, int byte)
{
    return (static_cast<quint32>(message) >> (8 * byte)) & 0xFF;
}

bool containsSysexEnd(PmMessage message, int fromByte)
{
    for (int byte = fromByte; byte < 4; ++byte) {
        if (messageByte(message, byte) == kSysexEnd)
            return true;
    }
    return false;
}
} // namespace

MidiInputDevice::MidiInputDevice(BankSampler* bankSampler, LoopingSamplerBank* loopingSamplerBank)
    : m_pBankSampler(bankSampler), m_pLoopingSamplerBank(loopingSamplerBank)
{
}

MidiInputDevice::~MidiInputDevice() = default;

void MidiInputDevice::open()
{
    const QString setting = Settings::instance()->getSetting(QStringLiteral("MidiDevice"));
    if (setting == QLatin1String("None"))
        return;

    // Unparsable text, and a missing setting, give device 0.
    PmDeviceID devId = setting.split(QLatin1Char('.')).first().toInt();
    qDebug() << "MidiDevice: Parsed devId" << devId;

    const PmError initError = Pm_Initialize();
    if (initError != pmNoError) {
        qDebug() << "PortMidi error:" << Pm_GetErrorText(initError);
        return;
    }

    const PmDeviceInfo* info = Pm_GetDeviceInfo(devId);
    if (!info || !info->input) {
        devId = Pm_GetDefaultInputDeviceID();
        info = Pm_GetDeviceInfo(devId);
        if (!info || !info->input) {
            qDebug() << "MidiDevice: no MIDI input device, MIDI is off";
            return;
        }
    }

    qDebug() << "Opening" << info->name;
    PortMidiStream* stream = nullptr;
    const PmError openError =
        Pm_OpenInput(&stream, devId, nullptr, EventBufferSize, nullptr, nullptr);
    if (openError != pmNoError) {
        qDebug() << "PortMidi error:" << Pm_GetErrorText(openError);
        return;
    }
    m_pStream = stream;
}

int MidiInputDevice::poll()
{
    if (!m_pStream)
        return 0;
    const int count = Pm_Read(m_pStream, m_events, EventBufferSize);
    if (count <= 0)
        return count;
    return handleEvents(m_events, count);
}

int MidiInputDevice::handleEvents(const PmEvent* events, int count)
{
    for (int i = 0; i < count; ++i) {
        const PmMessage message = events[i].message;
        const int status = messageByte(message, 0);
        const int data1 = messageByte(message, 1);

        if (m_inSysex) {
            // The end byte may sit in any of the four bytes, depending on the
            // message's length; events without it are data and skipped.
            if (containsSysexEnd(message, 0)) {
                if (m_realTimeSysex)
                    m_pLoopingSamplerBank->handleTransport(status);
                m_inSysex = false;
                m_realTimeSysex = false;
                qDebug() << "sysex finished!";
            }
        } else if (status == kNoteOn) {
            // Velocity 0 counts as a note on too.
            m_pBankSampler->handleNote(data1, true);
            m_pLoopingSamplerBank->handleNoteAll(data1);
        } else if (status == kNoteOff) {
            m_pBankSampler->handleNote(data1, false);
        } else if (status == kSysexStart) {
            // A message of up to four bytes ends in its first event.
            if (containsSysexEnd(message, 1)) {
                qDebug() << "sysex finished!";
            } else {
                m_inSysex = true;
                m_realTimeSysex = data1 == kUniversalRealTime;
            }
        }
    }
    return count;
}

void MidiInputDevice::close()
{
    if (!m_pStream)
        return;
    const PmError error = Pm_Close(m_pStream);
    if (error != pmNoError)
        qDebug() << "PortMidi error:" << Pm_GetErrorText(error);
    m_pStream = nullptr;
}

QStringList MidiInputDevice::getDeviceList()
{
    QStringList devices;
    if (Pm_Initialize() != pmNoError)
        return devices;
    const int count = Pm_CountDevices();
    for (int i = 0; i < count; ++i) {
        const PmDeviceInfo* info = Pm_GetDeviceInfo(i);
        if (info && info->input)
            devices.append(QStringLiteral("%1. %2").arg(i).arg(QString::fromLocal8Bit(info->name)));
    }
    return devices;
}
