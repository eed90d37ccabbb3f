#pragma once

#include "TimeRuler.h"

#include <QFont>
#include <QGLWidget>
#include <QPixmap>
#include <QPoint>
#include <QString>

class Kerfer;
class SampleRenderer;
class SliceDragOut;

// The thin strip above the slice editing view, drawn in that view's
// coordinates. Upper half: a time ruler; a click plays from there to the end of
// the slice. Lower half: the slice points, the slice under the mouse and the
// looped region; a click loops that slice or stops its loop.
class TransportBar : public QGLWidget
{
    Q_OBJECT
public:
    TransportBar(QWidget* parent, Kerfer* kerfer, SampleRenderer* view);

    // The ruler's ticks for the view as it is now drawn; none without audio.
    QVector<TimeRuler::Tick> rulerTicks() const;
    // The font the ruler's labels are drawn in, sized to the bar.
    QFont rulerFont() const;
    QPoint getHoverPos() const { return m_hoverPos; }
    SliceDragOut* getSliceDrag() const { return m_pSliceDrag; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Fills the lower half between two positions and centres the loop picture
    // in it when it fits.
    void drawSliceBand(QPainter* painter, unsigned long start, unsigned long end,
                       const QColor& colour);
    void drawRuler(QPainter* painter);

    Kerfer* m_pKerfer;
    SampleRenderer* m_pView;
    QPoint m_hoverPos;
    QPixmap m_loopPixmap;
    SliceDragOut* m_pSliceDrag;
};
