#include "LoopSlices.h"

#include "Kerfer.h"
#include "Slice.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

quint32 evenDown(unsigned long value)
{
    return static_cast<quint32>(value) & ~quint32(1);
}

// Frames read per step when measuring.
const unsigned kBlockFrames = 4096;

} // namespace

LoopSlices::LoopSlices(Kerfer* kerfer) : m_pLoop(kerfer->getLoop())
{
    if (!m_pLoop || m_pLoop->getLength() == 0)
        return;
    // The slices as the window numbers them; only the audio between the
    // markers is the loop.
    for (unsigned long start : kerfer->getSliceStarts())
        m_bounds.append(static_cast<quint32>(start));
    if (!m_bounds.isEmpty())
        m_bounds.append(std::min(evenDown(kerfer->getEndMarker()), evenDown(m_pLoop->getLength())));
}

LoopSlices::LoopSlices(const QSharedPointer<Slice>& loop, const QList<quint32>& bounds,
                       const QString& name)
    : m_pLoop(loop), m_bounds(bounds), m_name(name)
{
}

int LoopSlices::sampleRate() const
{
    return m_pLoop ? m_pLoop->getSampleRate() : 0;
}

QString LoopSlices::loopName() const
{
    if (!m_name.isEmpty())
        return m_name;
    const QString name = m_pLoop ? QFileInfo(m_pLoop->getFilename()).completeBaseName() : QString();
    return name.isEmpty() ? QStringLiteral("loop") : name;
}

int LoopSlices::indexAt(unsigned long sample) const
{
    if (isEmpty() || sample < m_bounds.first() || sample >= m_bounds.last())
        return -1;
    const auto next = std::upper_bound(m_bounds.cbegin(), m_bounds.cend(), sample);
    return static_cast<int>(next - m_bounds.cbegin()) - 1;
}

QList<quint64> LoopSlices::frames() const
{
    QList<quint64> frames;
    for (quint32 bound : m_bounds)
        frames.append((bound - m_bounds.first()) / 2);
    return frames;
}

QList<float> LoopSlices::peaks() const
{
    QList<float> peaks;
    if (isEmpty())
        return peaks;
    const AudioExporter::Source source = m_pLoop->exportSource(m_bounds.first());
    std::vector<float> block(2 * kBlockFrames);
    for (int i = 0; i < count(); ++i) {
        float peak = 0.0f;
        for (quint64 left = (m_bounds.at(i + 1) - m_bounds.at(i)) / 2; left > 0;) {
            const unsigned n = static_cast<unsigned>(std::min<quint64>(left, kBlockFrames));
            std::fill(block.begin(), block.begin() + 2 * n, 0.0f);
            source(block.data(), n);
            for (unsigned k = 0; k < 2 * n; ++k)
                peak = std::max(peak, std::fabs(block[k]));
            left -= n;
        }
        peaks.append(peak);
    }
    return peaks;
}
