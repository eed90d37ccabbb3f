#pragma once

#include <QString>

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
};
