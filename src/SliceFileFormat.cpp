#include "SliceFileFormat.h"

#include "Settings.h"

#include <QDebug>
#include <QFileInfo>

const char* const SliceFileFormat::kContainerKey = "SliceFileContainer";
const char* const SliceFileFormat::kSampleKey = "SliceFileSample";
const char* const SliceFileFormat::kRateKey = "SliceFileRate";

namespace {

template <typename T> struct Word
{
    const char* word;
    T value;
};

const Word<ExportFormat::Container> kContainers[] = {{"wav", ExportFormat::Container::Wav},
                                                     {"aiff", ExportFormat::Container::Aiff},
                                                     {"aif", ExportFormat::Container::Aiff},
                                                     {"flac", ExportFormat::Container::Flac}};
const Word<ExportFormat::Sample> kSamples[] = {{"16", ExportFormat::Sample::Pcm16},
                                               {"24", ExportFormat::Sample::Pcm24},
                                               {"32f", ExportFormat::Sample::Float32}};
const Word<ExportFormat::Rate> kRates[] = {{"44100", ExportFormat::Rate::Standard},
                                           {"keep", ExportFormat::Rate::Source}};

template <typename T, size_t N> bool parse(const Word<T> (&words)[N], const QString& word, T* value)
{
    const QString wanted = word.trimmed().toLower();
    for (const Word<T>& w : words) {
        if (wanted == QLatin1String(w.word)) {
            *value = w.value;
            return true;
        }
    }
    return false;
}

template <typename T, size_t N> QString wordOf(const Word<T> (&words)[N], T value)
{
    for (const Word<T>& w : words)
        if (w.value == value)
            return QLatin1String(w.word);
    return QLatin1String(words[0].word);
}

// An edited or damaged settings file must not make exports fail: a value not
// understood is the default, said once in the log.
template <typename T, size_t N>
void readSetting(const char* key, const Word<T> (&words)[N], T* value)
{
    const QString stored = Settings::instance()->getSetting(QLatin1String(key));
    if (!stored.isEmpty() && !parse(words, stored, value))
        qDebug() << "Ignoring setting" << key << stored << "(not one of the choices)";
}

} // namespace

ExportFormat SliceFileFormat::fromSettings()
{
    return forFileName(QString());
}

void SliceFileFormat::toSettings(const ExportFormat& format)
{
    Settings* settings = Settings::instance();
    settings->setSetting(QLatin1String(kContainerKey), wordOf(kContainers, format.container));
    settings->setSetting(QLatin1String(kSampleKey), wordOf(kSamples, format.sample));
    settings->setSetting(QLatin1String(kRateKey), wordOf(kRates, format.rate));
}

ExportFormat SliceFileFormat::forFileName(const QString& fileName)
{
    ExportFormat format;
    readSetting(kContainerKey, kContainers, &format.container);
    readSetting(kSampleKey, kSamples, &format.sample);
    readSetting(kRateKey, kRates, &format.rate);
    parse(kContainers, QFileInfo(fileName).suffix(), &format.container);
    return writable(format);
}

QString SliceFileFormat::suffix(const ExportFormat& format)
{
    switch (format.container) {
    case ExportFormat::Container::Aiff:
        return QStringLiteral("aif");
    case ExportFormat::Container::Flac:
        return QStringLiteral("flac");
    case ExportFormat::Container::Wav:
        break;
    }
    return QStringLiteral("wav");
}

bool SliceFileFormat::parseContainer(const QString& word, ExportFormat::Container* container)
{
    return parse(kContainers, word, container);
}

bool SliceFileFormat::parseSample(const QString& word, ExportFormat::Sample* sample)
{
    return parse(kSamples, word, sample);
}

bool SliceFileFormat::parseRate(const QString& word, ExportFormat::Rate* rate)
{
    return parse(kRates, word, rate);
}

ExportFormat SliceFileFormat::writable(ExportFormat format)
{
    if (format.container == ExportFormat::Container::Flac &&
        format.sample == ExportFormat::Sample::Float32)
        format.sample = ExportFormat::Sample::Pcm24;
    return format;
}
