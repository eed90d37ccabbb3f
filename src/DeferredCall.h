#pragma once

#include <QObject>

#include <functional>

// Runs a function once from the event loop of its context's thread, however
// often it was asked for meanwhile: one look after a burst of signals (a
// slicing rule announces every point, an undo moves both markers). Lives as
// a member of its context; a call still queued when that goes is dropped.
class DeferredCall
{
public:
    DeferredCall(QObject* context, std::function<void()> function);

    void request();

private:
    QObject* m_pContext;
    std::function<void()> m_function;
    bool m_pending = false;
};
