#include "SampleQuantiser.h"

#include <cmath>

SampleQuantiser::SampleQuantiser(int bits)
    : m_shift(32 - bits), m_scale(std::ldexp(1.0, bits - 1)), m_max(m_scale - 1.0)
{
}

void SampleQuantiser::quantise(const float* in, int* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        double value = static_cast<double>(in[i]) * m_scale;
        if (std::isnan(value))
            value = 0.0;
        double step = std::nearbyint(value);
        if (step != value) {
            // The difference of two uniform values is triangular on (-1, 1).
            const double dither = nextUniform() - nextUniform();
            step = std::nearbyint(value + dither);
        }
        if (step > m_max)
            step = m_max;
        else if (step < -m_scale)
            step = -m_scale;
        out[i] = static_cast<int>(static_cast<unsigned>(static_cast<int>(step)) << m_shift);
    }
}

double SampleQuantiser::nextUniform()
{
    // xorshift64*: fast, and far longer than any file.
    m_state ^= m_state >> 12;
    m_state ^= m_state << 25;
    m_state ^= m_state >> 27;
    return static_cast<double>((m_state * 0x2545F4914F6CDD1Dull) >> 11) * 0x1.0p-53;
}
