#pragma once

#include <QString>
#include <QStringList>

// Collects every line written to the debug log while a test runs, so tests can
// check that a failure produced the line users and developers rely on. Lines
// still go to stderr. Thread-safe: the audio and reader threads log too.
class LogCapture
{
public:
    // Installs the message handler once for the process (done by the test main).
    static void install();
    // Forgets what was captured so far.
    static void clear();
    static QStringList lines();
    // True when some captured line contains every one of the fragments.
    static bool contains(const QString& fragment);
    static bool containsAll(const QStringList& fragments);
    static int count(const QString& fragment);
    // Silences stderr echo (for tests that log thousands of lines).
    static void setEcho(bool echo);
};
