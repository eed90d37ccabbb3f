#include "AudioFileWriter.h"

#include "WavMarkers.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
// Samples quantised per libsndfile call.
const sf_count_t kIntegerBlock = 8192;

QString systemError(int error)
{
    if (error == ENOSPC)
        return QStringLiteral("disk full");
    return QStringLiteral("cannot write the file: %1").arg(QString::fromLocal8Bit(strerror(error)));
}
} // namespace

AudioFileWriter::AudioFileWriter(const QString& fileName, const ExportFormat& format, int rate,
                                 sf_count_t frames)
    : m_fileName(fileName), m_file(fileName)
{
    SF_INFO info{};
    info.frames = frames;
    info.samplerate = rate;
    info.channels = 2;
    info.format = format.sndfileFormat();
    if (!sf_format_check(&info)) {
        qDebug() << "Invalid file format for" << fileName;
        fail(QStringLiteral("the file format cannot hold this audio"));
        return;
    }
    if (!m_file.open(QIODevice::WriteOnly)) {
        qDebug() << "Error opening file" << fileName << m_file.errorString();
        fail(QStringLiteral("cannot create the file: %1").arg(m_file.errorString()));
        return;
    }
    m_pSndFile = sf_open_fd(m_file.handle(), SFM_WRITE, &info, SF_FALSE);
    if (!m_pSndFile) {
        qDebug() << "Error opening file" << fileName << sf_strerror(nullptr);
        fail(QStringLiteral("cannot create the file: %1").arg(sf_strerror(nullptr)));
        m_file.cancelWriting();
        return;
    }
    if (format.integerBits() > 0) {
        m_pQuantiser.reset(new SampleQuantiser(format.integerBits()));
        m_integers.resize(kIntegerBlock);
    }
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

bool AudioFileWriter::setMarkers(const WavMarkers& markers)
{
    if (!m_pSndFile)
        return false;
    const QString reason = markers.writeTo(m_pSndFile);
    if (reason.isEmpty())
        return true;
    qDebug() << "Failed to write" << m_fileName << reason;
    fail(reason);
    return false;
}

bool AudioFileWriter::write(const float* samples, sf_count_t count)
{
    if (!m_pSndFile || !m_error.isEmpty())
        return false;
    for (sf_count_t done = 0; done < count;) {
        errno = 0;
        sf_count_t n = count - done;
        sf_count_t written = 0;
        if (m_pQuantiser) {
            n = std::min(n, kIntegerBlock);
            m_pQuantiser->quantise(samples + done, m_integers.data(), static_cast<size_t>(n));
            written = sf_write_int(m_pSndFile, m_integers.data(), n);
        } else {
            written = sf_write_float(m_pSndFile, samples + done, n);
        }
        if (written > 0)
            m_written += static_cast<quint64>(written);
        if (written != n) {
            const int error = errno;
            qDebug() << "Failed to write" << m_fileName << sf_strerror(m_pSndFile);
            fail(error ? systemError(error)
                       : QStringLiteral("cannot write the file: %1").arg(sf_strerror(m_pSndFile)));
            return false;
        }
        done += n;
    }
    return true;
}

quint64 AudioFileWriter::getSamplesWritten() const
{
    return m_written;
}

bool AudioFileWriter::commit()
{
    if (!m_pSndFile)
        return false;
    errno = 0;
    if (sf_close(m_pSndFile) != 0 && m_error.isEmpty())
        fail(errno ? systemError(errno) : QStringLiteral("cannot write the file"));
    m_pSndFile = nullptr;
    if (!m_error.isEmpty()) {
        qDebug() << "Failed to write" << m_fileName << m_error;
        m_file.cancelWriting();
        return false;
    }
    if (!m_file.commit()) {
        qDebug() << "Failed to write" << m_fileName << m_file.errorString();
        fail(QStringLiteral("cannot write the file: %1").arg(m_file.errorString()));
        return false;
    }
    return true;
}

QString AudioFileWriter::errorString() const
{
    return m_error;
}

void AudioFileWriter::fail(const QString& reason)
{
    if (m_error.isEmpty())
        m_error = reason;
}
