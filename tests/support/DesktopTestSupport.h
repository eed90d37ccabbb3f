#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

// Driving a running program's windows from outside, on the X display named by
// DISPLAY: with xdotool, ImageMagick's import and Xlib.
namespace DesktopTestSupport {

// An X server of the test's own (Xvfb), so that windows of suites running at
// the same time neither cover the windows grabbed here nor take their keys.
// While it runs, DISPLAY names it for every program the test starts.
class PrivateDisplay
{
public:
    bool start(); // false when the server did not come up
    ~PrivateDisplay();

private:
    QProcess m_server;
    QByteArray m_previousDisplay;
    bool m_started = false;
};

// The visible window of process pid titled exactly title, or 0 when none
// appears within timeoutMs (0: looks once).
unsigned long findWindow(qint64 pid, const QString& title, int timeoutMs = 60000);
// Focuses the window and types the keys (xdotool names: "1", "ctrl+q", "Return").
bool pressKeys(unsigned long window, const QString& keys);
// The window's pixels as PNG; empty on failure.
QByteArray grabWindowPng(unsigned long window);
// Sends the WM_DELETE_WINDOW request a window manager sends when the user
// closes the window.
bool requestClose(unsigned long window);

} // namespace DesktopTestSupport
