#include "LinearPredictor.h"

#include <cmath>

namespace {

// Added to the stretch's power before solving, as if a faint white noise
// sounded along: it keeps the solution stable on near-pure tones and stops
// the predictor from claiming more than about 50 dB of foresight.
const double kWhiteNoise = 1e-5;

} // namespace

LinearPredictor::LinearPredictor(int order)
    : m_order(order), m_a(size_t(order) + 1, 0.0), m_r(size_t(order) + 1, 0.0),
      m_previous(size_t(order) + 1, 0.0)
{
    m_a[0] = 1.0;
}

void LinearPredictor::fit(const double* x, long count)
{
    m_used = 0;
    if (count <= 2 * m_order)
        return;
    m_windowed.resize(size_t(count));
    // The window's cosine by rotation: a call per sample would cost more than
    // the rest of the fit.
    const double step = 2.0 * M_PI / count;
    const double c = std::cos(step), s = std::sin(step);
    double re = std::cos(0.5 * step), im = std::sin(0.5 * step);
    for (long i = 0; i < count; ++i) {
        m_windowed[i] = x[i] * (0.5 - 0.5 * re);
        const double next = re * c - im * s;
        im = re * s + im * c;
        re = next;
    }
    for (int k = 0; k <= m_order; ++k) {
        double sum = 0.0;
        for (long i = k; i < count; ++i)
            sum += m_windowed[i] * m_windowed[i - k];
        m_r[k] = sum;
    }
    if (!(m_r[0] > 1e-20))
        return;
    m_r[0] *= 1.0 + kWhiteNoise;

    // Levinson-Durbin.
    double power = m_r[0];
    for (int i = 1; i <= m_order; ++i) {
        double acc = m_r[i];
        for (int j = 1; j < i; ++j)
            acc += m_a[j] * m_r[i - j];
        const double reflection = -acc / power;
        const double next = power * (1.0 - reflection * reflection);
        if (!(next > 0.0))
            return;
        for (int j = 1; j < i; ++j)
            m_previous[j] = m_a[j];
        for (int j = 1; j < i; ++j)
            m_a[j] = m_previous[j] + reflection * m_previous[i - j];
        m_a[i] = reflection;
        power = next;
        m_used = i;
    }
}
