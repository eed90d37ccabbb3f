#include "SliceNaming.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Past this many tries the last candidate is proposed anyway; the user is
// asked before anything is replaced.
const int kMaxCandidates = 1000;

} // namespace

QString SliceNaming::stem(const QString& loopFile)
{
    QString stem = QFileInfo(loopFile).completeBaseName();
    stem.replace('.', '_');
    return stem.isEmpty() ? QStringLiteral("loop") : stem;
}

QString SliceNaming::numbered(const QString& basePath, int n)
{
    const QFileInfo info(basePath);
    return info.dir().filePath(
        QStringLiteral("%1_%2.%3").arg(info.baseName(), QString::number(n), info.completeSuffix()));
}

QStringList SliceNaming::existing(const QString& basePath, int count)
{
    QStringList names;
    for (int n = 1; n <= count; ++n) {
        const QFileInfo file(numbered(basePath, n));
        if (file.exists())
            names << file.fileName();
    }
    return names;
}

QString SliceNaming::unused(const QString& folder, const QString& stem, const QString& suffix,
                            int count)
{
    const QDir dir(folder);
    QString candidate;
    for (int n = 1; n <= kMaxCandidates; ++n) {
        const QString name = n == 1 ? stem : QStringLiteral("%1 %2").arg(stem).arg(n);
        candidate = dir.filePath(name + "." + suffix);
        if (existing(candidate, count).isEmpty())
            break;
    }
    return candidate;
}

QString SliceNaming::kit(const QString& folder, const QString& loopFile)
{
    return QDir(folder).filePath(stem(loopFile) + QStringLiteral(".sfz"));
}

QString SliceNaming::groove(const QString& folder, const QString& loopFile)
{
    return QDir(folder).filePath(stem(loopFile) + QStringLiteral(".mid"));
}

QString SliceNaming::markedLoop(const QString& folder, const QString& loopFile)
{
    return QDir(folder).filePath(stem(loopFile) + QStringLiteral("_markers.wav"));
}
