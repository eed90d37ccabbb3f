#pragma once

#include <QMap>
#include <QString>

#include <vector>

// Helpers for suites that build a whole SliceEngine.
namespace EngineTestSupport {

// Points the settings store at an empty data location below dir holding only values.
void useFreshSettings(const QString& dir, const QMap<QString, QString>& values = {});

// Settings for an engine that renders only when a test calls render.
QMap<QString, QString> silentDevices();

// Header and samples of a written audio file, as libsndfile reads them (empty: unreadable).
struct WrittenFile
{
    int format = 0; // SF_FORMAT_* of the file
    int rate = 0;
    long frames = 0;
    std::vector<float> samples; // interleaved
};
WrittenFile readWritten(const QString& path);

} // namespace EngineTestSupport
