#include "StreamingAudioFile.h"

#include "Align.h"
#include "Assert.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

StreamingAudioFile::StreamingAudioFile(const QString& fileName)
    : m_pFile(nullptr), m_fileName(fileName), m_length(0), m_pAudioBuffer(nullptr), m_position(0)
{
    std::memset(&m_info, 0, sizeof(m_info));
    // Allocated here, never while playing: read() runs on the audio thread.
    m_pAudioBuffer = static_cast<float*>(AlignedMalloc(BufferSize * sizeof(float), 16));
    m_pFile = sf_open(fileName.toUtf8().constData(), SFM_READ, &m_info);
    if (m_pFile && sf_format_check(&m_info))
        m_length = static_cast<int>(m_info.frames * m_info.channels);
    else
        qDebug() << "Error opening file" << fileName;
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
    if (m_length == 0)
        return;
    // More than two channels would need a mix-down nobody has asked for.
    if (m_info.channels > 2)
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
        if (m_info.channels == 1) {
            for (unsigned i = 0; i < frames; ++i) {
                buffer[2 * i] += m_pAudioBuffer[i];
                buffer[2 * i + 1] += m_pAudioBuffer[i];
            }
        } else {
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
