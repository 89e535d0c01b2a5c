// The main window's widgets: the menu, the controls of the dialog template,
// the file list's columns, and the accessors the tests use. The commands
// behind them are in CMainDlg.cpp.

#include "CMainDlg.h"

#include "CAboutDlg.h"
#include "CDropListCtrl.h"
#include "CFileViewer.h"
#include "CatalogueView.h"
#include "DialogUnits.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

namespace {

struct Column {
    const char* heading;
    int width;
    Qt::Alignment alignment;
};
constexpr Column kColumns[] = {
    {"U", 24, Qt::AlignRight},
    {"Filename", 100, Qt::AlignLeft},
    {"Ext", 40, Qt::AlignLeft},
    {"Size", 60, Qt::AlignLeft},
};

// The editor Rename... opens on a row's name: it starts with "NAME.TYP"
// and hands what was typed to the window, which renames the file and
// rebuilds the list from what was saved (the list is never written here).
class CNameDelegate : public QStyledItemDelegate {
  public:
    CNameDelegate(QObject* parent, std::function<QString(int)> nameOf,
                  std::function<void(int, const QString&)> renamed)
        : QStyledItemDelegate(parent), m_NameOf(std::move(nameOf)), m_Renamed(std::move(renamed)) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override {
        auto* editor = new QLineEdit(parent);
        editor->setFrame(false);
        return editor;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        auto* line = static_cast<QLineEdit*>(editor);
        line->setText(m_NameOf(index.row()));
        line->selectAll();
    }
    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        m_Renamed(index.row(), static_cast<QLineEdit*>(editor)->text());
    }

  private:
    std::function<QString(int)> m_NameOf;
    std::function<void(int, const QString&)> m_Renamed;
};

} // namespace

void CMainDlg::BuildMenu(int& menuHeight) {
    auto* bar = new QMenuBar(this);
    bar->setNativeMenuBar(false);
    std::map<std::string, QMenu*> popups;
    for (const res::MenuItem& item : res::kMainMenu) {
        QMenu*& popup = popups[item.popup];
        if (popup == nullptr)
            popup = bar->addMenu(QString::fromLatin1(item.popup));
        if (item.text == nullptr) {
            popup->addSeparator();
            continue;
        }
        QAction* action = popup->addAction(QString::fromLatin1(item.text));
        action->setData(item.id);
        m_Commands[item.id] = action;
    }
    for (const res::Prompt& prompt : res::kPrompts)
        m_Commands[prompt.id]->setStatusTip(QString::fromLatin1(prompt.text));

    const std::map<int, void (CMainDlg::*)()> handlers = {
        {res::ID_DISK_NEW, &CMainDlg::OnDiskNew},
        {res::ID_DISK_OPEN, &CMainDlg::OnDiskOpen},
        {res::ID_DISK_SAVE, &CMainDlg::OnDiskSave},
        {res::ID_DISK_SAVEAS, &CMainDlg::OnDiskSaveAs},
        {res::ID_DISK_INFO, &CMainDlg::OnDiskInfo},
        {res::ID_DISK_CLOSE, &CMainDlg::OnDiskClose},
        {res::ID_DISK_EXIT, &CMainDlg::OnDiskExit},
        {res::ID_TOOLS_READBOOTBLK, &CMainDlg::OnReadBootBlk},
        {res::ID_TOOLS_WRITEBOOTBLK, &CMainDlg::OnWriteBootBlk},
    };
    for (const auto& [id, handler] : handlers)
        connect(m_Commands[id], &QAction::triggered, this, handler);
    connect(m_Commands[res::IDM_ABOUTBOX], &QAction::triggered, this,
            [this] { OnSysCommand(res::IDM_ABOUTBOX); });
    menuHeight = bar->sizeHint().height();
    bar->setGeometry(0, 0, 0, menuHeight);
}

void CMainDlg::BuildControls() {
    const QFont font = DialogFont();
    setFont(font);
    setWindowTitle(QString::fromLatin1(res::kMainDialog.caption));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    const CDialogUnits units(font);
    int menuHeight = 0;
    BuildMenu(menuHeight);
    const int width = units.X(res::kMainDialog.width);
    setFixedSize(width, menuHeight + units.Y(res::kMainDialog.height));
    findChild<QMenuBar*>()->setGeometry(0, 0, width, menuHeight);

    QWidget* previous = nullptr;
    for (const res::Control& control : res::kMainControls) {
        QRect rect = units.Rect(control).translated(0, menuHeight);
        QWidget* widget = nullptr;
        const QString text = QString::fromLatin1(control.text);
        switch (control.kind) {
        case res::ControlKind::DefPushButton:
        case res::ControlKind::PushButton: {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(false);
            button->setDefault(control.kind == res::ControlKind::DefPushButton);
            m_Buttons[control.id] = button;
            widget = button;
            break;
        }
        case res::ControlKind::ListView:
            m_FileList = new CDropListCtrl(this);
            widget = m_FileList;
            break;
        case res::ControlKind::Edit: {
            auto* edit = new QLineEdit(this);
            edit->setReadOnly(true);
            m_Fields[control.id] = edit;
            widget = edit;
            break;
        }
        case res::ControlKind::Static:
        case res::ControlKind::Icon: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            // Static texts are 8 units high: room for the glyphs' descent.
            rect.adjust(0, -1, 4, 2);
            widget = label;
            break;
        }
        }
        widget->setGeometry(rect);
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous != nullptr)
                setTabOrder(previous, widget);
            previous = widget;
        }
    }
    connect(m_Buttons[res::IDOK], &QPushButton::clicked, this, &CMainDlg::OnExit);
    connect(m_Buttons[res::IDC_EXTRACT], &QPushButton::clicked, this, &CMainDlg::OnExtract);
    connect(m_Buttons[res::IDC_DELETE], &QPushButton::clicked, this, &CMainDlg::OnDelete);
    m_FileList->SetDropHandler([this](const QStringList& paths) { OnDropFiles(paths); });
    m_FileList->SetDragHandler([this] { return DragData(); });
    m_FileList->SetCopyHandler(
        [this](const std::vector<DraggedFile>& files) { OnDropCopies(files); });
    BuildContextMenus();
}

void CMainDlg::BuildContextMenus() {
    m_RowMenu = new QMenu(this);
    QAction* view = m_RowMenu->addAction(QStringLiteral("&View"), this, &CMainDlg::OnView);
    m_RowMenu->setDefaultAction(view);
    m_RowMenu->addAction(QStringLiteral("&Rename...\tF2"), this, &CMainDlg::OnRename);
    m_RowMenu->addAction(QStringLiteral("&Properties..."), this, &CMainDlg::OnProperties);
    m_RowMenu->addSeparator();
    m_AreaMenu = new QMenu(this);
    for (QMenu* menu : {m_RowMenu, m_AreaMenu}) {
        menu->addAction(QStringLiteral("Add from a &tape..."), this, &CMainDlg::OnAddFromTape);
        menu->addAction(QStringLiteral("Add &BASIC text..."), this, &CMainDlg::OnAddBasicText);
    }
    m_AreaMenu->addSeparator();
    m_AreaMenu->addAction(QStringLiteral("&Save a copy as..."), this, &CMainDlg::OnSaveCopyAs);
    m_AreaMenu->addAction(QStringLiteral("&Check disk"), this, &CMainDlg::OnCheckDisk);
    // The right button, or the Menu key on the list: the rows' commands
    // when there is a row under it (or selected, from the keyboard).
    m_FileList->SetContextMenuHandler(
        [this](bool onRow, const QPoint& globalPos) { ShowContextMenu(onRow, globalPos); });
    connect(m_FileList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (CFileViewer* viewer = ViewFile(m_FileList->indexOfTopLevelItem(item)))
            viewer->show();
    });
    auto* rename =
        new QShortcut(QKeySequence(Qt::Key_F2), m_FileList, nullptr, nullptr, Qt::WidgetShortcut);
    connect(rename, &QShortcut::activated, this, &CMainDlg::OnRename);
    m_FileList->setItemDelegateForColumn(
        1, new CNameDelegate(
               this,
               [this](int row) {
                   return static_cast<std::size_t>(row) < CatalogueLength(m_Files)
                              ? QString::fromStdString(FileId::Of(m_Files[row]).ShownName())
                              : QString();
               },
               [this](int row, const QString& name) {
                   if (static_cast<std::size_t>(row) >= CatalogueLength(m_Files))
                       return;
                   // After the editor has closed (the list is rebuilt then),
                   // on the file that was edited, wherever its row is by then.
                   const FileId edited = FileId::Of(m_Files[row]);
                   QTimer::singleShot(0, this, [this, edited, name] { RenameFile(edited, name); });
               }));
}

void CMainDlg::SetUpFileList() {
    m_FileList->setColumnCount(4);
    QStringList headings;
    for (const Column& column : kColumns)
        headings << QString::fromLatin1(column.heading);
    m_FileList->setHeaderLabels(headings);
    const CDialogUnits units(font());
    for (int i = 0; i < 4; ++i) {
        m_FileList->setColumnWidth(i, units.Pixels(kColumns[i].width));
        m_FileList->headerItem()->setTextAlignment(i, kColumns[i].alignment | Qt::AlignVCenter);
    }
    m_FileList->header()->setStretchLastSection(false);
    m_FileList->header()->setSectionsClickable(false);
    m_FileList->setRootIsDecorated(false);
    m_FileList->setItemsExpandable(false);
    m_FileList->setUniformRowHeights(true);
    m_FileList->setSortingEnabled(false);
    m_FileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_FileList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_FileList->setAllColumnsShowFocus(true);
    m_FileList->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

QLineEdit* CMainDlg::Field(int id) const {
    auto it = m_Fields.find(id);
    return it == m_Fields.end() ? nullptr : it->second;
}

QPushButton* CMainDlg::Button(int id) const {
    auto it = m_Buttons.find(id);
    return it == m_Buttons.end() ? nullptr : it->second;
}

QAction* CMainDlg::MenuCommand(int id) const {
    auto it = m_Commands.find(id);
    return it == m_Commands.end() ? nullptr : it->second;
}
