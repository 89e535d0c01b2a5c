#include "CAboutDlg.h"

#include "DialogUnits.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "tarnlight.xpm"

QIcon AppIcon() { return QIcon(QPixmap(tarnlight_xpm)); }

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
