#include "LogCapture.h"

#include <QtGlobal>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {
// A standard mutex rather than QMutex: ThreadSanitizer cannot see into Qt's
// contended locking and would report false races between logging threads.
std::mutex& mutex()
{
    static std::mutex m;
    return m;
}
QStringList& store()
{
    static QStringList s;
    return s;
}
std::atomic<bool> g_echo{true};
QtMessageHandler g_previous = nullptr;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    {
        std::lock_guard<std::mutex> lock(mutex());
        store().append(msg);
    }
    if (g_echo || type == QtFatalMsg) {
        if (g_previous)
            g_previous(type, context, msg);
        else
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    }
    if (type == QtFatalMsg)
        std::abort();
}
} // namespace

void LogCapture::install()
{
    static bool installed = false;
    if (!installed) {
        installed = true;
        g_previous = qInstallMessageHandler(handler);
    }
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(mutex());
    store().clear();
}

QStringList LogCapture::lines()
{
    std::lock_guard<std::mutex> lock(mutex());
    return store();
}

bool LogCapture::contains(const QString& fragment)
{
    return count(fragment) > 0;
}

bool LogCapture::containsAll(const QStringList& fragments)
{
    for (const QString& line : lines()) {
        bool all = true;
        for (const QString& f : fragments)
            all = all && line.contains(f);
        if (all)
            return true;
    }
    return false;
}

int LogCapture::count(const QString& fragment)
{
    int n = 0;
    for (const QString& line : lines())
        if (line.contains(fragment))
            ++n;
    return n;
}

void LogCapture::setEcho(bool echo)
{
    g_echo = echo;
}
