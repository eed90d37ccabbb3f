#include "SliceEngine.h"

#include "AtomicFile.h"
#include "AudioCache.h"
#include "AudioOutputDevice.h"
#include "BankSampler.h"
#include "Kerfer.h"
#include "LoopSlices.h"
#include "LoopingSamplerBank.h"
#include "MidiInputDevice.h"
#include "RateConverter.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceNaming.h"
#include "StreamingAudioFile.h"
#include "UserSliceFiles.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// Largest piece one render pass hands to the components: the slices'
// resamplers take at most 16384 samples per call, and the hardware buffer
// (a setting) or a loop export may ask for far more.
const unsigned long kMaxRenderSamples = 8192;
// A WAV file counts its data in 32 bits; leave room for the header.
const quint64 kMaxWavDataBytes = 0xFFFFFFFFull - 1024;
// Projects are a few kilobytes; a file far larger is not one.
const qint64 kMaxProjectBytes = 64 * 1024 * 1024;

// Holds the engine mutex for an offline render, with the flag that lets the
// device's callbacks play silence meanwhile set for the whole time.
class OfflineRender
{
public:
    OfflineRender(std::atomic<bool>& flag, std::mutex& mutex) : m_flag(flag), m_mutex(mutex)
    {
        m_flag.store(true, std::memory_order_release);
        m_mutex.lock();
    }
    ~OfflineRender()
    {
        m_mutex.unlock();
        m_flag.store(false, std::memory_order_release);
    }
    OfflineRender(const OfflineRender&) = delete;
    OfflineRender& operator=(const OfflineRender&) = delete;

private:
    std::atomic<bool>& m_flag;
    std::mutex& m_mutex;
};

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
    std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        // A loop export holds the mutex for as long as it renders: waiting
        // would stall the device for the whole export.
        if (m_offlineRender.load(std::memory_order_acquire))
            return;
        lock.lock();
    }
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
    writeLoopXml(QFileInfo(path).absolutePath(), document, root);
    m_pBankSampler->writeXml(QFileInfo(path).absolutePath(), document, root);
    return AtomicFile::write(path, document.toByteArray(1));
}

bool SliceEngine::loadProject(const QString& path, QString* missingLoop)
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
        } else if (element.tagName() == QLatin1String("Loop")) {
            readLoopXml(element, projectDir, missingLoop);
        } else if (element.tagName() == QLatin1String("Engine")) {
            // Not a number: 0, as it always has.
            const unsigned bpm = element.attribute(QStringLiteral("bpm"), "120").toUInt();
            m_bpm = bpm;
            m_pBankSampler->setMasterTempo(static_cast<int>(bpm));
        }
    }
    return true;
}

void SliceEngine::writeLoopXml(const QString& projectDir, QDomDocument& document,
                               QDomElement& parent) const
{
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    if (!loop || loop->getLength() == 0)
        return;
    const Kerfer::Cuts cuts = m_pKerfer->getCuts();
    QDomElement element = document.createElement(QStringLiteral("Loop"));
    parent.appendChild(element);
    element.setAttribute(QStringLiteral("filename"),
                         QDir(projectDir).relativeFilePath(loop->getFilename()));
    element.setAttribute(QStringLiteral("startmarker"), QString::number(cuts.startMarker));
    element.setAttribute(QStringLiteral("endmarker"), QString::number(cuts.endMarker));
    for (unsigned long point : cuts.points) {
        QDomElement child = document.createElement(QStringLiteral("SlicePoint"));
        element.appendChild(child);
        child.setAttribute(QStringLiteral("position"), QString::number(point));
    }
}

void SliceEngine::readLoopXml(const QDomElement& element, const QString& projectDir,
                              QString* missingLoop)
{
    const QString name = element.attribute(QStringLiteral("filename"));
    if (name.isEmpty())
        return;
    const QString fileName = QDir(projectDir).filePath(name);
    // A file that is missing or gives no audio leaves the open loop as it was.
    if (!m_pKerfer->slotLoadLoop(fileName)) {
        qDebug() << "Project loop missing or unreadable:" << fileName;
        if (missingLoop)
            *missingLoop = fileName;
        return;
    }
    const quint32 length = static_cast<quint32>(m_pKerfer->getLoop()->getLength());
    Kerfer::Cuts cuts;
    bool startOk = false;
    bool endOk = false;
    cuts.startMarker = element.attribute(QStringLiteral("startmarker")).toUInt(&startOk);
    cuts.endMarker = element.attribute(QStringLiteral("endmarker")).toUInt(&endOk);
    // Markers that do not enclose audio of this file (edited by hand, or the
    // file changed since) give way to the whole loop.
    if (!startOk || !endOk || cuts.startMarker >= cuts.endMarker || cuts.endMarker > length) {
        cuts.startMarker = 0;
        cuts.endMarker = length;
    }
    for (QDomElement point = element.firstChildElement(QStringLiteral("SlicePoint"));
         !point.isNull(); point = point.nextSiblingElement(QStringLiteral("SlicePoint"))) {
        bool ok = false;
        const unsigned position = point.attribute(QStringLiteral("position")).toUInt(&ok);
        if (ok)
            cuts.points.append(position);
    }
    std::sort(cuts.points.begin(), cuts.points.end());
    m_pKerfer->setCuts(cuts);
}

void SliceEngine::updateExportList()
{
    const LoopSlices slices(m_pKerfer);
    const QSharedPointer<Slice> loop = slices.loop();
    const QList<quint32> bounds = slices.bounds();
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

QStringList SliceEngine::exportSlices(const QString& path, QList<AudioExporter::Failure>* failed)
{
    return exportSlices(path, ExportFormat::forSliceFile(path), failed);
}

QStringList SliceEngine::exportSlices(const QString& path, const ExportFormat& format,
                                      QList<AudioExporter::Failure>* failed)
{
    updateExportList();
    const QSharedPointer<Slice> loop = m_exportSource.toStrongRef();
    if (!loop || m_exportBounds.size() < 2)
        return QStringList();
    QStringList names;
    for (int i = 0; i + 1 < m_exportBounds.size(); ++i)
        names.append(SliceNaming::numbered(path, i + 1));
    // A failure is logged and reported; the other slices are still written.
    return loop->saveRanges(m_exportBounds, names, format, failed);
}

bool SliceEngine::exportSlice(Slice* slice, const QString& fileName, QString* error)
{
    if (!slice)
        return false;
    return slice->save(fileName, 0, 0, error);
}

void SliceEngine::exportToPad(int padIndex, const QString& fileName)
{
    m_pBankSampler->loadSample(padIndex, fileName, 0, 1.0, 0, 0, 0, 1.0f, false,
                               QStringLiteral("None"));
}

int SliceEngine::slicesToPads(const ExportFormat& format, QList<AudioExporter::Failure>* failed)
{
    const QStringList files =
        UserSliceFiles::writeSlices(LoopSlices(m_pKerfer), 0, BankSampler::PadCount,
                                    UserSliceFiles::kPadsFolder, format, failed);
    int loaded = 0;
    for (int pad = 0; pad < files.size(); ++pad) {
        if (files.at(pad).isEmpty())
            continue;
        exportToPad(pad, files.at(pad));
        ++loaded;
    }
    return loaded;
}

bool SliceEngine::exportLoop(const QString& fileName, QString* error)
{
    return exportLoop(fileName, ExportFormat::forLoopFile(), error);
}

bool SliceEngine::exportLoop(const QString& fileName, const ExportFormat& format, QString* error)
{
    updateExportList();
    OfflineRender offline(m_offlineRender, m_mutex);
    return exportLoopLocked(fileName, format, error);
}

bool SliceEngine::exportLoopFromStart(const QString& fileName, const ExportFormat& format,
                                      QString* error)
{
    updateExportList();
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    if (!loop || loop->getLength() == 0) {
        if (error)
            *error = QStringLiteral("no loop is loaded");
        return false;
    }
    OfflineRender offline(m_offlineRender, m_mutex);
    // A stopped loop's resampler still holds the tail of what it played; a
    // rebuild at the same pitch drops it, so the file begins with the loop's
    // first sample rather than with that tail. The same after the export, or
    // the device would play the export's tail once it renders again.
    loop->setPitch(loop->getPitch());
    m_pKerfer->playLoop(true);
    const bool written = exportLoopLocked(fileName, format, error);
    m_pKerfer->playLoop(false);
    loop->setPitch(loop->getPitch());
    return written;
}

bool SliceEngine::exportLoopLocked(const QString& fileName, const ExportFormat& format,
                                   QString* error)
{
    quint64 loopFrames = 0;
    for (const QSharedPointer<Slice>& slice : qAsConst(m_exportList))
        loopFrames += slice->getLength() / 2;
    const QSharedPointer<Slice> loop = m_exportSource.toStrongRef();
    const int loopRate = loop ? loop->getSampleRate() : ExportFormat::kStandardRate;

    // Everything plays at the working rate: the loop lasts this long there.
    const int workingRate = ExportFormat::kStandardRate;
    const quint64 frames = RateConverter::convertedLength(loopFrames, loopRate, workingRate);
    const int outputRate = format.outputRate(loopRate);
    // At the loop's own rate, the loop's own length.
    const quint64 outputFrames = outputRate == workingRate ? frames : loopFrames;
    const int sampleBytes = format.integerBits() > 0 ? format.integerBits() / 8 : 4;
    if (outputFrames * 2 * sampleBytes > kMaxWavDataBytes) {
        qDebug() << "Loop too long for a WAV file:" << outputFrames << "frames," << fileName;
        if (error)
            *error = QStringLiteral("the loop is too long for one file");
        return false;
    }

    // Rendered and written a block at a time rather than held whole: a long
    // loop would otherwise need gigabytes. The mutex is held throughout, as
    // for one long audio callback, so the output does not advance anything
    // in between.
    AudioExporter exporter(format, workingRate, outputRate);
    const AudioExporter::Source source = [this](float* out, unsigned n) {
        renderLocked(out, 2ul * n);
    };
    QList<AudioExporter::Failure> failed;
    const bool written =
        !exporter.write(source, frames, {{fileName, outputFrames}}, &failed).isEmpty();
    if (!written && error && !failed.isEmpty())
        *error = failed.first().reason;
    qDebug() << "wrote" << (written ? outputFrames : 0) << "frames";
    return written;
}
