#include "KitExporter.h"

#include "AtomicFile.h"
#include "BankSampler.h"
#include "MidiGroove.h"
#include "SfzKit.h"
#include "Slice.h"
#include "SliceFileFormat.h"
#include "WavMarkers.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

bool isTempo(double tempo)
{
    return std::isfinite(tempo) && tempo > 0.0;
}

QString tempoText(double tempo)
{
    return QString::number(tempo, 'g', 6);
}

// A name's stem for the files beside it; a line break in it would break the
// kit's lines.
QString stemOf(const QFileInfo& file)
{
    QString stem = file.completeBaseName();
    for (QChar& c : stem)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    return stem.isEmpty() ? QStringLiteral("kit") : stem;
}

void writeText(const QString& fileName, const QByteArray& text, ExportReport* report)
{
    QString error;
    if (AtomicFile::write(fileName, text, &error))
        report->files.append(fileName);
    else
        report->failed.append({fileName, error});
}

} // namespace

KitExporter::KitExporter(const LoopSlices& slices, const ExportFormat& format, double tempo)
    : m_slices(slices), m_format(SliceFileFormat::writable(format)), m_tempo(tempo)
{
}

bool KitExporter::canWrite(const QString& fileName, ExportReport* report) const
{
    if (m_slices.isEmpty())
        report->failed.append({fileName, QStringLiteral("no loop is loaded")});
    else if (!isTempo(m_tempo))
        report->failed.append({fileName, QStringLiteral("the tempo is not set")});
    return report->failed.isEmpty();
}

ExportReport KitExporter::writeKit(const QString& sfzPath, bool withGroove) const
{
    const QFileInfo sfz(sfzPath);
    ExportReport report(sfz.absolutePath());
    if (!canWrite(sfzPath, &report))
        return report;
    const QDir dir = sfz.absoluteDir();
    const QStringList files = kitFiles(sfzPath, m_slices.count(), m_format, withGroove);
    const QStringList names = files.mid(0, m_slices.count());
    report.slices = m_slices.loop()->saveRanges(m_slices.bounds(), names, m_format, &report.failed);
    if (report.slices.isEmpty())
        return report;

    QList<SfzKit::Region> regions;
    for (int i = 0; i < std::min(m_slices.count(), MidiGroove::kMaxNotes); ++i) {
        if (report.slices.contains(names.at(i))) {
            SfzKit::Region region;
            region.sample = dir.relativeFilePath(names.at(i));
            region.key = MidiGroove::kFirstKey + i;
            regions.append(region);
        }
    }
    if (m_slices.count() > MidiGroove::kMaxNotes)
        qDebug() << "Kit: slices past key 127 have no key:"
                 << m_slices.count() - MidiGroove::kMaxNotes;
    const QStringList header{
        QStringLiteral("Kit of the loop %1").arg(m_slices.loopName()),
        QStringLiteral("Tempo: %1 bpm").arg(tempoText(m_tempo)),
        QStringLiteral("Slices: %1, from key 36 (C1) up").arg(m_slices.count())};
    writeText(sfzPath, SfzKit::text(header, regions), &report);
    if (withGroove)
        writeGrooveInto(files.last(), &report);
    return report;
}

QStringList KitExporter::kitFiles(const QString& sfzPath, int sliceCount,
                                  const ExportFormat& format, bool withGroove)
{
    const QFileInfo sfz(sfzPath);
    const QDir dir = sfz.absoluteDir();
    const QString stem = stemOf(sfz);
    const QString suffix = SliceFileFormat::suffix(SliceFileFormat::writable(format));
    QStringList files;
    for (int i = 0; i < sliceCount; ++i)
        files.append(dir.filePath(QStringLiteral("%1_%2.%3").arg(stem).arg(i + 1).arg(suffix)));
    files.append(sfz.absoluteFilePath());
    if (withGroove)
        files.append(dir.filePath(stem + QStringLiteral(".mid")));
    return files;
}

ExportReport KitExporter::writeGroove(const QString& midiPath) const
{
    ExportReport report(QFileInfo(midiPath).absolutePath());
    if (canWrite(midiPath, &report))
        writeGrooveInto(midiPath, &report);
    return report;
}

void KitExporter::writeGrooveInto(const QString& midiPath, ExportReport* report) const
{
    QList<int> velocities;
    for (float peak : m_slices.peaks())
        velocities.append(MidiGroove::velocityOf(peak));
    const QByteArray bytes = MidiGroove::build(m_slices.frames(), velocities, m_slices.sampleRate(),
                                               m_tempo, m_slices.loopName());
    if (bytes.isEmpty())
        report->failed.append({midiPath, QStringLiteral("the loop is too long for a MIDI file")});
    else
        writeText(midiPath, bytes, report);
}

ExportReport KitExporter::writeLoopWithMarkers(const QString& wavPath) const
{
    ExportReport report(QFileInfo(wavPath).absolutePath());
    if (!canWrite(wavPath, &report))
        return report;
    ExportFormat wav = m_format;
    wav.container = ExportFormat::Container::Wav;
    const int rate = m_slices.sampleRate();
    AudioExporter exporter(wav, rate, wav.outputRate(rate));
    const QList<quint64> frames = m_slices.frames();
    WavMarkers markers;
    for (int i = 0; i + 1 < frames.size(); ++i)
        markers.cueFrames.append(static_cast<quint32>(exporter.convertedLength(frames.at(i))));
    markers.frames = static_cast<quint32>(exporter.convertedLength(frames.last()));
    markers.rate = wav.outputRate(rate);
    markers.tempo = m_tempo;
    const AudioExporter::Piece piece{wavPath, markers.frames, &markers};
    report.files = exporter.write(m_slices.loop()->exportSource(m_slices.bounds().first()),
                                  frames.last(), {piece}, &report.failed);
    return report;
}

namespace {

QString padFileName(const QFileInfo& sfz, int pad, const ExportFormat& writable)
{
    return sfz.absoluteDir().filePath(QStringLiteral("%1_pad%2.%3")
                                          .arg(stemOf(sfz))
                                          .arg(pad + 1)
                                          .arg(SliceFileFormat::suffix(writable)));
}

bool holdsAudio(BankSampler& pads, int pad)
{
    const QSharedPointer<Slice> sample = pads.getSample(pad);
    return sample && sample->getLength() >= 2;
}

} // namespace

QStringList KitExporter::padKitFiles(BankSampler& pads, const QString& sfzPath,
                                     const ExportFormat& format)
{
    QStringList files{sfzPath};
    for (int pad = 0; pad < BankSampler::PadCount; ++pad)
        if (holdsAudio(pads, pad))
            files.append(padFileName(QFileInfo(sfzPath), pad, SliceFileFormat::writable(format)));
    return files;
}

ExportReport KitExporter::writePadKit(BankSampler& pads, const QString& sfzPath,
                                      const ExportFormat& format, double tempo)
{
    const QFileInfo sfz(sfzPath);
    const QDir dir = sfz.absoluteDir();
    const ExportFormat writable = SliceFileFormat::writable(format);
    ExportReport report(sfz.absolutePath());
    report.noun = QStringLiteral("sample");

    // Choke groups by number, in the order of their names; "None" chokes nothing.
    QStringList groups = pads.getChokeGroupNames();
    groups.removeAll(QStringLiteral("None"));
    QStringList header{QStringLiteral("Kit of the pads"),
                       QStringLiteral("Tempo: %1 bpm").arg(tempoText(tempo))};
    QList<SfzKit::Region> regions;
    for (int pad = 0; pad < BankSampler::PadCount; ++pad) {
        if (!holdsAudio(pads, pad))
            continue;
        const QSharedPointer<Slice> sample = pads.getSample(pad);
        const QString name = padFileName(sfz, pad, writable);
        QString error;
        if (!sample->save(name, 0, 0, writable, &error)) {
            report.failed.append({name, error});
            continue;
        }
        report.slices.append(name);
        SfzKit::Region region;
        region.sample = dir.relativeFilePath(name);
        region.key = BankSampler::FirstNote + pad;
        region.chokeGroup = static_cast<int>(groups.indexOf(sample->getChokeGroup())) + 1;
        region.transpose = sample->getPitch();
        const float gain = sample->getGain();
        region.volume = gain > 0.0f ? 20.0 * std::log10(double(gain)) : -144.0;
        regions.append(region);
    }
    for (int g = 0; g < groups.size(); ++g)
        header.append(QStringLiteral("Choke group %1: %2").arg(g + 1).arg(groups.at(g)));
    if (!regions.isEmpty())
        writeText(sfzPath, SfzKit::text(header, regions), &report);
    else if (report.failed.isEmpty())
        report.failed.append({sfzPath, QStringLiteral("no pad holds a sample")});
    return report;
}
