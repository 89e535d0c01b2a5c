#include "CAboutDlg.h"

#include "DialogUnits.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

static void InitIconResources() {
    // The resources live in a static library: register them explicitly.
    Q_INIT_RESOURCE(tarnlight);
}

QIcon AppIcon() {
    static const bool registered = (InitIconResources(), true);
    (void)registered;
    // The installed theme icon when there is one, else the built-in sizes.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/tarnlight-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("tarnlight"), icon);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    const QFont font = DialogFont();
    setFont(font);
    setWindowTitle(QString::fromLatin1(res::kAboutDialog.caption));
    setWindowIcon(AppIcon());
    const CDialogUnits units(font);
    setFixedSize(units.X(res::kAboutDialog.width), units.Y(res::kAboutDialog.height));
    for (const res::Control& control : res::kAboutControls) {
        const QRect rect = units.Rect(control);
        switch (control.kind) {
        case res::ControlKind::Icon: {
            auto* icon = new QLabel(this);
            icon->setObjectName(QStringLiteral("aboutIcon"));
            icon->setPixmap(AppIcon().pixmap(32, 32));
            icon->setGeometry(rect.x(), rect.y(), 32, 32);
            break;
        }
        case res::ControlKind::Static: {
            // Plain text: an ampersand shows as itself.
            auto* label = new QLabel(QString::fromLatin1(control.text), this);
            label->setTextFormat(Qt::PlainText);
            label->setGeometry(rect.adjusted(0, 0, 0, 4));
            break;
        }
        default: {
            auto* ok = new QPushButton(QString::fromLatin1(control.text), this);
            ok->setGeometry(rect);
            ok->setDefault(true);
            connect(ok, &QPushButton::clicked, this, &QDialog::accept);
            break;
        }
        }
    }
}
