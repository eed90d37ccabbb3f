#include "DesktopTestSupport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <dlfcn.h>

// Last: Xlib defines macros (None, Bool, Status, ...) that clash with the rest.
#include <X11/Xlib.h>

namespace DesktopTestSupport {

namespace {

// Runs a command; false unless it ends with status 0.
bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    const bool ok = process.waitForFinished(20000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = process.readAllStandardOutput();
    return ok;
}

// The first visible window of process pid titled exactly title; 0 for none.
unsigned long windowOf(qint64 pid, const QString& title)
{
    QByteArray ids;
    run("xdotool",
        {"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--name",
         "^" + title + "$"},
        &ids);
    return ids.split('\n').first().toULong();
}

} // namespace

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
    m_previousDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", QByteArray(":") + QByteArray::number(display));
    return m_started = true;
}

PrivateDisplay::~PrivateDisplay()
{
    if (m_started)
        qputenv("DISPLAY", m_previousDisplay);
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(10000))
            m_server.kill();
        m_server.waitForFinished(10000);
    }
}

unsigned long findWindow(qint64 pid, const QString& title, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    unsigned long window = 0;
    while (!(window = windowOf(pid, title)) && timer.elapsed() < timeoutMs)
        QThread::msleep(100);
    return window;
}

bool pressKeys(unsigned long window, const QString& keys)
{
    return run("xdotool", {"windowfocus", "--sync", QString::number(window)}) &&
           run("xdotool", {"key", "--clearmodifiers", keys});
}

QByteArray grabWindowPng(unsigned long window)
{
    QByteArray png;
    return run("import", {"-window", QString::number(window), "png:-"}, &png) ? png : QByteArray();
}

bool requestClose(unsigned long window)
{
    // Loaded at run time, so the test programs need not link Xlib; never
    // unloaded, as the toolkit may use the same library.
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!xlib)
        return false;
#define TMB_XLIB(name) reinterpret_cast<decltype(&name)>(dlsym(xlib, #name))
    const auto openDisplay = TMB_XLIB(XOpenDisplay);
    const auto internAtom = TMB_XLIB(XInternAtom);
    const auto sendEvent = TMB_XLIB(XSendEvent);
    const auto closeDisplay = TMB_XLIB(XCloseDisplay);
#undef TMB_XLIB
    Display* display =
        openDisplay && internAtom && sendEvent && closeDisplay ? openDisplay(nullptr) : nullptr;
    if (!display)
        return false;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = internAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(internAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = sendEvent(display, window, False, NoEventMask, &event) != 0;
    closeDisplay(display); // flushes the request
    return sent;
}

} // namespace DesktopTestSupport
