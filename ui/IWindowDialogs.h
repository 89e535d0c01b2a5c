#pragma once
// Everything the window asks the user through a separate dialog: file
// choosers, the folder chooser, message boxes and the About box. The window
// uses the Qt dialogs; tests put scripted answers in their place.

#include "IDiskOwner.h"

#include <QString>
#include <QStringList>

class QWidget;

struct FileDialogSpec {
    bool save = false;       // a save dialog, else an open dialog
    QString defaultSuffix;   // appended to a typed name without one
    QString initialName;     // e.g. "*.dsk"
    QStringList nameFilters; // the first is selected
};

// What the Properties dialog edits of a file.
struct FileProperties {
    int user = 0;
    bool readOnly = false, system = false, archive = false;
};

class IWindowDialogs {
public:
    virtual ~IWindowDialogs() = default;
    // The chosen file's full path, or an empty string when cancelled;
    // `chosenFilter`, when given, is set to the index of the name filter
    // selected.
    virtual QString ChooseFile(QWidget* owner, const FileDialogSpec& spec,
                               const QString& initialDir, int* chosenFilter = nullptr) = 0;
    // 1 with `chosen` set, 2 when cancelled, -1 when the choice has no path.
    // Without `selectRoot` nothing is selected at the start.
    virtual int ChooseFolder(QWidget* owner, const QString& title, const QString& root,
                             bool selectRoot, QString& chosen) = 0;
    virtual void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                             MessageIcon icon) = 0;
    // A question with Yes and No, No the default; true for Yes.
    virtual bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) = 0;
    virtual void ShowAbout(QWidget* owner) = 0;
    // One of `items`, or an empty string when cancelled.
    virtual QString ChooseItem(QWidget* owner, const QString& title, const QString& label,
                               const QStringList& items) = 0;
    // The user number and attributes of `fileName`, edited; false when
    // cancelled.
    virtual bool EditProperties(QWidget* owner, const QString& fileName,
                                FileProperties& properties) = 0;
};

// The real dialogs.
class CQtWindowDialogs : public IWindowDialogs {
public:
  QString ChooseFile(QWidget* owner, const FileDialogSpec& spec, const QString& initialDir,
                     int* chosenFilter = nullptr) override;
  int ChooseFolder(QWidget* owner, const QString& title, const QString& root, bool selectRoot,
                   QString& chosen) override;
  void ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                   MessageIcon icon) override;
  bool AskYesNo(QWidget* owner, const QString& text, const QString& caption) override;
  void ShowAbout(QWidget* owner) override;
  QString ChooseItem(QWidget* owner, const QString& title, const QString& label,
                     const QStringList& items) override;
  bool EditProperties(QWidget* owner, const QString& fileName, FileProperties& properties) override;
};
