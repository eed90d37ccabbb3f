#include "DesktopTestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <dlfcn.h>

// Last: Xlib defines macros (None, Bool, Status, ...) that clash with the rest.
#include <X11/Xlib.h>

namespace DesktopTestSupport {

QString run(const QString& program, const QStringList& arguments, int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

bool PrivateDisplay::start()
{
    // -displayfd: the server picks a free display and writes its number.
    m_server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!m_server.waitForStarted(10000))
        return false;
    QByteArray number;
    QElapsedTimer timer;
    timer.start();
    while (!number.contains('\n') && timer.elapsed() < 30000) {
        m_server.waitForReadyRead(1000);
        number += m_server.readAllStandardOutput();
    }
    bool ok = false;
    const int display = number.trimmed().toInt(&ok);
    if (!ok)
        return false;
    m_name = QStringLiteral(":%1").arg(display);
    m_previousDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", m_name.toLocal8Bit());
    return true;
}

PrivateDisplay::~PrivateDisplay()
{
    if (!m_name.isEmpty())
        qputenv("DISPLAY", m_previousDisplay);
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(10000))
            m_server.kill();
        m_server.waitForFinished(10000);
    }
}

namespace {

QStringList windowsOf(qint64 pid, const QString& title)
{
    return run("xdotool", {"search", "--all", "--onlyvisible", "--pid", QString::number(pid),
                           "--name", "^" + title + "$"})
        .split('\n', Qt::SkipEmptyParts);
}

} // namespace

unsigned long findWindow(qint64 pid, const QString& title, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    do {
        const QStringList ids = windowsOf(pid, title);
        if (!ids.isEmpty())
            return ids.first().toULong();
        QThread::msleep(100);
    } while (timer.elapsed() < timeoutMs);
    return 0;
}

bool windowExists(qint64 pid, const QString& title)
{
    return !windowsOf(pid, title).isEmpty();
}

bool pressKeys(unsigned long window, const QString& keys)
{
    const QString id = QString::number(window);
    QProcess focus;
    focus.start("xdotool", {"windowfocus", "--sync", id});
    if (!focus.waitForFinished(10000) || focus.exitCode() != 0)
        return false;
    QProcess key;
    key.start("xdotool", {"key", "--clearmodifiers", keys});
    return key.waitForFinished(10000) && key.exitCode() == 0;
}

QByteArray grabWindowPng(unsigned long window)
{
    QProcess import;
    import.start("import", {"-window", QString::number(window), "png:-"});
    if (!import.waitForFinished(20000) || import.exitCode() != 0)
        return QByteArray();
    return import.readAllStandardOutput();
}

bool requestClose(unsigned long window)
{
    // Loaded at run time, so the test programs need not link Xlib; never
    // unloaded, as the toolkit may use the same library.
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!xlib)
        return false;
    auto openDisplay = reinterpret_cast<Display* (*)(const char*)>(dlsym(xlib, "XOpenDisplay"));
    auto internAtom =
        reinterpret_cast<Atom (*)(Display*, const char*, Bool)>(dlsym(xlib, "XInternAtom"));
    auto sendEvent = reinterpret_cast<Status (*)(Display*, Window, Bool, long, XEvent*)>(
        dlsym(xlib, "XSendEvent"));
    auto flush = reinterpret_cast<int (*)(Display*)>(dlsym(xlib, "XFlush"));
    auto closeDisplay = reinterpret_cast<int (*)(Display*)>(dlsym(xlib, "XCloseDisplay"));
    bool sent = false;
    if (openDisplay && internAtom && sendEvent && flush && closeDisplay) {
        if (Display* display = openDisplay(nullptr)) {
            XEvent event = {};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = internAtom(display, "WM_PROTOCOLS", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] =
                static_cast<long>(internAtom(display, "WM_DELETE_WINDOW", False));
            event.xclient.data.l[1] = CurrentTime;
            sent = sendEvent(display, window, False, NoEventMask, &event) != 0;
            flush(display);
            closeDisplay(display);
        }
    }
    return sent;
}

} // namespace DesktopTestSupport
