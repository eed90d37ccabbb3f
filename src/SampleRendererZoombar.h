#pragma once

#include "SampleRenderer.h"

#include <QPoint>

// The overview strip below the slice editing view: always the whole loop, with
// the part the editing view shows framed as a bar. Dragging the bar sideways
// scrolls the editing view, dragging it up or down zooms it. While dragging,
// the pointer is hidden and kept inside the strip, so a drag can go on for as
// long as the user likes.
class SampleRendererZoombar : public SampleRenderer
{
    Q_OBJECT
public:
    // Narrowest bar a drag can make, in samples.
    static constexpr long kMinBarSpan = 100;
    // Narrowest grabbable area, in pixels.
    static constexpr int kMinHandleWidth = 20;

    SampleRendererZoombar(QWidget* parent, QSharedPointer<Slice> slice);
    ~SampleRendererZoombar() override;

    QSize minimumSizeHint() const override;
    void setSlice(QSharedPointer<Slice> slice) override;

    unsigned long getBarStart() const { return m_barStart; }
    unsigned long getBarEnd() const { return m_barEnd; }
    unsigned long getHandleStart() const { return m_handleStart; }
    unsigned long getHandleEnd() const { return m_handleEnd; }
    bool isDragging() const { return m_dragging; }

public slots:
    // Follows the editing view; does not emit barChanged.
    void setBarPosition(long iBarStartSampleIdx, long iBarEndSampleIdx);

signals:
    void barChanged(long iBarStartSampleIdx, long iBarEndSampleIdx);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void renderBackground() override;

private:
    bool isOnHandle(const QPoint& point) const;
    // Puts the pointer back on the middle of the bar.
    QPoint warpToBarCentre();
    void endDrag();

    quint32 m_barStart = 0;
    quint32 m_barEnd = 0;
    quint32 m_handleStart = 0;
    quint32 m_handleEnd = 0;
    bool m_dragging = false;
    QPoint m_pressPos;
    QPoint m_lastPos;
};
