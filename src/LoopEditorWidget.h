#pragma once

#include "SampleRenderer.h"

// A pad's waveform with its loop region: the loop start as a red line, the
// loop end as a blue one. The left button places the start, the right button
// the end; each stays on its own side of the other.
class LoopEditorWidget : public SampleRenderer
{
    Q_OBJECT
public:
    LoopEditorWidget(QWidget* parent, QSharedPointer<Slice> slice);

    void setSlice(QSharedPointer<Slice> slice) override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void placeLoopPoint(const QPoint& point, Qt::MouseButtons buttons);

    QMetaObject::Connection m_loopConnection;
};
