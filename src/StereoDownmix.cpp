#include "StereoDownmix.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <QDebug>

#include <climits>
#include <cmath>

namespace {

// A native-order layout holds each channel once, in the order of its bits.
bool layoutFromPositions(const std::vector<int>& positions, AVChannelLayout* layout,
                         std::vector<int>* column)
{
    uint64_t mask = 0;
    for (int position : positions) {
        if (position < 0 || position >= 64 || (mask & (1ull << position)))
            return false;
        mask |= 1ull << position;
    }
    if (av_channel_layout_from_mask(layout, mask) < 0)
        return false;
    // The matrix has a column per channel in bit order; a source may list its
    // channels in another order (AIFF, CAF).
    for (std::size_t i = 0; i < positions.size(); ++i)
        (*column)[i] =
            av_channel_layout_index_from_channel(layout, static_cast<AVChannel>(positions[i]));
    return true;
}

} // namespace

StereoDownmix::StereoDownmix(int channels, const std::vector<int>& positions)
    : m_channels(channels), m_left(static_cast<std::size_t>(std::max(channels, 0)), 0.0f),
      m_right(m_left)
{
    if (channels < 1)
        return;
    std::vector<int> column(static_cast<std::size_t>(channels));
    for (int i = 0; i < channels; ++i)
        column[static_cast<std::size_t>(i)] = i;
    AVChannelLayout in{};
    if (static_cast<int>(positions.size()) != channels ||
        !layoutFromPositions(positions, &in, &column)) {
        av_channel_layout_uninit(&in);
        for (int i = 0; i < channels; ++i)
            column[static_cast<std::size_t>(i)] = i;
        av_channel_layout_default(&in, channels);
    }
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    // Sized as the library's own, a row for each of its channels: it reads
    // them all, though only two are written.
    std::vector<double> matrix(static_cast<std::size_t>(kMaxChannels) * kMaxChannels, 0.0);
    const bool built =
        channels <= kMaxChannels && in.order == AV_CHANNEL_ORDER_NATIVE &&
        swr_build_matrix2(&in, &stereo, M_SQRT1_2, M_SQRT1_2, 0.0, INT_MAX, 1.0, matrix.data(),
                          kMaxChannels, AV_MATRIX_ENCODING_NONE, nullptr) == 0;
    av_channel_layout_uninit(&in);
    if (!built) {
        qDebug() << "No known layout for" << channels << "channels: playing the first two";
        m_left[0] = 1.0f;
        m_right[channels > 1 ? 1 : 0] = 1.0f;
        return;
    }
    for (int i = 0; i < channels; ++i) {
        const int c = column[static_cast<std::size_t>(i)];
        m_left[static_cast<std::size_t>(i)] = static_cast<float>(matrix[c]);
        m_right[static_cast<std::size_t>(i)] = static_cast<float>(matrix[kMaxChannels + c]);
    }
}

std::vector<int> StereoDownmix::positionsOf(SNDFILE* file, int channels)
{
    int map[kMaxChannels] = {};
    if (channels < 1 || channels > kMaxChannels ||
        sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map, static_cast<int>(sizeof(int)) * channels) !=
            SF_TRUE)
        return {};
    std::vector<int> positions;
    for (int i = 0; i < channels; ++i) {
        AVChannel position = AV_CHAN_NONE;
        switch (map[i]) {
        case SF_CHANNEL_MAP_LEFT:
        case SF_CHANNEL_MAP_FRONT_LEFT:
            position = AV_CHAN_FRONT_LEFT;
            break;
        case SF_CHANNEL_MAP_RIGHT:
        case SF_CHANNEL_MAP_FRONT_RIGHT:
            position = AV_CHAN_FRONT_RIGHT;
            break;
        case SF_CHANNEL_MAP_CENTER:
        case SF_CHANNEL_MAP_FRONT_CENTER:
            position = AV_CHAN_FRONT_CENTER;
            break;
        case SF_CHANNEL_MAP_LFE:
            position = AV_CHAN_LOW_FREQUENCY;
            break;
        case SF_CHANNEL_MAP_REAR_LEFT:
            position = AV_CHAN_BACK_LEFT;
            break;
        case SF_CHANNEL_MAP_REAR_RIGHT:
            position = AV_CHAN_BACK_RIGHT;
            break;
        case SF_CHANNEL_MAP_REAR_CENTER:
            position = AV_CHAN_BACK_CENTER;
            break;
        case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
            position = AV_CHAN_FRONT_LEFT_OF_CENTER;
            break;
        case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
            position = AV_CHAN_FRONT_RIGHT_OF_CENTER;
            break;
        case SF_CHANNEL_MAP_SIDE_LEFT:
            position = AV_CHAN_SIDE_LEFT;
            break;
        case SF_CHANNEL_MAP_SIDE_RIGHT:
            position = AV_CHAN_SIDE_RIGHT;
            break;
        case SF_CHANNEL_MAP_TOP_CENTER:
            position = AV_CHAN_TOP_CENTER;
            break;
        case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
            position = AV_CHAN_TOP_FRONT_LEFT;
            break;
        case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
            position = AV_CHAN_TOP_FRONT_RIGHT;
            break;
        case SF_CHANNEL_MAP_TOP_FRONT_CENTER:
            position = AV_CHAN_TOP_FRONT_CENTER;
            break;
        case SF_CHANNEL_MAP_TOP_REAR_LEFT:
            position = AV_CHAN_TOP_BACK_LEFT;
            break;
        case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
            position = AV_CHAN_TOP_BACK_RIGHT;
            break;
        case SF_CHANNEL_MAP_TOP_REAR_CENTER:
            position = AV_CHAN_TOP_BACK_CENTER;
            break;
        default:
            return {};
        }
        positions.push_back(position);
    }
    return positions;
}

void StereoDownmix::process(const float* in, float* out, unsigned frames) const
{
    const std::size_t n = static_cast<std::size_t>(m_channels);
    for (unsigned f = 0; f < frames; ++f, in += n) {
        float left = 0.0f;
        float right = 0.0f;
        for (std::size_t c = 0; c < n; ++c) {
            left += m_left[c] * in[c];
            right += m_right[c] * in[c];
        }
        out[2 * f] = left;
        out[2 * f + 1] = right;
    }
}
