#include "SliceEngine.h"

#include "AudioCache.h"
#include "AudioFileWriter.h"
#include "AudioOutputDevice.h"
#include "BankSampler.h"
#include "Kerfer.h"
#include "LoopingSamplerBank.h"
#include "MidiInputDevice.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceFileNames.h"
#include "StreamingAudioFile.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Largest piece one render pass hands to the components: the slices'
// resamplers take at most 16384 samples per call, and the hardware buffer
// (a setting) or a loop export may ask for far more.
const unsigned long kMaxRenderSamples = 8192;
// Samples rendered and written per step of the loop export; the memory it
// needs does not grow with the loop.
const unsigned long kExportBlockSamples = 65536;
// A WAV file counts its data in 32 bits; leave room for the header.
const quint64 kMaxWavDataBytes = 0xFFFFFFFFull - 1024;
// Projects are a few kilobytes; a file far larger is not one.
const qint64 kMaxProjectBytes = 64 * 1024 * 1024;

quint32 evenDown(unsigned long value)
{
    return static_cast<quint32>(value) & ~quint32(1);
}

} // namespace

SliceEngine::SliceEngine()
{
    m_pBankSampler = new BankSampler();
    m_pKerfer = new Kerfer();
    m_pLoopingSamplerBank = new LoopingSamplerBank();
    m_bpm = 120;
    m_pPreview = nullptr;

    m_pMidiInputDevice = new MidiInputDevice(m_pBankSampler, m_pLoopingSamplerBank);
    m_pMidiInputDevice->open();

    // Last: from here on the audio thread renders.
    m_pAudioOutputDevice = new AudioOutputDevice(this);
    m_pAudioOutputDevice->open();
}

SliceEngine::~SliceEngine()
{
    qDebug() << "delete SliceEngine";
    Settings::instance()->save();

    closeAudioDevice();
    if (m_pMidiInputDevice) {
        m_pMidiInputDevice->close();
        delete m_pMidiInputDevice;
        m_pMidiInputDevice = nullptr;
    }

    delete m_pLoopingSamplerBank;
    delete m_pBankSampler;
    delete m_pKerfer;
    delete m_pPreview;
    m_exportList.clear();
    m_exportBounds.clear();
}

void SliceEngine::render(float* buffer, unsigned long numSamples)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    renderLocked(buffer, numSamples);
}

void SliceEngine::renderLocked(float* buffer, unsigned long numSamples)
{
    // Notes received since the last cycle act in this one.
    if (m_pMidiInputDevice)
        m_pMidiInputDevice->poll();

    for (unsigned long done = 0; done < numSamples;) {
        const unsigned long n = std::min(kMaxRenderSamples, numSamples - done);
        float* piece = buffer + done;
        m_pKerfer->render(piece, static_cast<unsigned>(n));
        m_pBankSampler->render(piece, n);
        // The recorders take loop and pads, not their own playback or the preview.
        m_pLoopingSamplerBank->recordAll(piece, n);
        m_pLoopingSamplerBank->renderAll(piece, n);
        if (m_pPreview)
            m_pPreview->read(piece, static_cast<unsigned>(n));
        done += n;
    }
}

void SliceEngine::setBPM(int bpm)
{
    m_bpm = static_cast<unsigned>(bpm);
    m_pBankSampler->setMasterTempo(bpm);
}

void SliceEngine::newProject()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pBankSampler->clearBank();
}

void SliceEngine::playPreview(const QString& path)
{
    // Opened before the swap, so the audio thread never waits for the disk.
    StreamingAudioFile* preview = new StreamingAudioFile(path);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(m_pPreview, preview);
    }
    delete preview;
}

void SliceEngine::openAudioDevice()
{
    if (m_pAudioOutputDevice)
        closeAudioDevice();
    m_pAudioOutputDevice = new AudioOutputDevice(this);
    // A failure is logged by the device; the program runs on without sound.
    m_pAudioOutputDevice->open();
}

void SliceEngine::closeAudioDevice()
{
    if (!m_pAudioOutputDevice)
        return;
    // Returns after the last callback: nothing renders once it is closed.
    m_pAudioOutputDevice->close();
    delete m_pAudioOutputDevice;
    m_pAudioOutputDevice = nullptr;
}

void SliceEngine::openMidiDevice()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pMidiInputDevice) {
        m_pMidiInputDevice->close();
        delete m_pMidiInputDevice;
    }
    m_pMidiInputDevice = new MidiInputDevice(m_pBankSampler, m_pLoopingSamplerBank);
    m_pMidiInputDevice->open();
}

void SliceEngine::closeMidiDevice()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pMidiInputDevice)
        return;
    m_pMidiInputDevice->close();
    delete m_pMidiInputDevice;
    m_pMidiInputDevice = nullptr;
}

bool SliceEngine::saveProject(QString path)
{
    qDebug() << "Saving project";
    if (!path.endsWith(QLatin1String(".tmx"), Qt::CaseInsensitive))
        path += QLatin1String(".tmx");

    QDomDocument document(QStringLiteral("project"));
    QDomElement root = document.createElement(QStringLiteral("project"));
    document.appendChild(root);
    QDomElement engine = document.createElement(QStringLiteral("Engine"));
    root.appendChild(engine);
    engine.setAttribute(QStringLiteral("bpm"), QString::number(m_bpm));
    m_pBankSampler->writeXml(QFileInfo(path).absolutePath(), document, root);
    const QByteArray text = document.toByteArray(1);

    // Renamed over the old project only once complete. Unbuffered: a write
    // that fails while Qt flushes its buffer on commit goes unnoticed, and
    // the truncated file would replace the old one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        qDebug() << "Failed to write" << path << __FILE__ << __LINE__;
        return false;
    }
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        qDebug() << "Failed to write" << path << __FILE__ << __LINE__;
        return false;
    }
    if (!file.commit()) {
        qDebug() << "Failed to write" << path << __FILE__ << __LINE__;
        return false;
    }
    return true;
}

bool SliceEngine::loadProject(const QString& path)
{
    QDomDocument document(QStringLiteral("project"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Failed to open" << path;
        return false;
    }
    if (file.size() > kMaxProjectBytes || !document.setContent(&file)) {
        file.close();
        qDebug() << "Invalid project file:" << path;
        return false;
    }
    file.close();

    const QString projectDir = QFileInfo(path).absolutePath();
    const QDomElement root = document.documentElement();
    for (QDomNode node = root.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement element = node.toElement();
        if (element.tagName() == QLatin1String("BankSampler")) {
            m_pBankSampler->readXml(element, projectDir);
        } else if (element.tagName() == QLatin1String("Engine")) {
            // Not a number: 0, as it always has.
            const unsigned bpm = element.attribute(QStringLiteral("bpm"), "120").toUInt();
            m_bpm = bpm;
            m_pBankSampler->setMasterTempo(static_cast<int>(bpm));
        }
    }
    return true;
}

void SliceEngine::updateExportList()
{
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    QList<quint32> bounds;
    if (loop && loop->getLength() > 0) {
        // Only the audio between the markers is the loop; points outside
        // them and beyond the audio cut nothing.
        const quint32 length = evenDown(loop->getLength());
        const quint32 start = evenDown(m_pKerfer->getStartMarker());
        const quint32 end = std::min(evenDown(m_pKerfer->getEndMarker()), length);
        if (start < end) {
            bounds.append(start);
            const QList<unsigned long> points = m_pKerfer->getSlicePoints();
            for (unsigned long point : points) {
                const quint32 p = evenDown(point);
                // Moving a point onto another leaves it twice in the list.
                if (p > bounds.last() && p < end)
                    bounds.append(p);
            }
            bounds.append(end);
        }
    }
    if (m_exportSource == loop && bounds == m_exportBounds && !bounds.isEmpty())
        return;

    m_exportList.clear();
    m_exportSource = loop;
    m_exportBounds = bounds;
    if (bounds.isEmpty())
        return;
    const QSharedPointer<std::vector<float>> buffer = loop->getAudioBuffer();
    const QSharedPointer<AudioCache> cache = loop->getAudioCache();
    const int rate = loop->getSampleRate();
    for (int i = 0; i + 1 < bounds.size(); ++i) {
        m_exportList.append(QSharedPointer<Slice>(
            new Slice(buffer, cache, rate, bounds.at(i), bounds.at(i + 1) - bounds.at(i))));
    }
}

QStringList SliceEngine::exportSlices(const QString& path)
{
    updateExportList();
    QStringList written;
    for (int i = 0; i < m_exportList.size(); ++i) {
        const QString name = SliceFileNames::numbered(path, i + 1);
        // A failure is logged by save; the other slices are still written.
        if (m_exportList.at(i)->save(name, 0, 0))
            written.append(name);
    }
    return written;
}

bool SliceEngine::exportSlice(Slice* slice, const QString& fileName)
{
    if (!slice)
        return false;
    return slice->save(fileName, 0, 0);
}

void SliceEngine::exportToPad(int padIndex, const QString& fileName)
{
    m_pBankSampler->loadSample(padIndex, fileName, 0, 1.0, 0, 0, 0, 1.0f, false,
                               QStringLiteral("None"));
}

bool SliceEngine::exportLoop(const QString& fileName)
{
    updateExportList();
    quint64 total = 0;
    for (const QSharedPointer<Slice>& slice : qAsConst(m_exportList))
        total += slice->getLength();
    if (total * sizeof(float) > kMaxWavDataBytes) {
        qDebug() << "Loop too long for a WAV file:" << total << "samples," << fileName;
        return false;
    }

    AudioFileWriter writer(fileName, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                           static_cast<sf_count_t>(total / 2));
    if (!writer.isOpen())
        return false;

    // Rendered and written a block at a time rather than held whole: a long
    // loop would otherwise need gigabytes. The mutex is held throughout, as
    // for one long audio callback, so the output does not advance anything
    // in between.
    std::vector<float> block(kExportBlockSamples);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (quint64 written = 0; written < total;) {
            const unsigned long n =
                static_cast<unsigned long>(std::min<quint64>(kExportBlockSamples, total - written));
            std::fill(block.begin(), block.begin() + n, 0.0f);
            renderLocked(block.data(), n);
            if (!writer.write(block.data(), static_cast<sf_count_t>(n)))
                break;
            written += n;
        }
    }
    qDebug() << "wrote" << writer.getSamplesWritten() << "frames";
    return writer.commit();
}
