#include "SliceNaming.h"

#include <QDir>
#include <QFileInfo>

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
