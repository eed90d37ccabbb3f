#include "LoopEditorWidget.h"

#include "Slice.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

LoopEditorWidget::LoopEditorWidget(QWidget* parent, QSharedPointer<Slice> slice)
    : SampleRenderer(parent, QSharedPointer<Slice>())
{
    setToolTip(tr("Left-click to set the loop starting point"));
    setSlice(slice);
}

void LoopEditorWidget::setSlice(QSharedPointer<Slice> slice)
{
    disconnect(m_loopConnection);
    SampleRenderer::setSlice(slice);
    // The region also changes from elsewhere (a project load): queued, since
    // the slice announces it with its own lock held.
    if (m_pSlice)
        m_loopConnection = connect(m_pSlice.data(), &Slice::loopChanged, this,
                                   QOverload<>::of(&QWidget::update), Qt::QueuedConnection);
}

QSize LoopEditorWidget::sizeHint() const
{
    return QSize(140, 60);
}

void LoopEditorWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawContents(&painter);
    if (!hasDrawableView())
        return;
    const int h = height();
    const auto lineAt = [&](unsigned long sample, const QColor& colour) {
        const double x = std::clamp(std::trunc(xOfSample(sample)), -1.0, double(width()));
        painter.setPen(colour);
        painter.drawLine(int(x), 0, int(x), h);
    };
    lineAt(m_pSlice->getLoopStart(), QColor(200, 0, 0, 255));
    lineAt(m_pSlice->getLoopEnd(), QColor(0, 0, 200, 255));
}

void LoopEditorWidget::mousePressEvent(QMouseEvent* event)
{
    placeLoopPoint(event->pos(), event->button());
}

void LoopEditorWidget::mouseMoveEvent(QMouseEvent* event)
{
    placeLoopPoint(event->pos(), event->buttons());
}

void LoopEditorWidget::placeLoopPoint(const QPoint& point, Qt::MouseButtons buttons)
{
    if (!hasDrawableView())
        return;
    // Positions are whole frames: an odd one would swap the channels of
    // every pass through the loop.
    const unsigned long sample = sampleAt(point) & ~1ul;
    if (buttons & Qt::LeftButton) {
        if (sample < m_pSlice->getLoopEnd())
            m_pSlice->setLoopStart(sample);
    } else if (buttons & Qt::RightButton) {
        if (sample > m_pSlice->getLoopStart())
            m_pSlice->setLoopEnd(sample);
    }
    update();
}
