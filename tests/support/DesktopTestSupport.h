#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// Driving a running program's windows from outside, on the X display named
// by DISPLAY: finding a window by title, typing keys (xdotool), grabbing a
// window's pixels (ImageMagick's import) and asking a window to close as a
// window manager would.
namespace DesktopTestSupport {

// Runs a command and returns what it printed on stdout; empty on failure.
QString run(const QString& program, const QStringList& arguments, int timeoutMs = 20000);

// An X server of the test's own (Xvfb), so that windows of suites running at
// the same time on the shared display neither cover the windows grabbed here
// nor take their keys. While it runs, DISPLAY names it for every program the
// test starts; the test's own application stays where it was.
class PrivateDisplay
{
public:
    // Starts the server; false when it did not come up.
    bool start();
    ~PrivateDisplay();
    QString name() const { return m_name; }

private:
    QProcess m_server;
    QString m_name;
    QByteArray m_previousDisplay;
};

// The visible window of process pid whose title is exactly title, or 0 when
// none appears within timeoutMs.
unsigned long findWindow(qint64 pid, const QString& title, int timeoutMs = 60000);
bool windowExists(qint64 pid, const QString& title);

// Focuses the window and types the keys (xdotool key names, e.g. "1",
// "ctrl+q", "Return").
bool pressKeys(unsigned long window, const QString& keys);

// The window's pixels as they are on the display, as PNG (empty on failure).
QByteArray grabWindowPng(unsigned long window);

// Sends the window the WM_DELETE_WINDOW request a window manager sends when
// the user closes it.
bool requestClose(unsigned long window);

} // namespace DesktopTestSupport
