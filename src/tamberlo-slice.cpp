// The command-line slicer: see SliceTool.

#include "SliceTool.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace {

// The library's log lines are the window's diagnostics; here they would bury
// the tool's own messages, which it prints itself.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "tamberlo-slice: %s\n", message.toLocal8Bit().constData());
        std::abort();
    }
}

} // namespace

int main(int argc, char** argv)
{
    qInstallMessageHandler(quietMessages);
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    arguments.removeFirst();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::fputs(SliceTool::usage().toLocal8Bit().constData(), stdout);
        return SliceTool::kOk;
    }
    SliceTool::Options options;
    QString error;
    if (!SliceTool::parse(arguments, &options, &error)) {
        std::fprintf(stderr, "tamberlo-slice: %s\n\n%s", error.toLocal8Bit().constData(),
                     SliceTool::usage().toLocal8Bit().constData());
        return SliceTool::kUsage;
    }
    return SliceTool::run(options, stdout, stderr, isatty(fileno(stderr)));
}
