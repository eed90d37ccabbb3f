#include "KitFiles.h"

#include <QtEndian>

#include <gtest/gtest.h>

namespace KitFiles {

QList<Opcodes> parseSfz(const QByteArray& text, QStringList* comments)
{
    QList<Opcodes> regions;
    for (const QString& line : QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("// ")) {
            comments->append(line.mid(3));
            continue;
        }
        EXPECT_TRUE(line.startsWith("<region> ")) << qPrintable(line);
        // sample= comes last and runs to the end of the line.
        const int sample = line.indexOf(" sample=");
        Opcodes opcodes{{"sample", line.mid(sample + 8)}};
        for (const QString& word : line.mid(9, sample - 9).split(' ')) {
            const QStringList pair = word.split('=');
            EXPECT_EQ(pair.size(), 2) << qPrintable(word);
            opcodes.insert(pair.value(0), pair.value(1));
        }
        regions.append(opcodes);
    }
    return regions;
}

Midi parseMidi(const QByteArray& b)
{
    // Format 0, one track, 480 ticks per quarter note.
    Midi midi;
    if (b.size() < 22)
        return midi;
    EXPECT_EQ(b.left(18), QByteArray("MThd\0\0\0\x06\0\0\0\x01\x01\xe0MTrk", 18));
    EXPECT_EQ(qFromBigEndian<quint32>(b.constData() + 18), quint32(b.size() - 22));
    int at = 22;
    const auto variable = [&]() {
        quint64 v = 0;
        while (at < b.size() && (b[at] & 0x80))
            v = (v << 7) | (b[at++] & 0x7F);
        return at < b.size() ? (v << 7) | quint8(b[at++]) : v;
    };
    quint64 tick = 0;
    while (at < b.size()) {
        tick += variable();
        const quint8 status = quint8(b[at++]);
        if (status == 0xFF) {
            const quint8 type = quint8(b[at++]);
            const QByteArray data = b.mid(at, int(variable()));
            at += data.size();
            if (type == 0x51)
                midi.tempo =
                    quint32(quint8(data[0])) << 16 | quint8(data[1]) << 8 | quint8(data[2]);
            else if (type == 0x58)
                midi.timeSignature = data;
            else if (type == 0x2F)
                midi.end = tick;
        } else if (status == 0x90) {
            midi.notes.append({tick, 0, b[at], b[at + 1]});
            at += 2;
        } else {
            EXPECT_EQ(status, 0x80);
            for (Note& note : midi.notes)
                note.off = note.key == b[at] && note.off == 0 ? tick : note.off;
            at += 2;
        }
    }
    return midi;
}

QMap<QByteArray, QByteArray> chunksOf(const QByteArray& file)
{
    QMap<QByteArray, QByteArray> chunks;
    for (int at = 12; at + 8 <= file.size();) {
        const quint32 size = qFromLittleEndian<quint32>(file.constData() + at + 4);
        if (!chunks.contains(file.mid(at, 4)))
            chunks.insert(file.mid(at, 4), file.mid(at + 8, int(size)));
        at += 8 + int(size + size % 2);
    }
    return chunks;
}

quint32 u32(const QByteArray& bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

} // namespace KitFiles
