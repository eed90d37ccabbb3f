#pragma once

#include <QtGlobal>

#include <cstddef>

// Reduces float samples to integer samples of a file's width (16 or 24 bits):
// rounded to the nearest step after triangular (TPDF) dither of one step
// either way, and clipped at full scale. Dither turns the rounding error into
// a constant, signal-independent hiss with no offset, instead of distortion
// that follows quiet signals and a DC shift.
//
// A sample that already lies on the target's grid (audio from a file of that
// width, digital silence) loses nothing and passes unchanged, so a 16-bit
// source exported at 16 bits stays bit for bit what it was.
class SampleQuantiser
{
public:
    explicit SampleQuantiser(int bits);

    // Writes count samples as 32-bit integers with the value in the top bits,
    // as libsndfile's integer write takes them.
    void quantise(const float* in, int* out, std::size_t count);

private:
    // Uniform in [0, 1).
    double nextUniform();

    int m_shift;
    double m_scale;
    double m_max;
    // A fixed seed: the same export gives the same file.
    quint64 m_state = 0x9E3779B97F4A7C15ull;
};
