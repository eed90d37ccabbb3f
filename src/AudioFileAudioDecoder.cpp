#include "AudioFileAudioDecoder.h"

#include "Assert.h"
#include "AudioDecoder.h"

#include <QFile>
#include <QtDebug>

#include <algorithm>
#include <cstring>

AudioFileAudioDecoder::AudioFileAudioDecoder(const QString& fileName)
    : m_pDecoder(new AudioDecoder(QFile::encodeName(fileName).toStdString())), m_fileName(fileName)
{
    m_pDecoder->setMaxFrames(static_cast<std::int64_t>(kMaxLength / 2));
    const int result = m_pDecoder->open();
    const int rate = m_pDecoder->getSampleRate();
    if (result == AudioDecoder::TooLong)
        qDebug() << "Error opening file" << m_fileName << "- longer than" << kMaxLength / 2
                 << "frames, the most a loop may have";
    else if (result != 0)
        qDebug() << "Error opening file" << m_fileName;
    else if (!isSupportedRate(rate))
        qDebug() << "Error opening file" << m_fileName << "- its sample rate" << rate
                 << "Hz is outside" << kMinSampleRate << "to" << kMaxSampleRate << "Hz";
    else
        m_usable = true;
    qDebug() << "fileLength:" << m_pDecoder->getTotalSamples();
    qDebug() << "channels:" << m_pDecoder->getChannels();
    qDebug() << "samplerate:" << m_pDecoder->getSampleRate();
}

AudioFileAudioDecoder::~AudioFileAudioDecoder()
{
    delete m_pDecoder;
}

unsigned long AudioFileAudioDecoder::getLength()
{
    const int channels = m_pDecoder->getChannels();
    if (!m_usable || channels <= 0)
        return 0;
    const std::uint64_t frames =
        static_cast<std::uint64_t>(m_pDecoder->getTotalSamples()) / channels;
    // Lengths are 32-bit sample counts; a longer source is cut to the last
    // whole frame that fits.
    return static_cast<unsigned long>(std::min<std::uint64_t>(2 * frames, 0xFFFFFFFEu));
}

int AudioFileAudioDecoder::getSampleRate()
{
    return m_usable ? m_pDecoder->getSampleRate() : 0;
}

unsigned AudioFileAudioDecoder::read(float* buffer, unsigned numSamples)
{
    TMB_ASSERT_TEXT(numSamples < TMB_AUDIOFILE_BUFFER_SIZE,
                    "numSamples < TMB_AUDIOFILE_BUFFER_SIZE");
    TMB_ASSERT_TEXT(numSamples % TMB_FRAMESIZE == 0, "numSamples % TMB_FRAMESIZE == 0");

    const unsigned long length = getLength();
    if (length == 0)
        return 0;
    const std::uint64_t position = 2 * static_cast<std::uint64_t>(m_framesRead);
    if (position + numSamples > length)
        numSamples = position >= length ? 0 : static_cast<unsigned>(length - position);

    // The decoder delivers one channel or two (more are mixed down).
    unsigned framesRead = 0;
    if (m_pDecoder->getChannels() == 1) {
        const int n = m_pDecoder->read(static_cast<int>(numSamples / 2), buffer);
        framesRead = n > 0 ? static_cast<unsigned>(n) : 0;
        // Backwards, so no value is overwritten before it has been spread.
        for (unsigned i = framesRead; i-- > 0;) {
            const float v = buffer[i];
            buffer[2 * i] = v;
            buffer[2 * i + 1] = v;
        }
    } else {
        const int m = m_pDecoder->read(static_cast<int>(numSamples), buffer);
        framesRead = m > 0 ? static_cast<unsigned>(m) / 2 : 0;
    }
    m_framesRead += framesRead;

    const unsigned delivered = framesRead * TMB_FRAMESIZE;
    if (delivered < numSamples)
        std::memset(buffer + delivered, 0, (numSamples - delivered) * sizeof(float));
    TMB_ASSERT_TEXT(framesRead * TMB_FRAMESIZE <= numSamples,
                    "framesRead * TMB_FRAMESIZE <= numSamples");
    return delivered;
}

void AudioFileAudioDecoder::seek(unsigned long sample)
{
    // The decoder counts samples of all its channels, the stream counts
    // stereo samples: convert through the frame, and keep the read counter
    // in step so the end of the stream is still found.
    const int channels = m_pDecoder->getChannels();
    if (!m_usable || channels <= 0)
        return;
    const unsigned long frame = std::min(sample, getLength()) / 2;
    m_pDecoder->seek(static_cast<int>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(frame) * channels, INT32_MAX)));
    m_framesRead = static_cast<unsigned long>(m_pDecoder->getPosition() / channels);
}

std::uint64_t AudioFileAudioDecoder::getPosition()
{
    return 2 * static_cast<std::uint64_t>(m_framesRead);
}
