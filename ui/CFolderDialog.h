#pragma once
// A modal folder chooser: a tree of folders (folders only) rooted at a given
// path, or at "/" when the path does not resolve; an optional folder selected
// at the start; OK accepts only an existing folder.

#include <QDialog>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;
class QDialogButtonBox;

class CFolderDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr unsigned BIF_RETURNONLYFSDIRS = 0x0001;

    CFolderDialog(const QString& title, const QString& startPath = {}, QWidget* parent = nullptr,
                  unsigned flags = BIF_RETURNONLYFSDIRS);

    // Roots the tree at `path`; false (and the whole tree) when it does not
    // resolve to a folder. An empty path returns the tree to the file system's root.
    bool SetRootPath(const QString& path);
    // Whether the root (or the start folder, when the tree opens at one) is
    // selected at the start (the default); without it nothing is, and OK
    // waits for a choice.
    void SetSelectRoot(bool select) { m_bSelectRoot = select; }
    // 1 (a folder was chosen), 2 (cancelled) or -1 (the choice has no path).
    int DoModal();
    QString GetChosenPath() const { return m_szChosenPath; }

    // For tests: the tree and the folder an item stands for.
    QTreeWidget* Tree() const { return m_pTree; }
    static QString PathOf(const QTreeWidgetItem* item);

private:
    void Populate(QTreeWidgetItem* item);
    void Rebuild();
    void OnAccept();

    QString m_strRoot = QStringLiteral("/");
    bool m_bSelectRoot = true;
    QString m_szStartPath;
    QString m_szChosenPath;
    unsigned m_Flags;
    QTreeWidget* m_pTree;
    QDialogButtonBox* m_pButtons;
};
