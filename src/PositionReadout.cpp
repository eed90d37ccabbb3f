#include "PositionReadout.h"

#include "Kerfer.h"
#include "Settings.h"
#include "Slice.h"

#include <algorithm>
#include <cmath>

PositionReadout::PositionReadout(Kerfer* kerfer, QObject* parent)
    : QObject(parent), m_pKerfer(kerfer), m_deferredUpdate(this, [this] { update(); })
{
    // Once for a burst of edits (a slicing rule announces every point).
    connect(m_pKerfer, &Kerfer::slicePointsChanged, this, [this] { m_deferredUpdate.request(); });
    connect(m_pKerfer, &Kerfer::loopReplaced, this, [this] {
        m_hasSelection = false;
        m_chosenTempo = 0.0;
        update();
    });
}

double PositionReadout::tempo() const
{
    if (m_chosenTempo > 0.0)
        return m_chosenTempo;
    if (m_estimatedTempo > 0.0)
        return m_estimatedTempo;
    // The Advanced Slicing dialog's range.
    return Settings::instance()->getDoubleSetting(QStringLiteral("AdvancedSlicingTempo"), 120.0,
                                                  1.0, 1000.0);
}

int PositionReadout::beatsPerBar()
{
    return Settings::instance()->getIntSetting(QStringLiteral("AdvancedSlicingTimeSigNumer"), 4, 1,
                                               99);
}

QString PositionReadout::timeText(double seconds)
{
    return tr("%1 s").arg(seconds, 0, 'f', 3);
}

QString PositionReadout::barBeatText(double seconds, double tempo, int beatsPerBar)
{
    if (seconds < 0.0 || !(tempo > 0.0) || beatsPerBar <= 0)
        return QString();
    // A hair over, so that a position exactly on a beat counts as that beat.
    const double beats = std::floor(seconds * tempo / 60.0 + 1e-9);
    const qint64 whole = static_cast<qint64>(beats);
    return QStringLiteral("%1.%2").arg(whole / beatsPerBar + 1).arg(whole % beatsPerBar + 1);
}

double PositionReadout::secondsOf(unsigned long samples) const
{
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    const int rate = loop ? loop->getSampleRate() : 0;
    return rate > 0 ? double(samples) / (2.0 * rate) : 0.0;
}

void PositionReadout::setPointer(unsigned long sample)
{
    m_hasPointer = true;
    m_pointer = sample;
    update();
}

void PositionReadout::clearPointer()
{
    m_hasPointer = false;
    update();
}

void PositionReadout::setEstimatedTempo(double bpm)
{
    m_estimatedTempo = bpm > 0.0 ? bpm : 0.0;
    update();
}

void PositionReadout::setChosenTempo(double bpm)
{
    m_chosenTempo = bpm > 0.0 && std::isfinite(bpm) ? bpm : 0.0;
    update();
}

void PositionReadout::selectSlice(unsigned long start)
{
    m_hasSelection = true;
    m_selectedStart = start;
    update();
}

void PositionReadout::update()
{
    QStringList parts;
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    if (loop && loop->getLength() > 0) {
        if (m_hasPointer) {
            const double seconds = secondsOf(m_pointer);
            const double fromStart = seconds - secondsOf(m_pKerfer->getStartMarker());
            const QString barBeat = barBeatText(fromStart, tempo(), beatsPerBar());
            parts.append(barBeat.isEmpty() ? timeText(seconds)
                                           : tr("%1, bar %2").arg(timeText(seconds), barBeat));
        }
        const QList<unsigned long> starts = m_pKerfer->getSliceStarts();
        const int index = m_hasSelection ? starts.indexOf(m_selectedStart) : -1;
        if (index >= 0) {
            const unsigned long end =
                index + 1 < starts.size()
                    ? starts.at(index + 1)
                    : std::min<unsigned long>(m_pKerfer->getEndMarker(), loop->getLength());
            parts.append(tr("Slice %1: start %2, length %3")
                             .arg(index + 1)
                             .arg(timeText(secondsOf(m_selectedStart)),
                                  timeText(secondsOf(end - m_selectedStart))));
        }
    }
    const QString text = parts.join(QStringLiteral("  |  "));
    if (text != m_text) {
        m_text = text;
        emit textChanged(m_text);
    }
}
