#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

struct soxr;

// Converts interleaved stereo audio from one rate to another as it is pushed
// in, block by block, with a band-limited (linear-phase sinc) converter:
// libsoxr at its very high quality. The output is aligned with the input and
// comes to exactly the length asked for, however the input is divided into
// blocks: nothing drifts. Between equal rates the audio is handed on as it is.
class RateConverter
{
public:
    // Receives converted frames; returns false to stop the conversion.
    using Sink = std::function<bool(const float* samples, unsigned long frames)>;

    // outputFrames: the exact length that comes out, normally
    // convertedLength(input frames, inRate, outRate).
    RateConverter(int inRate, int outRate, quint64 outputFrames);
    ~RateConverter();
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // round(frames * outRate / inRate), halves rounded up.
    static quint64 convertedLength(quint64 frames, int inRate, int outRate);

    // False (with a reason) when the converter could not be set up.
    bool isValid() const;
    QString errorString() const;

    // Converts the frames and hands on what is ready; false when the sink
    // stopped the conversion or the converter failed.
    bool push(const float* samples, unsigned long frames, const Sink& sink);
    // After the last push: the converter's tail, then silence or a cut so
    // that exactly the output length has been handed on.
    bool finish(const Sink& sink);

private:
    // Hands on at most what is left of the output length.
    bool handOn(const float* samples, unsigned long frames, const Sink& sink);

    soxr* m_pSoxr = nullptr;
    QString m_error;
    quint64 m_outputFrames;
    quint64 m_emitted = 0;
    std::vector<float> m_out;
};
