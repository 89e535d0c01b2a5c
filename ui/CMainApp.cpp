#include "CMainApp.h"

#include "CMainDlg.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#ifndef TARNLIGHT_VERSION
#define TARNLIGHT_VERSION "unknown"
#endif

namespace {

// SIGTERM (a logout or shutdown), SIGINT and SIGHUP end the program through
// its own exit path: the handler only wakes the event loop. Every change is
// already saved, so nothing is pending; a save under way finishes first.
int g_SignalPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_SignalPipe[1], &byte, 1);
}

void QuitOnStopSignals(QObject* parent) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_SignalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_SignalPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_SignalPipe[0], &byte, 1);
        QCoreApplication::exit(0); // leaves the dialog's loop too
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A file-size limit fails the save instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace

CMainApp::CMainApp(int& argc, char** argv) : QApplication(argc, argv) { SetIdentity(*this); }

void CMainApp::SetIdentity(QGuiApplication& app) {
    // No display name: Qt would append it to every caption on X11
    // ("ERROR — Tarnlight"), and the captions are the window's own.
    app.setApplicationName(QStringLiteral("tarnlight"));
    app.setApplicationVersion(QStringLiteral(TARNLIGHT_VERSION));
    app.setDesktopFileName(QStringLiteral("tarnlight"));
}

int CMainApp::InitInstance() {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tarnlight: look inside +3DOS, PCW and CPC disk images (.dsk) and move "
                       "files in and out of them."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("IMAGE"),
                                 QStringLiteral("Disk image to open at start (optional)."),
                                 QStringLiteral("[IMAGE]"));
    parser.process(*this);
    const QStringList images = parser.positionalArguments();
    if (images.size() > 1) {
        fputs("tarnlight: at most one IMAGE may be given\n", stderr);
        return 2;
    }

    QuitOnStopSignals(this);
    CMainDlg dialog;
    if (!images.isEmpty())
        dialog.OpenWhenShown(QFileInfo(images.first()).absoluteFilePath());
    dialog.exec();
    return 0;
}
