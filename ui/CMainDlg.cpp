// The main window's commands: opening, creating, extracting, adding,
// deleting, the boot sector, and the messages they show. The widgets are
// built in MainDlgWidgets.cpp.

#include "CMainDlg.h"
#include "MainDlgCommand.h"

#include "CAboutDlg.h"
#include "CDropListCtrl.h"
#include "CFileViewer.h"
#include "CatalogueView.h"
#include "DialogUnits.h"
#include "FileFacts.h"
#include "Formats.h"
#include "HostFile.h"
#include "PartitionStore.h"
#include "Resources.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <map>
#include <set>

namespace {

constexpr const char* kReadOnlyNotice =
    "The disk image is read-only: files can be listed and extracted, not changed";

constexpr const char* kChangesFormatQuestion =
    "The new boot sector changes the disk's format; its files may become unreadable. Write it "
    "anyway?";

const FileDialogSpec kNewImage{true, QStringLiteral("dsk"), QStringLiteral("*.dsk"),
                               {QStringLiteral("Disk Image Files (*.dsk)"),
                                QStringLiteral("All Files (*)")}};
// Opened, not changed: the containers the disk library reads in a child.
// After them, one filter per known format: the image is read as that
// format whatever its first sector says (a ROMDOS D1 or Vortex disk).
FileDialogSpec OpenImageSpec() {
    FileDialogSpec spec{
        false,
        kNewImage.defaultSuffix,
        kNewImage.initialName,
        {QStringLiteral("Disk Image Files (*.dsk)"),
         QStringLiteral("Other Disk Images (*.imd *.td0 *.cqm *.ldbs *.ydsk *.qrst)"),
         QStringLiteral("+3e Hard Disk Images (*.hdf *.HDF)"), QStringLiteral("All Files (*)")}};
    for (const DiskFormat& format : KnownFormats())
        spec.nameFilters.push_back(QStringLiteral("Disk Image Files read as %1 (*.dsk *.DSK)")
                                       .arg(QString::fromUtf8(format.title)));
    return spec;
}
const FileDialogSpec kOpenBoot{false, QStringLiteral("bin"), QStringLiteral("*.bin"),
                               {QStringLiteral("Binary Files (*.bin)"),
                                QStringLiteral("All Files (*)")}};
const FileDialogSpec kSaveBoot{true, kOpenBoot.defaultSuffix, kOpenBoot.initialName,
                               kOpenBoot.nameFilters};

} // namespace

CMainDlg::CMainDlg(IWindowDialogs* dialogs, std::vector<std::string> libraryNames,
                   QWidget* parent)
    : QDialog(parent), m_pOwnDialogs(dialogs ? nullptr : new CQtWindowDialogs),
      m_pDialogs(dialogs ? dialogs : m_pOwnDialogs.get()), m_hIcon(AppIcon()) {
    BuildControls();
    OnInitDialog(libraryNames);
}

CMainDlg::~CMainDlg() {
    // Normally the exit command has done this already.
    delete m_pDiskImage;
    m_pDiskImage = nullptr;
}

void CMainDlg::OnInitDialog(const std::vector<std::string>& libraryNames) {
    UpdateData(false);
    setWindowIcon(m_hIcon);
    if (!m_Library.Load(libraryNames))
        m_pDialogs->ShowMessage(this, QString::fromLatin1(CDiskLibrary::kMissingMessage),
                                QString::fromLatin1(CDiskImage::kErrorCaption), MessageIcon::None);
    m_pDiskImage = new CDiskImage(this);

    SetUpFileList();
    m_Buttons[res::IDOK]->setFocus();
}

void CMainDlg::ShowNotices() {
    if (m_pDiskImage == nullptr)
        return;
    for (const Notice& notice : m_pDiskImage->TakeNotices())
        ShowNotice(notice);
}

void CMainDlg::ShowNotice(const Notice& notice) {
    if (m_pFailures != nullptr && notice.icon != MessageIcon::None) {
        QString line = QString::fromStdString(notice.text);
        if (!notice.cause.empty())
            line += QStringLiteral(": ") + QString::fromStdString(notice.cause);
        m_pFailures->append(line);
        return;
    }
    // The message as it stands, and on a second line the image and the
    // cause, where there are any.
    QString shown = QString::fromStdString(notice.text);
    if (notice.icon != MessageIcon::None && !m_pDiskImage->ImagePath().empty()) {
        shown += QLatin1Char('\n') + QString::fromStdString(m_pDiskImage->ImagePath());
        if (!notice.cause.empty())
            shown += QStringLiteral(": ") + QString::fromStdString(notice.cause);
    }
    m_pDialogs->ShowMessage(this, shown, QString::fromStdString(notice.caption), notice.icon);
}

namespace {

// Why a file operation failed, in words for the window's user.
QString FailureReason(const CDiskImage& disk) {
    const std::string& cause = disk.LastStatus().cause;
    switch (disk.LastStatus().reason) {
    case FailReason::ReadOnly:
        return QStringLiteral("the disk image is read-only");
    case FailReason::FileExists:
        return QStringLiteral("a file of that name is already on the disk");
    case FailReason::SaveFailed:
        return QStringLiteral("the disk image could not be saved");
    case FailReason::BadName:
        return QStringLiteral("the name cannot be a file name on this system");
    case FailReason::HostOpen:
    case FailReason::HostRead:
    case FailReason::HostWrite:
        if (!cause.empty()) {
            QString text = QString::fromStdString(cause);
            text[0] = text[0].toLower();
            return text;
        }
        break;
    default:
        break;
    }
    return QString::fromLatin1(FailReasonText(disk.LastStatus().reason));
}

QString RowName(const FileEntry& row) {
    QString name = QString::fromLatin1(ShownFileName(row));
    if (row.user != 0)
        name += QStringLiteral(" (user %1)").arg(row.user);
    return name;
}

} // namespace

void CMainDlg::NoteFailure(const char* verb, const QString& name) {
    if (m_pFailures != nullptr)
        m_pFailures->append(QStringLiteral("Unable to %1 %2: %3")
                                .arg(QLatin1String(verb), name, FailureReason(*m_pDiskImage)));
}

void CMainDlg::UpdateTitle() {
    const bool open = m_pDiskImage != nullptr && m_pDiskImage->IsOpen();
    const bool readOnly = open && m_pDiskImage->IsMapped() && !m_pDiskImage->IsWritable();
    QString title = QString::fromLatin1(res::kMainDialog.caption);
    // The image's name and the kind of container it came in.
    if (open && !m_pDiskImage->ImagePath().empty()) {
        title += QStringLiteral(" - ") +
                 QFileInfo(QString::fromStdString(m_pDiskImage->ImagePath())).fileName();
        if (!m_pDiskImage->PartitionName().empty())
            title += QLatin1Char(':') + QString::fromStdString(m_pDiskImage->PartitionName());
        if (!m_pDiskImage->ContainerName().empty())
            title +=
                QStringLiteral(" [%1]").arg(QString::fromStdString(m_pDiskImage->ContainerName()));
    }
    setWindowTitle(title + (readOnly ? QStringLiteral(" (read-only)") : QString()));
}

void CMainDlg::AfterOpen(bool loaded) {
    UpdateTitle();
    // A disk with tracks of its own format that loaded has said why it
    // cannot be changed: one box is enough.
    if (m_pDiskImage->IsMapped() && !m_pDiskImage->IsWritable() &&
        !(loaded && !m_pDiskImage->ForeignFormatText().empty()))
        m_pDialogs->ShowMessage(this, QString::fromLatin1(kReadOnlyNotice),
                                QString::fromLatin1(res::kMainDialog.caption),
                                MessageIcon::Information);
}

void CMainDlg::UpdateData(bool saveAndValidate) {
    QLineEdit* used = m_Fields.at(res::IDC_USED);
    QLineEdit* maximum = m_Fields.at(res::IDC_MAXIMUM);
    QLineEdit* free = m_Fields.at(res::IDC_FREE);
    if (saveAndValidate) {
        m_strUsed = used->text();
        m_strMaximum = maximum->text();
        m_strFree = free->text();
    } else {
        used->setText(m_strUsed);
        maximum->setText(m_strMaximum);
        free->setText(m_strFree);
    }
}

void CMainDlg::OpenAtStart(const QString& path) {
    RunCommand([&] {
        m_strLastPath = path;
        m_pDiskImage->NameFormat(nullptr);
        const bool loaded = m_pDiskImage->LoadImage(path.toStdString()) != 0;
        ShowNotices();
        RefreshList();
        UpdateData(false);
        AfterOpen(loaded);
    });
}

void CMainDlg::OpenWhenShown(const QString& path) {
    m_strOpenWhenShown = path;
    if (isVisible())
        showEvent(nullptr);
}

void CMainDlg::showEvent(QShowEvent* event) {
    if (event != nullptr)
        QDialog::showEvent(event);
    if (m_strOpenWhenShown.isEmpty())
        return;
    const QString path = m_strOpenWhenShown;
    m_strOpenWhenShown.clear();
    // After the show has been handled: the window is on the screen then.
    QTimer::singleShot(0, this, [this, path] { OpenAtStart(path); });
}

void CMainDlg::OnDiskOpen() {
    const FileDialogSpec spec = OpenImageSpec();
    FileDialogCommand(spec, [&](const std::string& path) {
        const auto formats = KnownFormats();
        const int format =
            m_nChosenFilter - static_cast<int>(spec.nameFilters.size() - formats.size());
        m_pDiskImage->NameFormat(format >= 0 && static_cast<std::size_t>(format) < formats.size()
                                     ? &formats[static_cast<std::size_t>(format)]
                                     : nullptr);
        const std::string image = PartitionOf(path);
        if (image.empty())
            return;
        const bool loaded = m_pDiskImage->LoadImage(image) != 0;
        ShowNotices();
        RefreshList();
        UpdateData(false);
        AfterOpen(loaded);
    });
}

std::string CMainDlg::PartitionOf(const std::string& path) {
    // A hard disk holds volumes: one of its +3DOS partitions is opened
    // (the load says why when it has none, or cannot be read).
    HardDisk disk;
    std::string cause;
    if (!IsHardDiskFile(path) || !ReadHardDiskImage(path, disk, cause))
        return path;
    QStringList names;
    for (const HardDiskPartition& p : disk.partitions)
        if (p.type == kPlus3DosPartition)
            names.push_back(QString::fromStdString(p.name));
    if (names.size() == 1)
        return path + ":" + names.front().toStdString();
    if (names.empty())
        return path;
    const QString chosen =
        m_pDialogs->ChooseItem(this, QStringLiteral("Open Partition"),
                               QStringLiteral("+3DOS partition of %1:")
                                   .arg(QFileInfo(QString::fromStdString(path)).fileName()),
                               names);
    return chosen.isEmpty() ? std::string() : path + ":" + chosen.toStdString();
}

void CMainDlg::OnDiskNew() {
    FileDialogCommand(kNewImage, [this](const std::string& path) {
        m_pDiskImage->NameFormat(nullptr);
        m_pDiskImage->CreateImage(path);
        ShowNotices();
        const bool loaded = m_pDiskImage->LoadImage(path) != 0;
        ShowNotices();
        RefreshList();
        UpdateData(false);
        AfterOpen(loaded);
    });
}

void CMainDlg::OnWriteBootBlk() {
    FileDialogCommand(kOpenBoot, [this](const std::string& path) {
        const bool written = m_pDiskImage->WriteBootSector(path) != 0;
        ShowNotices();
        if (written || m_pDiskImage->LastStatus().reason != FailReason::ChangesFormat)
            return;
        if (m_pDialogs->AskYesNo(this, QString::fromLatin1(kChangesFormatQuestion),
                                 QStringLiteral("Tarnlight")))
            m_pDiskImage->WriteBootSector(path, CDiskImage::BootWrite::ChangeFormat);
        ShowNotices();
    });
}

void CMainDlg::OnReadBootBlk() {
    FileDialogCommand(kSaveBoot, [this](const std::string& path) {
        const bool read = m_pDiskImage->ReadBootSector(path) != 0;
        ShowNotices();
        if (!read && m_pDiskImage->LastStatus().reason == FailReason::ImageChanged) {
            RefreshList();
            UpdateData(false);
        }
    });
}

void CMainDlg::OnDiskSave() {}

void CMainDlg::OnDiskSaveAs() {}

void CMainDlg::OnDiskClose() {
    RunCommand([this] {
        m_pDiskImage->CloseImage();
        UpdateTitle();
    });
}

void CMainDlg::OnDiskInfo() {
    RunCommand([this] {
        m_pDiskImage->ShowGeometry();
        ShowNotices();
    });
}

void CMainDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == res::IDM_ABOUTBOX)
        RunCommand([this] { m_pDialogs->ShowAbout(this); });
}

std::vector<int> CMainDlg::SelectedRows() const {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : m_FileList->selectedItems())
        rows.push_back(m_FileList->indexOfTopLevelItem(item));
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CMainDlg::OnExtract() {
    RunCommand([this] {
        UpdateData(true);
        QString folder;
        const int result = m_pDialogs->ChooseFolder(this, QStringLiteral("Target Path"),
                                                    m_strTargetFolder, m_bFolderChosen, folder);
        if (result == 1) {
            m_strTargetFolder = folder;
            m_bFolderChosen = true;
            CollectFailures([&] { ExtractRows(folder.toStdString(), SelectedRows()); });
            if (m_pDiskImage->LastStatus().reason == FailReason::ImageChanged)
                RefreshList();
        }
        UpdateData(false);
    });
}

std::vector<CMainDlg::Extracted> CMainDlg::ExtractRows(const std::string& folder,
                                                       const std::vector<int>& rows) {
    std::vector<Extracted> extracted;
    // Two users' files of one name would land on one host file: the first
    // is kept, the second reported.
    std::map<std::string, const FileEntry*> written;
    for (int row : rows) {
        const FileEntry& file = m_Files[row];
        const std::string host = HostName(file, CDiskImage::HostNames::Padded);
        if (const auto it = written.find(host); it != written.end()) {
            m_pFailures->append(
                QStringLiteral("Unable to extract %1: %2 was extracted to the same file")
                    .arg(RowName(file), RowName(*it->second)));
            continue;
        }
        written.emplace(host, &file);
        const bool done = m_pDiskImage->ExtractFile(folder, file);
        ShowNotices();
        if (done) {
            extracted.push_back({row, folder + "/" + host});
            continue;
        }
        // The rows are the old listing's: none is extracted from what
        // another program saved since.
        if (m_pDiskImage->LastStatus().reason == FailReason::ImageChanged)
            break;
        NoteFailure("extract", RowName(file));
    }
    return extracted;
}

QMimeData* CMainDlg::DragData() {
    QMimeData* dragged = nullptr;
    RunCommand([&] {
        const std::vector<int> rows = SelectedRows();
        if (rows.empty())
            return;
        if (!m_pDragFolder)
            m_pDragFolder = std::make_unique<QTemporaryDir>();
        // Each drag in a folder of its own: the files of an earlier one may
        // still be being copied by the program they were dropped on.
        const QString folder = m_pDragFolder->path() + QStringLiteral("/%1").arg(++m_nDrags);
        if (!m_pDragFolder->isValid() || !QDir().mkpath(folder)) {
            ShowError(QStringLiteral("Unable to extract the files dragged: no temporary folder "
                                     "could be made"));
            return;
        }
        std::vector<Extracted> written;
        CollectFailures([&] { written = ExtractRows(folder.toStdString(), rows); });
        if (m_pDiskImage->LastStatus().reason == FailReason::ImageChanged) {
            RefreshList();
            UpdateData(false);
        }
        if (written.empty())
            return;
        QList<QUrl> urls;
        std::vector<DraggedFile> files;
        for (const Extracted& file : written) {
            const QString path = QString::fromStdString(file.path);
            urls << QUrl::fromLocalFile(path);
            const FileEntry& row = m_Files[file.row];
            files.push_back({path, row.user, QString::fromStdString(FileId::Of(row).ShownName())});
        }
        dragged = new QMimeData;
        dragged->setUrls(urls);
        CDropListCtrl::PutDraggedFiles(*dragged, files);
    });
    return dragged;
}

void CMainDlg::OnDropCopies(const std::vector<DraggedFile>& files) {
    RunCommand([&] {
        // One save for all the files, as for a drop from the desktop.
        CollectFailures([&] {
            CDiskImage::Transaction change(*m_pDiskImage);
            for (const DraggedFile& file : files) {
                CDiskImage::ImportTarget target;
                target.file.user = static_cast<std::uint8_t>(file.user);
                std::vector<std::uint8_t> bytes;
                std::string cause;
                const QString shown = QStringLiteral("%1:%2").arg(file.user).arg(file.name);
                if (file.user < 0 || file.user > 15 ||
                    ParseCpmName(file.name.toStdString(), NameCase::AsGiven, target.file) !=
                        NameCheck::Valid) {
                    m_pFailures->append(QStringLiteral("Unable to add %1: %2")
                                            .arg(shown, QLatin1String(kBadNameText)));
                    continue;
                }
                if (!ReadHostFile(file.path.toStdString(), kMaxDiskFileBytes,
                                  "larger than any disk holds", bytes, cause)) {
                    m_pFailures->append(QStringLiteral("Unable to add %1: %2")
                                            .arg(shown, QString::fromStdString(cause)));
                    continue;
                }
                const bool added = m_pDiskImage->ImportData(target, bytes) != 0;
                ShowNotices();
                if (!added)
                    NoteFailure("add", shown);
            }
            change.Commit();
            ShowNotices();
        });
        RefreshList();
        UpdateData(false);
    });
}

void CMainDlg::OnDelete() {
    RunCommand([this] {
        UpdateData(true);
        // One save for all the rows.
        CollectFailures([&] {
            CDiskImage::Transaction change(*m_pDiskImage);
            for (int row : SelectedRows()) {
                const bool erased = m_pDiskImage->EraseFile(m_Files[row]);
                ShowNotices();
                if (!erased)
                    NoteFailure("delete", RowName(m_Files[row]));
            }
            change.Commit();
            ShowNotices();
        });
        RefreshList();
        UpdateData(false);
    });
}

void CMainDlg::OnDropFiles(const QStringList& paths) {
    RunCommand([&] {
        // One save for all the files; the list is rebuilt from what was
        // saved, so that a failed save shows none of them.
        CollectFailures([&] {
            CDiskImage::Transaction change(*m_pDiskImage);
            for (const QString& path : paths)
                AddFile(path);
            change.Commit();
            ShowNotices();
        });
        RefreshList();
        UpdateData(false);
    });
}

void CMainDlg::AddFile(const QString& path) {
    const bool added = m_pDiskImage->ImportFile(path.toStdString());
    ShowNotices();
    if (!added)
        NoteFailure("add", QFileInfo(path).fileName());
}

void CMainDlg::RefreshList() {
    ClearCatalogue(m_Files);
    m_pDiskImage->ReadCatalogue(m_Files);
    ShowNotices();
    m_FileList->clear();
    QList<QTreeWidgetItem*> items;
    for (std::size_t i = 0; i < CatalogueLength(m_Files); ++i) {
        const FileEntry& row = m_Files[i];
        auto* item = new QTreeWidgetItem(QStringList{
            QString::number(row.user), QString::fromLatin1(ShownField(row.name, kNameLen)),
            QString::fromLatin1(ShownField(row.type, kTypeLen)),
            QString::fromStdString(FormatSize(row.size))});
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        // Only Rename... opens the name's editor: the list edits on no trigger.
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        items.append(item);
    }
    m_FileList->addTopLevelItems(items);
    const SpaceFigures figures = ComputeSpaceFigures(m_pDiskImage->Volume().GetUsedSpace(),
                                                     m_pDiskImage->Volume().GetCapacity(),
                                                     m_pDiskImage->Volume().GetFreeSpace());
    m_strUsed = QString::fromStdString(figures.used);
    m_strMaximum = QString::fromStdString(figures.maximum);
    m_strFree = QString::fromStdString(figures.free);
}

void CMainDlg::OnView() {
    for (int row : SelectedRows())
        if (CFileViewer* viewer = ViewFile(row))
            viewer->show();
}

CFileViewer* CMainDlg::ViewFile(int row) {
    CFileViewer* viewer = nullptr;
    RunCommand([&] {
        if (row < 0 || static_cast<std::size_t>(row) >= CatalogueLength(m_Files))
            return;
        const FileEntry file = m_Files[row];
        CFileViewer::Contents contents;
        contents.fileName = QString::fromStdString(FileId::Of(file).Shown());
        contents.imageName =
            QFileInfo(QString::fromStdString(m_pDiskImage->ImagePath())).fileName();
        const bool read =
            m_pDiskImage->ReadFileData(file, [&](const std::uint8_t* bytes, std::size_t size) {
                contents.data.insert(contents.data.end(), bytes, bytes + size);
                return true;
            });
        if (!read && m_pDiskImage->LastStatus().reason == FailReason::ImageChanged) {
            // The row named a file of the old listing.
            ShowNotices();
            RefreshList();
            UpdateData(false);
            return;
        }
        // Why it could not be read is said in the viewer, not in a box.
        if (!read) {
            m_pDiskImage->TakeNotices();
            contents.readFailure = FailureReason(*m_pDiskImage);
            if (!m_pDiskImage->LastStatus().cause.empty() &&
                !contents.readFailure.contains(
                    QString::fromStdString(m_pDiskImage->LastStatus().cause)))
                contents.readFailure += QStringLiteral(" (%1)").arg(
                    QString::fromStdString(m_pDiskImage->LastStatus().cause));
        }
        contents.facts = FactsOfFile(*m_pDiskImage, file, contents.data);
        contents.image = m_pDiskImage->ImageIdentity();
        viewer = new CFileViewer(std::move(contents), m_pDialogs, this);
    });
    return viewer;
}

int CMainDlg::RowOfFile(const FileId& file) const {
    for (std::size_t i = 0; i < CatalogueLength(m_Files); ++i)
        if (FileId::Of(m_Files[i]) == file)
            return static_cast<int>(i);
    return -1;
}

int CMainDlg::CommandRow() const {
    QTreeWidgetItem* item = m_FileList->currentItem();
    if (item != nullptr && item->isSelected())
        return m_FileList->indexOfTopLevelItem(item);
    const std::vector<int> rows = SelectedRows();
    return rows.empty() ? -1 : rows.front();
}

void CMainDlg::RefuseChange(const char* verb, const FileEntry& row, const QString& why) {
    ShowError(QStringLiteral("Unable to %1 %2: %3")
                  .arg(QLatin1String(verb), QString::fromStdString(FileId::Of(row).Shown()), why));
}

namespace {

QString ReadOnlyText(const FileEntry& row) {
    return QString::fromStdString(FileId::Of(row).Shown()) + QStringLiteral(" is read-only");
}

} // namespace

QString CMainDlg::ChangeRefusal(const FileId& wanted) const {
    if (m_pDiskImage->LastStatus().reason == FailReason::FileExists)
        return QString::fromStdString(wanted.Shown()) + QStringLiteral(" is already on the image");
    return FailureReason(*m_pDiskImage);
}

void CMainDlg::OnRename() {
    if (!CanRunCommand() || !m_pDiskImage->IsOpen())
        return;
    const int row = CommandRow();
    if (row < 0)
        return;
    QTreeWidgetItem* item = m_FileList->topLevelItem(row);
    m_FileList->setCurrentItem(item, 1);
    m_FileList->editItem(item, 1);
}

void CMainDlg::RenameFile(const FileId& file, const QString& name) {
    RunCommand([&] {
        const int index = RowOfFile(file);
        if (index < 0)
            return;
        const FileEntry row = m_Files[index];
        FileId wanted = file;
        const std::string text = name.trimmed().toStdString();
        if (text == wanted.ShownName())
            return;
        switch (name.trimmed().toLatin1() == name.trimmed().toUtf8()
                    ? ParseCpmName(text, NameCase::Upper, wanted)
                    : NameCheck::BadCharacter) {
        case NameCheck::Valid:
            break;
        case NameCheck::Empty:
            RefuseChange("rename", row, QStringLiteral("the name is empty"));
            return;
        default:
            RefuseChange("rename", row, QLatin1String(kBadNameText));
            return;
        }
        // A name is stored as typed or not at all.
        if (NameIsCut(text)) {
            RefuseChange("rename", row, QStringLiteral("the name is longer than 8.3"));
            return;
        }
        if (row.readOnly) {
            RefuseChange("rename", row, ReadOnlyText(row));
            return;
        }
        const bool renamed = m_pDiskImage->RenameFile(row, wanted) != 0;
        AfterFileChange("rename", row, wanted, renamed);
        if (const int now = RowOfFile(wanted); renamed && now >= 0)
            m_FileList->setCurrentItem(m_FileList->topLevelItem(now));
    });
}

void CMainDlg::OnProperties() {
    RunCommand([&] {
        const int index = CommandRow();
        if (index < 0)
            return;
        const FileEntry row = m_Files[index];
        FileProperties properties{row.user, row.readOnly, row.system, row.archive};
        if (!m_pDialogs->EditProperties(this, QString::fromStdString(FileId::Of(row).Shown()),
                                        properties))
            return;
        FileId wanted = FileId::Of(row);
        wanted.user = static_cast<std::uint8_t>(properties.user);
        // A read-only file keeps its user (clearing the attribute lets it move).
        if (wanted.user != row.user && properties.readOnly) {
            RefuseChange("change", row, ReadOnlyText(row));
            return;
        }
        unsigned set = 0, clear = 0;
        const std::pair<bool, bool> flags[] = {{row.readOnly, properties.readOnly},
                                               {row.system, properties.system},
                                               {row.archive, properties.archive}};
        const unsigned bits[] = {CDiskImage::kReadOnlyAttribute, CDiskImage::kSystemAttribute,
                                 CDiskImage::kArchiveAttribute};
        for (std::size_t i = 0; i < 3; ++i)
            if (flags[i].first != flags[i].second)
                (flags[i].second ? set : clear) |= bits[i];
        // One change: the attributes and the user saved together, or neither.
        bool done = true;
        {
            CDiskImage::Transaction change(*m_pDiskImage);
            if (set != 0 || clear != 0)
                done = m_pDiskImage->SetAttributes(row, set, clear) != 0;
            if (done && wanted.user != row.user)
                done = m_pDiskImage->RenameFile(row, wanted) != 0;
            if (done)
                done = change.Commit();
        }
        AfterFileChange("change", row, wanted, done);
    });
}

void CMainDlg::AfterFileChange(const char* verb, const FileEntry& row, const FileId& wanted,
                               bool done) {
    // (A file another program changed meanwhile has been told of by the
    // image, and the list is read again.)
    if (!done && m_pDiskImage->LastStatus().reason != FailReason::ImageChanged) {
        m_pDiskImage->TakeNotices();
        RefuseChange(verb, row, ChangeRefusal(wanted));
    }
    ShowNotices();
    RefreshList();
    UpdateData(false);
}

QMenu* CMainDlg::ContextMenu(bool onRow) {
    return onRow ? m_RowMenu : m_AreaMenu;
}

void CMainDlg::ShowContextMenu(bool onRow, const QPoint& globalPos) {
    if (!CanRunCommand() || !m_pDiskImage->IsOpen())
        return;
    ContextMenu(onRow)->popup(globalPos);
}

void CMainDlg::OnExit() {
    if (m_bBusy || m_bEnded)
        return;
    m_bEnded = true;
    delete m_pDiskImage;
    m_pDiskImage = nullptr;
    m_Library.Unload();
    UpdateData(true);
    done(res::IDOK);
}

void CMainDlg::OnDiskExit() { OnExit(); }

void CMainDlg::reject() { OnExit(); }

void CMainDlg::closeEvent(QCloseEvent* event) {
    OnExit();
    if (m_bEnded)
        event->accept();
    else
        event->ignore();
}
