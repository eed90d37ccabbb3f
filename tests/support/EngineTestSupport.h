#pragma once

#include <QMap>
#include <QString>

#include <vector>

// Helpers for suites that build a whole SliceEngine.
namespace EngineTestSupport {

// Points the settings store at an empty data location below dir and fills it
// with values (nothing else), as on a first run.
void useFreshSettings(const QString& dir, const QMap<QString, QString>& values = {});

// Settings for an engine that renders only when a test calls render: no
// audio device that exists, no MIDI input.
QMap<QString, QString> silentDevices();

// Header and samples of a written audio file, as libsndfile reads them.
struct WrittenFile
{
    bool ok = false;
    int format = 0; // SF_FORMAT_* of the file
    int channels = 0;
    int rate = 0;
    long frames = 0;
    std::vector<float> samples; // interleaved, as floats
};
WrittenFile readWritten(const QString& path);

// The value a float sample reads back as after a 16-bit PCM round trip with
// clipping (exact for multiples of 1/32768 within range).
float pcm16(float value);

} // namespace EngineTestSupport
