#include "SampleRenderer.h"

#include "AudioCache.h"
#include "Slice.h"

#include <QLinearGradient>
#include <QMutexLocker>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

namespace {

// Pixel position of a double as drawn: clamped into the int range first, so a
// position far outside the view cannot overflow the conversion.
int toPixel(double x)
{
    if (!(x > -1.0e6)) // also NaN
        return -1000000;
    if (x > 1.0e6)
        return 1000000;
    return static_cast<int>(x);
}

} // namespace

// Outside any namespace, as the resource macro requires.
static void registerResources()
{
    Q_INIT_RESOURCE(tamberlo);
}

void SampleRenderer::initResources()
{
    static bool done = false;
    if (!done) {
        registerResources();
        done = true;
    }
}

SampleRenderer::SampleRenderer(QWidget* parent, QSharedPointer<Slice> slice)
    : QGLWidget(parent, nullptr, Qt::WindowFlags())
{
    initResources();
    setAttribute(Qt::WA_NoSystemBackground);
    setSlice(slice);
}

SampleRenderer::~SampleRenderer()
{
    disconnect(m_playPosConnection);
    disconnect(m_fillConnection);
    dropPixmaps();
}

void SampleRenderer::dropPixmaps()
{
    QMutexLocker lock(&m_pixmapMutex);
    delete m_pWaveformPixmap;
    m_pWaveformPixmap = nullptr;
    delete m_pBackgroundPixmap;
    m_pBackgroundPixmap = nullptr;
    m_waveformDirty = true;
    m_backgroundDirty = true;
}

unsigned long SampleRenderer::sliceLength() const
{
    return m_pSlice ? m_pSlice->getLength() : 0;
}

bool SampleRenderer::hasDrawableView() const
{
    return sliceLength() > 0 && m_viewEnd > m_viewStart;
}

void SampleRenderer::setSlice(QSharedPointer<Slice> slice)
{
    disconnect(m_playPosConnection);
    disconnect(m_fillConnection);
    m_pSlice = slice;
    dropPixmaps();
    if (!m_pSlice)
        return;

    const quint32 length = static_cast<quint32>(m_pSlice->getLength());
    if (length < kMinViewSpan) {
        // Too short for the narrowest view: show all of it, which the view
        // limits would otherwise refuse and leave the previous view in place.
        if (m_viewStart != 0 || m_viewEnd != length) {
            m_viewStart = 0;
            m_viewEnd = length;
            emit viewChanged(m_viewStart, m_viewEnd);
        }
    } else {
        setViewStart(0, true);
        setViewEnd(length, true);
    }

    // The play position moves on the audio thread and the cache fills on the
    // reader's: both must reach the widget on its own thread.
    m_playPosConnection = connect(m_pSlice.data(), &Slice::playPosChanged, this,
                                  QOverload<>::of(&QWidget::update), Qt::QueuedConnection);
    const QSharedPointer<AudioCache> cache = m_pSlice->getAudioCache();
    if (cache)
        m_fillConnection =
            connect(cache.data(), &AudioCache::fillProgress, this,
                    &SampleRenderer::setWaveformDirtyAndRepaint, Qt::QueuedConnection);
}

std::pair<qint64, qint64> SampleRenderer::keptInside(qint64 start, qint64 end, qint64 length)
{
    if (end - start >= length)
        return {0, std::max<qint64>(length, 0)};
    if (start < 0)
        return {0, end - start};
    if (end > length)
        return {length - (end - start), length};
    return {start, end};
}

void SampleRenderer::setViewStart(long start, bool emitSignal)
{
    const qint64 value = std::max<qint64>(start, 0);
    if (value == m_viewStart || qint64(m_viewEnd) - value < kMinViewSpan)
        return;
    m_viewStart = static_cast<quint32>(value);
    setWaveformDirty(true);
    update();
    if (emitSignal)
        emit viewChanged(m_viewStart, m_viewEnd);
}

void SampleRenderer::setViewEnd(long end, bool emitSignal)
{
    const qint64 value = std::max<qint64>(end, 0);
    if (value == m_viewEnd || value - qint64(m_viewStart) < kMinViewSpan)
        return;
    m_viewEnd = static_cast<quint32>(std::min<qint64>(value, 0xffffffffLL));
    setWaveformDirty(true);
    update();
    if (emitSignal)
        emit viewChanged(m_viewStart, m_viewEnd);
}

void SampleRenderer::setViewPosition(long iViewStartSampleIdx, long iViewEndSampleIdx)
{
    qint64 end = std::max<qint64>(iViewEndSampleIdx, 0);
    if (m_pSlice && qint64(m_pSlice->getLength()) < end)
        end = qint64(m_pSlice->getLength());
    m_viewStart = static_cast<quint32>(std::max<qint64>(iViewStartSampleIdx, 0));
    m_viewEnd = static_cast<quint32>(std::min<qint64>(end, 0xffffffffLL));
    setWaveformDirty(true);
    update();
}

void SampleRenderer::setWaveformDirty(bool dirty)
{
    QMutexLocker lock(&m_pixmapMutex);
    m_waveformDirty = dirty;
}

bool SampleRenderer::isWaveformDirty() const
{
    QMutexLocker lock(&m_pixmapMutex);
    return m_waveformDirty;
}

bool SampleRenderer::isBackgroundDirty() const
{
    QMutexLocker lock(&m_pixmapMutex);
    return m_backgroundDirty;
}

void SampleRenderer::setWaveformDirtyAndRepaint()
{
    setWaveformDirty(true);
    update();
}

void SampleRenderer::setColour(const QColor& colour)
{
    QMutexLocker lock(&m_pixmapMutex);
    m_backgroundColour = colour;
    m_backgroundDirty = true;
}

float SampleRenderer::zoomFactor() const
{
    if (!hasDrawableView())
        return 1.0f;
    return static_cast<float>(double(sliceLength()) / double(m_viewEnd - m_viewStart));
}

float SampleRenderer::samplesPerPixel() const
{
    const unsigned long width = static_cast<unsigned long>(std::max(this->width(), 0));
    if (!hasDrawableView() || width == 0)
        return 0.0f;
    return static_cast<float>(sliceLength() / width) / zoomFactor();
}

unsigned long SampleRenderer::sampleAt(const QPoint& point) const
{
    const unsigned long length = sliceLength();
    if (!hasDrawableView() || point.x() < 0 || width() <= 0)
        return 0;
    // x x span / W rather than x / W x span: the product of two integers is
    // exact, so whole samples per pixel give whole results.
    const double offset =
        std::floor(double(point.x()) * double(m_viewEnd - m_viewStart) / double(width()));
    const double sample = std::max(double(m_viewStart) + offset, 0.0);
    if (sample > double(length))
        return length >= 4 ? length - 4 : 0;
    return static_cast<unsigned long>(sample);
}

double SampleRenderer::samplesPerSecond() const
{
    // Positions count the slice's own samples, so its rate says how long
    // they last; 44.1 kHz where there is none to ask.
    const int rate = m_pSlice ? m_pSlice->getSampleRate() : 0;
    return 2.0 * (rate > 0 ? rate : 44100);
}

float SampleRenderer::secondsAt(const QPoint& point) const
{
    return static_cast<float>(sampleAt(point)) * static_cast<float>(1.0 / samplesPerSecond());
}

float SampleRenderer::fractionAt(const QPoint& point) const
{
    if (!hasDrawableView() || width() <= 0)
        return 0.0f;
    const double length = double(sliceLength());
    const double a = double(m_viewStart) / length;
    const double b = double(m_viewEnd) / length;
    return static_cast<float>(std::min(a + (b - a) * double(point.x()) / double(width()), 1.0));
}

double SampleRenderer::xOfSample(unsigned long sample) const
{
    if (!hasDrawableView())
        return 0.0;
    return (double(sample) - double(m_viewStart)) * double(width()) /
           double(m_viewEnd - m_viewStart);
}

double SampleRenderer::xOfSeconds(float seconds) const
{
    const double sample = std::trunc(samplesPerSecond() * double(seconds));
    if (!(sample > 0.0))
        return xOfSample(0);
    return xOfSample(static_cast<unsigned long>(std::min(sample, 4294967295.0)));
}

int SampleRenderer::xOfFraction(float fraction) const
{
    if (!hasDrawableView())
        return 0;
    const double length = double(sliceLength());
    const double a = double(m_viewStart) / length;
    const double b = double(m_viewEnd) / length;
    return toPixel(double(width()) * (double(fraction) - a) / (b - a));
}

unsigned long SampleRenderer::sampleAtViewFraction(float fraction) const
{
    if (!hasDrawableView())
        return 0;
    const double sample = double(m_viewStart) + double(m_viewEnd - m_viewStart) * double(fraction);
    return static_cast<unsigned long>(std::clamp(sample, 0.0, 4294967295.0));
}

void SampleRenderer::resizeEvent(QResizeEvent* event)
{
    QGLWidget::resizeEvent(event);
    dropPixmaps();
}

void SampleRenderer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawContents(&painter);
}

void SampleRenderer::drawContents(QPainter* painter)
{
    QMutexLocker lock(&m_pixmapMutex);
    if (m_backgroundDirty)
        renderBackground();
    if (m_waveformDirty)
        renderWaveform();
    if (m_pBackgroundPixmap)
        painter->drawPixmap(rect(), *m_pBackgroundPixmap);
    if (m_pSlice && m_pWaveformPixmap)
        painter->drawPixmap(rect(), *m_pWaveformPixmap);
}

QPixmap* SampleRenderer::newPixmap() const
{
    // In device pixels, painted in the widget's own: sharp on a dense screen.
    const qreal ratio = devicePixelRatioF();
    QPixmap* pixmap = new QPixmap(qRound(width() * ratio), qRound(height() * ratio));
    pixmap->setDevicePixelRatio(ratio);
    return pixmap;
}

void SampleRenderer::renderBackground()
{
    QMutexLocker lock(&m_pixmapMutex);
    const int h = height();
    if (!m_pBackgroundPixmap)
        m_pBackgroundPixmap = newPixmap();
    if (!m_pBackgroundPixmap->isNull()) {
        QPainter painter(m_pBackgroundPixmap);
        painter.fillRect(rect(), m_backgroundColour);
        // Opaque, so it covers the colour: dark grey over the top, fading to
        // black at the bottom edge.
        QLinearGradient gradient(QPointF(100, h), QPointF(100, 100));
        gradient.setColorAt(0, Qt::black);
        gradient.setColorAt(1, QColor(80, 80, 80, 255));
        painter.fillRect(rect(), gradient);
    }
    m_backgroundDirty = false;
}

void SampleRenderer::renderWaveform()
{
    QMutexLocker lock(&m_pixmapMutex);
    const unsigned long length = sliceLength();
    const int w = width();
    const int h = height();
    // Without audio, a view or pixels there is nothing to draw: the waveform
    // stays dirty and is built once there is.
    if (!hasDrawableView() || w <= 0 || h <= 0)
        return;

    if (!m_pWaveformPixmap)
        m_pWaveformPixmap = newPixmap();
    m_pWaveformPixmap->fill(Qt::transparent);
    const int mid = h / 2;

    QPainter painter(m_pWaveformPixmap);
    const double spp =
        std::max(double(length) / (double(w) * double(zoomFactor())), 0.0); // per column
    if (spp < kLineModeSamplesPerPixel) {
        painter.setPen(QColor(64, 64, 64, 255));
        painter.drawLine(0, mid, w, mid);
    }
    painter.setPen(QColor(140, 247, 0, 255));

    // A slice recorded in memory has no cache. Its buffer grows on the audio
    // thread while it records, so it cannot be read from here without the
    // slice's lock; it is shown without a waveform.
    const QSharedPointer<AudioCache> cache = m_pSlice->getAudioCache();
    if (cache) {
        // The cost per column is bounded (about 16 lookups at any zoom), so a
        // rebuild depends on the width only, not on the zoom or the length.
        const double step = std::max(spp * 0.0625, 2.0);
        const double reach = std::ceil(spp);
        const double end = double(m_viewEnd) - 1.0;
        double pos = double(m_viewStart & ~quint32(1));
        const bool columns = spp > kLineModeSamplesPerPixel;
        QPoint previous(0, mid);

        cache->lock();
        for (int x = 0; pos < end; ++x) {
            const double limit = std::min(end, pos + reach);
            float lo = 1.0f;
            float hi = 0.0f;
            for (double p = pos; p < limit; p += step) {
                const float value = cache->getSample(static_cast<long>(p));
                const float y = std::trunc(value * float(h) * 0.5f);
                lo = std::min(lo, y);
                hi = std::max(hi, y);
            }
            const int peak = static_cast<int>(std::fabs(lo) >= std::fabs(hi) ? lo : hi);
            if (columns) {
                painter.drawLine(x, mid + peak, x, mid - peak);
            } else {
                const QPoint point(x, mid + peak);
                painter.drawLine(previous, point);
                previous = point;
            }
            pos += spp;
        }
        cache->unlock();
    }
    painter.end();
    m_waveformDirty = false;
}

void SampleRenderer::drawPlayCursor(QPainter* painter)
{
    if (!hasDrawableView())
        return;
    const int x = std::max(toPixel(xOfSample(m_pSlice->getPlayPos())), 0);
    painter->setPen(QColor(255, 0, 0));
    painter->drawLine(x, 0, x, height());
}
