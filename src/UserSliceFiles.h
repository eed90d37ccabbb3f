#pragma once

#include "AudioExporter.h"
#include "ExportFormat.h"

#include <QList>
#include <QString>
#include <QStringList>

class Kerfer;
class LoopSlices;

// Slice files the program keeps for itself below the per-user data folder:
// those sent to pads ("pads") and those dragged out of the window ("dragged").
// A pad refers to its file by name, in saved projects too, and so may the
// program a slice was dragged into: no file there is ever replaced, each
// write takes a name not used yet ("<loop>_<n>", then "-2", "-3", ...).
class UserSliceFiles
{
public:
    static const char* const kPadsFolder;
    static const char* const kDragFolder;

    // The folder below the per-user data location, made when missing; empty
    // when it cannot be.
    static QString folder(const char* name);
    // "<base>.<suffix>" in the folder, else "<base>-2.<suffix>", -3, ...: the
    // first name no file has, claimed by creating the file empty, so that
    // two windows never take the same one. Empty when none could be.
    static QString claimName(const QString& folder, const QString& base, const QString& suffix);

    // Writes count slices from the first-th on as "<loop>_<n>", n the slice's
    // number, into the named folder, converted as one stream as Save Slices
    // does. One entry per slice: its file, or empty when it was not written
    // (the reason in failed).
    static QStringList writeSlices(const LoopSlices& slices, int first, int count,
                                   const char* folderName, const ExportFormat& format,
                                   QList<AudioExporter::Failure>* failed = nullptr);
    // The slice of the loop that begins at startSample, written alone (to
    // drag it out, or send it to a pad). Its file, or empty with the reason
    // in error.
    static QString writeSlice(Kerfer* kerfer, unsigned long startSample, const char* folderName,
                              const ExportFormat& format, QString* error = nullptr);
};
