#include "RealFft.h"

#include "Assert.h"

#include <cmath>

RealFft::RealFft(unsigned size) : m_size(size), m_half(size / 2)
{
    TMB_ASSERT(size >= 4 && (size & (size - 1)) == 0);
    unsigned bits = 0;
    while ((1u << bits) < m_half)
        ++bits;
    m_bitReverse.resize(m_half);
    for (unsigned i = 0; i < m_half; ++i) {
        unsigned r = 0;
        for (unsigned b = 0; b < bits; ++b)
            r |= ((i >> b) & 1u) << (bits - 1 - b);
        m_bitReverse[i] = r;
    }
    for (unsigned len = 2; len <= m_half; len <<= 1)
        for (unsigned j = 0; j < len / 2; ++j) {
            const double angle = -2.0 * M_PI * j / len;
            m_twiddleRe.push_back(float(std::cos(angle)));
            m_twiddleIm.push_back(float(std::sin(angle)));
        }
    m_split.resize(m_half);
    for (unsigned k = 0; k < m_half; ++k)
        m_split[k] = std::polar(1.0f, float(-2.0 * M_PI * k / m_size));
    m_re.resize(m_half);
    m_im.resize(m_half);
}

void RealFft::transform()
{
    float* re = m_re.data();
    float* im = m_im.data();
    const float* twiddleRe = m_twiddleRe.data();
    const float* twiddleIm = m_twiddleIm.data();
    for (unsigned len = 2; len <= m_half; len <<= 1) {
        const unsigned halfLen = len / 2;
        for (unsigned i = 0; i < m_half; i += len) {
            float* ur = re + i;
            float* ui = im + i;
            float* vr = re + i + halfLen;
            float* vi = im + i + halfLen;
            for (unsigned j = 0; j < halfLen; ++j) {
                const float tr = vr[j] * twiddleRe[j] - vi[j] * twiddleIm[j];
                const float ti = vr[j] * twiddleIm[j] + vi[j] * twiddleRe[j];
                vr[j] = ur[j] - tr;
                vi[j] = ui[j] - ti;
                ur[j] += tr;
                ui[j] += ti;
            }
        }
        twiddleRe += halfLen;
        twiddleIm += halfLen;
    }
}

void RealFft::powerSpectrum(const float* input, float* power)
{
    // Even samples as real parts, odd as imaginary: one half-size transform
    // gives both halves' spectra, which are then untangled.
    for (unsigned i = 0; i < m_half; ++i) {
        m_re[m_bitReverse[i]] = input[2 * i];
        m_im[m_bitReverse[i]] = input[2 * i + 1];
    }
    transform();
    const float* re = m_re.data();
    const float* im = m_im.data();
    power[0] = (re[0] + im[0]) * (re[0] + im[0]);
    power[m_half] = (re[0] - im[0]) * (re[0] - im[0]);
    for (unsigned k = 1; k < m_half; ++k) {
        const std::complex<float> a(re[k], im[k]);
        const std::complex<float> b(re[m_half - k], -im[m_half - k]);
        const std::complex<float> even = 0.5f * (a + b);
        const std::complex<float> d = 0.5f * (a - b);
        // odd = -i * d; X = even + w * odd
        const std::complex<float> odd(d.imag(), -d.real());
        const std::complex<float> w = m_split[k];
        const float re = even.real() + w.real() * odd.real() - w.imag() * odd.imag();
        const float im = even.imag() + w.real() * odd.imag() + w.imag() * odd.real();
        power[k] = re * re + im * im;
    }
}
