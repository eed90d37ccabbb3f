#include "AudioFormats.h"

#include <QFileInfo>

QStringList AudioFormats::suffixes()
{
    return {"wav", "aif", "aiff", "flac", "ogg", "oga", "opus", "mp3", "m4a"};
}

QString AudioFormats::openFilter()
{
    QStringList patterns;
    for (const QString& suffix : suffixes())
        patterns << "*." + suffix;
    return tr("Audio files (%1)").arg(patterns.join(' ')) + ";;" + tr("All files (*)");
}

bool AudioFormats::isAudioFileName(const QString& fileName)
{
    return suffixes().contains(QFileInfo(fileName).suffix().toLower());
}
