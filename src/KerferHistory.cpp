#include "KerferHistory.h"

#include "Kerfer.h"
#include "KerferEditCommand.h"

KerferHistory::KerferHistory(Kerfer* kerfer, QObject* parent) : QObject(parent), m_pKerfer(kerfer)
{
    connect(m_pKerfer, &Kerfer::loopReplaced, &m_stack, &QUndoStack::clear);
}

bool KerferHistory::edit(const QString& name, const std::function<void()>& change)
{
    const Kerfer::Cuts before = m_pKerfer->getCuts();
    change();
    const Kerfer::Cuts after = m_pKerfer->getCuts();
    if (after == before)
        return false;
    m_stack.push(new KerferEditCommand(m_pKerfer, name, before, after));
    return true;
}

void KerferHistory::edit(KerferHistory* history, const QString& name,
                         const std::function<void()>& change)
{
    if (history)
        history->edit(name, change);
    else
        change();
}
