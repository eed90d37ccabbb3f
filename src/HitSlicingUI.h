#pragma once

#include "ui_hitslicing.h"

#include <QDialog>
#include <QList>

class Kerfer;
class KerferHistory;
class LoopHits;

// The small panel of Slice > "Slice at Hits...": a sensitivity slider whose
// cuts are previewed as it moves, Apply to put them between the markers (one
// step of the history, "Slice at Hits") and Cancel to leave everything as it
// was. Stays open beside the window without blocking it, and follows the
// markers and the loop while it is open.
class HitSlicingUI : public QDialog
{
    Q_OBJECT
public:
    // Settings key of the sensitivity last applied.
    static const char* const kSensitivityKey;
    // The sensitivity last applied; the default for anything else stored.
    static int storedSensitivity();

    HitSlicingUI(QWidget* parent, Kerfer* kerfer, LoopHits* hits, KerferHistory* history = nullptr);

    const Ui_DialogHitSlicing& getUi() const { return m_ui; }
    // Moves the panel where it hides none of area (global coordinates):
    // below it, above, right or left, whichever fits the screen first. False,
    // and not moved, where none does.
    bool placeClearOf(const QRect& area);
    // Where Apply would cut now (Kerfer positions).
    const QList<unsigned long>& getPreview() const { return m_preview; }

public slots:
    void apply();
    // Also on Cancel and on closing: the preview goes.
    void done(int result) override;

signals:
    void previewChanged(const QList<unsigned long>& points);
    void previewEnded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updatePreview();

    Ui_DialogHitSlicing m_ui;
    Kerfer* m_pKerfer;
    LoopHits* m_pHits;
    KerferHistory* m_pHistory;
    QList<unsigned long> m_preview;
};
