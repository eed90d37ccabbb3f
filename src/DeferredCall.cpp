#include "DeferredCall.h"

DeferredCall::DeferredCall(QObject* context, std::function<void()> function)
    : m_pContext(context), m_function(std::move(function))
{
}

void DeferredCall::request()
{
    if (m_pending)
        return;
    m_pending = true;
    QMetaObject::invokeMethod(
        m_pContext,
        [this] {
            m_pending = false;
            m_function();
        },
        Qt::QueuedConnection);
}
