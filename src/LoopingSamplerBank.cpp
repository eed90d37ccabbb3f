#include "LoopingSamplerBank.h"

#include "LoopingSampler.h"

LoopingSamplerBank::LoopingSamplerBank()
{
    for (int i = 0; i < LooperCount; ++i)
        m_loopers.append(new LoopingSampler());
}

LoopingSamplerBank::~LoopingSamplerBank()
{
    qDeleteAll(m_loopers);
}

const QList<LoopingSampler*>& LoopingSamplerBank::getLoopers() const
{
    return m_loopers;
}

int LoopingSamplerBank::getSelectedLooperIndex() const
{
    return m_selectedLooper;
}

void LoopingSamplerBank::setQuantizeToFirstLoop(bool on)
{
    LoopingSampler* first = m_loopers.first();
    if (on) {
        first->setMasterQuantizationLooper(true);
        for (int i = 1; i < m_loopers.count(); ++i)
            connect(first, &LoopingSampler::quantizationLengthChanged, m_loopers.at(i),
                    &LoopingSampler::setQuantizationLength, Qt::UniqueConnection);
    } else {
        // The connections may stay: a recorder that is not the master
        // publishes nothing.
        for (LoopingSampler* looper : qAsConst(m_loopers)) {
            looper->setQuantizationLength(-1);
            looper->setMasterQuantizationLooper(false);
        }
    }
}

void LoopingSamplerBank::recordAll(const float* buffer, unsigned long numSamples)
{
    for (LoopingSampler* looper : qAsConst(m_loopers))
        looper->record(buffer, numSamples);
}

void LoopingSamplerBank::renderAll(float* buffer, unsigned long numSamples)
{
    for (LoopingSampler* looper : qAsConst(m_loopers))
        looper->render(buffer, numSamples);
}

void LoopingSamplerBank::handleNoteAll(int note)
{
    for (LoopingSampler* looper : qAsConst(m_loopers))
        looper->handleNote(note, 127);
}

void LoopingSamplerBank::handleTransport(int command)
{
    LoopingSampler* looper = m_loopers.at(m_selectedLooper);
    if (looper->getRecordingState() == RecordingState::Recording) {
        looper->stopRecording();
        return;
    }
    switch (command) {
    case TransportStop:
        looper->togglePlayback(false);
        break;
    case TransportPlay:
        looper->togglePlayback(true);
        break;
    case TransportFastForward:
        selectNextLooper();
        break;
    case TransportRewind:
        selectPrevLooper();
        break;
    case TransportRecordStrobe:
        looper->armRecording(true);
        break;
    default:
        break;
    }
}

void LoopingSamplerBank::selectNextLooper()
{
    int index = m_selectedLooper;
    while (!m_selectedLooper.compare_exchange_weak(index, (index + 1) % LooperCount)) {
    }
    emit selectedLooperChanged((index + 1) % LooperCount);
}

void LoopingSamplerBank::selectPrevLooper()
{
    int index = m_selectedLooper;
    while (
        !m_selectedLooper.compare_exchange_weak(index, index > 0 ? index - 1 : LooperCount - 1)) {
    }
    emit selectedLooperChanged(index > 0 ? index - 1 : LooperCount - 1);
}
