#include "RealFft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

TEST(RealFftTest, PowerSpectrumMatchesTheDirectTransform)
{
    for (unsigned size : {8u, 512u}) {
        std::vector<float> input(size);
        for (unsigned i = 0; i < size; ++i)
            input[i] = float(0.7 * std::sin(2 * M_PI * 3 * i / size + 0.4) +
                             0.2 * std::cos(2 * M_PI * i * (size / 2 - 1) / size) +
                             0.05 * ((i * 7919) % 13) / 13.0);
        RealFft fft(size);
        std::vector<float> power(size / 2 + 1);
        fft.powerSpectrum(input.data(), power.data());
        for (unsigned k = 0; k <= size / 2; ++k) {
            double re = 0, im = 0;
            for (unsigned i = 0; i < size; ++i) {
                re += input[i] * std::cos(2 * M_PI * k * i / size);
                im -= input[i] * std::sin(2 * M_PI * k * i / size);
            }
            EXPECT_NEAR(power[k], re * re + im * im, 1e-3 * (1 + re * re + im * im))
                << size << " " << k;
        }
    }
}
