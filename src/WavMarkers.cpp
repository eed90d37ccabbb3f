#include "WavMarkers.h"

#include <QtEndian>

#include <cmath>
#include <cstring>

namespace {

void appendU32(QByteArray& bytes, quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes.append(le, 4);
}

void appendU16(QByteArray& bytes, quint16 value)
{
    char le[2];
    qToLittleEndian(value, le);
    bytes.append(le, 2);
}

void appendFloat(QByteArray& bytes, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendU32(bytes, bits);
}

// acid flags: the loop follows the tempo; not a one-shot, no root note.
const quint32 kAcidStretch = 0x04;

bool setChunk(SNDFILE* file, const char* id, const QByteArray& body)
{
    SF_CHUNK_INFO chunk{};
    std::strncpy(chunk.id, id, sizeof chunk.id - 1);
    chunk.id_size = 4;
    chunk.datalen = static_cast<unsigned>(body.size());
    chunk.data = const_cast<char*>(body.constData());
    return sf_set_chunk(file, &chunk) == SF_ERR_NO_ERROR;
}

} // namespace

quint32 WavMarkers::beats() const
{
    const double beats = rate > 0 ? std::round(double(frames) / rate * tempo / 60.0) : 0.0;
    return beats >= 1.0 && beats < 4294967295.0 ? static_cast<quint32>(beats) : 1;
}

QByteArray WavMarkers::cueChunk() const
{
    // The frame goes in both the position and the sample offset: readers
    // disagree on which one holds it.
    QByteArray bytes;
    appendU32(bytes, static_cast<quint32>(cueFrames.size()));
    for (int i = 0; i < cueFrames.size(); ++i) {
        appendU32(bytes, static_cast<quint32>(i + 1));
        appendU32(bytes, cueFrames.at(i));
        bytes.append("data", 4);
        appendU32(bytes, 0);
        appendU32(bytes, 0);
        appendU32(bytes, cueFrames.at(i));
    }
    return bytes;
}

QByteArray WavMarkers::labelChunk() const
{
    QByteArray bytes("adtl");
    for (int i = 0; i < cueFrames.size(); ++i) {
        const QByteArray text = QStringLiteral("Slice %1").arg(i + 1).toLatin1();
        bytes.append("labl", 4);
        appendU32(bytes, static_cast<quint32>(4 + text.size() + 1));
        appendU32(bytes, static_cast<quint32>(i + 1));
        bytes.append(text);
        bytes.append('\0');
        if (text.size() % 2 == 0) // the body (ID, text, NUL) is odd: one pad byte
            bytes.append('\0');
    }
    return bytes;
}

QByteArray WavMarkers::acidChunk() const
{
    QByteArray bytes;
    appendU32(bytes, kAcidStretch);
    appendU16(bytes, 60); // root note, marked as not set by the flags
    appendU16(bytes, 0);
    appendFloat(bytes, 0.0f);
    appendU32(bytes, beats());
    appendU16(bytes, 4); // meter denominator
    appendU16(bytes, 4); // meter numerator
    appendFloat(bytes, static_cast<float>(tempo));
    return bytes;
}

QString WavMarkers::writeTo(SNDFILE* file) const
{
    // libsndfile's own cue command holds at most 100 points; a loop may have more.
    if (!setChunk(file, "cue ", cueChunk()) || !setChunk(file, "LIST", labelChunk()) ||
        !setChunk(file, "acid", acidChunk()))
        return QStringLiteral("cannot write the markers: %1").arg(sf_strerror(file));
    if (frames == 0)
        return QString();
    SF_INSTRUMENT instrument{};
    instrument.gain = 1;
    instrument.basenote = 60;
    instrument.velocity_lo = 0;
    instrument.velocity_hi = 127;
    instrument.key_lo = 0;
    instrument.key_hi = 127;
    instrument.loop_count = 1;
    instrument.loops[0].mode = SF_LOOP_FORWARD;
    instrument.loops[0].start = 0;
    // Exclusive here; libsndfile writes the last frame, as the chunk wants.
    instrument.loops[0].end = frames;
    if (sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument) != SF_TRUE)
        return QStringLiteral("cannot write the loop: %1").arg(sf_strerror(file));
    return QString();
}
