#pragma once

#include "ExportFormat.h"

#include <QString>

// The format the user chose for slice files (Save Slices, Quick Export, the
// kits, slices sent to pads or dragged out, the command line), kept in the
// settings store. Unset, or set to anything not understood, it is what slice
// files have always been: 16-bit WAV at 44.1 kHz.
//
// The setting values are also the command line's words: "wav", "aiff" or
// "flac"; "16", "24" or "32f"; "44100" or "keep" (the loop's own rate).
class SliceFileFormat
{
public:
    static const char* const kContainerKey;
    static const char* const kSampleKey;
    static const char* const kRateKey;

    static ExportFormat fromSettings();
    static void toSettings(const ExportFormat& format);

    // For a name typed in a save dialog: the chosen format, in the container
    // the name's suffix asks for when it asks for one (.wav, .aif, .aiff,
    // .flac, in any case).
    static ExportFormat forFileName(const QString& fileName);
    // The suffix of files in the format, without the dot: "wav", "aif", "flac".
    static QString suffix(const ExportFormat& format);

    // False, leaving the value as it was, for a word that is not one of the above.
    static bool parseContainer(const QString& word, ExportFormat::Container* container);
    static bool parseSample(const QString& word, ExportFormat::Sample* sample);
    static bool parseRate(const QString& word, ExportFormat::Rate* rate);

    // FLAC holds integers only: a float choice becomes 24-bit there, the
    // most FLAC holds, rather than a file that cannot be written.
    static ExportFormat writable(ExportFormat format);
};
