#pragma once

#include "SampleRenderer.h"

// The small waveform of a looper pad: the waveform and the play cursor.
class SampleRendererLooper : public SampleRenderer
{
    Q_OBJECT
public:
    SampleRendererLooper(QWidget* parent, QSharedPointer<Slice> slice);

protected:
    void paintEvent(QPaintEvent* event) override;
};
