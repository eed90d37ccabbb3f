#include "SliceDragOut.h"

#include "LoopSlices.h"
#include "SliceFileFormat.h"
#include "UserSliceFiles.h"

#include <QApplication>
#include <QDebug>
#include <QDrag>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QUrl>
#include <QWidget>

#include <algorithm>

namespace {

// Marks the data as ours; other programs see only the uri-list.
const char* const kOwnSliceFormat = "application/x-tamberlo-slice";

// The file's name under the pointer while it is dragged.
QPixmap namePixmap(const QWidget* source, const QString& name)
{
    const QFontMetrics metrics(source->font());
    QPixmap pixmap(metrics.horizontalAdvance(name) + 12, metrics.height() + 8);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(200, 0, 0));
    painter.setBrush(QColor(40, 40, 40, 220));
    painter.drawRoundedRect(QRectF(pixmap.rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4.0, 4.0);
    painter.setPen(QColor(235, 235, 235));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, name);
    return pixmap;
}

void startDrag(QWidget* source, std::unique_ptr<QMimeData> data)
{
    QDrag* drag = new QDrag(source);
    const QString name = QFileInfo(data->urls().value(0).toLocalFile()).fileName();
    drag->setPixmap(namePixmap(source, name));
    drag->setMimeData(data.release());
    // A copy: the file stays where it was written, in case the drop refers to it.
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

} // namespace

SliceDragOut::SliceDragOut(Kerfer* kerfer, QWidget* source)
    : QObject(source), m_pKerfer(kerfer), m_pSource(source), m_dragFunction(startDrag)
{
}

void SliceDragOut::setDragFunction(DragFunction function)
{
    m_dragFunction = std::move(function);
}

void SliceDragOut::arm(const QPoint& pos, unsigned long sliceStart)
{
    m_armed = false;
    if (!m_pKerfer)
        return;
    // Past the end marker there is no slice to take. A start before the
    // start marker is the first slice, as it is when saved.
    const LoopSlices slices(m_pKerfer);
    m_armed = !slices.isEmpty() &&
              slices.indexAt(std::max<unsigned long>(sliceStart, slices.bounds().first())) >= 0;
    m_pressPos = pos;
    m_sliceStart = sliceStart;
}

void SliceDragOut::disarm()
{
    m_armed = false;
}

bool SliceDragOut::follow(const QPoint& pos, Qt::MouseButtons buttons)
{
    if (!m_armed)
        return false;
    if (!buttons.testFlag(Qt::LeftButton)) {
        m_armed = false;
        return false;
    }
    if ((pos - m_pressPos).manhattanLength() < QApplication::startDragDistance())
        return true;
    m_armed = false;
    QString reason;
    const QString file =
        UserSliceFiles::writeSlice(m_pKerfer, m_sliceStart, UserSliceFiles::kDragFolder,
                                   SliceFileFormat::fromSettings(), &reason);
    if (file.isEmpty()) {
        qDebug() << "Slice at" << m_sliceStart << "not dragged out:" << reason;
        emit sliceNotSaved(QLatin1String(UserSliceFiles::kDragFolder), reason);
        return true;
    }
    std::unique_ptr<QMimeData> data(new QMimeData);
    data->setUrls({QUrl::fromLocalFile(file)});
    data->setData(QLatin1String(kOwnSliceFormat), QByteArray());
    m_dragFunction(m_pSource, std::move(data));
    return true;
}

bool SliceDragOut::isOwnSlice(const QMimeData* data)
{
    return data && data->hasFormat(QLatin1String(kOwnSliceFormat));
}
