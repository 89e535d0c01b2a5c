#pragma once
// The main window: the file list with its columns, the Extract and Delete
// buttons, the three space fields, the menu, and the commands behind them.
// It owns the library binding, the one CDiskImage and the catalogue rows.

#include "CDiskImage.h"
#include "DiskLibrary.h"
#include "IWindowDialogs.h"

#include <QDialog>
#include <QDir>
#include <QStringList>
#include <QIcon>
#include <QString>

#include <map>
#include <memory>
#include <string>
#include <vector>

class CDropListCtrl;
class CFileViewer;
class QMenu;
class QMimeData;
class QTemporaryDir;
struct DraggedFile;
class QAction;
class QLineEdit;
class QPushButton;

class CMainDlg : public QDialog, public IDiskOwner {
    Q_OBJECT
public:
    // `dialogs` answers the choosers and message boxes (the Qt dialogs when
    // null); `libraryNames` are the file names tried for LibDsk.
    explicit CMainDlg(IWindowDialogs* dialogs = nullptr,
                      std::vector<std::string> libraryNames = CDiskLibrary::DefaultNames(),
                      QWidget* parent = nullptr);
    ~CMainDlg() override;

    const DiskLibraryTable& LibraryTable() const override { return m_Library.Table(); }
    // Shows what the image's operations told the user, in order.
    void ShowNotices();
    void ShowNotice(const Notice& notice);

    // Opens an image given on the command line, as Open would.
    void OpenAtStart(const QString& path);

    // Commands.
    void OnDiskNew();
    void OnDiskOpen();
    void OnDiskSave();
    void OnDiskSaveAs();
    void OnDiskInfo();
    void OnDiskClose();
    void OnDiskExit();
    void OnReadBootBlk();
    void OnWriteBootBlk();
    void OnExtract();
    void OnDelete();
    void OnExit();
    void OnSysCommand(int id);
    void OnDropFiles(const QStringList& paths);
    void AddFile(const QString& path);
    void RefreshList();
    // The list's own commands, from its context menu, a double-click or F2.
    void OnView();
    CFileViewer* ViewFile(int row);
    // Rename... (F2): edits the current row's name in place.
    void OnRename();
    // Renames a file of the list to `name` ("NAME.TYP"), the one change
    // saved at once.
    void RenameFile(const FileId& file, const QString& name);
    // Properties...: the current row's user number and attributes.
    void OnProperties();
    // Add from a tape...: a .tap or .tzx file's files, each with the +3DOS
    // header the +3 needs to LOAD it, in one change.
    void OnAddFromTape();
    // Add BASIC text...: a text file tokenised as +3 or Locomotive BASIC.
    void OnAddBasicText();
    // Save a copy as...: the image in another container, read back and
    // compared before it takes its name.
    void OnSaveCopyAs();
    // Check disk: the check's findings, in a list.
    void OnCheckDisk();

    // The selected rows extracted into a folder of their own for a drag
    // out of the list: their files, and their users and names for another
    // Tarnlight window (null when nothing was extracted).
    QMimeData* DragData();
    // Files dragged in from another Tarnlight window, stored with their
    // user numbers and names (and headers, as part of their data).
    void OnDropCopies(const std::vector<DraggedFile>& files);
    // The list's context menu: the file commands on a row (`onRow`), the
    // image's commands on its empty area.
    QMenu* ContextMenu(bool onRow);

    // For tests.
    CDropListCtrl* FileList() const { return m_FileList; }
    QLineEdit* Field(int id) const;
    QPushButton* Button(int id) const;
    QAction* MenuCommand(int id) const;
    CDiskImage* DiskImage() const { return m_pDiskImage; }
    const Catalogue& Files() const { return m_Files; }
    const QString& TargetFolder() const { return m_strTargetFolder; }
    const QString& LastPath() const { return m_strLastPath; }
    // Opens `path` as OpenAtStart does, once the window is on the screen, so
    // that a message about it appears over the window.
    void OpenWhenShown(const QString& path);
    bool IsBusy() const { return m_bBusy; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    // The file list's columns and behaviour.
    void SetUpFileList();
    void BuildMenu(int& menuHeight);
    void BuildContextMenus();
    void OnInitDialog(const std::vector<std::string>& libraryNames);
    void UpdateData(bool saveAndValidate);
    // Runs a command unless another one is running or the window has ended.
    template <typename Body> void RunCommand(Body&& body);
    // Shows a file dialog; on OK remembers the path and runs `onOk` with it.
    template <typename OnOk> void FileDialogCommand(const FileDialogSpec& spec, OnOk&& onOk);
    std::vector<int> SelectedRows() const;
    // Extract's work on `rows` into `folder`, failures noted for
    // CollectFailures; the host paths written.
    struct Extracted {
        int row;
        std::string path;
    };
    std::vector<Extracted> ExtractRows(const std::string& folder, const std::vector<int>& rows);
    // Runs the file operations of one command, collecting what fails.
    template <typename Body> void CollectFailures(Body&& body);
    // "Unable to <verb> <name>: <reason>" for the operation that just failed.
    void NoteFailure(const char* verb, const QString& name);
    // After an image was opened: the title, and a word when it cannot be changed.
    void AfterOpen(bool loaded);
    // The image to open for the file chosen: a hard disk's partition as
    // "PATH:NAME", asked for where it has several ("" when cancelled).
    std::string PartitionOf(const std::string& path);
    void UpdateTitle();
    void ShowContextMenu(bool onRow, const QPoint& globalPos);
    // The row a command on one file works on: the current row when it is
    // selected, else the first selected (-1 when none).
    int CommandRow() const;
    // Shows why a change of one file was refused, in a box naming it.
    void RefuseChange(const char* verb, const FileEntry& row, const QString& why);
    // Why the last change of a file failed, in the words a box about it uses
    // (`wanted`: the user and name it was to have).
    QString ChangeRefusal(const FileId& wanted) const;
    static constexpr const char* kBadNameText = "the name has characters a CP/M disk cannot hold";
    // The row of the list that shows `file`; -1 when none does.
    int RowOfFile(const FileId& file) const;
    // No command is running and the window has not ended.
    bool CanRunCommand() const { return !m_bBusy && !m_bEnded && m_pDiskImage != nullptr; }
    // After a change of one file: its refusal told (unless the image was
    // changed by another program), and the list rebuilt from the file.
    void AfterFileChange(const char* verb, const FileEntry& row, const FileId& wanted, bool done);
    // Stores files made in the window (user 0) in one change: all or none;
    // a refusal is told naming `source` and the file. True when stored.
    struct MadeFile {
        std::string name;
        std::vector<std::uint8_t> data;
        QString shown; // what it was made from, for messages
    };
    bool StoreMadeFiles(const QString& source, const std::vector<MadeFile>& files);
    void ShowError(const QString& text);
    // A window listing findings, a row each (file, finding).
    void ShowFindings(const QString& title, const std::vector<QStringList>& rows);

    std::unique_ptr<IWindowDialogs> m_pOwnDialogs;
    IWindowDialogs* m_pDialogs;
    QIcon m_hIcon;
    CDiskLibrary m_Library;
    CDiskImage* m_pDiskImage = nullptr;
    CDropListCtrl* m_FileList = nullptr;
    Catalogue m_Files{};
    QString m_strUsed = QStringLiteral("0 KB");
    QString m_strMaximum = QStringLiteral("0 KB");
    // The first chooser starts at the home folder with nothing selected.
    QString m_strTargetFolder = QDir::homePath();
    bool m_bFolderChosen = false;
    QString m_strOpenWhenShown;
    // While Extract, a drop or Delete runs: what failed, shown as one box
    // at its end (the core's own messages among them).
    QStringList* m_pFailures = nullptr;
    QString m_strLastPath = QStringLiteral("./");
    // The name filter chosen in the last file dialog.
    int m_nChosenFilter = 0;
    QString m_strFree;

    std::map<int, QLineEdit*> m_Fields;
    std::map<int, QPushButton*> m_Buttons;
    std::map<int, QAction*> m_Commands;
    QMenu* m_RowMenu = nullptr;
    QMenu* m_AreaMenu = nullptr;
    // Where drags out of the list are extracted, removed at the end.
    std::unique_ptr<QTemporaryDir> m_pDragFolder;
    int m_nDrags = 0;
    bool m_bBusy = false;
    bool m_bEnded = false;
};
