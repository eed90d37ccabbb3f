#include "AudioFileSndFile.h"

#include "Assert.h"
#include "StereoDownmix.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

AudioFileSndFile::AudioFileSndFile(const QString& filename) : m_filename(filename)
{
    std::memset(&m_info, 0, sizeof(m_info));
    m_pSndFile = sf_open(filename.toUtf8().constData(), SFM_READ, &m_info);
    const QString quoted = QStringLiteral("\"%1\"").arg(filename);
    if (m_pSndFile == nullptr || !sf_format_check(&m_info))
        qDebug().noquote() << "Error opening file" << quoted;
    QString refusal;
    if (m_pSndFile != nullptr) {
        if (!isSupportedRate(m_info.samplerate))
            refusal = QStringLiteral("its sample rate %1 Hz is outside %2 to %3 Hz")
                          .arg(m_info.samplerate)
                          .arg(kMinSampleRate)
                          .arg(kMaxSampleRate);
        else if (m_info.channels < 1 || m_info.channels > StereoDownmix::kMaxChannels)
            refusal = QStringLiteral("it has %1 channels").arg(m_info.channels);
        else if (m_info.frames < 0 || static_cast<sf_count_t>(kMaxLength / 2) < m_info.frames)
            refusal = QStringLiteral("longer than %1 frames, the most a loop may have")
                          .arg(kMaxLength / 2);
    }
    // The header's count is checked by reading the file once, as the decoder
    // reader does: libsndfile takes it from the header for compressed formats,
    // and may deliver less than it says even for PCM.
    if (refusal.isEmpty() && m_pSndFile != nullptr)
        m_info.frames = countFrames();
    if (!refusal.isEmpty())
        qDebug().noquote() << "Error opening file" << quoted << "-" << refusal;
    // What a failed sf_open leaves in the information is not ours to trust.
    if (m_pSndFile == nullptr || !refusal.isEmpty()) {
        if (m_pSndFile)
            sf_close(m_pSndFile);
        m_pSndFile = nullptr;
        std::memset(&m_info, 0, sizeof(m_info));
    }
    if (m_info.channels > 2) {
        m_pDownmix.reset(new StereoDownmix(
            m_info.channels, StereoDownmix::positionsOf(m_pSndFile, m_info.channels)));
        m_scratch.resize(TMB_AUDIOFILE_BUFFER_SIZE / TMB_FRAMESIZE *
                         static_cast<std::size_t>(m_info.channels));
    }
    m_length = 2 * static_cast<unsigned long>(m_info.frames);
    m_sampleRate = m_info.samplerate;
    qDebug() << "fileLength:" << m_length;
    qDebug() << "channels:" << m_info.channels;
    qDebug() << "fileLength after load:" << m_length << "samples";
}

sf_count_t AudioFileSndFile::countFrames()
{
    // In the blocks the cache reads: where a damaged file loses audio depends
    // on them.
    const sf_count_t blockFrames = TMB_AUDIOFILE_BUFFER_SIZE / 2 / TMB_FRAMESIZE;
    std::vector<float> block(static_cast<std::size_t>(blockFrames) * m_info.channels);
    sf_count_t frames = 0;
    for (sf_count_t got; frames < m_info.frames &&
                         (got = sf_readf_float(m_pSndFile, block.data(), blockFrames)) > 0;)
        frames += got;
    // Opened again rather than sought: libsndfile's decoders do not all come
    // back to the same state.
    sf_close(m_pSndFile);
    SF_INFO info;
    std::memset(&info, 0, sizeof(info));
    m_pSndFile = sf_open(m_filename.toUtf8().constData(), SFM_READ, &info);
    return m_pSndFile ? std::min(frames, m_info.frames) : 0;
}

AudioFileSndFile::~AudioFileSndFile()
{
    if (m_pSndFile)
        sf_close(m_pSndFile);
}

unsigned long AudioFileSndFile::getLength()
{
    return m_length;
}

int AudioFileSndFile::getSampleRate()
{
    return m_sampleRate;
}

unsigned AudioFileSndFile::read(float* buffer, unsigned numSamples)
{
    TMB_ASSERT_TEXT(numSamples < TMB_AUDIOFILE_BUFFER_SIZE,
                    "numSamples < TMB_AUDIOFILE_BUFFER_SIZE");
    TMB_ASSERT_TEXT(numSamples % TMB_FRAMESIZE == 0, "numSamples % TMB_FRAMESIZE == 0");
    if (m_length == 0 || m_pSndFile == nullptr)
        return 0;

    const unsigned long consumed = 2 * m_position;
    if (consumed + numSamples > m_length)
        numSamples = consumed < m_length ? static_cast<unsigned>(m_length - consumed) : 0;

    unsigned framesRead = 0;
    if (m_info.channels == 1) {
        const sf_count_t n = sf_read_float(m_pSndFile, buffer, numSamples / 2);
        framesRead = n > 0 ? static_cast<unsigned>(n) : 0;
        // Backwards, so that no value is overwritten before it has been spread.
        for (unsigned i = framesRead; i-- > 0;) {
            const float v = buffer[i];
            buffer[2 * i] = v;
            buffer[2 * i + 1] = v;
        }
    } else if (m_info.channels == 2) {
        const sf_count_t m = sf_read_float(m_pSndFile, buffer, numSamples);
        framesRead = m > 0 ? static_cast<unsigned>(m / 2) : 0;
    } else {
        const sf_count_t n = sf_readf_float(m_pSndFile, m_scratch.data(), numSamples / 2);
        framesRead = n > 0 ? static_cast<unsigned>(n) : 0;
        m_pDownmix->process(m_scratch.data(), buffer, framesRead);
    }
    for (unsigned i = framesRead * TMB_FRAMESIZE; i < numSamples; ++i)
        buffer[i] = 0.0f;
    // Within the counted length, what the library fails to deliver is damage,
    // not the end (a damaged FLAC loses more or less with the request size):
    // it reads as silence, and the length holds.
    m_position += numSamples / TMB_FRAMESIZE;
    return numSamples;
}

void AudioFileSndFile::seek(unsigned long sample)
{
    if (m_pSndFile == nullptr)
        return;
    const sf_count_t result = sf_seek(m_pSndFile, static_cast<sf_count_t>(sample / 2), SEEK_SET);
    if (result >= 0)
        m_position = static_cast<unsigned long>(result);
}

std::uint64_t AudioFileSndFile::getPosition()
{
    return 2 * static_cast<std::uint64_t>(m_position);
}
