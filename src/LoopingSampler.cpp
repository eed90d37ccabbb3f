#include "LoopingSampler.h"

#include "Slice.h"

#include <QDebug>

LoopingSampler::LoopingSampler() : m_pLoop(new Slice())
{
    registerRecordingState();
    // The whole room is reserved here, on the thread that builds the engine:
    // appending a block while recording then never reallocates.
    m_pLoop->reserveSamples(MaxRecordingSamples);
}

LoopingSampler::~LoopingSampler() = default;

RecordingState LoopingSampler::getRecordingState() const
{
    return m_recordingState.load();
}

void LoopingSampler::setRecordingState(RecordingState state)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_recordingState = state;
    qDebug() << "Recording state:" << static_cast<int>(state);
    emit recordingStateChanged(state);
    if (m_masterQuantizationLooper) {
        const long length = static_cast<long>(m_pLoop->getLength());
        m_quantizationLength = length;
        emit quantizationLengthChanged(length);
    }
}

QSharedPointer<Slice> LoopingSampler::getLoop() const
{
    return m_pLoop;
}

bool LoopingSampler::isPlaying() const
{
    return m_pLoop->isPlaying();
}

long LoopingSampler::getQuantizationLength() const
{
    return m_quantizationLength;
}

bool LoopingSampler::isMasterQuantizationLooper() const
{
    return m_masterQuantizationLooper;
}

void LoopingSampler::armRecording(bool arm)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (arm) {
        qDebug() << "Looper armed";
        // Normally a no-op: the room reserved at construction survives clear().
        // Should anything have shrunk the take's buffer, this restores it
        // before the recording starts.
        m_pLoop->reserveSamples(MaxRecordingSamples);
        setRecordingState(RecordingState::Armed);
    } else {
        qDebug() << "Looper OFF";
        togglePlayback(true);
        setRecordingState(RecordingState::Off);
    }
}

void LoopingSampler::stopRecording()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    setRecordingState(RecordingState::Off);
    togglePlayback(true);
}

void LoopingSampler::togglePlayback(bool play)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (play) {
        qDebug() << "Starting playback";
        m_pLoop->play(true, 0.0, 1.0);
        m_pLoop->setLoopMode(1);
        emit playbackStateChanged(true);
    } else {
        qDebug() << "Stopping playback";
        m_pLoop->play(false, 0.0, 1.0);
        emit playbackStateChanged(false);
    }
}

void LoopingSampler::setQuantizationLength(long length)
{
    qDebug() << "set quant len:" << length;
    m_quantizationLength = length;
}

void LoopingSampler::setMasterQuantizationLooper(bool master)
{
    m_masterQuantizationLooper = master;
}

void LoopingSampler::handleNote(int note, int velocity)
{
    if (velocity == 0)
        return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const RecordingState state = m_recordingState;
    if (note == StopNote) {
        if (state == RecordingState::Recording) {
            setRecordingState(RecordingState::Off);
            togglePlayback(true);
        } else if (state == RecordingState::Armed) {
            setRecordingState(RecordingState::Off);
        }
    } else {
        startRecording();
    }
}

void LoopingSampler::startRecording()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_recordingState != RecordingState::Armed)
        return;
    m_pLoop->clear();
    qDebug() << "Cleared loop, starting recording";
    togglePlayback(false);
    setRecordingState(RecordingState::Recording);
}

void LoopingSampler::record(const float* buffer, unsigned long numSamples)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_recordingState != RecordingState::Recording)
        return;

    const unsigned long length = m_pLoop->getLength();
    unsigned long count = numSamples;
    bool stop = false;
    const long quantization = m_quantizationLength;
    if (quantization > 0 && length + count >= static_cast<unsigned long>(quantization)) {
        qDebug() << "Quantization induced stop rec";
        // A take already past the length (the first loop was published while
        // this one recorded) gets nothing more rather than a wrapped count.
        const unsigned long limit = static_cast<unsigned long>(quantization);
        count = length < limit ? limit - length : 0;
        stop = true;
    }
    if (length + count >= MaxRecordingSamples) {
        qDebug() << "Recording reached its limit of" << MaxRecordingSamples << "samples";
        count = length < MaxRecordingSamples ? MaxRecordingSamples - length : 0;
        stop = true;
    }
    if (count > 0)
        m_pLoop->appendSamples(buffer, static_cast<unsigned>(count));
    // The take is complete before the change is announced, so a master
    // publishes the length it ends with and playback covers all of it.
    if (stop) {
        setRecordingState(RecordingState::Off);
        togglePlayback(true);
    }
}

void LoopingSampler::render(float* buffer, unsigned long numSamples)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_recordingState != RecordingState::Recording)
        m_pLoop->renderRaw(buffer, static_cast<unsigned>(numSamples));
}
