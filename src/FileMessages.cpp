#include "FileMessages.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A question lists this many names; the rest are counted.
const int kListedNames = 4;

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

QString FileMessages::writeFailedReason()
{
    return tr("it could not be written");
}

QString FileMessages::notSaved(const QString& fileName, const QString& reason)
{
    return tr("%1 was not saved: %2.").arg(native(fileName), reason);
}

QString FileMessages::slicesSaved(const QStringList& written)
{
    if (written.isEmpty())
        return QString();
    const QFileInfo first(written.first());
    if (written.size() == 1)
        return tr("%1 saved in %2.").arg(first.fileName(), native(first.absolutePath()));
    return tr("%1 slices saved in %2: %3 to %4.")
        .arg(written.size())
        .arg(native(first.absolutePath()), first.fileName(), QFileInfo(written.last()).fileName());
}

QString FileMessages::slicesNotSaved(int failed, int total, const QString& basePath,
                                     const QString& reason)
{
    return tr("%1 of %2 slices numbered after %3 were not saved: %4.")
        .arg(failed)
        .arg(total)
        .arg(native(basePath), reason);
}

QString FileMessages::noSlicesToSave()
{
    return tr("There is no audio between the markers to save.");
}

QString FileMessages::replaceQuestion(const QStringList& existing, const QString& folder)
{
    QStringList listed = existing.mid(0, kListedNames);
    if (existing.size() > kListedNames)
        listed << tr("%1 more").arg(existing.size() - kListedNames);
    if (existing.size() == 1)
        return tr("%1 already exists in %2. Replace it?").arg(existing.first(), native(folder));
    return tr("%1 already exist in %2. Replace them?")
        .arg(listed.join(QStringLiteral(", ")), native(folder));
}

QString FileMessages::filesNotSaved(const QList<AudioExporter::Failure>& failed)
{
    if (failed.isEmpty())
        return QString();
    const AudioExporter::Failure& first = failed.first();
    if (failed.size() == 1)
        return notSaved(first.fileName, first.reason);
    return tr("%1 files were not saved, among them %2: %3.")
        .arg(failed.size())
        .arg(native(first.fileName), first.reason);
}

QString FileMessages::slicesSentToPads(int count)
{
    if (count == 1)
        return tr("Slice 1 sent to pad 1.");
    return tr("Slices 1 to %1 sent to pads 1 to %1.").arg(count);
}

QString FileMessages::templateApplied(const QString& fileName, int points)
{
    const QString name = QFileInfo(fileName).fileName();
    if (points == 1)
        return tr("Slice template %1 applied: 1 slice point.").arg(name);
    return tr("Slice template %1 applied: %2 slice points.").arg(name).arg(points);
}

QString FileMessages::templateNotApplied(const QString& fileName, const QString& reason)
{
    return tr("The slice template %1 was not applied: %2.").arg(native(fileName), reason);
}

QString FileMessages::templateSaved(const QString& fileName)
{
    return tr("Slice template saved as %1.").arg(native(fileName));
}
