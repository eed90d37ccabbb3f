#pragma once

#include <QByteArray>
#include <QString>

// Writes a whole small file (a kit's .sfz, a MIDI file) under a temporary name
// beside the target and renames it into place once complete, so a full disk
// or a crash never leaves a truncated file and never loses the one it replaces.
class AtomicFile
{
public:
    // False, with a reason for the user in error, when the file was not written.
    static bool write(const QString& fileName, const QByteArray& data, QString* error = nullptr);
};
