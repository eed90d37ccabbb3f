#include "AudioFileWriter.h"

#include <QDebug>

AudioFileWriter::AudioFileWriter(const QString& fileName, int format, sf_count_t frames)
    : m_fileName(fileName), m_file(fileName)
{
    SF_INFO info{};
    info.frames = frames;
    info.samplerate = 44100;
    info.channels = 2;
    info.format = format;
    if (!sf_format_check(&info)) {
        qDebug() << "Invalid file format for" << fileName;
        return;
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        qDebug() << "Error opening file" << fileName << m_file.errorString();
        return;
    }
    m_pSndFile = sf_open_fd(m_file.handle(), SFM_WRITE, &info, SF_FALSE);
    if (!m_pSndFile) {
        qDebug() << "Error opening file" << fileName << sf_strerror(nullptr);
        m_file.cancelWriting();
        return;
    }
    // Beyond full scale becomes full scale instead of wrapping around.
    sf_command(m_pSndFile, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

AudioFileWriter::~AudioFileWriter()
{
    if (m_pSndFile) {
        sf_close(m_pSndFile);
        m_file.cancelWriting();
    }
}

bool AudioFileWriter::isOpen() const
{
    return m_pSndFile != nullptr;
}

bool AudioFileWriter::write(const float* samples, sf_count_t count)
{
    if (!m_pSndFile || m_failed)
        return false;
    const sf_count_t written = sf_write_float(m_pSndFile, samples, count);
    if (written > 0)
        m_written += static_cast<quint64>(written);
    if (written != count)
        m_failed = true;
    return !m_failed;
}

quint64 AudioFileWriter::getSamplesWritten() const
{
    return m_written;
}

bool AudioFileWriter::commit()
{
    if (!m_pSndFile)
        return false;
    if (sf_close(m_pSndFile) != 0)
        m_failed = true;
    m_pSndFile = nullptr;
    if (m_failed) {
        qDebug() << "Failed to write" << m_fileName;
        m_file.cancelWriting();
        return false;
    }
    if (!m_file.commit()) {
        qDebug() << "Failed to write" << m_fileName << m_file.errorString();
        return false;
    }
    return true;
}
