// A stand-in for a file manager's window in the drag tests: files dropped
// on it are copied into FOLDER as a file manager copies them; then it says
// how many and ends. It prints the middle of its window (X Y) once shown.

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

class DropTarget : public QWidget {
  public:
    explicit DropTarget(QString folder) : m_Folder(std::move(folder)) {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("Drop target"));
        resize(300, 300);
    }

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls())
            event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        int copied = 0;
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile() &&
                QFile::copy(url.toLocalFile(),
                            QDir(m_Folder).filePath(QFileInfo(url.toLocalFile()).fileName())))
                ++copied;
        event->acceptProposedAction();
        std::printf("dropped %d\n", copied);
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, &QApplication::quit);
    }

  private:
    QString m_Folder;
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drop_target FOLDER\n");
        return 2;
    }
    DropTarget target(QString::fromLocal8Bit(argv[1]));
    target.move(560, 120);
    target.show();
    QTimer::singleShot(800, &target, [&] {
        const QPoint middle = target.mapToGlobal(target.rect().center());
        std::printf("%d %d\n", middle.x(), middle.y());
        std::fflush(stdout);
    });
    return app.exec();
}
