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
    m_twiddles.resize(m_half / 2 + 1);
    for (unsigned k = 0; k < m_twiddles.size(); ++k)
        m_twiddles[k] = std::polar(1.0f, float(-2.0 * M_PI * k / m_half));
    m_split.resize(m_half);
    for (unsigned k = 0; k < m_half; ++k)
        m_split[k] = std::polar(1.0f, float(-2.0 * M_PI * k / m_size));
    m_work.resize(m_half);
}

void RealFft::transform()
{
    std::complex<float>* a = m_work.data();
    for (unsigned len = 2; len <= m_half; len <<= 1) {
        const unsigned step = m_half / len;
        const unsigned halfLen = len / 2;
        for (unsigned i = 0; i < m_half; i += len) {
            for (unsigned j = 0; j < halfLen; ++j) {
                const std::complex<float> w = m_twiddles[j * step];
                const std::complex<float> u = a[i + j];
                const std::complex<float> v = a[i + j + halfLen];
                // Written out: the library's complex product checks for
                // infinities on every call, which costs more than the butterfly.
                const std::complex<float> t(v.real() * w.real() - v.imag() * w.imag(),
                                            v.real() * w.imag() + v.imag() * w.real());
                a[i + j] = u + t;
                a[i + j + halfLen] = u - t;
            }
        }
    }
}

void RealFft::powerSpectrum(const float* input, float* power)
{
    // Even samples as real parts, odd as imaginary: one half-size transform
    // gives both halves' spectra, which are then untangled.
    for (unsigned i = 0; i < m_half; ++i)
        m_work[m_bitReverse[i]] = std::complex<float>(input[2 * i], input[2 * i + 1]);
    transform();
    const std::complex<float>* z = m_work.data();
    power[0] = (z[0].real() + z[0].imag()) * (z[0].real() + z[0].imag());
    power[m_half] = (z[0].real() - z[0].imag()) * (z[0].real() - z[0].imag());
    for (unsigned k = 1; k < m_half; ++k) {
        const std::complex<float> a = z[k];
        const std::complex<float> b = std::conj(z[m_half - k]);
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
