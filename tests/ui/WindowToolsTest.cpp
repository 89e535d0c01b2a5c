// The window's own tools beyond its buttons, under Qt Test offscreen: the
// viewer, renaming, properties, adding tapes and BASIC text, a copy in
// another container, the check. The command line is the oracle: what the
// window shows or does is compared with what tarnlight-cli gives on a copy.

#include "CDropListCtrl.h"
#include "CFileViewer.h"
#include "CMainDlg.h"
#include "support/HostTools.h"
#include "support/TapBuilder.h"
#include "ui/ScriptedDialogs.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QTabWidget>
#include <QTest>

#include <filesystem>

namespace {

std::string Run(const std::string& args) {
    const CommandResult result = RunCommand(Cli(args));
    if (result.status != 0)
        qWarning("tarnlight-cli %s: exit %d", args.c_str(), result.status);
    return result.out;
}

// A +3 disk with a BASIC program, a SCREEN$, a CPC screen and a text file.
std::string MakeSampleImage(const TempDir& dir) {
    const std::string image = dir / "sample.dsk";
    Run("new " + Quote(image));
    WriteFile(dir / "loader.txt", [] {
        const std::string text = "10 BORDER 0: PRINT \"HELLO\"\n20 LOAD \"SCREEN\"CODE\n"
                                 "30 GO TO 10\n";
        return std::vector<unsigned char>(text.begin(), text.end());
    }());
    Run("put --plus3 basic:10 --tokenize --as DISK " + Quote(image) + " " +
        Quote(dir / "loader.txt"));
    WriteFile(dir / "screen.bin", PatternBytes(6912, 7));
    Run("put --plus3 code:16384 --as SCREEN.SCR " + Quote(image) + " " + Quote(dir / "screen.bin"));
    WriteFile(dir / "cpc.bin", PatternBytes(16384, 9));
    Run("put --as TITLE.SCR " + Quote(image) + " " + Quote(dir / "cpc.bin"));
    WriteFile(dir / "notes.txt", {'H', 'i', '\r', '\n', 0x1A});
    Run("put --as NOTES.TXT " + Quote(image) + " " + Quote(dir / "notes.txt"));
    return image;
}

int RowOf(CMainDlg& dlg, const QString& name) {
    for (int i = 0; i < dlg.FileList()->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = dlg.FileList()->topLevelItem(i);
        if ((item->text(1).trimmed() + "." + item->text(2).trimmed()) == name ||
            (item->text(2).trimmed().isEmpty() && item->text(1).trimmed() == name))
            return i;
    }
    return -1;
}

QImage PngFile(const std::string& path) {
    QImage image(QString::fromStdString(path));
    return image.convertToFormat(QImage::Format_RGB888);
}

// The name editor Rename... opened in the list, typed into and confirmed.
void RenameInPlace(CMainDlg& dlg, int row, const QString& name) {
    dlg.FileList()->clearSelection();
    dlg.FileList()->topLevelItem(row)->setSelected(true);
    dlg.FileList()->setCurrentItem(dlg.FileList()->topLevelItem(row));
    QApplication::setActiveWindow(&dlg);
    dlg.FileList()->setFocus();
    QTest::keyClick(dlg.FileList(), Qt::Key_F2);
    auto* editor = dlg.FileList()->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    editor->setText(name);
    QTest::keyClick(editor, Qt::Key_Return);
    // The rename runs once the editor has closed.
    QTRY_VERIFY(dlg.FileList()->viewport()->findChild<QLineEdit*>() == nullptr ||
                !dlg.FileList()->viewport()->findChild<QLineEdit*>()->isVisible());
    QTest::qWait(20);
}

std::string Copy(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    return to;
}

} // namespace

class WindowToolsTest : public QObject {
    Q_OBJECT
  private slots:
    void TheViewerShowsWhatCatAndScreenShow() {
        TempDir dir;
        const std::string image = MakeSampleImage(dir);
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.OpenAtStart(QString::fromStdString(image));
        QCOMPARE(dlg.FileList()->topLevelItemCount(), 4);

        // The listing, as cat lists it, on the tab cat would choose.
        CFileViewer* basic = dlg.ViewFile(RowOf(dlg, "DISK"));
        QVERIFY(basic != nullptr);
        QCOMPARE(basic->Tabs()->tabText(basic->Tabs()->currentIndex()), QStringLiteral("BASIC"));
        QCOMPARE(basic->TabText("BASIC"),
                 QString::fromStdString(Run("cat " + Quote(image) + " DISK")));
        QVERIFY(basic->FactsText().contains("Header: +3DOS"));
        QVERIFY(basic->FactsText().contains("Saved as: BASIC LINE 10"));
        QCOMPARE(basic->TabText("Hex"),
                 QString::fromStdString(Run("cat --hex " + Quote(image) + " DISK")));

        // A SCREEN$ and a CPC screen: the pictures screen makes, pixel for pixel.
        CFileViewer* spectrum = dlg.ViewFile(RowOf(dlg, "SCREEN.SCR"));
        QCOMPARE(spectrum->Tabs()->tabText(spectrum->Tabs()->currentIndex()),
                 QStringLiteral("Picture"));
        Run("screen " + Quote(image) + " SCREEN.SCR " + Quote(dir / "spectrum.png"));
        QCOMPARE(spectrum->ShownPicture().convertToFormat(QImage::Format_RGB888),
                 PngFile(dir / "spectrum.png"));
        // Save As... writes the picture screen writes.
        dialogs.files = {QString::fromStdString(dir / "saved.png")};
        spectrum->SaveShownAs();
        QVERIFY(ReadFile(dir / "saved.png") == ReadFile(dir / "spectrum.png"));
        QCOMPARE(dialogs.specs.back().nameFilters.front(), QStringLiteral("PNG Pictures (*.png)"));

        CFileViewer* cpc = dlg.ViewFile(RowOf(dlg, "TITLE.SCR"));
        for (unsigned mode : {1u, 0u, 2u}) {
            cpc->SetCpcMode(mode);
            const std::string png = dir / ("mode" + std::to_string(mode) + ".png");
            Run("screen --mode " + std::to_string(mode) + " " + Quote(image) + " TITLE.SCR " +
                Quote(png));
            QCOMPARE(cpc->ShownPicture().convertToFormat(QImage::Format_RGB888), PngFile(png));
        }

        // Text, and Save As... of it.
        CFileViewer* text = dlg.ViewFile(RowOf(dlg, "NOTES.TXT"));
        QCOMPARE(text->Tabs()->tabText(text->Tabs()->currentIndex()), QStringLiteral("Text"));
        QCOMPARE(text->TabText("Text"), QStringLiteral("Hi\n"));
        QVERIFY(text->TabText("Picture").isEmpty());
        dialogs.files = {QString::fromStdString(dir / "notes-out.txt")};
        text->SaveShownAs();
        QCOMPARE(ReadFile(dir / "notes-out.txt"), (std::vector<unsigned char>{'H', 'i', '\n'}));
        // Save As never writes over the image.
        const auto before = ReadFile(image);
        dialogs.files = {QString::fromStdString(image)};
        text->SaveShownAs();
        QVERIFY(ReadFile(image) == before);
        QVERIFY(dialogs.messages.back().text.startsWith("Unable to save text"));
    }

    // A file that cannot be read says why in its viewer, not in a box.
    void AnUnreadableFileSaysWhyInItsViewer() {
        TempDir dir;
        const std::string image = MakeSampleImage(dir);
        // The first data sector after the directory (the program's) made
        // 256 bytes long.
        std::vector<unsigned char> bytes = ReadFile(image);
        bytes[0x100 + 0x1300 + 0x18 + 4 * 8 + 3] = 1;
        WriteFile(image, bytes);
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.OpenAtStart(QString::fromStdString(image));
        const std::size_t told = dialogs.messages.size();
        CFileViewer* viewer = dlg.ViewFile(RowOf(dlg, "DISK"));
        QVERIFY(viewer != nullptr);
        QCOMPARE(dialogs.messages.size(), told);
        QVERIFY2(viewer->NoteText().startsWith("The file could not be read whole: "),
                 qPrintable(viewer->NoteText()));
        QVERIFY2(viewer->NoteText().contains("track 1"), qPrintable(viewer->NoteText()));
    }

    void DoubleClickAndTheContextMenuOpenViewers() {
        TempDir dir;
        const std::string image = MakeSampleImage(dir);
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.show();
        dlg.OpenAtStart(QString::fromStdString(image));
        QTreeWidget* list = dlg.FileList();
        const QRect rect = list->visualItemRect(list->topLevelItem(RowOf(dlg, "DISK")));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(dlg.findChildren<CFileViewer*>().size(), 1);
        // View on the context menu: one viewer for each row selected.
        list->topLevelItem(0)->setSelected(true);
        list->topLevelItem(1)->setSelected(true);
        QMenu* menu = dlg.ContextMenu(true);
        QCOMPARE(menu->actions().front()->text(), QStringLiteral("&View"));
        menu->actions().front()->trigger();
        QCOMPARE(dlg.findChildren<CFileViewer*>().size(), 3);
        // The Menu key opens the rows' menu for the current row; the right
        // button below the rows, the image's.
        list->setCurrentItem(list->topLevelItem(0));
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5),
                              list->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(list, &key);
        QTRY_VERIFY(dlg.ContextMenu(true)->isVisible());
        dlg.ContextMenu(true)->hide();
        const QPoint below(20, list->viewport()->height() - 5);
        QContextMenuEvent click(QContextMenuEvent::Mouse, below,
                                list->viewport()->mapToGlobal(below));
        QApplication::sendEvent(list->viewport(), &click);
        QTRY_VERIFY(dlg.ContextMenu(false)->isVisible());
        dlg.ContextMenu(false)->hide();
        // The title names the image and its container.
        QVERIFY(dlg.windowTitle().startsWith("Tarnlight - sample.dsk ["));
    }

    // Each change made in the window gives the bytes the command line's
    // gives on a copy; each refusal names the file and leaves the image as
    // it was.
    void ChangesEqualTheCommandLines() {
        TempDir dir;
        const std::string image = MakeSampleImage(dir);
        const std::string oracle = Copy(image, dir / "oracle.dsk");
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.show();
        dlg.OpenAtStart(QString::fromStdString(image));

        RenameInPlace(dlg, RowOf(dlg, "DISK"), QStringLiteral("loader.bas"));
        Run("mv " + Quote(oracle) + " DISK LOADER.BAS");
        QVERIFY(ReadFile(image) == ReadFile(oracle));
        QVERIFY(RowOf(dlg, "LOADER.BAS") >= 0);
        QVERIFY(dialogs.messages.empty());

        dlg.FileList()->clearSelection();
        dlg.FileList()->topLevelItem(RowOf(dlg, "NOTES.TXT"))->setSelected(true);
        dialogs.answeredProperties = {{0, true, true, false}};
        dlg.OnProperties();
        QCOMPARE(dialogs.propertiesAsked.back().first, QStringLiteral("0:NOTES.TXT"));
        Run("attr --set rs " + Quote(oracle) + " NOTES.TXT");
        QVERIFY(ReadFile(image) == ReadFile(oracle));

        dlg.FileList()->clearSelection();
        dlg.FileList()->topLevelItem(RowOf(dlg, "TITLE.SCR"))->setSelected(true);
        dialogs.answeredProperties = {{3, false, false, true}};
        dlg.OnProperties();
        Run("attr --set a " + Quote(oracle) + " TITLE.SCR");
        Run("mv " + Quote(oracle) + " TITLE.SCR 3:TITLE.SCR");
        QVERIFY(ReadFile(image) == ReadFile(oracle));
        QCOMPARE(dlg.FileList()->topLevelItem(RowOf(dlg, "TITLE.SCR"))->text(0),
                 QStringLiteral("3"));
        QVERIFY(dialogs.messages.empty());

        // Refusals: a box naming the file and the cause; nothing written.
        const auto before = ReadFile(image);
        const struct {
            const char* file;
            const char* name;
            const char* message;
        } refusals[] = {
            {"NOTES.TXT", "OTHER.TXT", "Unable to rename 0:NOTES.TXT: 0:NOTES.TXT is read-only"},
            {"LOADER.BAS", "SCREEN.SCR",
             "Unable to rename 0:LOADER.BAS: 0:SCREEN.SCR is already on the image"},
            {"LOADER.BAS", "A*B.BAS",
             "Unable to rename 0:LOADER.BAS: the name has characters a CP/M disk cannot hold"},
            {"LOADER.BAS", "LOADERLONG.BAS",
             "Unable to rename 0:LOADER.BAS: the name is longer than 8.3"},
            {"LOADER.BAS", ".BAS", "Unable to rename 0:LOADER.BAS: the name is empty"},
        };
        for (const auto& refusal : refusals) {
            dialogs.messages.clear();
            RenameInPlace(dlg, RowOf(dlg, refusal.file), QString::fromLatin1(refusal.name));
            QCOMPARE(dialogs.messages.size(), std::size_t{1});
            QCOMPARE(dialogs.messages[0].text, QString::fromLatin1(refusal.message));
            QVERIFY(ReadFile(image) == before);
        }
        // A read-only file keeps its user.
        dialogs.messages.clear();
        dlg.FileList()->clearSelection();
        dlg.FileList()->topLevelItem(RowOf(dlg, "NOTES.TXT"))->setSelected(true);
        dialogs.answeredProperties = {{5, true, true, false}};
        dlg.OnProperties();
        QCOMPARE(dialogs.messages.at(0).text,
                 QStringLiteral("Unable to change 0:NOTES.TXT: 0:NOTES.TXT is read-only"));
        // Esc in the editor leaves the name as it is, and the window open.
        dlg.FileList()->setCurrentItem(dlg.FileList()->topLevelItem(RowOf(dlg, "LOADER.BAS")));
        dlg.FileList()->currentItem()->setSelected(true);
        dlg.FileList()->setFocus();
        QTest::keyClick(dlg.FileList(), Qt::Key_F2);
        auto* editor = dlg.FileList()->viewport()->findChild<QLineEdit*>();
        QVERIFY(editor != nullptr);
        QCOMPARE(editor->text(), QStringLiteral("LOADER.BAS"));
        editor->setText(QStringLiteral("GONE.BAS"));
        QTest::keyClick(editor, Qt::Key_Escape);
        QTest::qWait(20);
        QVERIFY(dlg.isVisible());
        QVERIFY(ReadFile(image) == before);
    }

    // Add from a tape... and Add BASIC text... store what tape-in and put
    // --tokenize store; a tape with a bad block or a text with a bad line
    // stores nothing and says where.
    void AddingTapesAndBasicTextEqualsTheCommandLines() {
        TempDir dir;
        const std::string image = MakeSampleImage(dir);
        const std::string oracle = Copy(image, dir / "oracle.dsk");
        std::vector<std::uint8_t> tap;
        AddFile(tap, 0, "loader", {0x00, 0x0A, 0x02, 0x00, 0xF9, 0x0D}, 10, 6);
        AddFile(tap, 3, "screen", std::vector<std::uint8_t>(6912, 0x55), 16384, 32768);
        AddBlock(tap, 0xFF, {1, 2, 3});
        WriteFile(dir / "game.tap", tap);
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.OpenAtStart(QString::fromStdString(image));

        dialogs.files = {QString::fromStdString(dir / "game.tap")};
        dlg.ContextMenu(false)->actions().at(0)->trigger();
        Run("tape-in " + Quote(oracle) + " " + Quote(dir / "game.tap"));
        QVERIFY(ReadFile(image) == ReadFile(oracle));
        QCOMPARE(dialogs.specs.back().nameFilters.front(),
                 QStringLiteral("Spectrum Tapes (*.tap *.tzx *.TAP *.TZX)"));
        // The headerless block is said, not stored.
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QVERIFY(dialogs.messages[0].text.contains("block 4"));
        QVERIFY(RowOf(dlg, "LOADER.BAS") >= 0 && RowOf(dlg, "SCREEN.BIN") >= 0);

        const std::string plus3 = dir / "menu.bas", cpc = dir / "cpcmenu.bas";
        const auto text = [](const std::string& lines) {
            return std::vector<unsigned char>(lines.begin(), lines.end());
        };
        WriteFile(plus3, text("10 CLS\n20 PRINT AT 1,1;\"MENU\"\n30 PAUSE 0\n"));
        WriteFile(cpc, text("10 MODE 1\n20 PRINT \"MENU\"\n30 GOTO 20\n"));
        dialogs.messages.clear();
        dialogs.files = {QString::fromStdString(plus3), QString::fromStdString(cpc)};
        dialogs.items = {QStringLiteral("+3 BASIC"), QStringLiteral("Locomotive BASIC")};
        dlg.OnAddBasicText();
        dlg.OnAddBasicText();
        Run("put --plus3 basic --tokenize " + Quote(oracle) + " " + Quote(plus3));
        Run("put --amsdos basic --tokenize " + Quote(oracle) + " " + Quote(cpc));
        QVERIFY(ReadFile(image) == ReadFile(oracle));
        QVERIFY(dialogs.messages.empty());

        // Refusals: nothing stored, the place named.
        const auto before = ReadFile(image);
        std::vector<std::uint8_t> worn;
        AddFile(worn, 3, "worn", {1, 2, 3}, 32768, 32768);
        worn.back() ^= 0xFF;
        WriteFile(dir / "worn.tap", worn);
        WriteFile(dir / "bad.bas", text("10 PRINT 1\n5 PRINT 2\n"));
        dialogs.files = {QString::fromStdString(dir / "worn.tap"),
                         QString::fromStdString(dir / "bad.bas"), QString::fromStdString(plus3)};
        dialogs.items = {QStringLiteral("+3 BASIC"), QStringLiteral("+3 BASIC")};
        dlg.OnAddFromTape();
        dlg.OnAddBasicText();
        dlg.OnAddBasicText();
        QCOMPARE(dialogs.messages.size(), std::size_t{3});
        QVERIFY(dialogs.messages[0].text.contains("worn.tap: its blocks fail their checksums"));
        QVERIFY(dialogs.messages[1].text.startsWith("Unable to add bad.bas: line 2, column 1"));
        QCOMPARE(dialogs.messages[2].text,
                 QStringLiteral("Unable to add menu.bas from menu.bas: 0:MENU.BAS is already on "
                                "the image; nothing stored"));
        QVERIFY(ReadFile(image) == before);
    }

    // Save a copy as... writes what convert writes; Check disk lists what
    // check finds.
    void ACopyInAnotherContainerAndTheCheck() {
        TempDir dir;
        const std::string image = MakeSampleImage(dir);
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.OpenAtStart(QString::fromStdString(image));
        QMenu* menu = dlg.ContextMenu(false);
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << action->text();
        QCOMPARE(texts, (QStringList{"Add from a &tape...", "Add &BASIC text...", "",
                                     "&Save a copy as...", "&Check disk"}));

        dialogs.files = {QString::fromStdString(dir / "copy.dsk")};
        dialogs.filters = {1}; // CPCEMU extended
        menu->actions().at(3)->trigger();
        QVERIFY(dialogs.specs.back().save);
        QCOMPARE(dialogs.specs.back().nameFilters.at(1), QStringLiteral("CPCEMU extended (*.dsk)"));
        QCOMPARE(dialogs.specs.back().nameFilters.at(2),
                 QStringLiteral("raw sector dump (*.raw *.img)"));
        Run("convert --to edsk " + Quote(image) + " " + Quote(dir / "oracle.dsk"));
        QVERIFY(ReadFile(dir / "copy.dsk") == ReadFile(dir / "oracle.dsk"));
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QVERIFY(dialogs.messages[0].text.startsWith("sample.dsk (CPCEMU standard) was saved as "
                                                    "copy.dsk (CPCEMU extended)"));
        // Never over the image itself.
        const auto before = ReadFile(image);
        dialogs.files = {QString::fromStdString(image)};
        menu->actions().at(3)->trigger();
        QVERIFY(dialogs.messages.back().text.startsWith("Unable to save a copy as sample.dsk"));
        QVERIFY(ReadFile(image) == before);

        menu->actions().at(4)->trigger();
        auto* findings = dlg.findChild<QDialog*>("findings");
        QVERIFY(findings != nullptr);
        QCOMPARE(findings->findChild<QTreeWidget*>()->topLevelItem(0)->text(1),
                 QStringLiteral("clean: no problem found"));
        delete findings;

        // The second file given the first one's first block: check's finding.
        std::vector<unsigned char> bytes = ReadFile(image);
        const std::size_t directory = 0x100 + 0x1300 + 0x100; // track 1, sector 1
        bytes[directory + 32 + 16] = bytes[directory + 16];
        const std::string damaged = dir / "damaged.dsk";
        WriteFile(damaged, bytes);
        dlg.OpenAtStart(QString::fromStdString(damaged));
        dlg.ContextMenu(false)->actions().at(4)->trigger();
        auto* list = dlg.findChild<QDialog*>("findings")->findChild<QTreeWidget*>();
        const std::string line = RunCommand(Cli("check " + Quote(damaged))).out;
        const std::string expected =
            line.substr(damaged.size() + 2, line.find('\n') - damaged.size() - 2);
        QCOMPARE(list->topLevelItem(0)->text(0) + ": " + list->topLevelItem(0)->text(1),
                 QString::fromStdString(expected));
        QVERIFY(expected.find("is also used by") != std::string::npos);
    }

    // Rows dragged from one window to another keep their users, names and
    // headers; a name already there is refused, the rest stored.
    void DraggingBetweenTwoWindowsCopiesTheFiles() {
        TempDir dir;
        const std::string from = MakeSampleImage(dir), to = dir / "to.dsk";
        Run("mv " + Quote(from) + " TITLE.SCR 3:TITLE.SCR");
        Run("new " + Quote(to));
        ScriptedDialogs dialogs;
        CMainDlg source(&dialogs), target(&dialogs);
        source.OpenAtStart(QString::fromStdString(from));
        target.OpenAtStart(QString::fromStdString(to));
        for (const char* name : {"DISK", "TITLE.SCR"})
            source.FileList()->topLevelItem(RowOf(source, name))->setSelected(true);
        std::unique_ptr<QMimeData> dragged(source.DragData());
        QVERIFY(dragged != nullptr);
        QCOMPARE(dragged->urls().size(), 2);
        target.OnDropCopies(CDropListCtrl::DraggedFiles(*dragged));
        for (const char* file : {"0:DISK", "3:TITLE.SCR"})
            QCOMPARE(RunCommand(Cli("cat --raw " + Quote(to) + " " + file)).out,
                     RunCommand(Cli("cat --raw " + Quote(from) + " " + file)).out);
        QVERIFY(dialogs.messages.empty());
        const auto before = ReadFile(to);
        target.OnDropCopies(CDropListCtrl::DraggedFiles(*dragged));
        QCOMPARE(dialogs.messages.size(), std::size_t{1});
        QVERIFY(dialogs.messages[0].text.startsWith("Unable to add 0:DISK"));
        QVERIFY(ReadFile(to) == before);
    }

    // Under X with a window manager, a real drag of two rows onto another
    // program's window (xdotool moves the pointer): the files dropped
    // there are the files get --padded gives.
    void DragTwoRowsOutOfTheList() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("a drag between programs needs an X server (the WindowToolsX11 test)");
        if (!HaveProgram("xdotool"))
            QSKIP("xdotool is not installed (tools/install-deps.sh installs it)");
        QProcess windowManager;
        if (HaveProgram("openbox")) {
            windowManager.start(QStringLiteral("openbox"), {});
            QTest::qWait(500);
        }
        TempDir dir;
        const std::string image = MakeSampleImage(dir);
        const std::string dropped = dir / "dropped", oracle = dir / "oracle";
        std::filesystem::create_directory(dropped);
        std::filesystem::create_directory(oracle);
        ScriptedDialogs dialogs;
        CMainDlg dlg(&dialogs);
        dlg.move(40, 40);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.OpenAtStart(QString::fromStdString(image));

        QProcess target;
        target.start(QStringLiteral(TARNLIGHT_DROP_TARGET), {QString::fromStdString(dropped)});
        QTRY_VERIFY_WITH_TIMEOUT(target.canReadLine(), 10000);
        const QStringList middle = QString::fromLatin1(target.readLine()).trimmed().split(' ');
        QCOMPARE(middle.size(), 2);

        QTreeWidget* list = dlg.FileList();
        const int disk = RowOf(dlg, "DISK"), notes = RowOf(dlg, "NOTES.TXT");
        list->clearSelection();
        list->topLevelItem(disk)->setSelected(true);
        list->topLevelItem(notes)->setSelected(true);
        const QPoint from =
            list->viewport()->mapToGlobal(list->visualItemRect(list->topLevelItem(disk)).center());
        const QString x = QString::number(from.x()), y = QString::number(from.y());
        QProcess pointer;
        pointer.start(QStringLiteral("xdotool"), {"mousemove",
                                                  x,
                                                  y,
                                                  "sleep",
                                                  "0.5",
                                                  "mousedown",
                                                  "1",
                                                  "sleep",
                                                  "0.3",
                                                  "mousemove",
                                                  QString::number(from.x() + 20),
                                                  QString::number(from.y() + 10),
                                                  "sleep",
                                                  "0.3",
                                                  "mousemove",
                                                  QString::number(from.x() + 60),
                                                  y,
                                                  "sleep",
                                                  "0.3",
                                                  "mousemove",
                                                  middle[0],
                                                  middle[1],
                                                  "sleep",
                                                  "0.5",
                                                  "mousemove",
                                                  QString::number(middle[0].toInt() + 5),
                                                  middle[1],
                                                  "sleep",
                                                  "0.5",
                                                  "mouseup",
                                                  "1"});
        QTRY_VERIFY_WITH_TIMEOUT(target.state() == QProcess::NotRunning, 20000);
        pointer.waitForFinished(5000);
        QCOMPARE(QString::fromLatin1(target.readAll()).trimmed(), QStringLiteral("dropped 2"));

        Run("get --padded " + Quote(image) + " " + Quote(oracle) + " DISK NOTES.TXT");
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(oracle)) {
            const std::string name = entry.path().filename().string();
            names.push_back(name);
            QVERIFY(ReadFile(dropped + "/" + name) == ReadFile(entry.path().string()));
        }
        QCOMPARE(names.size(), std::size_t{2});
        QCOMPARE(std::distance(std::filesystem::directory_iterator(dropped),
                               std::filesystem::directory_iterator()),
                 std::ptrdiff_t{2});
        QVERIFY(dialogs.messages.empty());
        if (windowManager.state() != QProcess::NotRunning) {
            windowManager.terminate();
            windowManager.waitForFinished(3000);
        }
    }
};

QTEST_MAIN(WindowToolsTest)
#include "WindowToolsTest.moc"
