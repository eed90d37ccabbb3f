#pragma once

#include "Kerfer.h"

#include <QUndoCommand>

// One step of the editing history: the Kerfer's cuts before and after any
// change of them, named as the Edit menu shows it ("Move Slice Point").
// Both states are a few numbers per point, never audio.
class KerferEditCommand : public QUndoCommand
{
public:
    KerferEditCommand(Kerfer* kerfer, const QString& name, const Kerfer::Cuts& before,
                      const Kerfer::Cuts& after);

    void undo() override;
    // The first redo comes from pushing the step, when the change is already made.
    void redo() override;

private:
    Kerfer* m_pKerfer;
    Kerfer::Cuts m_before;
    Kerfer::Cuts m_after;
    bool m_done = true;
};
