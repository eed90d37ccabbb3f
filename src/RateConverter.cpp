#include "RateConverter.h"

#include <soxr.h>

#include <algorithm>

namespace {
// Frames of output taken from the converter per call.
const unsigned long kOutFrames = 4096;
} // namespace

RateConverter::RateConverter(int inRate, int outRate, quint64 outputFrames)
    : m_outputFrames(outputFrames)
{
    if (inRate <= 0 || outRate <= 0) {
        m_error = QStringLiteral("invalid sample rate %1 Hz to %2 Hz").arg(inRate).arg(outRate);
        return;
    }
    if (inRate == outRate)
        return;
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, SOXR_LINEAR_PHASE);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    m_pSoxr = soxr_create(inRate, outRate, 2, &error, &io, &quality, &runtime);
    if (!m_pSoxr) {
        m_error = QStringLiteral("cannot convert the sample rate: %1")
                      .arg(QString::fromUtf8(soxr_strerror(error)));
        return;
    }
    m_out.resize(2 * kOutFrames);
}

RateConverter::~RateConverter()
{
    if (m_pSoxr)
        soxr_delete(m_pSoxr);
}

quint64 RateConverter::convertedLength(quint64 frames, int inRate, int outRate)
{
    if (inRate <= 0 || outRate <= 0 || inRate == outRate)
        return frames;
    // In 128 bits: a 32-bit sample count times a rate overflows nothing here.
    const unsigned __int128 twice =
        static_cast<unsigned __int128>(frames) * 2u * static_cast<unsigned>(outRate) +
        static_cast<unsigned>(inRate);
    return static_cast<quint64>(twice / (2u * static_cast<unsigned>(inRate)));
}

bool RateConverter::isValid() const
{
    return m_error.isEmpty();
}

QString RateConverter::errorString() const
{
    return m_error;
}

bool RateConverter::push(const float* samples, unsigned long frames, const Sink& sink)
{
    if (!isValid())
        return false;
    if (!m_pSoxr)
        return handOn(samples, frames, sink);
    while (frames > 0) {
        size_t used = 0;
        size_t made = 0;
        const soxr_error_t error =
            soxr_process(m_pSoxr, samples, frames, &used, m_out.data(), kOutFrames, &made);
        if (error) {
            m_error = QString::fromUtf8(error);
            return false;
        }
        if (!handOn(m_out.data(), made, sink))
            return false;
        samples += 2 * used;
        frames -= used;
    }
    return true;
}

bool RateConverter::finish(const Sink& sink)
{
    if (!isValid())
        return false;
    if (m_pSoxr) {
        // No input: the converter lets out what its filter still holds.
        while (m_emitted < m_outputFrames) {
            size_t made = 0;
            const soxr_error_t error =
                soxr_process(m_pSoxr, nullptr, 0, nullptr, m_out.data(), kOutFrames, &made);
            if (error) {
                m_error = QString::fromUtf8(error);
                return false;
            }
            if (made == 0)
                break;
            if (!handOn(m_out.data(), made, sink))
                return false;
        }
    }
    // Short of the length by the rounding of the last frame at most.
    if (m_emitted < m_outputFrames) {
        std::vector<float> silence(2 * std::min<quint64>(m_outputFrames - m_emitted, kOutFrames));
        while (m_emitted < m_outputFrames) {
            if (!handOn(silence.data(), silence.size() / 2, sink))
                return false;
        }
    }
    return true;
}

bool RateConverter::handOn(const float* samples, unsigned long frames, const Sink& sink)
{
    const unsigned long n =
        static_cast<unsigned long>(std::min<quint64>(frames, m_outputFrames - m_emitted));
    if (n == 0)
        return true;
    m_emitted += n;
    return sink(samples, n);
}
