#pragma once

#include "ui_advancedslicing.h"

#include <QDialog>

class Kerfer;
class KerferHistory;
class QButtonGroup;

// Slicing at tempo intervals: every so many beats, or bars of a time
// signature, at a tempo. Opens with the values last accepted (kept in the
// settings) and on OK adds the points to the Kerfer's loop and stores the
// values again. Cancel changes nothing.
class AdvancedSlicingUI : public QDialog
{
    Q_OBJECT
public:
    // With a history, the slicing is one step of it ("Advanced Slicing").
    AdvancedSlicingUI(QWidget* parent, Kerfer* kerfer, KerferHistory* history = nullptr);

    const Ui_DialogAdvancedSlicing& getUi() const { return m_ui; }
    // Opens at the loaded loop's estimated tempo instead of the one last
    // used; 0 (no estimate) keeps that.
    void offerTempo(double bpm);

signals:
    // The loop was sliced at this tempo.
    void tempoApplied(double bpm);

public slots:
    void accept() override;
    void updateActionText();

private:
    void restoreSettings();
    void storeSettings();

    Ui_DialogAdvancedSlicing m_ui;
    Kerfer* m_pKerfer;
    KerferHistory* m_pHistory;
    QButtonGroup* m_pSliceByGroup;
};
