#include "ExportFormat.h"

#include <sndfile.h>

ExportFormat ExportFormat::forSliceFile(const QString& fileName)
{
    ExportFormat format;
    if (fileName.endsWith(QLatin1String(".aiff")) || fileName.endsWith(QLatin1String(".aif")))
        format.container = Container::Aiff;
    return format;
}

ExportFormat ExportFormat::forLoopFile()
{
    ExportFormat format;
    format.sample = Sample::Float32;
    return format;
}

int ExportFormat::sndfileFormat() const
{
    int major = SF_FORMAT_WAV;
    if (container == Container::Aiff)
        major = SF_FORMAT_AIFF;
    else if (container == Container::Flac)
        major = SF_FORMAT_FLAC;
    int type = SF_FORMAT_PCM_16;
    if (sample == Sample::Pcm24)
        type = SF_FORMAT_PCM_24;
    else if (sample == Sample::Float32)
        type = SF_FORMAT_FLOAT;
    return major | type;
}

int ExportFormat::integerBits() const
{
    switch (sample) {
    case Sample::Pcm16:
        return 16;
    case Sample::Pcm24:
        return 24;
    case Sample::Float32:
        break;
    }
    return 0;
}

int ExportFormat::outputRate(int sourceRate) const
{
    return rate == Rate::Source && sourceRate > 0 ? sourceRate : kStandardRate;
}
