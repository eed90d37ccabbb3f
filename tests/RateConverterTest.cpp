#include "RateConverter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Converts the audio pushed in blocks of the given sizes, in turn.
std::vector<float> convert(const std::vector<float>& in, int inRate, int outRate,
                           const std::vector<unsigned long>& blocks)
{
    const unsigned long frames = in.size() / 2;
    RateConverter converter(inRate, outRate,
                            RateConverter::convertedLength(frames, inRate, outRate));
    std::vector<float> out;
    const RateConverter::Sink sink = [&out](const float* samples, unsigned long n) {
        out.insert(out.end(), samples, samples + 2 * n);
        return true;
    };
    for (unsigned long done = 0, i = 0; done < frames; ++i) {
        const unsigned long n = std::min(blocks[i % blocks.size()], frames - done);
        EXPECT_TRUE(converter.push(in.data() + 2 * done, n, sink));
        done += n;
    }
    EXPECT_TRUE(converter.finish(sink));
    return out;
}

TEST(RateConverterTest, LengthsAreExactAndBlockSizesChangeNothing)
{
    std::vector<float> in(2 * 30011);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(0.3 * std::sin(0.001 * static_cast<double>(i * i % 7919)));
    // Halves round up; equal rates copy exactly.
    EXPECT_EQ(RateConverter::convertedLength(3, 88200, 44100), 2u);
    EXPECT_EQ(RateConverter::convertedLength(132300, 44100, 44100), 132300u);
    EXPECT_EQ(convert(in, 44100, 44100, {7}), in);
    for (int rate : {8000, 22050, 44101, 48000, 96000, 192000}) {
        const std::vector<float> whole = convert(in, rate, 44100, {30011});
        ASSERT_EQ(whole.size() / 2, RateConverter::convertedLength(30011, rate, 44100)) << rate;
        EXPECT_EQ(convert(in, rate, 44100, {1, 511, 4096, 3}), whole) << rate;
    }
    RateConverter broken(0, 44100, 10);
    EXPECT_FALSE(broken.isValid());
    EXPECT_FALSE(broken.errorString().isEmpty());
}

} // namespace
