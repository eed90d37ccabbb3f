#include "SampleRendererZoombar.h"

#include "Slice.h"

#include <QApplication>
#include <QCursor>
#include <QDebug>
#include <QMouseEvent>
#include <QMutexLocker>
#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

int truncX(double x)
{
    return static_cast<int>(std::clamp(std::trunc(x), -1.0e6, 1.0e6));
}

// Product of two 32-bit values as 32-bit integer arithmetic does it.
qint32 product32(qint32 a, qint32 b)
{
    return static_cast<qint32>(static_cast<quint32>(a) * static_cast<quint32>(b));
}

} // namespace

SampleRendererZoombar::SampleRendererZoombar(QWidget* parent, QSharedPointer<Slice> slice)
    : SampleRenderer(parent, QSharedPointer<Slice>())
{
    // The base constructor cannot reach the override; set the slice here so
    // that the bar starts out as the whole loop.
    setSlice(slice);
    setMouseTracking(true);
}

SampleRendererZoombar::~SampleRendererZoombar()
{
    // A strip destroyed in mid-drag must not leave the pointer hidden.
    if (m_dragging)
        QApplication::restoreOverrideCursor();
}

QSize SampleRendererZoombar::minimumSizeHint() const
{
    return QSize(100, 25);
}

void SampleRendererZoombar::setSlice(QSharedPointer<Slice> slice)
{
    SampleRenderer::setSlice(slice);
    if (slice) {
        // A new slice is shown whole by the editing view as well.
        const quint32 length = static_cast<quint32>(slice->getLength());
        m_barStart = 0;
        m_barEnd = length;
        m_handleStart = 0;
        m_handleEnd = length;
    }
}

void SampleRendererZoombar::setBarPosition(long iBarStartSampleIdx, long iBarEndSampleIdx)
{
    m_barStart = static_cast<quint32>(std::max<long>(iBarStartSampleIdx, 0));
    m_barEnd = static_cast<quint32>(std::max<long>(iBarEndSampleIdx, 0));

    const int x1 = truncX(xOfSample(m_barStart));
    const int w = truncX(xOfSample(m_barEnd)) - x1;
    const int centre = truncX(x1 + std::ceil(w * 0.5));
    if (w >= kMinHandleWidth) {
        m_handleStart = m_barStart;
        m_handleEnd = m_barEnd;
    } else {
        // A narrow bar is still grabbed within 10 pixels of its centre.
        int a = std::max(centre - kMinHandleWidth / 2, 0);
        int b = std::max(centre + kMinHandleWidth / 2, kMinHandleWidth);
        if (b >= width()) {
            a = width() - kMinHandleWidth;
            b = width();
        }
        m_handleStart = static_cast<quint32>(sampleAt(QPoint(a, 0)));
        m_handleEnd = static_cast<quint32>(sampleAt(QPoint(b, 0)));
    }
    update();
}

bool SampleRendererZoombar::isOnHandle(const QPoint& point) const
{
    const unsigned long sample = sampleAt(point);
    return m_handleStart < sample && sample < m_handleEnd;
}

QPoint SampleRendererZoombar::warpToBarCentre()
{
    const QPoint centre(truncX(xOfSample(m_barStart + (m_barEnd - m_barStart) / 2)), height() / 2);
    QCursor::setPos(mapToGlobal(centre));
    return centre;
}

void SampleRendererZoombar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !m_dragging && isOnHandle(event->pos())) {
        m_pressPos = event->pos();
        QApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
        m_dragging = true;
        setMouseTracking(false);
    }
    m_lastPos = event->pos();
    event->accept();
}

void SampleRendererZoombar::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->pos();
    const int dx = pos.x() - m_lastPos.x();
    const int dy = pos.y() - m_lastPos.y();

    if (!m_dragging) {
        if (isOnHandle(pos))
            setCursor(Qt::OpenHandCursor);
        else
            unsetCursor();
    } else {
        // One pixel sideways moves the view by 0.4 % of its span; one pixel up
        // narrows it by 0.5 % at each end.
        const qint32 span = static_cast<qint32>(m_barEnd - m_barStart);
        const qint64 pan = qint64(std::trunc(product32(dx, span) * 0.004));
        const qint64 zoom = qint64(std::trunc(product32(-dy, span) * 0.005));
        qint64 newStart = qint64(m_barStart) + zoom + pan;
        qint64 newEnd = qint64(m_barEnd) - zoom + pan;
        if (newEnd - newStart < kMinBarSpan) {
            newStart = m_barStart;
            newEnd = qint64(m_barStart) + kMinBarSpan;
            qDebug() << "Hit minimum size in SampleRendererZoombar";
        }
        // Dragged into an edge, the bar stops there as wide as it was.
        std::tie(newStart, newEnd) = keptInside(newStart, newEnd, qint64(sliceLength()));
        setBarPosition(long(newStart), long(newEnd));
        emit barChanged(m_barStart, m_barEnd);
    }
    m_lastPos = pos;
    event->accept();

    if (m_dragging &&
        (pos.x() < 0 || pos.x() > width() || std::abs(pos.y() - m_pressPos.y()) > 25)) {
        m_lastPos = m_pressPos = warpToBarCentre();
    }
}

void SampleRendererZoombar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragging) {
        warpToBarCentre();
        endDrag();
    }
    event->accept();
}

void SampleRendererZoombar::endDrag()
{
    QApplication::restoreOverrideCursor();
    setMouseTracking(true);
    m_dragging = false;
}

void SampleRendererZoombar::wheelEvent(QWheelEvent*) {}

void SampleRendererZoombar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawContents(&painter);
    drawPlayCursor(&painter);

    const int w = width();
    const int h = height();
    const int x1 = truncX(xOfSample(m_handleStart));
    const int x2 = truncX(xOfSample(m_handleEnd));

    const QPointF highlight[3] = {QPointF(x1, 0), QPointF(x2, h), QPointF(x2, 0)};
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 40));
    painter.drawPolygon(highlight, 3);

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QColor(200, 200, 200, 255));
    painter.drawRect(QRect(QPoint(x1, 0), QPoint(x2 - 2, h - 2)));

    // Everything outside the bar is veiled.
    const QColor veil(255, 255, 255, 127);
    painter.fillRect(QRect(QPoint(0, 0), QPoint(x1 - 1, h - 1)), veil);
    painter.fillRect(QRect(QPoint(x2, 0), QPoint(w - 1, h - 1)), veil);
}

void SampleRendererZoombar::renderBackground()
{
    QMutexLocker lock(&m_pixmapMutex);
    if (!m_pBackgroundPixmap)
        m_pBackgroundPixmap = newPixmap();
    if (!m_pBackgroundPixmap->isNull())
        m_pBackgroundPixmap->fill(m_backgroundColour.isValid() ? m_backgroundColour
                                                               : QColor(Qt::black));
    m_backgroundDirty = false;
}
