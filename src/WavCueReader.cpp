#include "WavCueReader.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QtEndian>

#include <algorithm>

namespace {

// Bounds on what a header is worth reading: a file of countless tiny chunks
// or a cue chunk of gigabytes is not looked at any further.
const int kMaxChunks = 10000;
const quint32 kMaxCuePoints = 65536;
const qint64 kCuePointBytes = 24;

quint32 u32(const QByteArray& bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

QByteArray readAt(QFile& file, qint64 position, qint64 length)
{
    return file.seek(position) ? file.read(length) : QByteArray();
}

// Whether a chunk can begin here: a name of four printable characters and a
// body that fits in the file.
bool isChunkAt(QFile& file, qint64 position)
{
    const QByteArray header = readAt(file, position, 8);
    return header.size() == 8 &&
           std::all_of(header.cbegin(), header.cbegin() + 4,
                       [](char c) { return c >= 0x20 && c <= 0x7E; }) &&
           u32(header, 4) <= file.size() - position - 8;
}

} // namespace

QList<quint64> WavCueReader::read(const QString& fileName)
{
    QList<quint64> frames;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return frames;
    const QByteArray riff = file.read(12);
    if (riff.size() < 12 || !(riff.startsWith("RIFF") || riff.startsWith("RF64")) ||
        riff.mid(8, 4) != "WAVE")
        return frames;

    const qint64 size = file.size();
    quint32 blockAlign = 0;
    qint64 dataBytes = -1;
    QByteArray cue;
    bool haveCue = false;
    qint64 position = 12;
    for (int n = 0; n < kMaxChunks && position + 8 <= size; ++n) {
        const QByteArray header = readAt(file, position, 8);
        if (header.size() < 8)
            break;
        const QByteArray id = header.left(4);
        const qint64 body = position + 8;
        const qint64 length = u32(header, 4);
        const qint64 available = size - body;
        if (id == "fmt " && length >= 16) {
            const QByteArray format = readAt(file, body, 16);
            if (format.size() == 16)
                blockAlign = qFromLittleEndian<quint16>(format.constData() + 12);
        } else if (id == "data") {
            // A file written as a stream (or an RF64 file) leaves the size
            // open: the audio then runs to the end of the file.
            dataBytes = std::min(length, available);
            if (length == 0xFFFFFFFF)
                dataBytes = available;
        } else if (id == "cue " && !haveCue) {
            haveCue = true;
            cue = readAt(file, body,
                         std::min({length, available, 4 + kMaxCuePoints * kCuePointBytes}));
        }
        if (length > available)
            break; // cut short: nothing follows
        qint64 next = body + length;
        // The pad byte after an odd body, which some writers leave out.
        if (length % 2 == 1 && !isChunkAt(file, next + 1) && isChunkAt(file, next)) {
            qDebug() << "Odd-sized chunk" << id << "without its pad byte in" << fileName;
        } else {
            next += length % 2;
        }
        position = next;
    }
    if (!haveCue)
        return frames;

    const auto ignored = [&fileName](const char* why) {
        qDebug() << "Cue points of" << fileName << "ignored:" << why;
        return QList<quint64>();
    };
    if (blockAlign == 0 || dataBytes < 0)
        return ignored("no audio format or no audio found");
    if (cue.size() < 4)
        return ignored("the cue chunk is too short");
    const quint32 count = u32(cue, 0);
    if (count > (cue.size() - 4) / kCuePointBytes)
        return ignored("the cue chunk counts more points than it holds");

    // The frame is in the sample offset, or (for some writers) only in the
    // position. A point on the first frame cuts nothing.
    const quint64 length = static_cast<quint64>(dataBytes) / blockAlign;
    int outside = 0;
    for (quint32 i = 0; i < count; ++i) {
        const int at = 4 + static_cast<int>(i * kCuePointBytes);
        const quint64 offset = u32(cue, at + 20);
        const quint64 place = u32(cue, at + 4);
        if (offset > 0 && offset < length)
            frames.append(offset);
        else if (place > 0 && place < length)
            frames.append(place);
        else if (offset >= length || place >= length)
            ++outside;
    }
    if (outside > 0)
        qDebug() << "Cue points of" << fileName << "beyond the audio ignored:" << outside;
    std::sort(frames.begin(), frames.end());
    const int all = frames.size();
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    if (frames.size() < all)
        qDebug() << "Repeated cue points of" << fileName << "ignored:" << all - frames.size();
    return frames;
}
