#pragma once
// The application: runs the main window as a modal dialog and ends when it
// ends. `tarnlight [IMAGE]` opens IMAGE at start, as Open would.

#include <QApplication>

class CMainApp : public QApplication {
    Q_OBJECT
public:
    CMainApp(int& argc, char** argv);
    // Names the application (no display name: see the definition).
    static void SetIdentity(class QGuiApplication& app);
    int InitInstance();
};
