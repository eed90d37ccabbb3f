#include "UserSliceFiles.h"

#include "LoopSlices.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceFileFormat.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

const char* const UserSliceFiles::kPadsFolder = "pads";
const char* const UserSliceFiles::kDragFolder = "dragged";

namespace {
// Names tried before giving up on a folder.
const int kMaxTries = 100000;
} // namespace

QString UserSliceFiles::folder(const char* name)
{
    const QDir dir(QFileInfo(Settings::instance()->getFilePath()).absolutePath() + "/" +
                   QLatin1String(name));
    if (!dir.mkpath(QStringLiteral("."))) {
        qDebug() << "Could not create the folder" << dir.absolutePath();
        return QString();
    }
    return dir.absolutePath();
}

QString UserSliceFiles::claimName(const QString& folder, const QString& base, const QString& suffix)
{
    const QDir dir(folder);
    for (int n = 1; n <= kMaxTries; ++n) {
        const QString name =
            dir.filePath(n == 1 ? QStringLiteral("%1.%2").arg(base, suffix)
                                : QStringLiteral("%1-%2.%3").arg(base).arg(n).arg(suffix));
        QFile file(name);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return name;
        if (!file.exists()) {
            qDebug() << "Could not create" << name << file.errorString();
            return QString();
        }
    }
    qDebug() << "No free name for" << base << "in" << folder;
    return QString();
}

QStringList UserSliceFiles::writeSlices(const LoopSlices& slices, int first, int count,
                                        const char* folderName, const ExportFormat& format,
                                        QList<AudioExporter::Failure>* failed)
{
    count = std::min(count, slices.count() - first);
    if (first < 0 || count <= 0)
        return QStringList();
    const QString dir = folder(folderName);
    QStringList names;
    for (int i = first; i < first + count && !dir.isEmpty(); ++i) {
        const QString base = QStringLiteral("%1_%2").arg(slices.loopName()).arg(i + 1);
        const QString name = claimName(dir, base, SliceFileFormat::suffix(format));
        if (name.isEmpty())
            break;
        names.append(name);
    }
    // Names are not taken only when the folder cannot be written to: then
    // nothing can be.
    if (names.size() < count) {
        for (const QString& name : qAsConst(names))
            QFile::remove(name);
        if (failed)
            failed->append({dir.isEmpty() ? QLatin1String(folderName) : dir,
                            QStringLiteral("cannot create files in the folder")});
        return QStringList();
    }
    const QList<quint32> bounds = slices.bounds().mid(first, count + 1);
    const QStringList written = slices.loop()->saveRanges(bounds, names, format, failed);
    QStringList files;
    for (const QString& name : qAsConst(names)) {
        if (written.contains(name)) {
            files.append(name);
        } else {
            QFile::remove(name); // the empty file that held the name
            files.append(QString());
        }
    }
    return files;
}

QString UserSliceFiles::writeSlice(Kerfer* kerfer, unsigned long startSample,
                                   const char* folderName, const ExportFormat& format,
                                   QString* error)
{
    const LoopSlices slices(kerfer);
    // A start before the start marker is the first slice, as when it is saved.
    const int index =
        slices.isEmpty()
            ? -1
            : slices.indexAt(std::max<unsigned long>(startSample, slices.bounds().first()));
    if (index < 0) {
        qDebug() << "No slice at" << startSample;
        if (error)
            *error = QStringLiteral("no slice there");
        return QString();
    }
    QList<AudioExporter::Failure> failed;
    const QString file = writeSlices(slices, index, 1, folderName, format, &failed).value(0);
    if (file.isEmpty() && error && !failed.isEmpty())
        *error = failed.first().reason;
    return file;
}
