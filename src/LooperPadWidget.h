#pragma once

#include "RecordingState.h"

#include <QPalette>
#include <QWidget>

class LoopingSampler;
class SampleRendererLooper;
class Ui_LooperPadWidget;

// One loop recorder as a row: Arm (record) and Play buttons and a small view
// of the take. The buttons drive the recorder and follow its state, which
// also changes from MIDI; following it never sends it back. The Arm button
// also starts and stops recording, so that a recorder works without MIDI.
class LooperPadWidget : public QWidget
{
    Q_OBJECT
public:
    LooperPadWidget(QWidget* parent, LoopingSampler* looper);
    ~LooperPadWidget() override;

    LoopingSampler* getLooper() const { return m_pLooper; }
    bool isSelected() const { return m_selected; }

public slots:
    // Arm, start or stop recording, by the recorder's state.
    void slotRecordButtonClicked();
    void updateRecButtonState(RecordingState state);
    void updatePlayButtonState(bool toggle);
    void setSelected(bool toggle);

private:
    void showRecordButtonState(RecordingState state);

    Ui_LooperPadWidget* m_pUi = nullptr;
    LoopingSampler* m_pLooper = nullptr;
    SampleRendererLooper* m_pSampleRenderer = nullptr;
    bool m_selected = false;
    QPalette m_savedPalette;
};
