#include "SampleRendererKerfer.h"

#include "Assert.h"
#include "BankSampler.h"
#include "Kerfer.h"
#include "KerferHistory.h"
#include "PadNames.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceDragOut.h"
#include "SliceFileFilters.h"
#include "SliceFileFormat.h"
#include "UserSliceFiles.h"
#include "ZeroCrossingSnap.h"

#include <QAction>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <tuple>

const char* const SampleRendererKerfer::kSaveSliceDirectoryKey = "last_slice_save_path";
// Apart from the slice points' red, the markers and the waveform's green.
const QColor SampleRendererKerfer::kPreviewColour(0, 200, 255, 255);

QString SampleRendererKerfer::saveSliceDirectory(const QString& fallback)
{
    const QString directory = Settings::instance()->getSetting(kSaveSliceDirectoryKey);
    return directory.isEmpty() || !QDir(directory).exists() ? fallback : directory;
}

namespace {

// Whole pixels of a position, clamped so that far-off positions cannot
// overflow the conversion.
int truncX(double x)
{
    return static_cast<int>(std::clamp(std::trunc(x), -1.0e6, 1.0e6));
}

} // namespace

SampleRendererKerfer::SampleRendererKerfer(QWidget* parent, Kerfer* kerfer)
    : SampleRenderer(parent, kerfer ? kerfer->getLoop() : QSharedPointer<Slice>()),
      m_pKerfer(kerfer)
{
    m_dragHerePixmap.load(":draghere.png");
    setMouseTracking(true);

    m_pContextMenu = new QMenu();
    m_pActionSliceHere = new QAction(tr("Slice Here"), this);
    m_pActionDeleteSlicePoint = new QAction(tr("Delete Slice Point"), this);
    m_pActionSaveSlice = new QAction(tr("Save Slice..."), this);
    m_pContextMenu->addAction(m_pActionSliceHere);
    m_pContextMenu->addAction(m_pActionDeleteSlicePoint);
    m_pContextMenu->addAction(m_pActionSaveSlice);
    connect(m_pActionSliceHere, &QAction::triggered, this, &SampleRendererKerfer::slotSliceHere);
    connect(m_pActionDeleteSlicePoint, &QAction::triggered, this,
            &SampleRendererKerfer::slotDeleteSlicePoint);
    connect(m_pActionSaveSlice, &QAction::triggered, this,
            &SampleRendererKerfer::slotSaveSelectedSlice);
    m_pSendToPadMenu = m_pContextMenu->addMenu(tr("Send Slice to Pad"));
    for (int pad = 0; pad < BankSampler::PadCount; ++pad) {
        QAction* action = m_pSendToPadMenu->addAction(PadNames::padLabel(pad));
        connect(action, &QAction::triggered, this, [this, pad] { slotSendSliceToPad(pad); });
    }
    setBackgroundRole(QPalette::Base);
    m_pSliceDrag = new SliceDragOut(kerfer, this);
}

SampleRendererKerfer::~SampleRendererKerfer()
{
    delete m_pContextMenu;
}

QSize SampleRendererKerfer::minimumSizeHint() const
{
    return QSize(100, 100);
}

unsigned long SampleRendererKerfer::pointTolerance() const
{
    // At least one sample: a tolerance of 0 would ask the Kerfer for the
    // start of the slice instead of the nearest point.
    const double tolerance = std::trunc(kHitTolerance * double(samplesPerPixel()));
    return static_cast<unsigned long>(std::clamp(tolerance, 1.0, double(INT_MAX)));
}

int SampleRendererKerfer::markerX(unsigned long marker) const
{
    return truncX(xOfSample(marker));
}

void SampleRendererKerfer::paintEvent(QPaintEvent*)
{
    TMB_ASSERT(m_pKerfer);
    QPainter painter(this);
    drawContents(&painter);
    drawPlayCursor(&painter);

    const int w = width();
    const int h = height();
    if (sliceLength() == 0) {
        painter.setPen(QPen());
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRect(w / 4, h / 3, w / 2, h / 3), 5.0, 5.0);
        painter.drawPixmap(w / 2 - m_dragHerePixmap.width() / 2,
                           h / 2 - m_dragHerePixmap.height() / 2, m_dragHerePixmap);
        return;
    }
    // A view set from outside may be empty; positions cannot be placed then.
    if (!hasDrawableView())
        return;

    drawSlicePoints(&painter);
    drawSliceNumbers(&painter);
    drawPreview(&painter);

    if (m_dragX > 0) {
        painter.setPen(QColor(0, 133, 56, 255));
        painter.drawLine(m_dragX, 0, m_dragX, h);
    }

    drawMarker(&painter, m_pKerfer->getStartMarker(), QColor(255, 40, 40, 255), m_startTriangleTop,
               m_startTriangleBottom);
    drawMarker(&painter, m_pKerfer->getEndMarker(), QColor(40, 40, 255, 255), m_endTriangleTop,
               m_endTriangleBottom);
}

void SampleRendererKerfer::drawSlicePoints(QPainter* painter)
{
    const QColor red(200, 0, 0, 255);
    // The points a preview would replace stay visible, faintly.
    const QColor replaced(200, 0, 0, 90);
    const unsigned long start = m_pKerfer->getStartMarker();
    const unsigned long end = m_pKerfer->getEndMarker();
    const QList<unsigned long> points = m_pKerfer->getSlicePoints();
    for (unsigned long point : points) {
        // Points outside the view are not drawn (rather than at the edge).
        const double x = xOfSample(point);
        if (x < 0.0 || x > double(width()))
            continue;
        const bool dim = m_previewing && point > start && point < end;
        painter->setPen(dim ? replaced : red);
        const int px = static_cast<int>(x);
        painter->drawLine(px, 0, px, height());
    }
}

void SampleRendererKerfer::drawPreview(QPainter* painter)
{
    if (!m_previewing)
        return;
    // Dashed as well as coloured, so it reads as "not yet" in any light.
    painter->setPen(QPen(kPreviewColour, 1.0, Qt::DashLine));
    // A long loop zoomed out has many cuts to a pixel; each column is drawn once.
    int last = -1;
    for (unsigned long point : qAsConst(m_previewPoints)) {
        const double x = xOfSample(point);
        if (x < 0.0 || x > double(width()) || static_cast<int>(x) == last)
            continue;
        last = static_cast<int>(x);
        painter->drawLine(last, 0, last, height());
    }
}

void SampleRendererKerfer::setPreviewPoints(const QList<unsigned long>& points)
{
    m_previewing = true;
    m_previewPoints = points;
    update();
}

void SampleRendererKerfer::clearPreview()
{
    m_previewing = false;
    m_previewPoints.clear();
    update();
}

void SampleRendererKerfer::drawSliceNumbers(QPainter* painter)
{
    const QList<unsigned long> starts = m_pKerfer->getSliceStarts();
    if (starts.isEmpty())
        return;
    QFont font = painter->font();
    font.setPixelSize(11);
    font.setBold(true);
    painter->setFont(font);
    const QFontMetrics metrics(font);
    const unsigned long end = std::min(m_pKerfer->getEndMarker(), sliceLength());
    // Below the marker triangles, clear of the top edge.
    const int top = 13;
    painter->setPen(QColor(235, 235, 235, 255));
    // Repainted with every move of the play cursor: most slices of a finely
    // cut loop are passed over before any text is measured.
    const int digitWidth = metrics.horizontalAdvance(QLatin1Char('0'));
    for (int i = 0; i < starts.size(); ++i) {
        const double x = xOfSample(starts.at(i));
        const double next = xOfSample(i + 1 < starts.size() ? starts.at(i + 1) : end);
        if (next - x < digitWidth + 6 || next < 0.0 || x > width())
            continue;
        const QString label = QString::number(i + 1);
        const int textWidth = metrics.horizontalAdvance(label);
        // Left out where the slice is too narrow, or starts outside the view.
        if (next - x < textWidth + 6 || x < -1.0 || x + 3 + textWidth > width())
            continue;
        painter->drawText(QPoint(truncX(x) + 3, top + metrics.ascent()), label);
    }
}

void SampleRendererKerfer::leaveEvent(QEvent* event)
{
    SampleRenderer::leaveEvent(event);
    emit pointerLeft();
}

unsigned long SampleRendererKerfer::placed(unsigned long sample) const
{
    if (!m_snap || !m_pKerfer)
        return sample;
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    return loop ? ZeroCrossingSnap::snap(*loop, sample) : sample;
}

void SampleRendererKerfer::drawMarker(QPainter* painter, unsigned long marker, const QColor& colour,
                                      QPointF* top, QPointF* bottom)
{
    const int w = width();
    const int h = height();
    const int x = markerX(marker);
    painter->setPen(colour);
    painter->setBrush(colour);
    painter->drawLine(x, 0, x, h);
    top[0] = QPointF(std::max(x - 10, 0), 0);
    top[1] = QPointF(x, 10);
    top[2] = QPointF(std::min(x + 10, w), 0);
    bottom[0] = QPointF(std::max(x - 10, 0), h - 1);
    bottom[1] = QPointF(x, h - 11);
    bottom[2] = QPointF(std::min(x + 10, w), h - 1);
    painter->drawPolygon(top, 3, Qt::OddEvenFill);
    painter->drawPolygon(bottom, 3, Qt::OddEvenFill);
}

void SampleRendererKerfer::mousePressEvent(QMouseEvent* event)
{
    if (!m_pKerfer || !hasDrawableView())
        return;
    const QPoint pos = event->pos();
    const unsigned long sample = sampleAt(pos);
    m_pressSliceStart = m_pKerfer->getSliceStart(sample, 0);
    m_nearbyPoint = m_pKerfer->getSliceStart(sample, static_cast<int>(pointTolerance()));
    const int dS = std::abs(markerX(m_pKerfer->getStartMarker()) - pos.x());
    const int dE = std::abs(markerX(m_pKerfer->getEndMarker()) - pos.x());

    if (event->button() == Qt::LeftButton) {
        // With Ctrl the press takes the slice itself, to drag it out of the
        // window, and grabs no point or marker.
        const bool grab = !event->modifiers().testFlag(Qt::ControlModifier);
        // A slice point wins over a marker, the start marker over the end marker.
        if (grab && m_nearbyPoint != 0) {
            m_draggedPoint = m_nearbyPoint;
            m_pressPos = pos;
        } else if (grab && dS <= kHitTolerance) {
            m_draggingStart = true;
            m_pressPos = pos;
        } else if (grab && dE <= kHitTolerance) {
            m_draggingEnd = true;
            m_pressPos = pos;
        } else if (m_pressSliceStart < sliceLength()) {
            // A point may lie beyond the audio; there is nothing to play there.
            m_pKerfer->playSlice(m_pressSliceStart);
            emit sliceSelected(m_pressSliceStart);
        }
        if (!grab)
            m_pSliceDrag->arm(pos, m_pressSliceStart);
    } else if (event->button() == Qt::RightButton) {
        m_pActionDeleteSlicePoint->setEnabled(m_nearbyPoint != 0);
        m_pActionSliceHere->setEnabled(m_nearbyPoint == 0);
        m_contextPos = pos;
        m_contextSliceStart = m_pressSliceStart;
        // Beyond the end marker (or the audio) there is no slice to write.
        const bool slice = hasContextSlice();
        m_pActionSaveSlice->setEnabled(slice);
        m_pSendToPadMenu->setEnabled(slice);
        m_pContextMenu->popup(mapToGlobal(pos));
    }
}

void SampleRendererKerfer::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pKerfer || !hasDrawableView())
        return;
    const int mouseX = event->pos().x();
    emit pointerMoved(sampleAt(event->pos()));
    if (m_pSliceDrag->follow(event->pos(), event->buttons()))
        return;
    const double pressX = m_pressPos.x();
    const double span = double(m_viewEnd - m_viewStart);
    // x of a position that may lie before sample 0 (marker minus the gap).
    const auto xOf = [this, span](qint64 sample) {
        return (double(sample) - double(m_viewStart)) * double(width()) / span;
    };

    if (m_draggedPoint != 0) {
        m_dragX = truncX(xOfSample(m_draggedPoint) - pressX + mouseX);
        update();
    } else if (m_draggingStart) {
        m_dragX = truncX(xOfSample(m_pKerfer->getStartMarker()) - pressX + mouseX);
        const double limit = xOf(qint64(m_pKerfer->getEndMarker()) - kMarkerGap);
        if (m_dragX >= limit)
            m_dragX = truncX(limit);
        if (m_dragX < 0)
            m_dragX = 0;
        update();
    } else if (m_draggingEnd) {
        m_dragX = truncX(xOfSample(m_pKerfer->getEndMarker()) - pressX + mouseX);
        const double limit = xOf(qint64(m_pKerfer->getStartMarker()) + kMarkerGap);
        if (m_dragX <= limit)
            m_dragX = truncX(limit);
        if (m_dragX > width())
            m_dragX = width();
        update();
    } else {
        const unsigned long nearby =
            m_pKerfer->getSliceStart(sampleAt(event->pos()), static_cast<int>(pointTolerance()));
        const int dS = std::abs(markerX(m_pKerfer->getStartMarker()) - mouseX);
        const int dE = std::abs(markerX(m_pKerfer->getEndMarker()) - mouseX);
        if (nearby == 0 && dS > kHitTolerance && dE > kHitTolerance)
            unsetCursor();
        else
            setCursor(Qt::SplitHCursor);
    }
}

void SampleRendererKerfer::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pKerfer)
        return;
    m_pSliceDrag->disarm();
    if (hasDrawableView()) {
        const int releaseX = event->pos().x();
        // Unsigned difference read as signed 32 bits: a drag to the left is negative.
        const qint64 delta = static_cast<qint32>(static_cast<quint32>(sampleAt(event->pos())) -
                                                 static_cast<quint32>(sampleAt(m_pressPos)));
        const qint64 length = qint64(sliceLength());

        if (m_draggedPoint != 0) {
            const unsigned long point = m_draggedPoint;
            if (releaseX <= 0 || releaseX > width()) {
                KerferHistory::edit(m_pHistory, tr("Delete Slice Point"),
                                    [&] { m_pKerfer->removeSlicePoint(point); });
            } else {
                // A click on a point without moving it leaves it where it is.
                const unsigned long to =
                    delta == 0 ? point : placed(std::max<qint64>(qint64(point) + delta, 0));
                KerferHistory::edit(m_pHistory, tr("Move Slice Point"),
                                    [&] { m_pKerfer->moveSlicePoint(point, to); });
            }
        } else if (m_draggingStart) {
            qint64 marker =
                std::clamp<qint64>(qint64(m_pKerfer->getStartMarker()) + delta, 0, length);
            marker = std::min(marker, qint64(m_pKerfer->getEndMarker()) - kMarkerGap);
            // The end marker may sit closer than the gap to sample 0.
            KerferHistory::edit(m_pHistory, tr("Move Start Marker"),
                                [&] { m_pKerfer->setStartMarker(std::max<qint64>(marker, 0)); });
        } else if (m_draggingEnd) {
            qint64 marker =
                std::clamp<qint64>(qint64(m_pKerfer->getEndMarker()) + delta, 0, length);
            marker = std::max(marker, qint64(m_pKerfer->getStartMarker()) + kMarkerGap);
            KerferHistory::edit(m_pHistory, tr("Move End Marker"),
                                [&] { m_pKerfer->setEndMarker(marker); });
        }
    }
    resetDrag();
    update();
}

void SampleRendererKerfer::resetDrag()
{
    m_draggedPoint = 0;
    m_pressPos = QPoint();
    m_dragX = 0;
    m_draggingStart = false;
    m_draggingEnd = false;
    m_pressSliceStart = 0;
    m_nearbyPoint = 0;
}

void SampleRendererKerfer::wheelEvent(QWheelEvent* event)
{
    if (!hasDrawableView() || width() <= 0) {
        event->ignore();
        return;
    }
    const QPoint angle = event->angleDelta();
    const qint64 start = m_viewStart;
    const qint64 end = m_viewEnd;
    const qint64 span = end - start;
    const qint64 length = qint64(sliceLength());
    qint64 newStart = start;
    qint64 newEnd = end;

    if (std::abs(angle.x()) > std::abs(angle.y())) {
        // Each notch scrolls by 15 % of the visible span.
        const float shift = -float(angle.x()) * 0.00125f * float(span);
        newStart = qint64(std::trunc(double(start) + shift));
        newEnd = qint64(std::trunc(double(end) + shift));
    } else if (angle.y() != 0) {
        const int delta = angle.y();
        // One notch away from the user narrows the span to e^-0.25 of itself,
        // and moves the view a fifth of the way towards the mouse.
        const qint64 d = qint64(std::trunc(std::exp(-delta / 480.0) * double(span))) - span;
        const double f = delta < 0 ? 0.5 : double(event->position().x()) / double(width());
        const qint64 anchor = qint64(std::trunc(double(start) + f * double(span)));
        const qint64 pan =
            qint64(std::trunc((delta / 120.0 * 0.2) * double(anchor - (span / 2 + start))));
        newEnd = end + d / 2 + pan;
        newStart = start - d / 2 + pan;
    } else {
        event->ignore();
        return;
    }

    std::tie(newStart, newEnd) = keptInside(newStart, newEnd, length);
    // A view moved right whole takes its new end first, or the start would
    // pass the old end and be refused as too narrow a view.
    if (newStart > start && newEnd > end) {
        setViewEnd(long(newEnd), true);
        setViewStart(long(newStart), true);
    } else {
        setViewStart(long(newStart), true);
        setViewEnd(long(newEnd), true);
    }
    event->accept();
    setWaveformDirty(true);
    update();
}

void SampleRendererKerfer::slotSliceHere()
{
    if (!m_pKerfer || !hasDrawableView())
        return;
    const unsigned long at = placed(sampleAt(m_contextPos));
    KerferHistory::edit(m_pHistory, tr("Add Slice Point"), [&] { m_pKerfer->addSlicePoint(at); });
    update();
}

void SampleRendererKerfer::slotDeleteSlicePoint()
{
    if (!m_pKerfer || m_nearbyPoint == 0)
        return;
    const unsigned long point = m_nearbyPoint;
    KerferHistory::edit(m_pHistory, tr("Delete Slice Point"),
                        [&] { m_pKerfer->removeSlicePoint(point); });
    update();
}

QString SampleRendererKerfer::askSliceFileName(const QString& suggestedPath,
                                               QString* selectedFilter)
{
    return QFileDialog::getSaveFileName(this, tr("Save Slice"), suggestedPath,
                                        SliceFileFilters::all(), selectedFilter);
}

bool SampleRendererKerfer::hasContextSlice() const
{
    if (!m_pKerfer)
        return false;
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    if (!loop || loop->getLength() == 0)
        return false;
    const unsigned long start = m_contextSliceStart;
    // What the Kerfer will write: from the start (or the start marker when it
    // lies beyond it) to the next point or the end marker. A point beyond the
    // end marker or the audio would give an empty or backward range.
    if (start >= loop->getLength() ||
        std::max(start, m_pKerfer->getStartMarker()) >= m_pKerfer->getSliceEnd(start)) {
        qDebug() << "No slice to save at" << start;
        return false;
    }
    return true;
}

int SampleRendererKerfer::contextSliceNumber() const
{
    const unsigned long startMarker = m_pKerfer->getStartMarker();
    int number = 1;
    for (unsigned long point : m_pKerfer->getSlicePoints())
        if (point > startMarker && point <= m_contextSliceStart)
            ++number;
    return number;
}

void SampleRendererKerfer::slotSaveSelectedSlice()
{
    if (!hasContextSlice())
        return;
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    const unsigned long start = m_contextSliceStart;
    // The number the slice would have in a full export, for the suggested name.
    const int number = contextSliceNumber();
    const QFileInfo loopFile(loop->getFilename());
    const QString directory = saveSliceDirectory(loopFile.absolutePath());
    const ExportFormat preferred = SliceFileFormat::fromSettings();
    const QString suggested =
        QDir(directory).filePath(QString("%1_%2.%3")
                                     .arg(loopFile.completeBaseName())
                                     .arg(number)
                                     .arg(SliceFileFormat::suffix(preferred)));
    QString filter = SliceFileFilters::of(preferred);
    QString fileName = askSliceFileName(suggested, &filter);
    if (fileName.isEmpty())
        return;
    fileName = SliceFileFilters::withSuffix(fileName, filter, preferred);

    QString reason;
    if (!m_pKerfer->saveSlice(start, fileName, SliceFileFormat::forFileName(fileName), &reason)) {
        qDebug() << "Slice not saved to" << fileName;
        emit sliceNotSaved(fileName, reason);
        return;
    }
    const QFileInfo written(fileName);
    Settings::instance()->setSetting(kSaveSliceDirectoryKey, written.absolutePath());
    emit sliceSaved(written.absolutePath(), written.fileName());
}

void SampleRendererKerfer::slotSendSliceToPad(int padIndex)
{
    if (padIndex < 0 || padIndex >= BankSampler::PadCount || !hasContextSlice())
        return;
    QString reason;
    const QString fileName =
        UserSliceFiles::writeSlice(m_pKerfer, m_contextSliceStart, UserSliceFiles::kPadsFolder,
                                   SliceFileFormat::fromSettings(), &reason);
    if (fileName.isEmpty()) {
        qDebug() << "Slice not sent to pad" << padIndex;
        emit sliceNotSaved(QString(UserSliceFiles::kPadsFolder), reason);
        return;
    }
    emit sliceSentToPad(padIndex, fileName);
}
