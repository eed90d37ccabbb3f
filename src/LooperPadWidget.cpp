#include "LooperPadWidget.h"

#include "LoopingSampler.h"
#include "SampleRendererLooper.h"
#include "ui_LooperPadWidget.h"

#include <QDebug>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>

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

    // Without a MIDI device the row is the only way to record: the button
    // arms, a second click starts recording as a note would, a third ends it
    // as note 51 would; a right click disarms.
    connect(m_pUi->toolButtonRecord, &QToolButton::clicked, this,
            &LooperPadWidget::slotRecordButtonClicked);
    m_pUi->toolButtonRecord->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_pUi->toolButtonRecord, &QWidget::customContextMenuRequested, this, [this] {
        if (m_pLooper->getRecordingState() == RecordingState::Armed)
            m_pLooper->armRecording(false);
    });
    // As wide as its widest text, so that the row does not shift as it changes.
    int widest = 0;
    for (RecordingState state :
         {RecordingState::Recording, RecordingState::Armed, RecordingState::Off}) {
        showRecordButtonState(state);
        widest = std::max(widest, m_pUi->toolButtonRecord->sizeHint().width());
    }
    m_pUi->toolButtonRecord->setMinimumWidth(widest);
    showRecordButtonState(m_pLooper->getRecordingState());
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

void LooperPadWidget::slotRecordButtonClicked()
{
    switch (m_pLooper->getRecordingState()) {
    case RecordingState::Off:
        m_pLooper->armRecording(true);
        break;
    case RecordingState::Armed:
        m_pLooper->startRecording();
        break;
    case RecordingState::Recording:
        m_pLooper->stopRecording();
        break;
    }
    // The click toggled the button; the recorder's state decides what it shows.
    showRecordButtonState(m_pLooper->getRecordingState());
}

void LooperPadWidget::showRecordButtonState(RecordingState state)
{
    QToolButton* button = m_pUi->toolButtonRecord;
    const QSignalBlocker blocker(button);
    button->setChecked(static_cast<int>(state) > 0);
    switch (state) {
    case RecordingState::Off:
        button->setText(tr("Arm"));
        button->setToolTip(tr("Arm: the next note starts recording, or a second click"));
        break;
    case RecordingState::Armed:
        button->setText(tr("Armed"));
        button->setToolTip(tr("Click to start recording now; right-click to disarm"));
        break;
    case RecordingState::Recording:
        button->setText(tr("Rec"));
        button->setToolTip(tr("Click to stop recording and play the take"));
        break;
    }
}

void LooperPadWidget::updateRecButtonState(RecordingState state)
{
    qDebug() << "updateRecButtonState:" << static_cast<int>(state);
    showRecordButtonState(state);
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
