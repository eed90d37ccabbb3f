#pragma once

#include <QString>
#include <QStringList>

// The names slices are written under, shared by every way of writing them
// (the window's Save Slices and Quick Export, the command-line slicer).
class SliceNaming
{
public:
    // The loop file's name without its suffix, fit to be the stem of numbered
    // names: dots become underscores (the numbering takes everything after
    // the first dot as suffix), and a name with nothing left becomes "loop".
    static QString stem(const QString& loopFile);
    // "<base>_<n>.<suffix>" beside basePath: the base is its name up to the
    // first dot, the suffix everything after it (my.beat.wav gives
    // my_1.beat.wav).
    static QString numbered(const QString& basePath, int n);
    // The file names (without folder) of the first count numbered files that exist.
    static QStringList existing(const QString& basePath, int count);
    // "<stem>.<suffix>" in folder, or "<stem> 2.<suffix>", "<stem> 3.<suffix>"...:
    // the first whose count numbered files do not exist yet, so that the window
    // can propose a base whose files are all new.
    static QString unused(const QString& folder, const QString& stem, const QString& suffix,
                          int count);

    // What the loop's kit, groove and marked loop are called in folder:
    // "<stem>.sfz" (its slices numbered beside it as above), "<stem>.mid" and
    // "<stem>_markers.wav".
    static QString kit(const QString& folder, const QString& loopFile);
    static QString groove(const QString& folder, const QString& loopFile);
    static QString markedLoop(const QString& folder, const QString& loopFile);
};
