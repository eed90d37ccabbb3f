#include "MidiGroove.h"

#include <QDebug>

#include <algorithm>
#include <cmath>

namespace {

// Delta times are at most four bytes of seven bits.
const quint64 kMaxTick = 0x0FFFFFFF;

void appendU32(QByteArray& bytes, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((value >> shift) & 0xFF));
}

void appendVariable(QByteArray& bytes, quint32 value)
{
    char groups[4];
    int n = 0;
    do {
        groups[n++] = static_cast<char>(value & 0x7F);
        value >>= 7;
    } while (value > 0 && n < 4);
    while (n > 1)
        bytes.append(static_cast<char>(groups[--n] | 0x80));
    bytes.append(groups[0]);
}

struct Event
{
    quint64 tick;
    // At the same tick: meta events first, then note offs, then note ons.
    int order;
    QByteArray bytes;
};

QByteArray meta(int type, const QByteArray& data)
{
    QByteArray bytes;
    bytes.append(char(0xFF));
    bytes.append(static_cast<char>(type));
    appendVariable(bytes, static_cast<quint32>(data.size()));
    return bytes + data;
}

QByteArray note(int status, int key, int velocity)
{
    QByteArray bytes;
    bytes.append(static_cast<char>(status));
    bytes.append(static_cast<char>(key));
    bytes.append(static_cast<char>(velocity));
    return bytes;
}

} // namespace

quint32 MidiGroove::microsecondsPerQuarter(double tempo)
{
    // Three bytes hold it: tempos below about 3.6 bpm are held at the slowest.
    const double us = std::round(60000000.0 / tempo);
    return static_cast<quint32>(std::clamp(us, 1.0, 16777215.0));
}

quint64 MidiGroove::tickAt(quint64 frame, int rate, double tempo)
{
    return static_cast<quint64>(
        std::llround(double(frame) / rate * kTicksPerQuarter * tempo / 60.0));
}

int MidiGroove::velocityOf(float peak)
{
    if (!(peak > 0.0f))
        return 1;
    return static_cast<int>(std::clamp(std::lround(peak * 127.0f), 1l, 127l));
}

QByteArray MidiGroove::build(const QList<quint64>& frames, const QList<int>& velocities, int rate,
                             double tempo, const QString& name)
{
    if (!std::isfinite(tempo) || tempo <= 0.0 || rate <= 0 || frames.isEmpty())
        return QByteArray();
    const quint32 us = microsecondsPerQuarter(tempo);
    // The times follow the tempo as the file stores it, which is what plays.
    const double fileTempo = 60000000.0 / us;
    if (tickAt(frames.last(), rate, fileTempo) > kMaxTick) {
        qDebug() << "Loop too long for a MIDI file at" << tempo << "bpm";
        return QByteArray();
    }

    QList<Event> events;
    QByteArray tempoBytes;
    for (int shift = 16; shift >= 0; shift -= 8)
        tempoBytes.append(static_cast<char>((us >> shift) & 0xFF));
    events.append({0, 0, meta(0x03, name.toUtf8())});
    events.append({0, 0, meta(0x51, tempoBytes)});
    events.append({0, 0, meta(0x58, QByteArray("\x04\x02\x18\x08", 4))});
    const int notes = std::min<int>({velocities.size(), frames.size() - 1, kMaxNotes});
    if (frames.size() - 1 > notes)
        qDebug() << "MIDI groove: only the first" << notes << "slices get a note";
    for (int i = 0; i < notes; ++i) {
        const quint64 on = tickAt(frames.at(i), rate, fileTempo);
        // A slice shorter than a tick still lasts one.
        const quint64 off = std::max(tickAt(frames.at(i + 1), rate, fileTempo), on + 1);
        const int velocity = std::clamp(velocities.at(i), 1, 127);
        events.append({on, 2, note(0x90, kFirstKey + i, velocity)});
        events.append({off, 1, note(0x80, kFirstKey + i, 0)});
    }
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });

    QByteArray track;
    quint64 tick = 0;
    for (const Event& event : qAsConst(events)) {
        appendVariable(track, static_cast<quint32>(event.tick - tick));
        track.append(event.bytes);
        tick = event.tick;
    }
    const quint64 end = std::max(tick, tickAt(frames.last(), rate, fileTempo));
    appendVariable(track, static_cast<quint32>(end - tick));
    track.append(meta(0x2F, QByteArray()));

    QByteArray file("MThd");
    appendU32(file, 6);
    file.append(QByteArray("\x00\x00\x00\x01", 4)); // format 0, one track
    file.append(static_cast<char>(kTicksPerQuarter >> 8));
    file.append(static_cast<char>(kTicksPerQuarter & 0xFF));
    file.append("MTrk");
    appendU32(file, static_cast<quint32>(track.size()));
    return file + track;
}
