#pragma once

#include "AudioExporter.h"

#include <QCoreApplication>
#include <QList>
#include <QString>
#include <QStringList>

// The wording of what the window tells the user about files it wrote, could
// not write or could not use: one function per kind of message, each naming
// the file and, for a failure, the reason.
class FileMessages
{
    Q_DECLARE_TR_FUNCTIONS(FileMessages)
public:
    // Said of a write that failed where nothing more precise is known.
    static QString writeFailedReason();

    // fileName (a path) was not written.
    static QString notSaved(const QString& fileName, const QString& reason);
    // The files of one export that were written (paths), in order.
    static QString slicesSaved(const QStringList& written);
    // Of total numbered slice files formed from basePath, failed were not written.
    static QString slicesNotSaved(int failed, int total, const QString& basePath,
                                  const QString& reason);
    // An export found no audio between the markers.
    static QString noSlicesToSave();
    // Numbered files (names) that exist in folder and an export would replace.
    static QString replaceQuestion(const QStringList& existing, const QString& folder);

    // What an export could not write: the file and the reason, or for several
    // how many and the first reason.
    static QString filesNotSaved(const QList<AudioExporter::Failure>& failed);
    // Slices 1 to count went to pads 1 to count.
    static QString slicesSentToPads(int count);

    static QString templateApplied(const QString& fileName, int points);
    static QString templateNotApplied(const QString& fileName, const QString& reason);
    static QString templateSaved(const QString& fileName);
};
