#include "Tamberlo.h"

#include "KerferUI.h"

#include <QDebug>
#include <QDir>
#include <QFileOpenEvent>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Written by the signal handler, read on the event loop: the only thing a
// handler may safely do is write to a descriptor.
int g_signalSocket[2] = {-1, -1};

void onQuitSignal(int)
{
    const char byte = 1;
    ssize_t written = ::write(g_signalSocket[0], &byte, 1);
    (void)written;
}

} // namespace

Tamberlo::Tamberlo(int& argc, char** argv) : QApplication(argc, argv)
{
    // Plug-ins are looked up first in "PlugIns" beside the executable's folder
    // (when that folder is missing, in the executable's parent folder), then
    // where the toolkit keeps them. The toolkit's own folders must stay: the
    // OpenGL integration of the display is loaded from there only when the
    // first waveform view is painted, and without it that paint crashes.
    QDir plugIns(applicationDirPath());
    plugIns.cdUp();
    plugIns.cd(QStringLiteral("PlugIns"));
    QStringList paths = libraryPaths();
    paths.removeAll(plugIns.absolutePath());
    paths.prepend(plugIns.absolutePath());
    setLibraryPaths(paths);

    setApplicationVersion(QStringLiteral("1.2"));
    setApplicationName(QStringLiteral("Tamberlo"));
    setOrganizationName(QStringLiteral("Fennory"));
    setOrganizationDomain(QStringLiteral("fennory.example"));

    m_pWindow = new KerferUI();
    connect(m_pWindow, SIGNAL(closed()), this, SLOT(shutDown()), Qt::DirectConnection);
    connect(this, SIGNAL(aboutToQuit()), this, SLOT(shutDown()), Qt::DirectConnection);
    watchQuitSignals();

    exec();
    qDebug() << "app.exec() finished";
}

Tamberlo::~Tamberlo()
{
    delete m_pWindow;
    m_pWindow = nullptr;
    delete m_pSignalNotifier;
    for (int& fd : g_signalSocket) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void Tamberlo::shutDown()
{
    KerferUI* window = m_pWindow;
    m_pWindow = nullptr;
    delete window;
}

bool Tamberlo::event(QEvent* event)
{
    if (event->type() == QEvent::FileOpen) {
        event->accept();
        if (m_pWindow)
            m_pWindow->slotLoadAudioFile(static_cast<QFileOpenEvent*>(event)->file());
        return true;
    }
    return QApplication::event(event);
}

void Tamberlo::watchQuitSignals()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalSocket) != 0) {
        qDebug() << "Quit signals are not watched: no socket pair";
        return;
    }
    m_pSignalNotifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, this);
    connect(m_pSignalNotifier, SIGNAL(activated(int)), this, SLOT(slotQuitSignal()));

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    // A second signal while shutting down ends the program the default way.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void Tamberlo::slotQuitSignal()
{
    char byte = 0;
    ssize_t received = ::read(g_signalSocket[1], &byte, 1);
    (void)received;
    m_pSignalNotifier->setEnabled(false);
    qDebug() << "Quit requested by a signal";
    quit();
}
