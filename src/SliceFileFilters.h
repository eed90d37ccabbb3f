#pragma once

#include "ExportFormat.h"

#include <QCoreApplication>
#include <QString>

// The slice file containers as the save dialogs offer them, and the name a
// slice file is written under when the user typed none of their suffixes.
class SliceFileFilters
{
    Q_DECLARE_TR_FUNCTIONS(SliceFileFilters)
public:
    static QString wav();
    static QString aiff();
    static QString flac();
    // All three, for a dialog's filter list.
    static QString all();
    // The filter of the format's container, to select in a dialog first.
    static QString of(const ExportFormat& format);

    // A name with a suffix of its own (.wav, .aif, .aiff, .flac in any case)
    // keeps it, an AIFF one lowered so the file is what its name says;
    // another gets the suffix of the filter chosen, or of the preferred format.
    static QString withSuffix(const QString& fileName, const QString& selectedFilter,
                              const ExportFormat& preferred);
    // The suffix names are proposed with: the chosen slice file format's once
    // the user chose one, before that the loop's own container (AIFF loops
    // give AIFF slices, everything else WAV).
    static QString proposedSuffix(const QString& loopFile);
};
