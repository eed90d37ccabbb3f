#pragma once

#include <QString>

// How an exported file is written: its container, its sample format and its
// rate. The default is what slice files have always been: 16-bit WAV at
// 44.1 kHz.
struct ExportFormat
{
    enum class Container
    {
        Wav,
        Aiff,
        Flac
    };
    enum class Sample
    {
        Pcm16,
        Pcm24,
        Float32
    };
    // The working rate, or the rate of the audio being exported.
    enum class Rate
    {
        Standard,
        Source
    };

    static const int kStandardRate = 44100;

    Container container = Container::Wav;
    Sample sample = Sample::Pcm16;
    Rate rate = Rate::Standard;

    // A slice file as the export actions have always written it: 16-bit at
    // 44.1 kHz, AIFF when the name ends in ".aiff" or ".aif" (compared
    // case-sensitively), WAV otherwise.
    static ExportFormat forSliceFile(const QString& fileName);
    // The loop export: 32-bit float WAV at 44.1 kHz.
    static ExportFormat forLoopFile();

    // The libsndfile major format and sample type.
    int sndfileFormat() const;
    // Bits of an integer sample format; 0 for floating point.
    int integerBits() const;
    // The rate the file is written at, for audio at sourceRate. Audio without
    // a rate of its own (a take recorded in memory) is at the working rate.
    int outputRate(int sourceRate) const;
};
