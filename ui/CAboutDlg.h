#pragma once
// The About box: icon, name and version, an OK button.

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The application icon (resource 128).
class QIcon;
QIcon AppIcon();
