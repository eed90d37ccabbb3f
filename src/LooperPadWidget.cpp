#include "LooperPadWidget.h"

#include "LoopingSampler.h"
#include "SampleRendererLooper.h"
#include "ui_LooperPadWidget.h"

#include <QDebug>
#include <QSignalBlocker>

LooperPadWidget::LooperPadWidget(QWidget* parent, LoopingSampler* looper)
    : QWidget(parent), m_pUi(new Ui_LooperPadWidget), m_pLooper(looper)
{
    m_pUi->setupUi(this);
    // The selection colour is the window colour, which a child widget only
    // shows when it paints its own background.
    setAutoFillBackground(true);

    m_pSampleRenderer = new SampleRendererLooper(this, m_pLooper->getLoop());
    m_pSampleRenderer->setObjectName("sampleRenderer");
    m_pSampleRenderer->setMinimumSize(100, 30);
    delete m_pUi->hboxLayout->replaceWidget(m_pUi->SampleRendererFrame, m_pSampleRenderer);
    delete m_pUi->SampleRendererFrame;
    m_pUi->SampleRendererFrame = nullptr;

    connect(m_pUi->toolButtonRecord, &QToolButton::toggled, m_pLooper,
            &LoopingSampler::armRecording);
    connect(m_pUi->toolButtonPlay, &QToolButton::toggled, m_pLooper,
            &LoopingSampler::togglePlayback);
    // Automatic: direct for the buttons' own changes, queued for those MIDI
    // makes on the audio thread.
    connect(m_pLooper, &LoopingSampler::recordingStateChanged, this,
            &LooperPadWidget::updateRecButtonState);
    connect(m_pLooper, &LoopingSampler::playbackStateChanged, this,
            &LooperPadWidget::updatePlayButtonState);
}

LooperPadWidget::~LooperPadWidget()
{
    delete m_pUi;
}

void LooperPadWidget::updateRecButtonState(RecordingState state)
{
    qDebug() << "updateRecButtonState:" << static_cast<int>(state);
    {
        const QSignalBlocker blocker(m_pUi->toolButtonRecord);
        m_pUi->toolButtonRecord->setChecked(static_cast<int>(state) > 0);
    }
    // While recording the take grows on the audio thread and is not drawn;
    // every other change shows the take as it now is.
    if (state != RecordingState::Armed)
        m_pSampleRenderer->setWaveformDirtyAndRepaint();
}

void LooperPadWidget::updatePlayButtonState(bool toggle)
{
    qDebug() << "updatePlayButtonState:" << toggle;
    const QSignalBlocker blocker(m_pUi->toolButtonPlay);
    m_pUi->toolButtonPlay->setChecked(toggle);
}

void LooperPadWidget::setSelected(bool toggle)
{
    // Only the palette from before the selection is kept: selecting twice
    // must not make green the colour to return to.
    if (toggle == m_selected)
        return;
    m_selected = toggle;
    if (toggle) {
        m_savedPalette = palette();
        QPalette selected = m_savedPalette;
        selected.setBrush(QPalette::All, QPalette::Window, QBrush(Qt::green, Qt::SolidPattern));
        setPalette(selected);
        repaint();
    } else {
        setPalette(m_savedPalette);
    }
}
