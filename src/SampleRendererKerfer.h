#pragma once

#include "SampleRenderer.h"

#include <QPixmap>
#include <QPoint>
#include <QPointF>

class Kerfer;
class KerferHistory;
class QAction;
class QMenu;
class SliceDragOut;

// The large waveform view of the loop being sliced: slice points, the start
// and end markers, auditioning by clicking, dragging points and markers, a
// context menu to add, delete and save slices, and wheel scrolling and zoom.
// Before a loop is loaded it invites the user to drop a file.
class SampleRendererKerfer : public SampleRenderer
{
    Q_OBJECT
public:
    // Pixels within which a press grabs a slice point or a marker.
    static constexpr int kHitTolerance = 8;
    // Closest the markers come to each other, in samples.
    static constexpr long kMarkerGap = 512;
    // Where slicing at the hits would cut, shown before it is applied.
    static const QColor kPreviewColour;
    // Settings key of the folder the last slice was saved to.
    static const char* const kSaveSliceDirectoryKey;
    // That folder while it exists, else fallback.
    static QString saveSliceDirectory(const QString& fallback);

    SampleRendererKerfer(QWidget* parent, Kerfer* kerfer);
    ~SampleRendererKerfer() override;

    QSize minimumSizeHint() const override;

    // Every change of points and markers made here becomes one step of the
    // history (none without one).
    void setHistory(KerferHistory* history) { m_pHistory = history; }
    // Points added or dropped here go to the nearest zero crossing.
    void setSnapToZeroCrossings(bool on) { m_snap = on; }
    // A press with Ctrl held takes the slice, to drag it out of the window.
    SliceDragOut* getSliceDrag() const { return m_pSliceDrag; }

public slots:
    // Saves the slice under the last right-click, asking for the file name.
    void slotSaveSelectedSlice();
    void slotSliceHere();
    void slotDeleteSlicePoint();
    // Writes the slice under the last right-click to a new file in the
    // per-user pad folder and announces it for the pad.
    void slotSendSliceToPad(int padIndex);
    // Shows points (Kerfer positions) that a slicing would set between the
    // markers, over the points it would replace, which dim meanwhile.
    void setPreviewPoints(const QList<unsigned long>& points);
    void clearPreview();

signals:
    // A slice was written to fileName in the folder baseFilePath (the same
    // arguments as the main window's status bar message).
    void sliceSaved(QString baseFilePath, QString fileName);
    // A slice was written to fileName for the pad (0 to 15) to load.
    void sliceSentToPad(int padIndex, QString fileName);
    // The sample under the mouse, and the mouse leaving the view.
    void pointerMoved(unsigned long sample);
    void pointerLeft();
    // A click auditioned the slice starting at start.
    void sliceSelected(unsigned long start);
    // Saving a slice (or sending it to a pad) failed: fileName was not
    // written, for the reason given in a few words.
    void sliceNotSaved(QString fileName, QString reason);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void leaveEvent(QEvent* event) override;

    // Asks where to save a slice, starting at suggestedPath; an empty result
    // means the user cancelled. selectedFilter receives the chosen filter.
    virtual QString askSliceFileName(const QString& suggestedPath, QString* selectedFilter);

    // Slice-point tolerance in samples at the current zoom.
    unsigned long pointTolerance() const;
    // x of a marker as drawn (truncated).
    int markerX(unsigned long marker) const;

    Kerfer* m_pKerfer = nullptr;
    unsigned long m_pressSliceStart = 0;
    unsigned long m_nearbyPoint = 0;
    unsigned long m_draggedPoint = 0;
    QPoint m_contextPos;
    // Start of the slice under the context position: kept apart from the
    // press fields, which a later click resets before the menu is used.
    unsigned long m_contextSliceStart = 0;
    int m_dragX = 0;
    bool m_draggingStart = false;
    bool m_draggingEnd = false;
    QPoint m_pressPos;
    QPointF m_startTriangleTop[3];
    QPointF m_startTriangleBottom[3];
    QPointF m_endTriangleTop[3];
    QPointF m_endTriangleBottom[3];
    QMenu* m_pContextMenu = nullptr;
    QAction* m_pActionSliceHere = nullptr;
    QAction* m_pActionDeleteSlicePoint = nullptr;
    QAction* m_pActionSaveSlice = nullptr;
    QMenu* m_pSendToPadMenu = nullptr;
    QPixmap m_dragHerePixmap;
    KerferHistory* m_pHistory = nullptr;
    bool m_snap = false;
    bool m_previewing = false;
    QList<unsigned long> m_previewPoints;
    SliceDragOut* m_pSliceDrag = nullptr;

private:
    // Where a point put at sample by hand goes.
    unsigned long placed(unsigned long sample) const;
    // The slice numbers, 1 at the start marker, each where its slice starts
    // and only where the slice is wide enough for it.
    void drawSliceNumbers(QPainter* painter);
    void drawSlicePoints(QPainter* painter);
    void drawPreview(QPainter* painter);
    void drawMarker(QPainter* painter, unsigned long marker, const QColor& colour, QPointF* top,
                    QPointF* bottom);
    void resetDrag();
    // Whether the slice under the last right-click holds audio to write, and
    // its number counted as a full export counts.
    bool hasContextSlice() const;
    int contextSliceNumber() const;
};
