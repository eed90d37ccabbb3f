#pragma once

#include "ExportFormat.h"
#include "ExportReport.h"
#include "LoopSlices.h"

#include <QString>

class BankSampler;

// Hands a sliced loop to other software in open formats: the slices as the
// files of an .sfz instrument, the rhythm as a MIDI file, the loop as a WAV
// file that carries its slice markers. Slice files are written through the
// export path in the format given, converted as one stream, so their lengths
// are exact and add up to the loop. The tempo is the caller's: an estimate,
// or the one the user set.
class KitExporter
{
public:
    KitExporter(const LoopSlices& slices, const ExportFormat& format, double tempo);

    // <name>.sfz, and the slices beside it as <name>_<n>.<suffix> (the names
    // Save Slices gives) on keys 36 up; with the groove also <name>.mid.
    // Slices past key 127 are written but have no key.
    ExportReport writeKit(const QString& sfzPath, bool withGroove) const;
    // Every file writeKit writes for that many slices, to ask before any is
    // replaced: the slices in order, the .sfz, then the groove when asked for.
    static QStringList kitFiles(const QString& sfzPath, int sliceCount, const ExportFormat& format,
                                bool withGroove);
    // The MIDI file alone: one note per slice on the kit's keys.
    ExportReport writeGroove(const QString& midiPath) const;
    // The loop between the markers as a WAV file in the format's sample
    // format and rate, with a cue point and label per slice start, the whole
    // file as a forward loop, and the tempo and beats.
    ExportReport writeLoopWithMarkers(const QString& wavPath) const;

    // A kit of the pads that hold audio, each written beside the .sfz as
    // <name>_pad<n>.<suffix> on its pad's key, with the pad's transposition,
    // gain and choke group.
    static ExportReport writePadKit(BankSampler& pads, const QString& sfzPath,
                                    const ExportFormat& format, double tempo);
    // What writePadKit would write: the .sfz, then each loaded pad's file.
    static QStringList padKitFiles(BankSampler& pads, const QString& sfzPath,
                                   const ExportFormat& format);

private:
    // False, with the reason in the report, when there is nothing to write
    // or the tempo is none.
    bool canWrite(const QString& fileName, ExportReport* report) const;
    void writeGrooveInto(const QString& midiPath, ExportReport* report) const;

    LoopSlices m_slices;
    ExportFormat m_format;
    double m_tempo;
};
