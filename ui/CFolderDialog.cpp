#include "CFolderDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLoadedRole = Qt::UserRole + 1;

QTreeWidgetItem* MakeItem(const QString& path, const QString& label) {
    auto* item = new QTreeWidgetItem(QStringList{label});
    item->setData(0, kPathRole, path);
    item->setData(0, kLoadedRole, false);
    // Show an expander until the children are known.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

} // namespace

CFolderDialog::CFolderDialog(const QString& title, const QString& startPath, QWidget* parent,
                             unsigned flags)
    : QDialog(parent), m_szStartPath(startPath), m_Flags(flags) {
    setWindowTitle(title);
    setModal(true);
    m_pTree = new QTreeWidget(this);
    m_pTree->setHeaderHidden(true);
    m_pTree->setColumnCount(1);
    m_pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pTree);
    layout->addWidget(m_pButtons);
    resize(360, 420);
    connect(m_pTree, &QTreeWidget::itemExpanded, this, &CFolderDialog::Populate);
    connect(m_pButtons, &QDialogButtonBox::accepted, this, &CFolderDialog::OnAccept);
    connect(m_pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_pTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        m_pButtons->button(QDialogButtonBox::Ok)->setEnabled(item != nullptr);
    });
    Rebuild();
}

QString CFolderDialog::PathOf(const QTreeWidgetItem* item) {
    return item == nullptr ? QString() : item->data(0, kPathRole).toString();
}

bool CFolderDialog::SetRootPath(const QString& path) {
    if (path.isEmpty()) {
        m_strRoot = QStringLiteral("/");
        Rebuild();
        return true;
    }
    const QFileInfo info(path);
    if (!info.isDir())
        return false;
    m_strRoot = info.absoluteFilePath();
    Rebuild();
    return true;
}

void CFolderDialog::Rebuild() {
    m_pTree->clear();
    const QString label = m_strRoot == QStringLiteral("/") ? m_strRoot : QFileInfo(m_strRoot).fileName();
    QTreeWidgetItem* root = MakeItem(m_strRoot, label);
    m_pTree->addTopLevelItem(root);
    root->setExpanded(true);
    if (m_bSelectRoot)
        m_pTree->setCurrentItem(root);
    else
        m_pTree->setCurrentItem(nullptr);
    m_pButtons->button(QDialogButtonBox::Ok)->setEnabled(m_pTree->currentItem() != nullptr);
    // Open the tree down to the start folder, when it lies below the root.
    if (m_szStartPath.isEmpty())
        return;
    const QString start = QFileInfo(m_szStartPath).absoluteFilePath();
    QTreeWidgetItem* item = root;
    while (item != nullptr && PathOf(item) != start) {
        item->setExpanded(true);
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount(); ++i) {
            const QString childPath = PathOf(item->child(i));
            if (start == childPath || start.startsWith(childPath + QLatin1Char('/'))) {
                next = item->child(i);
                break;
            }
        }
        item = next;
    }
    if (item != nullptr) {
        item->setExpanded(true);
        m_pTree->scrollToItem(item);
        if (m_bSelectRoot)
            m_pTree->setCurrentItem(item);
    }
}

void CFolderDialog::Populate(QTreeWidgetItem* item) {
    if (item->data(0, kLoadedRole).toBool())
        return;
    item->setData(0, kLoadedRole, true);
    const QDir dir(PathOf(item));
    const QStringList names =
        dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names)
        item->addChild(MakeItem(dir.filePath(name), name));
    if (names.isEmpty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

void CFolderDialog::OnAccept() {
    const QString path = PathOf(m_pTree->currentItem());
    // Only folders that exist on the file system can be chosen.
    if ((m_Flags & BIF_RETURNONLYFSDIRS) && !QFileInfo(path).isDir()) {
        QApplication::beep();
        return;
    }
    m_szChosenPath = path;
    accept();
}

int CFolderDialog::DoModal() {
    m_szChosenPath.clear();
    if (exec() != QDialog::Accepted)
        return 2;
    return m_szChosenPath.isEmpty() ? -1 : 1;
}
