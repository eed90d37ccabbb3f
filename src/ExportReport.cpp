#include "ExportReport.h"

#include <QDir>
#include <QFileInfo>

QString ExportReport::text() const
{
    QStringList items;
    if (slices.size() == 1)
        items.append(QStringLiteral("1 %1").arg(noun));
    else if (!slices.isEmpty())
        items.append(QStringLiteral("%1 %2s").arg(slices.size()).arg(noun));
    for (const QString& file : files)
        items.append(QFileInfo(file).fileName());

    const QString where = shownFolder(folder);
    QString text;
    if (items.isEmpty()) {
        text = QStringLiteral("Nothing written to %1").arg(where);
        if (!failed.isEmpty())
            return text + QStringLiteral(": ") + failed.first().reason;
        return text;
    }
    const QString last = items.takeLast();
    const QString all = items.isEmpty() ? last : items.join(QStringLiteral(", ")) + " and " + last;
    text = QStringLiteral("Wrote %1 to %2").arg(all, where);
    if (failed.size() == 1)
        text += QStringLiteral("; %1 not written: %2")
                    .arg(QFileInfo(failed.first().fileName).fileName(), failed.first().reason);
    else if (!failed.isEmpty())
        text += QStringLiteral("; %1 files not written: %2")
                    .arg(failed.size())
                    .arg(failed.first().reason);
    return text;
}

QString ExportReport::shownFolder(const QString& folder)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString home = QDir::cleanPath(QDir::homePath());
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')) && home != QLatin1String("/"))
        return QDir::toNativeSeparators(QStringLiteral("~") + path.mid(home.size()));
    return QDir::toNativeSeparators(path);
}
