#pragma once

#include "AudioExporter.h"

#include <QList>
#include <QString>
#include <QStringList>

// What an export wrote into a folder, and what it could not, told in one line
// for the status bar: "Wrote 16 slices, kit.sfz and kit.mid to ~/kits".
class ExportReport
{
public:
    explicit ExportReport(const QString& folder = QString()) : folder(folder) {}

    QString folder;
    // The audio pieces, counted as "slices" (or what noun names)...
    QStringList slices;
    QString noun = QStringLiteral("slice");
    // ...and the other files, named one by one.
    QStringList files;
    QList<AudioExporter::Failure> failed;

    bool wroteAll() const { return failed.isEmpty() && !(slices.isEmpty() && files.isEmpty()); }
    QString text() const;
    // The folder as the user knows it: the home folder as "~".
    static QString shownFolder(const QString& folder);
};
