#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Driving a running program's windows from outside, on the X display of the
// test run: finding a window by title, typing keys (xdotool), grabbing a
// window's pixels (ImageMagick's import) and asking a window to close as a
// window manager would.
namespace DesktopTestSupport {

// Runs a command and returns what it printed on stdout; empty on failure.
QString run(const QString& program, const QStringList& arguments, int timeoutMs = 20000);

// The visible window whose title is exactly title, or 0 when none appears
// within timeoutMs.
unsigned long findWindow(const QString& title, int timeoutMs = 30000);
bool windowExists(const QString& title);

// Focuses the window and types the keys (xdotool key names, e.g. "1",
// "ctrl+q", "Return").
bool pressKeys(unsigned long window, const QString& keys);

// The window's pixels as they are on the display, as PNG (empty on failure).
QByteArray grabWindowPng(unsigned long window);

// Sends the window the WM_DELETE_WINDOW request a window manager sends when
// the user closes it.
bool requestClose(unsigned long window);

} // namespace DesktopTestSupport
