#pragma once

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

class Kerfer;
class QMimeData;
class QWidget;

// Dragging a slice out of the window as a file, to the desktop, a file
// manager or another program. A press on a slice arms it; a move past the
// drag distance with the button held writes the slice into the per-user
// "dragged" folder, in the chosen slice file format, and offers that file as
// a uri-list. A click that never moves writes nothing.
class SliceDragOut : public QObject
{
    Q_OBJECT
public:
    // Carries the data to the other program; by default a drag that copies.
    // A drag session blocks until the drop, so tests take the data instead.
    using DragFunction = std::function<void(QWidget* source, std::unique_ptr<QMimeData> data)>;

    SliceDragOut(Kerfer* kerfer, QWidget* source);

    void setDragFunction(DragFunction function);

    // A left press at pos on the slice that begins at sliceStart.
    void arm(const QPoint& pos, unsigned long sliceStart);
    void disarm();
    // A move with buttons held: whether it belongs to an armed press (the
    // view then does nothing else with it). A move far enough drags the slice
    // out, and the drag is over when this returns.
    bool follow(const QPoint& pos, Qt::MouseButtons buttons);

    // Whether the data is a slice dragged out of this program: the window
    // does not open it as a loop when it is dropped back.
    static bool isOwnSlice(const QMimeData* data);

signals:
    // The slice could not be written, so nothing was offered.
    void sliceNotSaved(QString fileName, QString reason);

private:
    Kerfer* m_pKerfer;
    QWidget* m_pSource;
    DragFunction m_dragFunction;
    bool m_armed = false;
    QPoint m_pressPos;
    unsigned long m_sliceStart = 0;
};
