#include "CMainApp.h"

#include "CMainDlg.h"

#include <QCommandLineParser>
#include <QFileInfo>

#ifndef TARNLIGHT_VERSION
#define TARNLIGHT_VERSION "unknown"
#endif

CMainApp::CMainApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("tarnlight"));
    setApplicationDisplayName(QStringLiteral("Tarnlight"));
    setApplicationVersion(QStringLiteral(TARNLIGHT_VERSION));
    setDesktopFileName(QStringLiteral("tarnlight"));
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

    CMainDlg dialog;
    if (!images.isEmpty())
        dialog.OpenAtStart(QFileInfo(images.first()).absoluteFilePath());
    dialog.exec();
    return 0;
}
