#pragma once

#include <QString>
#include <QStringList>

// The names of the numbered files a slice export writes beside a base path,
// so that the window can propose a base whose files are all new and ask
// before any that exist are replaced.
class SliceFileNames
{
public:
    // Slice number (counting from 1) of basePath: the name up to its first dot,
    // "_" and the number, then the rest ("kit.wav" gives kit_3.wav,
    // "my.beat.wav" gives my_3.beat.wav), in basePath's folder.
    static QString numbered(const QString& basePath, int number);
    // The file names (without folder) of the first count numbered files that exist.
    static QStringList existing(const QString& basePath, int count);
    // "<stem>.<suffix>" in folder, or "<stem> 2.<suffix>", "<stem> 3.<suffix>"...:
    // the first whose count numbered files do not exist yet.
    static QString unused(const QString& folder, const QString& stem, const QString& suffix,
                          int count);
};
