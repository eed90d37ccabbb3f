#pragma once

#include <QList>
#include <QString>

class QFile;

// A slice template file (.tmst) as read: the markers as fractions of a loop's
// length and the slice points as fractions of the marker region, so one
// template fits loops of any length.
struct SliceTemplate
{
    // The file's root element and the format version it carries.
    static constexpr const char* kRoot = "slicetemplate";
    static constexpr const char* kVersion = "1";

    double startMarker = 0.0;
    double endMarker = 1.0;
    QList<double> points;

    // Reads and checks a whole file; false (and *error says why) when it is
    // not a valid template.
    static bool read(const QString& fileName, SliceTemplate* result, QString* error);
    // The same for a file the caller has opened for reading.
    static bool read(QFile& file, SliceTemplate* result, QString* error);
};
