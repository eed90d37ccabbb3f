#pragma once

#include <QObject>
#include <QString>
#include <QUndoStack>

#include <functional>

class Kerfer;

// The undo history of the Kerfer's cuts. Every change of the slice points or
// markers made through edit() becomes one named step, whatever the change
// did inside (a drag, a whole slicing rule). Loading a loop starts a new
// history. User-interface thread only: the audio thread never sees the
// stack, only the Kerfer, which an undo changes like any edit.
class KerferHistory : public QObject
{
    Q_OBJECT
public:
    explicit KerferHistory(Kerfer* kerfer, QObject* parent = nullptr);

    // Runs the change and records it as one step named name, unless it left
    // the cuts as they were. True when a step was recorded.
    bool edit(const QString& name, const std::function<void()>& change);
    // The same where there may be no history (a view used on its own): the
    // change is then made without a step.
    static void edit(KerferHistory* history, const QString& name,
                     const std::function<void()>& change);

    QUndoStack* getStack() { return &m_stack; }

private:
    Kerfer* m_pKerfer;
    QUndoStack m_stack;
};
