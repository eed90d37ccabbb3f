#pragma once

#include <complex>
#include <vector>

// Power spectrum of a real block whose length is a power of two, through a
// complex transform of half the length. Tables are built once per size, so a
// transform allocates nothing.
class RealFft
{
public:
    // size: a power of two, at least 4.
    explicit RealFft(unsigned size);

    // power[k] = |X(k)|^2 for k = 0 .. size / 2; input holds size values.
    void powerSpectrum(const float* input, float* power);

private:
    void transform();

    unsigned m_size;
    unsigned m_half;
    std::vector<unsigned> m_bitReverse;
    // Twiddles of the half-size transform, stage after stage, each stage's
    // contiguous so its butterflies run as one vectorisable loop.
    std::vector<float> m_twiddleRe, m_twiddleIm;
    std::vector<std::complex<float>> m_split; // to untangle the packed result
    // Real and imaginary parts apart, for the same reason.
    std::vector<float> m_re, m_im;
};
