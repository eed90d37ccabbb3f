#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Our own readers of what the kit, groove and marker exports write, so the
// tests check the files as another program would read them.
namespace KitFiles {

using Opcodes = QMap<QString, QString>;

// The header comments and each region's opcodes; anything else in the text fails.
QList<Opcodes> parseSfz(const QByteArray& text, QStringList* comments);

struct Note
{
    quint64 on, off;
    int key, velocity;
};

struct Midi
{
    quint32 tempo = 0;
    QByteArray timeSignature;
    QList<Note> notes;
    quint64 end = 0;
};

// A format 0 file of one track at 480 ticks per quarter note.
Midi parseMidi(const QByteArray& bytes);

// The chunks of a RIFF file by name (the first of each name).
QMap<QByteArray, QByteArray> chunksOf(const QByteArray& file);

quint32 u32(const QByteArray& bytes, int at);

} // namespace KitFiles
