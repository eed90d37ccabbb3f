#pragma once

#include <sndfile.h>

#include <vector>

// Mixes interleaved frames of three or more channels down to stereo, with the
// coefficients FFmpeg's resampler uses for float audio: ITU-R BS.775 for the
// layout, centre and surround channels at -3 dB, LFE left out, and no
// normalisation, so a full-scale front pair stays full scale and channels
// that carry the same signal add up only as the layout's matrix says.
//
// Applying it allocates nothing and takes no lock: the preview mixes on the
// audio thread.
class StereoDownmix
{
public:
    // The most channels a source may have.
    static constexpr int kMaxChannels = 64;

    // positions[i] is the FFmpeg channel (AVChannel) of source channel i.
    // Without positions, or with positions that do not name a layout (unknown
    // or repeated channels), the usual layout for the channel count is taken;
    // where FFmpeg knows none, the first two channels are left and right.
    explicit StereoDownmix(int channels, const std::vector<int>& positions = {});

    // The positions the channel map of a file opened with libsndfile names;
    // empty when it has none, or names a channel FFmpeg has no place for.
    static std::vector<int> positionsOf(SNDFILE* file, int channels);

    int getChannels() const { return m_channels; }
    // out (2 x frames) from in (channels x frames). out may be in itself: each
    // frame is read before its stereo pair is written, never beyond it.
    void process(const float* in, float* out, unsigned frames) const;

private:
    int m_channels;
    std::vector<float> m_left;
    std::vector<float> m_right;
};
