#include "CDropListCtrl.h"

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
