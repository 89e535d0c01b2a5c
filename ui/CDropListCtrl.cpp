#include "CDropListCtrl.h"

#include <QContextMenuEvent>
#include <QDataStream>
#include <QDrag>
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
    // Rows are dragged out as files; what is dropped is taken by the
    // handlers, never moved within the list.
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
}

void CDropListCtrl::PutDraggedFiles(QMimeData& mime, const std::vector<DraggedFile>& files) {
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << quint32(files.size());
    for (const DraggedFile& file : files)
        stream << file.path << qint32(file.user) << file.name;
    mime.setData(QLatin1String(kFilesMimeType), bytes);
}

std::vector<DraggedFile> CDropListCtrl::DraggedFiles(const QMimeData& mime) {
    QDataStream stream(mime.data(QLatin1String(kFilesMimeType)));
    quint32 count = 0;
    stream >> count;
    std::vector<DraggedFile> files;
    for (quint32 i = 0; i < count && i < quint32(kMaxDroppedFiles); ++i) {
        DraggedFile file;
        qint32 user = 0;
        stream >> file.path >> user >> file.name;
        if (stream.status() != QDataStream::Ok)
            break;
        file.user = user;
        files.push_back(file);
    }
    return files;
}

void CDropListCtrl::startDrag(Qt::DropActions) {
    QMimeData* dragged = m_DragHandler ? m_DragHandler() : nullptr;
    if (dragged == nullptr)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(dragged);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void CDropListCtrl::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void CDropListCtrl::dragMoveEvent(QDragMoveEvent* event) {
    if (event->source() != this && HasLocalFiles(event->mimeData())) {
        // Always a copy: a move would have the source delete its file.
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else
        event->ignore();
}

void CDropListCtrl::dropEvent(QDropEvent* event) {
    if (event->source() == this || !HasLocalFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // Files from another Tarnlight window are copied with their user and name.
    if (event->mimeData()->hasFormat(QLatin1String(kFilesMimeType)) && m_CopyHandler) {
        m_CopyHandler(DraggedFiles(*event->mimeData()));
        return;
    }
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
