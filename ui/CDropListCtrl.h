#pragma once
// The file list: a report-style list whose only behaviour of its own is
// taking files dropped from the desktop and handing each to the main window.

#include <QTreeWidget>

#include <functional>
#include <vector>

class QMimeData;

// A file dragged between two windows: where its copy was extracted, and
// the user and name it had.
struct DraggedFile {
    QString path;
    int user = 0;
    QString name; // "NAME.TYP"
};

class CDropListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kMaxDroppedFiles = 1024;
    // The files of a drag from a Tarnlight window, beside their URLs.
    static constexpr const char* kFilesMimeType = "application/x-tarnlight-files";

    explicit CDropListCtrl(QWidget* parent = nullptr);
    // Receives the dropped files' paths (at most kMaxDroppedFiles), in the
    // order given.
    void SetDropHandler(std::function<void(const QStringList&)> handler) {
        m_Handler = std::move(handler);
    }

    // Makes what the selected rows are dragged out as (null: no drag).
    void SetDragHandler(std::function<QMimeData*()> handler) { m_DragHandler = std::move(handler); }
    // Receives the files dragged in from another Tarnlight window.
    void SetCopyHandler(std::function<void(const std::vector<DraggedFile>&)> handler) {
        m_CopyHandler = std::move(handler);
    }
    static void PutDraggedFiles(QMimeData& data, const std::vector<DraggedFile>& files);
    static std::vector<DraggedFile> DraggedFiles(const QMimeData& data);

    // Receives a request for a context menu (the right button, the Menu
    // key): whether it is about rows, and where the menu goes.
    void SetContextMenuHandler(std::function<void(bool onRow, const QPoint& globalPos)> handler) {
        m_MenuHandler = std::move(handler);
    }

protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void startDrag(Qt::DropActions supportedActions) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
    std::function<void(const QStringList&)> m_Handler;
    std::function<void(bool, const QPoint&)> m_MenuHandler;
    std::function<QMimeData*()> m_DragHandler;
    std::function<void(const std::vector<DraggedFile>&)> m_CopyHandler;
};
