#include "CDropListCtrl.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

namespace {

bool HasLocalFiles(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls())
        return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            return true;
    return false;
}

} // namespace

CDropListCtrl::CDropListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
}

void CDropListCtrl::dragEnterEvent(QDragEnterEvent* event) {
    if (HasLocalFiles(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CDropListCtrl::dragMoveEvent(QDragMoveEvent* event) {
    if (HasLocalFiles(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CDropListCtrl::dropEvent(QDropEvent* event) {
    if (!HasLocalFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (paths.size() == kMaxDroppedFiles)
            break;
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    if (m_Handler)
        m_Handler(paths);
}

void CDropListCtrl::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_MenuHandler)
        return;
    QTreeWidgetItem* item = nullptr;
    QPoint where = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        // The Menu key: about the current row when it is selected.
        item = currentItem();
        if (item != nullptr && !item->isSelected())
            item = nullptr;
        if (item != nullptr)
            where = viewport()->mapToGlobal(visualItemRect(item).bottomLeft());
    } else {
        item = itemAt(viewport()->mapFromGlobal(event->globalPos()));
        // A right click on a row not selected makes it the selection, as
        // file managers do.
        if (item != nullptr && !item->isSelected()) {
            clearSelection();
            setCurrentItem(item);
            item->setSelected(true);
        }
    }
    m_MenuHandler(item != nullptr, where);
    event->accept();
}
