#pragma once

#include "ui_preferences10.h"

#include "Settings.h"

#include <QDialog>

class SliceEngine;

// The audio output device and its buffer size, and the format slice files
// are written in. OK stores them and re-opens the audio and MIDI devices
// (also when nothing changed); Cancel stores nothing.
class PreferencesUI : public QDialog
{
    Q_OBJECT
public:
    // Largest buffer offered, in samples of both channels: the file preview
    // renders through a block of this size.
    static constexpr int kMaxBufferSize = Settings::kMaxAudioBufferSize;

    PreferencesUI(QWidget* parent, SliceEngine* engine);

    const Ui_DialogPreferences10& getUi() const { return m_ui; }

public slots:
    void slotAccept();
    void slotReject();

private:
    // FLAC holds no floating point: its choice takes 32-bit float off the list.
    void offerSampleFormats();

    Ui_DialogPreferences10 m_ui;
    SliceEngine* m_pEngine;
};
