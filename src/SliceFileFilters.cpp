#include "SliceFileFilters.h"

#include "Settings.h"
#include "SliceFileFormat.h"

#include <QFileInfo>

QString SliceFileFilters::wav()
{
    return tr("WAV files (*.wav)");
}

QString SliceFileFilters::aiff()
{
    return tr("AIFF files (*.aif *.aiff)");
}

QString SliceFileFilters::flac()
{
    return tr("FLAC files (*.flac)");
}

QString SliceFileFilters::all()
{
    return wav() + QStringLiteral(";;") + aiff() + QStringLiteral(";;") + flac();
}

QString SliceFileFilters::of(const ExportFormat& format)
{
    switch (format.container) {
    case ExportFormat::Container::Aiff:
        return aiff();
    case ExportFormat::Container::Flac:
        return flac();
    case ExportFormat::Container::Wav:
        break;
    }
    return wav();
}

QString SliceFileFilters::withSuffix(const QString& fileName, const QString& selectedFilter,
                                     const ExportFormat& preferred)
{
    const QString suffix = QFileInfo(fileName).suffix();
    const QString lower = suffix.toLower();
    if (lower == QLatin1String("aif") || lower == QLatin1String("aiff"))
        return fileName.left(fileName.size() - suffix.size()) + lower;
    ExportFormat::Container container;
    if (SliceFileFormat::parseContainer(lower, &container))
        return fileName;
    ExportFormat format = preferred;
    if (selectedFilter == aiff())
        format.container = ExportFormat::Container::Aiff;
    else if (selectedFilter == flac())
        format.container = ExportFormat::Container::Flac;
    else if (selectedFilter == wav())
        format.container = ExportFormat::Container::Wav;
    return fileName + QLatin1Char('.') + SliceFileFormat::suffix(format);
}

QString SliceFileFilters::proposedSuffix(const QString& loopFile)
{
    if (!Settings::instance()->getSetting(QLatin1String(SliceFileFormat::kContainerKey)).isEmpty())
        return SliceFileFormat::suffix(SliceFileFormat::fromSettings());
    const QString suffix = QFileInfo(loopFile).suffix().toLower();
    return (suffix == QLatin1String("aif") || suffix == QLatin1String("aiff"))
               ? QStringLiteral("aif")
               : QStringLiteral("wav");
}
