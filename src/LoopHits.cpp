#include "LoopHits.h"

#include "HitAnalysisJob.h"
#include "Kerfer.h"
#include "Slice.h"
#include "TempoEstimator.h"

#include <algorithm>

LoopHits::LoopHits(Kerfer* kerfer, QObject* parent)
    : QObject(parent), m_pKerfer(kerfer), m_pJob(new HitAnalysisJob(this)),
      m_deferredUpdate(this, [this] { update(); })
{
    // The loop is replaced before the new one is announced, and a file that
    // gives no audio is never announced: the old analysis goes at once.
    connect(m_pKerfer, &Kerfer::loopReplaced, this, [this] {
        m_pJob->clear();
        update();
    });
    connect(m_pKerfer, &Kerfer::sliceLoaded, this, &LoopHits::analyseLoop);
    // Once for a burst of moves (an undo sets both markers).
    connect(m_pKerfer, &Kerfer::markersChanged, this, [this] { m_deferredUpdate.request(); });
    connect(m_pJob, &HitAnalysisJob::finished, this, &LoopHits::update);
    if (m_pKerfer->getLoop())
        analyseLoop();
}

void LoopHits::analyseLoop()
{
    m_pJob->start(m_pKerfer->getLoop());
    update();
}

LoopHits::State LoopHits::getState() const
{
    if (m_pJob->getResult())
        return State::Ready;
    return m_pJob->isBusy() ? State::Analysing : State::NoLoop;
}

bool LoopHits::markerFrames(unsigned long* start, unsigned long* end) const
{
    const HitAnalysis* analysis = m_pJob->getResult();
    if (!analysis)
        return false;
    *start = m_pKerfer->getStartMarker() / 2;
    *end = std::min(m_pKerfer->getEndMarker() / 2, analysis->getFrames());
    return *end > *start;
}

QList<unsigned long> LoopHits::cutsAt(double sensitivity) const
{
    QList<unsigned long> cuts;
    unsigned long start = 0, end = 0;
    if (!markerFrames(&start, &end))
        return cuts;
    for (unsigned long frame : m_pJob->getResult()->pick(sensitivity, start, end))
        cuts.append(2 * frame);
    return cuts;
}

QString LoopHits::tempoText(double bpm)
{
    return bpm > 0.0 ? tr("Tempo: %1 bpm (estimated)").arg(bpm, 0, 'f', 1) : QString();
}

void LoopHits::update()
{
    unsigned long start = 0, end = 0;
    const double tempo = markerFrames(&start, &end)
                             ? TempoEstimator::estimate(*m_pJob->getResult(), start, end)
                             : 0.0;
    const bool tempoMoved = tempo != m_tempo;
    m_tempo = tempo;
    emit changed();
    if (tempoMoved)
        emit tempoChanged(m_tempo);
}
