#include "KerferEditCommand.h"

KerferEditCommand::KerferEditCommand(Kerfer* kerfer, const QString& name,
                                     const Kerfer::Cuts& before, const Kerfer::Cuts& after)
    : QUndoCommand(name), m_pKerfer(kerfer), m_before(before), m_after(after)
{
}

void KerferEditCommand::undo()
{
    m_pKerfer->setCuts(m_before);
    m_done = false;
}

void KerferEditCommand::redo()
{
    if (!m_done)
        m_pKerfer->setCuts(m_after);
    m_done = true;
}
