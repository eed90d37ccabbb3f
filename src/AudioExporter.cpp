#include "AudioExporter.h"

#include "AudioFileWriter.h"
#include "RateConverter.h"

#include <QDebug>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
// Source frames pulled per step: memory use does not grow with the length.
const unsigned kBlockFrames = 4096;
} // namespace

AudioExporter::AudioExporter(const ExportFormat& format, int sourceRate, int outputRate)
    : m_format(format), m_sourceRate(sourceRate > 0 ? sourceRate : ExportFormat::kStandardRate),
      m_outputRate(outputRate > 0 ? outputRate : ExportFormat::kStandardRate)
{
}

quint64 AudioExporter::convertedLength(quint64 sourceFrames) const
{
    return RateConverter::convertedLength(sourceFrames, m_sourceRate, m_outputRate);
}

QStringList AudioExporter::write(const Source& source, quint64 sourceFrames,
                                 const QList<Piece>& pieces, QList<Failure>* failed)
{
    QStringList written;
    if (pieces.isEmpty())
        return written;
    const auto failure = [failed](const QString& fileName, const QString& reason) {
        qDebug() << "Not written:" << fileName << reason;
        if (failed)
            failed->append({fileName, reason});
    };

    RateConverter converter(m_sourceRate, m_outputRate, pieces.last().endFrame);
    if (!converter.isValid()) {
        for (const Piece& piece : pieces)
            failure(piece.fileName, converter.errorString());
        return written;
    }

    // The converted stream goes to the piece it falls in; each file is
    // opened when the stream reaches it and completed when it passes its end.
    int current = -1;
    quint64 position = 0;
    std::unique_ptr<AudioFileWriter> writer;
    const auto finishPiece = [&]() {
        if (!writer)
            return;
        if (writer->commit())
            written.append(pieces.at(current).fileName);
        else
            failure(pieces.at(current).fileName, writer->errorString());
        writer.reset();
    };
    const auto openPiece = [&](int index) {
        current = index;
        const Piece& piece = pieces.at(index);
        const quint64 frames = piece.endFrame > position ? piece.endFrame - position : 0;
        writer.reset(new AudioFileWriter(piece.fileName, m_format, m_outputRate,
                                         static_cast<sf_count_t>(frames)));
        if (piece.markers)
            writer->setMarkers(*piece.markers);
        if (!writer->isOpen() || !writer->errorString().isEmpty()) {
            failure(piece.fileName, writer->errorString());
            writer.reset();
        }
    };
    const RateConverter::Sink sink = [&](const float* samples, unsigned long frames) {
        while (frames > 0) {
            while (current + 1 < pieces.size() && position >= pieces.at(current).endFrame) {
                finishPiece();
                openPiece(current + 1);
            }
            const quint64 room = pieces.at(current).endFrame - position;
            if (room == 0)
                return true; // beyond the last piece: the converter cuts there already
            const unsigned long n = static_cast<unsigned long>(std::min<quint64>(frames, room));
            if (writer && !writer->write(samples, static_cast<sf_count_t>(n) * 2)) {
                failure(pieces.at(current).fileName, writer->errorString());
                writer.reset();
            }
            samples += 2 * n;
            frames -= n;
            position += n;
        }
        return true;
    };

    // Once no piece is left to write (the last one failed), the rest of the
    // source is not rendered.
    const auto anythingLeft = [&]() { return writer || current + 1 < pieces.size(); };
    openPiece(0);
    std::vector<float> block(2 * kBlockFrames);
    bool ok = true;
    for (quint64 done = 0; ok && anythingLeft() && done < sourceFrames;) {
        const unsigned n =
            static_cast<unsigned>(std::min<quint64>(kBlockFrames, sourceFrames - done));
        std::fill(block.begin(), block.begin() + 2 * n, 0.0f);
        source(block.data(), n);
        ok = converter.push(block.data(), n, sink);
        done += n;
    }
    ok = ok && (!anythingLeft() || converter.finish(sink));
    // Pieces the stream never reached (of no length) are empty files.
    while (ok && current + 1 < pieces.size()) {
        finishPiece();
        openPiece(current + 1);
    }
    if (ok) {
        finishPiece();
        return written;
    }
    // Only a failing converter gets here: what was not complete is not written.
    if (writer)
        failure(pieces.at(current).fileName, converter.errorString());
    writer.reset();
    for (int i = current + 1; i < pieces.size(); ++i)
        failure(pieces.at(i).fileName, converter.errorString());
    return written;
}
