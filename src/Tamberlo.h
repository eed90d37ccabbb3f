#pragma once

#include <QApplication>

class KerferUI;
class QSocketNotifier;

// The application object. Its constructor is the whole run of the program: it
// names the application, creates the one main window (which starts the audio
// engine), runs the event loop and returns once the program is to end.
//
// Three ways out, each through shutDown(), which destroys the window and with
// it the engine (the only regular writer of settings.xml): closing the window
// and Quit, where the window ends the process itself right after, and an
// application quit (a termination or interrupt signal), after which the event
// loop returns.
class Tamberlo : public QApplication
{
    Q_OBJECT
public:
    Tamberlo(int& argc, char** argv);
    ~Tamberlo() override;

    Tamberlo(const Tamberlo&) = delete;
    Tamberlo& operator=(const Tamberlo&) = delete;

public slots:
    // Deletes the window; a second call does nothing.
    void shutDown();

protected:
    // Opens the files the operating system hands over like command-line files.
    bool event(QEvent* event) override;

private slots:
    void slotQuitSignal();

private:
    // Termination and interrupt signals quit the application from the event
    // loop rather than killing it, so the settings are saved.
    void watchQuitSignals();

    KerferUI* m_pWindow = nullptr;
    QSocketNotifier* m_pSignalNotifier = nullptr;
};
