#pragma once

#include <QColor>
#include <QGLWidget>
#include <QMetaObject>
#include <QMutex>
#include <QPoint>
#include <QSharedPointer>

#include <utility>

class QPainter;
class QPixmap;
class Slice;

// Draws one Slice between a view start and a view end sample. The background
// and the waveform are cached as two pictures that are rebuilt only when marked
// dirty, so repainting for the moving play cursor costs two picture copies and
// a line. The waveform is rebuilt while the slice's cache fills.
//
// Positions are samples of the interleaved stereo stream (two per frame).
class SampleRenderer : public QGLWidget
{
    Q_OBJECT
public:
    // The view never becomes narrower than this through setViewStart/setViewEnd.
    static constexpr long kMinViewSpan = 101;
    // Below this many samples per pixel the waveform is a joined line around a
    // centre line; above it, one symmetric vertical line per column.
    static constexpr double kLineModeSamplesPerPixel = 256.0;

    SampleRenderer(QWidget* parent, QSharedPointer<Slice> slice);
    ~SampleRenderer() override;

    // Registers the compiled-in images (":draghere.png", ...). The widget
    // library is static, so they are only linked in when something refers to
    // them; every widget that loads one calls this first.
    static void initResources();

    // Shows another slice (or none) from its start to its end and drops the
    // cached pictures and the connections to the previous slice.
    virtual void setSlice(QSharedPointer<Slice> slice);
    QSharedPointer<Slice> getSlice() const { return m_pSlice; }

    // A range moved back inside 0 to length whole where it crosses an end, so
    // that scrolling or dragging into an edge stops the view there instead of
    // narrowing it; a range wider than length becomes 0 to length.
    static std::pair<qint64, qint64> keptInside(qint64 start, qint64 end, qint64 length);

    // Both refuse a view narrower than kMinViewSpan samples.
    void setViewStart(long start, bool emitSignal);
    void setViewEnd(long end, bool emitSignal);
    unsigned long getViewStart() const { return m_viewStart; }
    unsigned long getViewEnd() const { return m_viewEnd; }

    void setWaveformDirty(bool dirty);
    bool isWaveformDirty() const;
    bool isBackgroundDirty() const;
    void setColour(const QColor& colour);

    // Conversions between widget x and the slice, at the current width and
    // view; seconds at the slice's own rate. With no slice (or an empty
    // view) they all return 0, the zoom factor 1.0.
    float zoomFactor() const;
    float samplesPerPixel() const;
    unsigned long sampleAt(const QPoint& point) const;
    float secondsAt(const QPoint& point) const;
    float fractionAt(const QPoint& point) const;
    double xOfSample(unsigned long sample) const;
    double xOfSeconds(float seconds) const;
    int xOfFraction(float fraction) const;
    unsigned long sampleAtViewFraction(float fraction) const;

public slots:
    // Takes the range as given apart from clamping it to the slice; emits nothing.
    void setViewPosition(long iViewStartSampleIdx, long iViewEndSampleIdx);
    void setWaveformDirtyAndRepaint();

signals:
    void viewChanged(long iViewStartSampleIdx, long iViewEndSampleIdx);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    virtual void renderBackground();
    // A picture of the widget's size at the screen's pixel density.
    QPixmap* newPixmap() const;
    void renderWaveform();
    void drawContents(QPainter* painter);
    void drawPlayCursor(QPainter* painter);

    // Samples of the shown slice in one second (two per frame).
    double samplesPerSecond() const;
    // Length of the shown slice, 0 without one.
    unsigned long sliceLength() const;
    // True when a slice with audio is shown over a view of positive width, that
    // is when positions can be drawn.
    bool hasDrawableView() const;

    QSharedPointer<Slice> m_pSlice;
    QColor m_backgroundColour;
    QPixmap* m_pWaveformPixmap = nullptr;
    QPixmap* m_pBackgroundPixmap = nullptr;
    mutable QRecursiveMutex m_pixmapMutex;
    bool m_backgroundDirty = true;
    bool m_waveformDirty = true;
    quint32 m_viewStart = 0;
    quint32 m_viewEnd = 0;

private:
    void dropPixmaps();

    QMetaObject::Connection m_playPosConnection;
    QMetaObject::Connection m_fillConnection;
};
