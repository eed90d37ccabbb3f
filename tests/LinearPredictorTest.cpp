#include "LinearPredictor.h"

#include "TestAudio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

double energy(const LinearPredictor& p, const std::vector<double>& x, long from, long to)
{
    double sum = 0.0;
    for (long i = from; i < to; ++i)
        sum += p.error(&x[i]) * p.error(&x[i]);
    return sum;
}

} // namespace

TEST(LinearPredictorTest, ForeseesWhatRingsOnButNotWhatStartsAnew)
{
    // Two decaying tones, then a click of noise on top of them.
    const int rate = 44100;
    std::vector<double> x(4410);
    TestAudio::Noise noise(3);
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = double(i) / rate;
        x[i] = std::exp(-t / 0.05) *
               (0.5 * std::sin(2 * M_PI * 80 * t) + 0.3 * std::sin(2 * M_PI * 1234 * t));
        const double n = noise();
        if (i >= 3000 && i < 3100)
            x[i] += 0.01 * n;
    }
    LinearPredictor p(16);
    p.fit(x.data(), 2000);
    double signal = 0.0;
    for (long i = 2000; i < 2100; ++i)
        signal += x[i] * x[i];
    // The tones alone: foreseen to far below their power, also after the stretch fitted.
    EXPECT_LT(energy(p, x, 2000, 2100), 1e-4 * signal);
    // The click, 40 dB under the tones, stands out of the error by far.
    EXPECT_GT(energy(p, x, 3000, 3100), 100 * energy(p, x, 2900, 3000));

    // Silence or too short a stretch foresees nothing: the error is the signal.
    std::vector<double> silence(100, 0.0);
    p.fit(silence.data(), 100);
    EXPECT_EQ(p.error(&x[3000]), x[3000]);
    p.fit(x.data(), 20);
    EXPECT_EQ(p.error(&x[3000]), x[3000]);
}
