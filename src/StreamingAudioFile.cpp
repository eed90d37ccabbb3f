#include "StreamingAudioFile.h"

#include "Align.h"
#include "Assert.h"
#include "AudioFile.h"
#include "StereoDownmix.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cstring>

StreamingAudioFile::StreamingAudioFile(const QString& fileName)
    : m_pFile(nullptr), m_fileName(fileName), m_length(0), m_pAudioBuffer(nullptr), m_position(0)
{
    std::memset(&m_info, 0, sizeof(m_info));
    m_pFile = sf_open(fileName.toUtf8().constData(), SFM_READ, &m_info);
    const bool opened = m_pFile && sf_format_check(&m_info);
    if (!opened) {
        qDebug() << "Error opening file" << fileName;
    } else if (!AudioFile::isSupportedRate(m_info.samplerate)) {
        qDebug() << "Error opening file" << fileName << "- its sample rate" << m_info.samplerate
                 << "Hz is outside" << AudioFile::kMinSampleRate << "to"
                 << AudioFile::kMaxSampleRate << "Hz";
    } else if (m_info.channels < 1 || m_info.channels > StereoDownmix::kMaxChannels) {
        qDebug() << "Error opening file" << fileName << "- it has" << m_info.channels << "channels";
    } else {
        // The length only tells playable from not: a header claiming more
        // than an int holds is still played until the data ends.
        m_length = static_cast<int>(std::min<sf_count_t>(m_info.frames, INT_MAX / m_info.channels) *
                                    m_info.channels);
    }
    if (m_length > 0 && m_info.channels > 2) {
        m_pDownmix.reset(new StereoDownmix(m_info.channels,
                                           StereoDownmix::positionsOf(m_pFile, m_info.channels)));
    }
    // Allocated here, never while playing: read() runs on the audio thread.
    // One piece of source frames, in however many channels the file has; a
    // refused file is never read, and its header's count is not to be trusted.
    const int channels = m_length > 0 ? std::max(m_info.channels, 2) : 2;
    const std::size_t floats = BufferSize / 2 * static_cast<std::size_t>(channels);
    m_pAudioBuffer = static_cast<float*>(AlignedMalloc(floats * sizeof(float), 16));
}

StreamingAudioFile::~StreamingAudioFile()
{
    if (m_pFile)
        sf_close(m_pFile);
    AlignedFree(m_pAudioBuffer);
}

void StreamingAudioFile::read(float* buffer, unsigned numSamples)
{
    TMB_ASSERT_TEXT(numSamples % 2 == 0, "numSamples % 2 == 0");
    if (m_length <= 0)
        return;

    // A whole-loop export can ask for far more than the scratch buffer holds,
    // so large requests go through it in pieces.
    while (numSamples > 0) {
        const unsigned piece = std::min(numSamples, BufferSize);
        const sf_count_t wanted = std::min<sf_count_t>(piece / 2, m_info.frames - m_position);
        if (wanted <= 0)
            return;
        const sf_count_t got = sf_readf_float(m_pFile, m_pAudioBuffer, wanted);
        if (got <= 0)
            return;
        m_position += got;
        const unsigned frames = static_cast<unsigned>(got);
        AudioFile::silenceNonFinite(m_pAudioBuffer,
                                    frames * static_cast<std::size_t>(m_info.channels));
        if (m_info.channels == 1) {
            for (unsigned i = 0; i < frames; ++i) {
                buffer[2 * i] += m_pAudioBuffer[i];
                buffer[2 * i + 1] += m_pAudioBuffer[i];
            }
        } else {
            if (m_pDownmix)
                m_pDownmix->process(m_pAudioBuffer, m_pAudioBuffer, frames);
            for (unsigned i = 0; i < 2 * frames; ++i)
                buffer[i] += m_pAudioBuffer[i];
        }
        // A short read is a read error or the end: leave the rest for next time.
        if (got < wanted)
            return;
        buffer += 2 * frames;
        numSamples -= piece;
    }
}
