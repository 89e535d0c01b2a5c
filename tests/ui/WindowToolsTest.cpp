// The window's own tools beyond its buttons, under Qt Test offscreen: the
// viewer, renaming, properties, adding tapes and BASIC text, a copy in
// another container, the check. The command line is the oracle: what the
// window shows or does is compared with what tarnlight-cli gives on a copy.

#include "CDropListCtrl.h"
#include "CFileViewer.h"
#include "CMainDlg.h"
#include "support/HostTools.h"
#include "ui/ScriptedDialogs.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
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
};

QTEST_MAIN(WindowToolsTest)
#include "WindowToolsTest.moc"
