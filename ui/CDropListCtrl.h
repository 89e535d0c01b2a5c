#pragma once
// The file list: a report-style list whose only behaviour of its own is
// taking files dropped from the desktop and handing each to the main window.

#include <QTreeWidget>

#include <functional>

class CDropListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    static constexpr int kMaxDroppedFiles = 1024;

    explicit CDropListCtrl(QWidget* parent = nullptr);
    // Receives the dropped files' paths (at most kMaxDroppedFiles), in the
    // order given.
    void SetDropHandler(std::function<void(const QStringList&)> handler) {
        m_Handler = std::move(handler);
    }

    // Receives a request for a context menu (the right button, the Menu
    // key): whether it is about rows, and where the menu goes.
    void SetContextMenuHandler(std::function<void(bool onRow, const QPoint& globalPos)> handler) {
        m_MenuHandler = std::move(handler);
    }

protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
    std::function<void(const QStringList&)> m_Handler;
    std::function<void(bool, const QPoint&)> m_MenuHandler;
};
