#include "CAboutDlg.h"
#include "CFolderDialog.h"
#include "CDiskImage.h"
#include "IWindowDialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// The geometry report is "label<tabs>: value" lines; shown as a two-column
// table so that the values line up whatever the font.
QString GeometryTable(const QString& report) {
    QString html = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"1\">");
    for (const QString& line : report.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)) {
        const int tab = line.indexOf(QLatin1Char('\t'));
        QString label = tab < 0 ? line : line.left(tab);
        QString value = tab < 0 ? QString() : line.mid(tab);
        value.remove(QLatin1Char('\t'));
        html += QStringLiteral("<tr><td>%1</td><td style=\"padding-left:12px\">%2</td></tr>")
                    .arg(label.toHtmlEscaped(), value.toHtmlEscaped());
    }
    return html + QStringLiteral("</table>");
}

} // namespace

QString CQtWindowDialogs::ChooseFile(QWidget* owner, const FileDialogSpec& spec,
                                     const QString& initialDir, int* chosenFilter) {
    QFileDialog dialog(owner, QString(), initialDir);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(spec.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(spec.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(spec.defaultSuffix);
    dialog.setNameFilters(spec.nameFilters);
    dialog.selectNameFilter(spec.nameFilters.value(0));
    // The remembered path names the last file chosen; start in its folder.
    const QFileInfo last(initialDir);
    if (last.isFile())
        dialog.setDirectory(last.absolutePath());
    dialog.selectFile(spec.initialName);
    // A save dialog asks before replacing an existing file (Qt's own question).
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    if (chosenFilter != nullptr)
        *chosenFilter = static_cast<int>(spec.nameFilters.indexOf(dialog.selectedNameFilter()));
    return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
}

int CQtWindowDialogs::ChooseFolder(QWidget* owner, const QString& title, const QString& root,
                                   bool selectRoot, QString& chosen) {
    // The whole file system, opened at the folder last chosen (or the home
    // folder): a chooser rooted there would keep the user inside it.
    CFolderDialog dialog(title, root, owner, CFolderDialog::BIF_RETURNONLYFSDIRS);
    dialog.SetSelectRoot(selectRoot);
    dialog.SetRootPath(QString());
    const int result = dialog.DoModal();
    if (result == 1)
        chosen = dialog.GetChosenPath();
    return result;
}

void CQtWindowDialogs::ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                                   MessageIcon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    if (caption == QLatin1String(CDiskImage::kGeometryCaption)) {
        box.setTextFormat(Qt::RichText);
        box.setText(GeometryTable(text));
    } else {
        box.setTextFormat(Qt::PlainText);
        box.setText(text);
    }
    box.setIcon(icon == MessageIcon::Error         ? QMessageBox::Critical
                : icon == MessageIcon::Warning     ? QMessageBox::Warning
                : icon == MessageIcon::Information ? QMessageBox::Information
                                                   : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool CQtWindowDialogs::AskYesNo(QWidget* owner, const QString& text, const QString& caption) {
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon(QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void CQtWindowDialogs::ShowAbout(QWidget* owner) {
    CAboutDlg about(owner);
    about.exec();
}

QString CQtWindowDialogs::ChooseItem(QWidget* owner, const QString& title, const QString& label,
                                     const QStringList& items) {
    bool chosen = false;
    const QString item = QInputDialog::getItem(owner, title, label, items, 0, false, &chosen);
    return chosen ? item : QString();
}

bool CQtWindowDialogs::EditProperties(QWidget* owner, const QString& fileName,
                                      FileProperties& properties) {
    QDialog dialog(owner);
    dialog.setWindowTitle(QStringLiteral("Properties of %1").arg(fileName));
    auto* user = new QSpinBox(&dialog);
    user->setRange(0, 15);
    user->setValue(properties.user);
    auto* readOnly = new QCheckBox(QStringLiteral("&Read-only"), &dialog);
    auto* system = new QCheckBox(QStringLiteral("&System (hidden from DIR)"), &dialog);
    auto* archive = new QCheckBox(QStringLiteral("&Archive (backed up)"), &dialog);
    readOnly->setChecked(properties.readOnly);
    system->setChecked(properties.system);
    archive->setChecked(properties.archive);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&User number:"), user);
    form->addRow(QStringLiteral("Attributes:"), readOnly);
    form->addRow(QString(), system);
    form->addRow(QString(), archive);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    properties.user = user->value();
    properties.readOnly = readOnly->isChecked();
    properties.system = system->isChecked();
    properties.archive = archive->isChecked();
    return true;
}
