#pragma once

#include <vector>

// Predicts each sample of a signal from the few before it, with coefficients
// fitted to a stretch of it. What sounded there, the ringing of drums and
// tones of any kind, is then foreseen and drops out of the prediction error,
// while whatever starts anew cannot be foreseen and stands out in it.
class LinearPredictor
{
public:
    explicit LinearPredictor(int order);

    // Fits the coefficients to x[0, count) (autocorrelation method over a
    // Hann window, so the stretch's edges do not count as changes). Too short
    // or silent a stretch leaves a predictor that foresees nothing: its error
    // is then the signal itself.
    void fit(const double* x, long count);

    // The prediction error at x[0]; the order samples before it must exist.
    double error(const double* x) const
    {
        double e = x[0];
        for (int k = 1; k <= m_used; ++k)
            e += m_a[k] * x[-k];
        return e;
    }

private:
    int m_order;
    int m_used = 0;
    std::vector<double> m_a, m_r, m_previous, m_windowed;
};
