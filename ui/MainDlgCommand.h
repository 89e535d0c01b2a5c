#pragma once
// How the main window runs its commands: one at a time, a file dialog
// first where there is one, failures gathered into one box. For the files
// that define the window's commands.

#include "CMainDlg.h"

template <typename Body> void CMainDlg::RunCommand(Body&& body) {
    // One command at a time: a command started from inside another (through
    // a drop, a menu or a key while a chooser or message box is open) would
    // run on the unfinished one's image, or end the program under it.
    if (!CanRunCommand())
        return;
    m_bBusy = true;
    body();
    // (What a change told the user as it ended.)
    ShowNotices();
    m_bBusy = false;
}

template <typename OnOk> void CMainDlg::FileDialogCommand(const FileDialogSpec& spec, OnOk&& onOk) {
    RunCommand([&] {
        UpdateData(true);
        m_nChosenFilter = 0;
        const QString path = m_pDialogs->ChooseFile(this, spec, m_strLastPath, &m_nChosenFilter);
        if (!path.isEmpty()) {
            m_strLastPath = path;
            onOk(path.toStdString());
        }
        UpdateData(false);
    });
}

template <typename Body> void CMainDlg::CollectFailures(Body&& body) {
    QStringList failures;
    m_pFailures = &failures;
    body();
    m_pFailures = nullptr;
    if (!failures.isEmpty())
        ShowError(failures.join(QLatin1Char('\n')));
}
