// The window under Qt Test, offscreen, with scripted choosers and message
// boxes and the real LibDsk.

#include "CAboutDlg.h"
#include "CDropListCtrl.h"
#include "CFolderDialog.h"
#include "CMainApp.h"
#include "CMainDlg.h"
#include "Formats.h"
#include "Resources.h"
#include "support/DiskBuilder.h"
#include "support/DskWriter.h"
#include "support/HostTools.h"
#include "ui/ScriptedDialogs.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QString Corpus(const char* name) {
    const std::string dir = CorpusDir();
    return dir.empty() ? QString() : QString::fromStdString(dir + "/" + name);
}

QStringList Row(CMainDlg& dlg, int row) {
    QTreeWidgetItem* item = dlg.FileList()->topLevelItem(row);
    if (item == nullptr)
        return {};
    return {item->text(0), item->text(1), item->text(2), item->text(3)};
}

// The names the list shows, sorted.
// The names a fresh load of the image file lists, sorted.
QStringList NamesInFile(const std::string& path) {
    LibDskOwner owner;
    CDiskImage image(&owner);
    Catalogue rows;
    QStringList names;
    if (!image.LoadImage(path) || !image.ReadCatalogue(rows))
        return names;
    for (std::size_t i = 0; i < CatalogueLength(rows); ++i)
        names << QString::fromLatin1(ShownField(rows[i].name, kNameLen)).trimmed();
    ClearCatalogue(rows);
    names.sort();
    return names;
}

QStringList SortedNames(CMainDlg& dlg) {
    QStringList names;
    for (int row = 0; row < dlg.FileList()->topLevelItemCount(); ++row)
        names << Row(dlg, row).at(1).trimmed();
    names.sort();
    return names;
}

// Drags `urls` onto a list and drops them, as a file manager does; false
// (and no drop) when the list does not take the drag.
bool Drop(QAbstractItemView& list, const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &drop);
    return true;
}

QStringList Figures(CMainDlg& dlg) {
    return {dlg.Field(res::IDC_USED)->text(), dlg.Field(res::IDC_MAXIMUM)->text(),
            dlg.Field(res::IDC_FREE)->text()};
}

// An image made by dskform and filled by cpmcp.
QString MakeImage(const TempDir& dir, const char* format, const char* diskdef) {
    if (!HaveProgram("dskform") || !HaveProgram("cpmcp"))
        return {};
    const std::string image = dir / (std::string(format) + ".dsk");
    RunCommand("dskform -type dsk -format " + std::string(format) + " " + Quote(image) +
               " >/dev/null");
    WriteFile(dir / "big", PatternBytes(40000, 1));
    WriteFile(dir / "small", PatternBytes(200, 2));
    RunCommand("cpmcp -T dsk -f " + std::string(diskdef) + " " + Quote(image) + " " +
               Quote(dir / "big") + " 0:BIG.DAT");
    RunCommand("cpmcp -T dsk -f " + std::string(diskdef) + " " + Quote(image) + " " +
               Quote(dir / "small") + " 3:SMALL");
    return QString::fromStdString(image);
}

} // namespace

class MainDlgTest : public QObject {
    Q_OBJECT

private slots:
    void StartsEmpty() {
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Tarnlight"));
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 0);
        QCOMPARE(Figures(dlg), (QStringList{"0 KB", "0 KB", ""}));
        QVERIFY(dialogs.messages.empty());
        QCOMPARE(dlg.FileList()->columnCount(), 4);
        QVERIFY(dlg.Button(res::IDOK)->isDefault());
        QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
        QCOMPARE(dlg.TargetFolder(), QDir::homePath());
        QCOMPARE(dlg.LastPath(), QStringLiteral("./"));
        QVERIFY(dlg.Field(res::IDC_USED)->isReadOnly());
    }

    // Every command is reached from the menu bar, and none is disabled.
    void MenuReachesEveryCommand() {
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        auto* bar = dlg.findChild<QMenuBar*>();
        QVERIFY(bar != nullptr);
        QList<QAction*> items;
        for (QAction* popup : bar->actions())
            items += popup->menu()->actions();
        for (int id : {res::ID_DISK_NEW, res::ID_DISK_OPEN, res::ID_DISK_INFO, res::ID_DISK_CLOSE,
                       res::ID_DISK_EXIT, res::ID_TOOLS_READBOOTBLK, res::ID_TOOLS_WRITEBOOTBLK,
                       res::IDM_ABOUTBOX}) {
            QAction* command = dlg.MenuCommand(id);
            QVERIFY(command != nullptr);
            QVERIFY(items.contains(command));
            QVERIFY(command->isEnabled());
        }
    }

    void OpensAPlus3Image() {
        const QString image = Corpus("plus3_180k_soloforth_boot.dsk");
        if (image.isEmpty())
            QSKIP("the shared corpus (../shared/corpus) is not present");
        ScriptedDialogs dialogs;
        dialogs.files = {image};
        CMainDlg dlg(&dialogs);
        dlg.MenuCommand(res::ID_DISK_OPEN)->trigger();
        QCOMPARE(dialogs.initialDirs.at(0), QStringLiteral("./"));
        QCOMPARE(dialogs.specs.at(0).defaultSuffix, QStringLiteral("dsk"));
        // .dsk first; the containers that are only read after it; then one
        // filter per format the image may be read as.
        QCOMPARE(dialogs.specs.at(0).nameFilters.mid(0, 4),
                 (QStringList{"Disk Image Files (*.dsk)",
                              "Other Disk Images (*.imd *.td0 *.cqm *.ldbs *.ydsk *.qrst)",
                              "+3e Hard Disk Images (*.hdf *.HDF)", "All Files (*)"}));
        QCOMPARE(dialogs.specs.at(0).nameFilters.size(),
                 4 + static_cast<int>(KnownFormats().size()));
        QVERIFY(!dialogs.specs.at(0).save);
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 14);
        QCOMPARE(Row(dlg, 0), (QStringList{"0", "DISK    ", "   ", "256 Bytes"}));
        QCOMPARE(Row(dlg, 1), (QStringList{"0", "SOLO    ", "BIN", "30 KB"}));
        QCOMPARE(Figures(dlg), (QStringList{"57 KB", "180 KB", "116 KB"}));
        QCOMPARE(dlg.LastPath(), image);
        QVERIFY(dialogs.messages.empty());
    }

    void OpensPcw720AndCpcImages() {
        TempDir dir;
        const QString pcw = MakeImage(dir, "pcw720", "cf2dd");
        if (pcw.isEmpty())
            QSKIP("dskform and cpmtools are not installed");
        const QString cpc = MakeImage(dir, "cpcdata", "cpcdata");
        ScriptedDialogs dialogs;
        dialogs.files = {pcw, cpc};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskOpen();
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 2);
        QCOMPARE(Row(dlg, 0), (QStringList{"0", "BIG     ", "DAT", "39 KB"}));
        QCOMPARE(Row(dlg, 1), (QStringList{"3", "SMALL   ", "   ", "256 Bytes"}));
        QCOMPARE(Figures(dlg), (QStringList{"42 KB", "720 KB", "664 KB"}));
        dlg.OnDiskOpen();
        QCOMPARE(Row(dlg, 0), (QStringList{"0", "BIG     ", "DAT", "39 KB"}));
        QCOMPARE(Figures(dlg), (QStringList{"41 KB", "180 KB", "137 KB"}));
        dlg.OnDiskInfo();
        QVERIFY(dialogs.messages.at(0).text.contains("CPC Data SS SD"));
    }

    // A ROMDOS D1 disk (sector ids those of +3 disks, its directory in the
    // first sector) is read only as the format chosen in the Open dialog.
    void OpensADiskAsTheFormatChosenInTheOpenDialog() {
        LibDskOwner owner;
        if (!owner.Loaded())
            QSKIP("LibDsk is not installed");
        TempDir dir;
        const std::string path = dir / "romdos.dsk";
        const DiskFormat* d1 = FormatNamed("d1");
        {
            CDiskImage disk(&owner);
            QCOMPARE(disk.CreateImage(path, true, d1), 1);
            disk.NameFormat(d1);
            QCOMPARE(disk.LoadImage(path), 1);
            WriteFile(dir / "LETTERS.TXT", PatternBytes(3000, 1));
            QCOMPARE(disk.ImportFile(dir / "LETTERS.TXT"), 1);
        }
        const int asD1 = 4 + static_cast<int>(d1 - KnownFormats().data());
        ScriptedDialogs dialogs;
        dialogs.files = {QString::fromStdString(path), QString::fromStdString(path)};
        dialogs.filters = {asD1, 0};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskOpen();
        QVERIFY(dialogs.specs.at(0).nameFilters.at(asD1).contains("read as ROMDOS D1"));
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 1);
        QCOMPARE(Row(dlg, 0), (QStringList{"0", "LETTERS ", "TXT", "3 KB"}));
        QVERIFY(dialogs.messages.empty());
        dlg.OnDiskOpen();
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 0);
        QVERIFY(dialogs.messages.at(0).text.contains("name the format"));
    }

    // A hard disk with two +3DOS partitions: the one chosen is opened, and
    // nothing when the choice is cancelled.
    void OpensThePartitionOfAHardDiskChosen() {
        LibDskOwner owner;
        TempDir dir;
        const std::string path = dir / "plus3e.hdf";
        // 1 head, 4 sectors of 512 bytes a track; two 32K partitions with
        // 1K blocks and 32 directory entries.
        std::vector<unsigned char> disk(std::size_t{40} * 2048, 0);
        auto entry = [&](unsigned index, const char* name, unsigned type, unsigned first,
                         unsigned last) {
            unsigned char* e = disk.data() + index * 64;
            std::memset(e, ' ', 16);
            std::memcpy(e, name, std::strlen(name));
            e[16] = static_cast<unsigned char>(type);
            e[17] = static_cast<unsigned char>(first);
            e[20] = static_cast<unsigned char>(last);
            return e;
        };
        unsigned char* system = entry(0, "PLUSIDEDOS", 1, 0, 0);
        system[32] = 40;
        system[34] = 1;
        system[35] = 4;
        system[38] = 2;
        for (unsigned i : {1u, 2u}) {
            unsigned char* p = entry(i, i == 1 ? "FILES" : "GAMES", 3, 1 + (i - 1) * 16, i * 16);
            const unsigned char xdpb[] = {16, 0, 3, 7, 0, 31, 0, 31, 0, 0x80, 0, 0, 0, 0, 0, 2, 3};
            std::memcpy(p + 32, xdpb, sizeof xdpb);
            std::memset(disk.data() + (1 + (i - 1) * 16) * 2048, 0xE5, 1024);
        }
        WriteFile(path, disk);
        {
            CDiskImage image(&owner);
            QCOMPARE(image.LoadImage(path + ":GAMES"), 1);
            WriteFile(dir / "ELITE.BIN", PatternBytes(5000, 1));
            QCOMPARE(image.ImportFile(dir / "ELITE.BIN"), 1);
        }
        ScriptedDialogs dialogs;
        dialogs.files = {QString::fromStdString(path), QString::fromStdString(path)};
        dialogs.items = {QStringLiteral("GAMES")};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskOpen();
        QCOMPARE(dialogs.itemLists.at(0), (QStringList{"FILES", "GAMES"}));
        QCOMPARE(dialogs.itemLabels.at(0), QStringLiteral("+3DOS partition of plus3e.hdf:"));
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 1);
        QCOMPARE(Row(dlg, 0), (QStringList{"0", "ELITE   ", "BIN", "5 KB"}));
        QVERIFY(dialogs.messages.empty());
        // Cancelled: the partition open stays.
        dlg.OnDiskOpen();
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 1);
        QVERIFY(dialogs.messages.empty());
    }

    void InfoShowsTheReportAndCloseKeepsRows() {
        const QString image = Corpus("pcw_180k_cpm3_u765test_edsk.dsk");
        if (image.isEmpty())
            QSKIP("the shared corpus (../shared/corpus) is not present");
        ScriptedDialogs dialogs;
        dialogs.files = {image};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskOpen();
        dlg.MenuCommand(res::ID_DISK_INFO)->trigger();
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("Disk Geometry"));
        QCOMPARE(dialogs.messages[0].icon, MessageIcon::None);
        QVERIFY(dialogs.messages[0].text.startsWith("Image name\t: " + image + " \r\n"));
        QVERIFY(dialogs.messages[0].text.contains("Total Blocks\t: 180\r\n"));
        dlg.MenuCommand(res::ID_DISK_CLOSE)->trigger();
        QVERIFY(!dlg.DiskImage()->IsOpen());
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 9);
        dlg.OnDiskInfo();
        QCOMPARE(dialogs.messages.back().text, dialogs.messages[0].text);
        dlg.OnDiskSave();
        dlg.OnDiskSaveAs();
        QCOMPARE(dialogs.messages.size(), std::size_t{2});
        QVERIFY(dialogs.specs.size() == 1);
    }

    void RefusedOpenShowsMessageAndEmptiesList() {
        TempDir dir;
        WriteFile(dir / "junk.dsk", std::vector<unsigned char>(10, 'x'));
        ScriptedDialogs dialogs;
        dialogs.files = {QString::fromStdString(dir / "junk.dsk")};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskOpen();
        // The image and the cause on a second line.
        QCOMPARE(dialogs.messages.at(0).text,
                 QStringLiteral("Unable to load disk image\n") + QString::fromStdString(dir / "junk.dsk") +
                     QStringLiteral(": not a disk image"));
        QCOMPARE(dialogs.messages.at(0).caption, QStringLiteral("ERROR"));
        QCOMPARE(dialogs.messages.at(0).icon, MessageIcon::Error);
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 0);
    }

    void NewImageThenDropExtractDelete() {
        TempDir dir;
        const QString image = QString::fromStdString(dir / "new.dsk");
        ScriptedDialogs dialogs;
        dialogs.files = {image};
        CMainDlg dlg(&dialogs);
        dlg.MenuCommand(res::ID_DISK_NEW)->trigger();
        QVERIFY(dialogs.specs.at(0).save);
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 0);
        QCOMPARE(Figures(dlg), (QStringList{"0 KB", "180 KB", "173 KB"}));
        QVERIFY(dialogs.messages.empty());

        // Drop three files and a web address on the list.
        WriteFile(dir / "GAME.BIN", PatternBytes(3000, 1));
        WriteFile(dir / "NOTES.TXT", PatternBytes(100, 2));
        WriteFile(dir / "README", PatternBytes(1500, 3));
        QVERIFY(Drop(*dlg.FileList(),
                     {QUrl::fromLocalFile(QString::fromStdString(dir / "GAME.BIN")),
                      QUrl(QStringLiteral("https://example.org/file.bin")),
                      QUrl::fromLocalFile(QString::fromStdString(dir / "NOTES.TXT")),
                      QUrl::fromLocalFile(QString::fromStdString(dir / "README"))}));
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 3);
        QCOMPARE(Row(dlg, 0), (QStringList{"0", "GAME    ", "BIN", "3 KB"}));
        QCOMPARE(Row(dlg, 1), (QStringList{"0", "NOTES   ", "TXT", "128 Bytes"}));
        QCOMPARE(Figures(dlg), (QStringList{"6 KB", "180 KB", "167 KB"}));

        // Extract rows 0 and 2 into a chosen folder.
        TempDir out;
        dialogs.folders = {QString::fromStdString(out.Path().string())};
        dlg.FileList()->topLevelItem(2)->setSelected(true);
        dlg.FileList()->topLevelItem(0)->setSelected(true);
        QTest::mouseClick(dlg.Button(res::IDC_EXTRACT), Qt::LeftButton);
        QCOMPARE(dialogs.folderTitles.at(0), QStringLiteral("Target Path"));
        // The first chooser starts at home with nothing selected.
        QCOMPARE(dialogs.folderRoots.at(0), QDir::homePath());
        QCOMPARE(dialogs.folderRootSelected.at(0), false);
        QCOMPARE(dlg.TargetFolder(), QString::fromStdString(out.Path().string()));
        QCOMPARE(ReadFile(out / "GAME    .BIN").size(), std::size_t{3072});
        QCOMPARE(ReadFile(out / "README  .   ").size(), std::size_t{1536});
        QVERIFY(!std::filesystem::exists(out / "NOTES   .TXT"));
        // The next chooser is rooted at the folder chosen last.
        dlg.OnExtract();
        QCOMPARE(dialogs.folderRoots.at(1), QString::fromStdString(out.Path().string()));
        QCOMPARE(dialogs.folderRootSelected.at(1), true);

        // Delete rows 0 and 1.
        dlg.FileList()->clearSelection();
        dlg.FileList()->topLevelItem(0)->setSelected(true);
        dlg.FileList()->topLevelItem(1)->setSelected(true);
        QTest::mouseClick(dlg.Button(res::IDC_DELETE), Qt::LeftButton);
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 1);
        QCOMPARE(Row(dlg, 0).at(1), QStringLiteral("README  "));
        QCOMPARE(Figures(dlg), (QStringList{"2 KB", "180 KB", "171 KB"}));
        QVERIFY(dialogs.messages.empty());
    }

    void BootBlocksAndTheSharedLastPath() {
        TempDir dir;
        const QString image = QString::fromStdString(dir / "boot.dsk");
        const QString saved = QString::fromStdString(dir / "saved.bin");
        ScriptedDialogs dialogs;
        dialogs.files = {image, saved};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskNew();
        dlg.MenuCommand(res::ID_TOOLS_READBOOTBLK)->trigger();
        QCOMPARE(dialogs.specs.at(1).defaultSuffix, QStringLiteral("bin"));
        QCOMPARE(dialogs.specs.at(1).nameFilters,
                 (QStringList{"Binary Files (*.bin)", "All Files (*)"}));
        QCOMPARE(dialogs.initialDirs.at(1), image);
        QCOMPARE(ReadFile(saved.toStdString()), std::vector<unsigned char>(512, 0xE5));
        std::vector<unsigned char> spec(512, 0);
        const unsigned char bytes[] = {0, 0, 40, 9, 2, 1, 4, 2};
        std::copy(std::begin(bytes), std::end(bytes), spec.begin());
        WriteFile(dir / "spec.bin", spec);
        // A new disk specification is written only when the user says Yes.
        dialogs.files = {QString::fromStdString(dir / "spec.bin")};
        dialogs.answers = {false};
        dlg.MenuCommand(res::ID_TOOLS_WRITEBOOTBLK)->trigger();
        QCOMPARE(dialogs.questions.size(), std::size_t{1});
        QVERIFY(dialogs.questions.at(0).startsWith("The new boot sector changes the disk's format"));
        {
            LibDskOwner fresh;
            CDiskImage reader(&fresh);
            reader.LoadImage(image.toStdString());
            QCOMPARE(reader.BootSector()[2], std::uint8_t{0xE5});
        }
        dialogs.files = {QString::fromStdString(dir / "spec.bin")};
        dialogs.answers = {true};
        dlg.MenuCommand(res::ID_TOOLS_WRITEBOOTBLK)->trigger();
        QCOMPARE(dialogs.initialDirs.at(2), saved);
        QVERIFY(!dialogs.specs.at(2).save);
        // Takes effect at once: a file added next is laid out in 2K blocks
        // and comes back whole from a fresh reader.
        QCOMPARE(dlg.DiskImage()->Layout().sectorsPerBlock, 4);
        const std::vector<unsigned char> data = PatternBytes(5000, 7);
        WriteFile(dir / "FIVE.BIN", data);
        QVERIFY(Drop(*dlg.FileList(), {QUrl::fromLocalFile(QString::fromStdString(dir / "FIVE.BIN"))}));
        QVERIFY(dialogs.messages.empty());
        {
            LibDskOwner fresh;
            CDiskImage reader(&fresh);
            QCOMPARE(reader.LoadImage(image.toStdString()), 1);
            QCOMPARE(reader.Layout().sectorsPerBlock, 4);
            Catalogue rows;
            ClearCatalogue(rows);
            reader.ReadCatalogue(rows);
            QCOMPARE(CatalogueLength(rows), std::size_t{1});
            std::vector<std::uint8_t> back;
            QCOMPARE(reader.ReadFileData(rows[0], [&](const std::uint8_t* piece, std::size_t size) {
                back.insert(back.end(), piece, piece + size);
                return true;
            }), 1);
            QVERIFY(back.size() >= data.size());
            QVERIFY(std::equal(data.begin(), data.end(), back.begin()));
        }
        dialogs.files = {image};
        dlg.OnDiskOpen();
        QCOMPARE(dlg.DiskImage()->Layout().sectorsPerBlock, 4);
        // A cancelled dialog changes nothing.
        dlg.OnDiskOpen();
        QCOMPARE(dlg.LastPath(), image);
    }

    // Each change is in the image file before the command returns, and a
    // file another program added meanwhile survives the window's next save.
    void ChangesReachTheFileAtOnce() {
        TempDir dir;
        const QString image = MakeImage(dir, "pcw180", "pcw");
        if (image.isEmpty())
            QSKIP("dskform and cpmtools are not installed");
        const std::string path = image.toStdString();
        auto listed = [&] { return RunCommand("cpmls -T dsk -f pcw -l " + Quote(path)).out; };
        ScriptedDialogs dialogs;
        dialogs.files = {image};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskOpen();
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 2);

        WriteFile(dir / "OTHER.BIN", PatternBytes(700, 4));
        RunCommand("cpmcp -T dsk -f pcw " + Quote(path) + " " + Quote(dir / "OTHER.BIN") +
                   " 0:OTHER.BIN");
        WriteFile(dir / "DROP.BIN", PatternBytes(900, 5));
        dlg.OnDropFiles({QString::fromStdString(dir / "DROP.BIN")});
        QVERIFY(listed().find("drop.bin") != std::string::npos);
        QVERIFY(listed().find("other.bin") != std::string::npos);
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 4);

        dlg.FileList()->clearSelection();
        dlg.FileList()->topLevelItem(0)->setSelected(true);
        QCOMPARE(Row(dlg, 0).at(1), QStringLiteral("BIG     "));
        dlg.OnDelete();
        QVERIFY(listed().find("big.dat") == std::string::npos);
        QVERIFY(listed().find("other.bin") != std::string::npos);

        // Other code after the same disk specification: no question asked.
        std::vector<unsigned char> boot;
        {
            LibDskOwner fresh;
            CDiskImage reader(&fresh);
            reader.LoadImage(path);
            boot.assign(reader.BootSector(), reader.BootSector() + 512);
        }
        boot[100] = 0x42;
        WriteFile(dir / "boot.bin", boot);
        dialogs.files = {QString::fromStdString(dir / "boot.bin")};
        dlg.OnWriteBootBlk();
        LibDskOwner fresh;
        CDiskImage reader(&fresh);
        reader.LoadImage(path);
        QCOMPARE(reader.BootSector()[100], std::uint8_t{0x42});
        QVERIFY(dialogs.messages.empty());
    }

    // Another program's save is taken up before anything is read: the old
    // listing's rows are never extracted from the new file; a failed open
    // lists nothing of the image before; a drop whose save fails shows the
    // list as the file holds it.
    void TheListIsAlwaysWhatTheFileHolds() {
        TempDir dir;
        const QString image = MakeImage(dir, "pcw180", "pcw");
        if (image.isEmpty())
            QSKIP("dskform and cpmtools are not installed");
        const std::string path = image.toStdString();
        ScriptedDialogs dialogs;
        dialogs.files = {image};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskOpen();
        WriteFile(dir / "DROP.BIN", PatternBytes(900, 5));
        dlg.OnDropFiles({QString::fromStdString(dir / "DROP.BIN")});
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 3);
        QCOMPARE(Row(dlg, 0).at(1), QStringLiteral("BIG     "));

        // cpmtools takes BIG.DAT away and puts Z.TXT on its blocks.
        WriteFile(dir / "z", PatternBytes(40000, 9));
        RunCommand("cpmrm -T dsk -f pcw " + Quote(path) + " 0:BIG.DAT");
        RunCommand("cpmcp -T dsk -f pcw " + Quote(path) + " " + Quote(dir / "z") + " 0:Z.TXT");
        TempDir out;
        dialogs.folders = {QString::fromStdString(out.Path().string())};
        dlg.FileList()->clearSelection();
        dlg.FileList()->topLevelItem(0)->setSelected(true);
        dlg.OnExtract();
        QVERIFY(!std::filesystem::exists(out / "BIG     .DAT"));
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QVERIFY(dialogs.messages.at(0).text.startsWith(
            QStringLiteral("The disk image was changed by another program")));
        QCOMPARE(SortedNames(dlg), (QStringList{"DROP", "SMALL", "Z"}));

        // Another program writes the file while a drop holds its lock: the
        // drop is refused, or (when the write comes after the drop's last
        // look) saved; either way the list is what the file holds. Rounds
        // of three files, until one is refused.
        bool refused = false;
        for (int round = 0; round < 12 && !refused; ++round) {
            QStringList drops;
            for (int i = 0; i < 3; ++i) {
                const std::string name =
                    dir / ("F" + std::to_string(round) + "X" + std::to_string(i) + ".BIN");
                WriteFile(name, PatternBytes(100, static_cast<unsigned>(round * 3 + i)));
                drops << QString::fromStdString(name);
            }
            std::atomic<bool> touched{false};
            std::thread other([&] {
                for (int attempt = 0; attempt < 200000 && !touched; ++attempt) {
                    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
                        const timespec times[2] = {{0, UTIME_OMIT},
                                                   {std::time(nullptr) + 100 + round, 0}};
                        futimens(fd, times);
                        touched = true;
                    }
                    if (fd >= 0)
                        ::close(fd);
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                }
            });
            dialogs.messages.clear();
            dlg.OnDropFiles(drops);
            other.join();
            refused = !dialogs.messages.empty();
            QCOMPARE(SortedNames(dlg), NamesInFile(path));
        }
        if (!refused)
            qWarning("no drop was refused: the other program's writes all came too late");

        // A file that is no disk image after a good one: nothing listed.
        WriteFile(dir / "junk.dsk", std::vector<unsigned char>(10, 'x'));
        dialogs.files = {QString::fromStdString(dir / "junk.dsk")};
        dlg.OnDiskOpen();
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 0);
        QCOMPARE(Figures(dlg), (QStringList{"0 KB", "0 KB", "0 KB"}));
    }

    void AboutBox() {
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.MenuCommand(res::IDM_ABOUTBOX)->trigger();
        dlg.OnSysCommand(res::IDM_ABOUTBOX | 0x3);
        dlg.OnSysCommand(0xF060);
        QCOMPARE(dialogs.abouts, 2);
        CAboutDlg about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Tarnlight"));
        QStringList texts;
        for (QLabel* label : about.findChildren<QLabel*>())
            texts << label->text();
        QVERIFY(texts.contains(QStringLiteral("Tarnlight, Version 1.0b")));
        QVERIFY(about.findChild<QLabel*>(QStringLiteral("aboutIcon"))->pixmap().width() > 0);
        auto* ok = about.findChild<QPushButton*>();
        QVERIFY(ok->isDefault());
        QCOMPARE(ok->text(), QStringLiteral("OK"));
    }

    void EveryExitRouteEndsTheProgram_data() {
        QTest::addColumn<int>("route");
        QTest::newRow("Exit button") << 0;
        QTest::newRow("Enter") << 1;
        QTest::newRow("Esc") << 2;
        QTest::newRow("close box") << 3;
        QTest::newRow("Disk > Exit") << 4;
        QTest::newRow("Enter in the list") << 5;
    }

    void EveryExitRouteEndsTheProgram() {
        QFETCH(int, route);
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        switch (route) {
        case 0:
            QTest::mouseClick(dlg.Button(res::IDOK), Qt::LeftButton);
            break;
        case 1:
            QTest::keyClick(&dlg, Qt::Key_Return);
            break;
        case 2:
            QTest::keyClick(&dlg, Qt::Key_Escape);
            break;
        case 3:
            dlg.close();
            break;
        case 4:
            dlg.MenuCommand(res::ID_DISK_EXIT)->trigger();
            break;
        case 5:
            dlg.FileList()->setFocus();
            QTest::keyClick(dlg.FileList(), Qt::Key_Return);
            break;
        }
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), 1);
        QVERIFY(dlg.DiskImage() == nullptr);
        // Nothing runs after the end.
        dlg.OnDiskInfo();
        dlg.OnDiskOpen();
        QVERIFY(dialogs.messages.empty());
        QVERIFY(dialogs.specs.empty());
    }

    void NoCommandStartsWhileAMessageIsOpen() {
        TempDir dir;
        WriteFile(dir / "junk.dsk", std::vector<unsigned char>(10, 'x'));
        ScriptedDialogs dialogs;
        dialogs.files = {QString::fromStdString(dir / "junk.dsk")};
        CMainDlg dlg(&dialogs);
        dlg.show();
        int attempts = 0;
        dialogs.whileShown = [&] {
            ++attempts;
            QVERIFY(dlg.IsBusy());
            // Every route into a handler while the message is up.
            QTest::keyClick(&dlg, Qt::Key_Escape);
            dlg.close();
            QTest::mouseClick(dlg.Button(res::IDOK), Qt::LeftButton);
            dlg.MenuCommand(res::ID_DISK_INFO)->trigger();
            dlg.MenuCommand(res::ID_DISK_EXIT)->trigger();
            dlg.OnDropFiles({QString::fromStdString(dir / "junk.dsk")});
            dlg.OnDelete();
        };
        dlg.OnDiskOpen();
        QCOMPARE(attempts, 1);
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.DiskImage() != nullptr);
        QVERIFY(!dlg.IsBusy());
    }

    void MissingLibraryIsReportedAndTheWindowGoesOn() {
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs, {"libtarnlight-no-such-library.so"});
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].text, QStringLiteral("Cannot find libdsk.so.4!"));
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("ERROR"));
        QCOMPARE(dialogs.messages[0].icon, MessageIcon::None);
        dialogs.files = {QStringLiteral("/tmp/any.dsk")};
        dlg.OnDiskOpen();
        QCOMPARE(dialogs.messages.back().text,
                 QStringLiteral("Unable to load disk image\n/tmp/any.dsk: the disk library is not loaded"));
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 0);
    }

    void RealFolderChooserCanLeaveTheLastFolder() {
        // The real chooser opens at the folder last chosen, selected, within
        // the whole file system: a sibling of that folder can be chosen.
        TempDir dir;
        std::filesystem::create_directories(dir.Path() / "first");
        std::filesystem::create_directories(dir.Path() / "second");
        const QString first = QString::fromStdString(dir / "first");
        const QString second = QString::fromStdString(dir / "second");
        CQtWindowDialogs dialogs;
        QString shownAtStart;
        QTimer::singleShot(0, [&] {
            auto* chooser = qobject_cast<CFolderDialog*>(QApplication::activeModalWidget());
            QVERIFY(chooser != nullptr);
            QCOMPARE(CFolderDialog::PathOf(chooser->Tree()->topLevelItem(0)), QStringLiteral("/"));
            QTreeWidgetItem* current = chooser->Tree()->currentItem();
            shownAtStart = CFolderDialog::PathOf(current);
            QTreeWidgetItem* sibling = nullptr;
            for (int i = 0; current != nullptr && i < current->parent()->childCount(); ++i)
                if (CFolderDialog::PathOf(current->parent()->child(i)) == second)
                    sibling = current->parent()->child(i);
            QVERIFY(sibling != nullptr);
            chooser->Tree()->setCurrentItem(sibling);
            chooser->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        QString chosen;
        QCOMPARE(dialogs.ChooseFolder(nullptr, QStringLiteral("Target Path"), first, true, chosen), 1);
        QCOMPARE(shownAtStart, first);
        QCOMPARE(chosen, second);
    }

    void RealFileDialogsAskBeforeReplacing() {
        // The Qt dialogs themselves: filters, suffix, start folder, and the
        // question before a save dialog replaces an existing file.
        TempDir dir;
        WriteFile(dir / "last.bin", PatternBytes(4, 1));
        CQtWindowDialogs dialogs;
        for (const bool save : {true, false}) {
            const FileDialogSpec spec{save, QStringLiteral("bin"), QStringLiteral("*.bin"),
                                      {QStringLiteral("Binary Files (*.bin)"),
                                       QStringLiteral("All Files (*)")}};
            bool seen = false;
            QTimer::singleShot(0, [&] {
                auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(dialog != nullptr);
                seen = true;
                QCOMPARE(dialog->acceptMode(),
                         save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
                QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
                QCOMPARE(dialog->nameFilters(), spec.nameFilters);
                QCOMPARE(dialog->selectedNameFilter(), spec.nameFilters.first());
                QCOMPARE(dialog->defaultSuffix(), QStringLiteral("bin"));
                QCOMPARE(dialog->directory().absolutePath(),
                         QString::fromStdString(dir.Path().string()));
                dialog->reject();
            });
            const QString chosen =
                dialogs.ChooseFile(nullptr, spec, QString::fromStdString(dir / "last.bin"));
            QVERIFY(seen);
            QVERIFY(chosen.isEmpty());
        }
    }

    void DropTakesAtMost1024FilesInOrder() {
        CDropListCtrl list;
        QStringList received;
        int drops = 0;
        list.SetDropHandler([&](const QStringList& paths) {
            received = paths;
            ++drops;
        });
        QList<QUrl> urls;
        for (int i = 0; i < 1030; ++i) {
            urls.append(QUrl::fromLocalFile(QStringLiteral("/tmp/file%1.bin").arg(i)));
            if (i == 3)
                urls.append(QUrl(QStringLiteral("ftp://example.org/not-a-file")));
        }
        QVERIFY(Drop(list, urls));
        QCOMPARE(drops, 1);
        QCOMPARE(received.size(), 1024);
        QCOMPARE(received.first(), QStringLiteral("/tmp/file0.bin"));
        QCOMPARE(received.at(4), QStringLiteral("/tmp/file4.bin"));
        QCOMPARE(received.last(), QStringLiteral("/tmp/file1023.bin"));
        // Text that is no file is not taken at all.
        QMimeData text;
        text.setText(QStringLiteral("hello"));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list.viewport(), &enter);
        QVERIFY(!enter.isAccepted());
    }

    // One box per command, listing each file that failed and why; nothing
    // for a command where everything succeeded.
    void FailuresAreReportedOncePerCommand() {
        if (!HaveProgram("cpmcp"))
            QSKIP("cpmtools is not installed");
        TempDir dir;
        const QString image = QString::fromStdString(dir / "new.dsk");
        ScriptedDialogs dialogs;
        dialogs.files = {image};
        CMainDlg dlg(&dialogs);
        dlg.MenuCommand(res::ID_DISK_NEW)->trigger();
        std::filesystem::create_directories(dir.Path() / "other");
        WriteFile(dir / "GAME.BIN", PatternBytes(3000, 1));
        WriteFile(dir / "other/GAME.BIN", PatternBytes(10, 2));
        WriteFile(dir / "HUGE.BIN", PatternBytes(200 * 1024, 3));
        WriteFile(dir / "OK.TXT", PatternBytes(10, 4));
        auto drop = [&](const QStringList& names) {
            QList<QUrl> urls;
            for (const QString& name : names)
                urls << QUrl::fromLocalFile(QString::fromStdString(dir / name.toStdString()));
            return Drop(*dlg.FileList(), urls);
        };
        QVERIFY(drop({"GAME.BIN"}));
        QVERIFY(dialogs.messages.empty());
        QVERIFY(drop({"HUGE.BIN", "other/GAME.BIN", "OK.TXT"}));
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].caption, QStringLiteral("ERROR"));
        QCOMPARE(dialogs.messages[0].icon, MessageIcon::Error);
        QCOMPARE(dialogs.messages[0].text,
                 QStringLiteral("Unable to add HUGE.BIN: disk full\n"
                                "Unable to add GAME.BIN: a file of that name is already on the disk"));
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 2);

        // The same name under two users, and a host name taken by a folder.
        RunCommand("cpmcp -f pcw " + Quote(image.toStdString()) + " " + Quote(dir / "OK.TXT") +
                   " 1:GAME.BIN");
        dlg.OnDiskClose();
        dlg.OpenAtStart(image);
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 3);
        TempDir out;
        std::filesystem::create_directory(out.Path() / "OK      .TXT");
        dialogs.folders = {QString::fromStdString(out.Path().string())};
        dlg.FileList()->selectAll();
        dlg.OnExtract();
        QCOMPARE(dialogs.messages.size(), std::size_t{2});
        const QString extract = dialogs.messages[1].text;
        QVERIFY2(extract.startsWith("Unable to extract OK.TXT: "), qPrintable(extract));
        QVERIFY2(extract.contains("\nUnable to extract GAME.BIN (user 1): GAME.BIN was extracted to "
                                  "the same file"),
                 qPrintable(extract));
        QCOMPARE(extract.count(QLatin1Char('\n')), 1);
        QCOMPARE(ReadFile(out / "GAME    .BIN").size(), std::size_t{3072});
    }

    // A directory that could not be read whole leaves the image for reading only.
    void DiskOfItsOwnFormatIsToldOnce() {
        // Tracks 3 on hold five 1024-byte sectors: one box says why the disk
        // is listed and never changed, with the image below.
        TempDir dir;
        DskWriter disk(40);
        disk.FiveSectorsOf1024From(3);
        const std::string image = dir / "game.dsk";
        disk.Save(image);
        ScriptedDialogs dialogs;
        dialogs.files = {QString::fromStdString(image)};
        CMainDlg dlg(&dialogs);
        dlg.OnDiskOpen();
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QCOMPARE(dialogs.messages[0].text,
                 QStringLiteral("track 3 holds 5 sectors of 1024 bytes: a disk with a format of its own "
                                "can be listed, not changed\n") + QString::fromStdString(image));
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Tarnlight - game.dsk [CPCEMU extended] (read-only)"));
    }

    void ReadOnlyImagesAreToldAndRefuseChanges() {
        TempDir dir;
        DskWriter disk(40);
        DirEntry entry = MakeEntry(0, "DATA", "TXT", 1, {5});
        disk.PutEntry(1, 20, &entry); // in the directory's second sector
        DskSector& broken = disk.Track(1).sectors[0];
        broken.sizeCode = 1;
        broken.data.resize(256);
        const std::string image = dir / "ro.dsk";
        disk.Save(image);
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.OpenWhenShown(QString::fromStdString(image));
        QVERIFY(dialogs.messages.empty());
        bool visibleAtMessage = false;
        dialogs.whileShown = [&] { visibleAtMessage = dlg.isVisible(); };
        dlg.show();
        QTRY_COMPARE(dialogs.messages.size(), std::size_t{2});
        QVERIFY(visibleAtMessage);
        QVERIFY(dialogs.messages[0].text.startsWith(QStringLiteral("Unable to read directory\n")));
        QCOMPARE(dialogs.messages[1].text,
                 QStringLiteral("The disk image is read-only: files can be listed and extracted, "
                                "not changed"));
        QCOMPARE(dialogs.messages[1].caption, QStringLiteral("Tarnlight"));
        QCOMPARE(dialogs.messages[1].icon, MessageIcon::Information);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Tarnlight - ro.dsk [CPCEMU extended] (read-only)"));
        dialogs.whileShown = nullptr;
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 1);
        dlg.FileList()->topLevelItem(0)->setSelected(true);
        dlg.OnDelete();
        QCOMPARE(dialogs.messages.size(), std::size_t{3});
        QCOMPARE(dialogs.messages[2].text,
                 QStringLiteral("Unable to delete DATA.TXT: the disk image is read-only"));
        dlg.OnDiskClose();
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Tarnlight"));
    }

    void NoDisplayNameIsAppendedToCaptions() {
        CMainApp::SetIdentity(*qApp);
        // Unset, the display name falls back to the application name, and
        // Qt appends nothing to window titles.
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("tarnlight"));
    }

    void FolderChooser() {
        TempDir dir;
        std::filesystem::create_directories(dir.Path() / "a" / "b");
        WriteFile(dir / "a/file.txt", PatternBytes(1, 1));
        const QString root = QString::fromStdString(dir.Path().string());
        CFolderDialog chooser(QStringLiteral("Target Path"));
        QCOMPARE(chooser.windowTitle(), QStringLiteral("Target Path"));
        QVERIFY(!chooser.SetRootPath(QStringLiteral("E:\\")));
        QCOMPARE(CFolderDialog::PathOf(chooser.Tree()->topLevelItem(0)), QStringLiteral("/"));
        QVERIFY(chooser.SetRootPath(root));
        QTreeWidgetItem* top = chooser.Tree()->topLevelItem(0);
        QCOMPARE(chooser.Tree()->topLevelItemCount(), 1);
        QCOMPARE(CFolderDialog::PathOf(top), root);
        // Folders only.
        QCOMPARE(top->childCount(), 1);
        top->child(0)->setExpanded(true);
        QCOMPARE(top->child(0)->childCount(), 1);
        QCOMPARE(CFolderDialog::PathOf(top->child(0)->child(0)), root + "/a/b");
        // Confirming the root returns it; cancelling returns 2.
        QTimer::singleShot(0, &chooser, [&] {
            chooser.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        QCOMPARE(chooser.DoModal(), 1);
        QCOMPARE(chooser.GetChosenPath(), root);
        QTimer::singleShot(0, &chooser, [&] { chooser.reject(); });
        QCOMPARE(chooser.DoModal(), 2);
        QVERIFY(chooser.GetChosenPath().isEmpty());
        // Without the root selected nothing is, and OK waits for a choice.
        CFolderDialog first(QStringLiteral("Target Path"));
        first.SetSelectRoot(false);
        QVERIFY(first.SetRootPath(root));
        QVERIFY(first.Tree()->currentItem() == nullptr);
        QVERIFY(!first.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
        // A start folder below the root is selected at the start.
        CFolderDialog started(QStringLiteral("Target Path"), root + "/a/b");
        QVERIFY(started.SetRootPath(root));
        QCOMPARE(CFolderDialog::PathOf(started.Tree()->currentItem()), root + "/a/b");
        QVERIFY(started.SetRootPath(QString()));
        QCOMPARE(CFolderDialog::PathOf(started.Tree()->topLevelItem(0)), QStringLiteral("/"));
    }
};

QTEST_MAIN(MainDlgTest)
#include "MainDlgTest.moc"
