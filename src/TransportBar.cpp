#include "TransportBar.h"

#include "Kerfer.h"
#include "SampleRenderer.h"
#include "Slice.h"
#include "SliceDragOut.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

int truncX(double x)
{
    return static_cast<int>(std::clamp(std::trunc(x), -1.0e6, 1.0e6));
}

} // namespace

TransportBar::TransportBar(QWidget* parent, Kerfer* kerfer, SampleRenderer* view)
    : QGLWidget(parent, nullptr, Qt::WindowFlags()), m_pKerfer(kerfer), m_pView(view),
      m_hoverPos(0, 0), m_pSliceDrag(new SliceDragOut(kerfer, this))
{
    SampleRenderer::initResources();
    setMinimumSize(0, 25);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMouseTracking(true);
    m_loopPixmap.load(":transport_loop.png");
    if (m_pKerfer) {
        connect(m_pKerfer, &Kerfer::slicePointsChanged, this, QOverload<>::of(&QWidget::update));
        connect(m_pKerfer, &Kerfer::loopChanged, this, QOverload<>::of(&QWidget::update));
    }
}

QFont TransportBar::rulerFont() const
{
    QFont font = this->font();
    font.setPixelSize(std::max(height() / 2 - 3, 6));
    return font;
}

QVector<TimeRuler::Tick> TransportBar::rulerTicks() const
{
    if (!m_pKerfer || !m_pView)
        return {};
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    if (!loop || loop->getLength() == 0)
        return {};
    const QFontMetrics metrics(rulerFont());
    // In the view's coordinates, like everything the bar draws.
    return TimeRuler::ticks(
        double(m_pView->getViewStart()), double(m_pView->getViewEnd()), m_pView->width(),
        2.0 * loop->getSampleRate(),
        [&metrics](const QString& text) { return metrics.horizontalAdvance(text); });
}

void TransportBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    painter.fillRect(rect(),
                     m_hoverPos.x() > 0 ? QColor(40, 40, 40, 255) : QColor(30, 30, 30, 255));

    if (!m_pKerfer || !m_pView)
        return;
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    // Nothing to measure without audio in the view.
    if (!loop || loop->getLength() == 0 || m_pView->getViewEnd() <= m_pView->getViewStart())
        return;

    if (m_hoverPos.x() > 0) {
        const unsigned long sample = m_pView->sampleAt(m_hoverPos);
        drawSliceBand(&painter, m_pKerfer->getSliceStart(sample, 0), m_pKerfer->getSliceEnd(sample),
                      QColor(60, 60, 60, 255));
    }
    if (loop->getLoopMode() > 0)
        drawSliceBand(&painter, m_pKerfer->getLoopRegionStart(), m_pKerfer->getLoopRegionEnd(),
                      QColor(80, 80, 80, 255));

    if (m_hoverPos.y() < h / 2) {
        painter.setPen(QColor(255, 0, 0, 255));
        painter.drawLine(m_hoverPos.x(), 0, m_hoverPos.x(), h / 2);
    }

    drawRuler(&painter);

    painter.setPen(QColor(200, 0, 0, 255));
    const QList<unsigned long> points = m_pKerfer->getSlicePoints();
    for (unsigned long point : points) {
        const double x = m_pView->xOfSample(point);
        if (x < 0.0 || x > double(w))
            continue;
        painter.drawLine(int(x), h / 2, int(x), h);
    }
}

void TransportBar::drawSliceBand(QPainter* painter, unsigned long start, unsigned long end,
                                 const QColor& colour)
{
    const int h = height();
    const int x1 = truncX(m_pView->xOfSample(start));
    const int bandWidth = truncX(m_pView->xOfSample(end)) - x1;
    painter->fillRect(QRect(x1, h / 2, bandWidth, h / 2).intersected(rect()), colour);
    if (bandWidth <= m_loopPixmap.width())
        return;
    const QPoint at(x1 + bandWidth / 2 - m_loopPixmap.width() / 2, h / 2);
    if (QRect(at, m_loopPixmap.size()).intersects(rect()))
        painter->drawPixmap(at, m_loopPixmap);
}

void TransportBar::drawRuler(QPainter* painter)
{
    const int h = height();
    painter->setFont(rulerFont());
    for (const TimeRuler::Tick& tick : rulerTicks()) {
        if (tick.label.isEmpty()) {
            painter->setPen(QColor(128, 128, 128, 255));
            painter->drawLine(QPointF(tick.x, 0), QPointF(tick.x, h / 4));
            continue;
        }
        painter->setPen(QColor(200, 200, 200, 255));
        painter->drawLine(QPointF(tick.x, 0), QPointF(tick.x, h / 2));
        painter->drawText(QPoint(truncX(tick.x + 4.0), h / 2), tick.label);
    }
}

void TransportBar::mousePressEvent(QMouseEvent* event)
{
    if (!m_pKerfer || !m_pView)
        return;
    const QPoint pos = event->pos();
    if (pos.y() < height() / 2) {
        const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
        const unsigned long length = loop ? loop->getLength() : 0;
        if (length == 0)
            return;
        const double fraction = m_pView->fractionAt(pos);
        const unsigned long start = static_cast<unsigned long>(
            std::clamp(std::trunc(fraction * double(length)), 0.0, 4294967295.0));
        // A point may lie beyond the audio, and a click beyond the end marker
        // finds an end before the start: never ask for a backward pass.
        const unsigned long end = std::min(m_pKerfer->getSliceEnd(start), length);
        if (start < end)
            loop->play(true, fraction, double(end) / double(length));
        if (event->button() == Qt::LeftButton)
            m_pSliceDrag->arm(pos, m_pKerfer->getSliceStart(start, 0));
    } else {
        m_pKerfer->toggleSliceLoop(m_pView->sampleAt(pos));
        update();
    }
}

void TransportBar::mouseReleaseEvent(QMouseEvent*)
{
    m_pSliceDrag->disarm();
}

void TransportBar::mouseMoveEvent(QMouseEvent* event)
{
    m_hoverPos = event->pos();
    update();
    m_pSliceDrag->follow(event->pos(), event->buttons());
}

void TransportBar::leaveEvent(QEvent*)
{
    m_hoverPos = QPoint(-1, -1);
    update();
}

void TransportBar::resizeEvent(QResizeEvent* event)
{
    // The base makes the GL context current for the new size; nothing of ours
    // depends on the size.
    QGLWidget::resizeEvent(event);
}
