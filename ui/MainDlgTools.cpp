// The main window's commands beyond its buttons and menu, reached from the
// file list's context menu: adding a tape's files and BASIC text, a copy of
// the image in another container, and the check.

#include "CMainDlg.h"
#include "MainDlgCommand.h"

#include "BasicText.h"
#include "CatalogueView.h"
#include "Containers.h"
#include "ConvertImage.h"
#include "CpmName.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "Tape.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QStringList>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const FileDialogSpec kOpenTape{
    false,
    QStringLiteral("tap"),
    QStringLiteral("*.tap"),
    {QStringLiteral("Spectrum Tapes (*.tap *.tzx *.TAP *.TZX)"), QStringLiteral("All Files (*)")}};
const FileDialogSpec kOpenBasicText{
    false,
    QStringLiteral("bas"),
    QStringLiteral("*.bas"),
    {QStringLiteral("BASIC Text (*.bas *.txt *.BAS *.TXT)"), QStringLiteral("All Files (*)")}};
const QString kPlus3Basic = QStringLiteral("+3 BASIC");
const QString kLocomotiveBasic = QStringLiteral("Locomotive BASIC");

QString Leaf(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName();
}

} // namespace

void CMainDlg::ShowError(const QString& text) {
    m_pDialogs->ShowMessage(this, text, QString::fromLatin1(CDiskImage::kErrorCaption),
                            MessageIcon::Error);
}

bool CMainDlg::StoreMadeFiles(const QString& source, const std::vector<MadeFile>& files) {
    bool stored = true;
    {
        CDiskImage::Transaction change(*m_pDiskImage);
        for (const MadeFile& file : files) {
            CDiskImage::ImportTarget target;
            target.file.user = 0;
            if (ParseCpmName(file.name, NameCase::Upper, target.file) != NameCheck::Valid) {
                ShowError(QStringLiteral("Unable to add %1 from %2: no CP/M name could be made "
                                         "for it; nothing stored")
                              .arg(file.shown, source));
                stored = false;
                break;
            }
            if (!m_pDiskImage->ImportData(target, file.data)) {
                m_pDiskImage->TakeNotices();
                const QString why = ChangeRefusal(target.file);
                ShowError(QStringLiteral("Unable to add %1 from %2: %3; nothing stored")
                              .arg(file.shown, source, why));
                stored = false;
                break;
            }
        }
        if (stored)
            stored = change.Commit();
    }
    ShowNotices();
    RefreshList();
    UpdateData(false);
    return stored;
}

void CMainDlg::OnAddFromTape() {
    FileDialogCommand(kOpenTape, [this](const std::string& path) {
        const QString tape = Leaf(path);
        std::vector<std::uint8_t> bytes;
        std::vector<TapeBlock> blocks;
        std::string error;
        if (!ReadHostFile(path, kMaxTapeBytes, kTapeTooLong, bytes, error) ||
            !ReadTapeBlocks(bytes, path, blocks, error)) {
            ShowError(
                QStringLiteral("Unable to read %1: %2").arg(tape, QString::fromStdString(error)));
            return;
        }
        const TapeContents contents = SplitTape(blocks);
        // The names user 0 has, and those the tape's files take in turn.
        std::vector<std::string> taken;
        for (std::size_t i = 0; i < CatalogueLength(m_Files); ++i)
            if (m_Files[i].user == 0)
                taken.push_back(ShownFileName(m_Files[i]));
        std::vector<MadeFile> made;
        std::size_t number = 0;
        for (const TapeFile& file : contents.files) {
            const QString shown = QString::fromStdString(DescribeTapeFile(file));
            ++number;
            if (!file.failedChecksums.empty()) {
                // Not read as it was saved: the command line stores it only
                // when forced.
                ShowError(QStringLiteral("Unable to add %1 from %2: its blocks fail their "
                                         "checksums; nothing stored")
                              .arg(shown, tape));
                return;
            }
            made.push_back(
                {DiskNameForTapeFile(file, number, taken), Plus3FileOfTape(file), shown});
            taken.push_back(made.back().name);
        }
        QStringList skipped;
        for (const TapeLeftover& leftover : contents.leftovers)
            skipped << QStringLiteral("block %1: %2")
                           .arg(leftover.block)
                           .arg(QString::fromStdString(leftover.description));
        if (made.empty()) {
            ShowError(QStringLiteral("Unable to add from %1: it holds no file with a header; "
                                     "nothing stored")
                          .arg(tape));
            return;
        }
        if (StoreMadeFiles(tape, made) && !skipped.isEmpty())
            m_pDialogs->ShowMessage(this,
                                    QStringLiteral("Not stored from %1 (blocks without a header "
                                                   "or a file):\n%2")
                                        .arg(tape, skipped.join(QLatin1Char('\n'))),
                                    QStringLiteral("Tarnlight"), MessageIcon::Information);
    });
}

void CMainDlg::OnAddBasicText() {
    FileDialogCommand(kOpenBasicText, [this](const std::string& path) {
        const QString text = Leaf(path);
        const QString dialect =
            m_pDialogs->ChooseItem(this, QStringLiteral("Add BASIC Text"),
                                   QStringLiteral("%1 is the text of a program in:").arg(text),
                                   {kPlus3Basic, kLocomotiveBasic});
        if (dialect.isEmpty())
            return;
        const bool plus3 = dialect == kPlus3Basic;
        FileId id;
        if (NameForStoring(path, "", NameCase::Upper, id) != NameCheck::Valid) {
            ShowError(
                QStringLiteral("Unable to add %1: %2").arg(text, QLatin1String(kBadNameText)));
            return;
        }
        std::vector<std::uint8_t> bytes;
        std::string cause;
        if (!ReadHostFile(path, kMaxBasicTextBytes, kBasicTextTooLong, bytes, cause)) {
            ShowError(
                QStringLiteral("Unable to read %1: %2").arg(text, QString::fromStdString(cause)));
            return;
        }
        const std::string_view source(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        TokenizedProgram program =
            plus3 ? TokenizeSinclairBasic(source) : TokenizeLocomotiveBasic(source);
        auto where = [](const TextProblem& problem) {
            return QStringLiteral("line %1, column %2: %3")
                .arg(problem.place.line)
                .arg(problem.place.column)
                .arg(QString::fromStdString(problem.message));
        };
        if (program.error) {
            ShowError(QStringLiteral("Unable to add %1: %2; not stored")
                          .arg(text, where(*program.error)));
            return;
        }
        const auto request = ParseHeaderRequest(
            plus3 ? FileHeader::Kind::Plus3Dos : FileHeader::Kind::Amsdos, "basic");
        if (!request || !AddRequestedHeader(*request, id.user, id.name.data(), id.type.data(), true,
                                            program.program, cause)) {
            ShowError(
                QStringLiteral("Unable to add %1: %2").arg(text, QString::fromStdString(cause)));
            return;
        }
        if (StoreMadeFiles(text, {{id.ShownName(), std::move(program.program), text}}) &&
            !program.warnings.empty()) {
            QStringList lines;
            for (const TextProblem& warning : program.warnings)
                lines << where(warning);
            m_pDialogs->ShowMessage(this,
                                    QStringLiteral("%1 was added; read as it stands:\n%2")
                                        .arg(text, lines.join(QLatin1Char('\n'))),
                                    QStringLiteral("Tarnlight"), MessageIcon::Warning);
        }
    });
}

void CMainDlg::OnSaveCopyAs() {
    // One file type for each container, in the order the command line
    // lists them.
    FileDialogSpec spec{true, QStringLiteral("dsk"), QStringLiteral("*.dsk"), {}};
    for (const ContainerType& type : ContainerTypes()) {
        QStringList patterns;
        for (const QString& extension :
             QString::fromLatin1(type.extensions).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            patterns << QLatin1Char('*') + extension;
        spec.nameFilters << QStringLiteral("%1 (%2)").arg(QString::fromLatin1(type.name),
                                                          patterns.join(QLatin1Char(' ')));
    }
    const std::string input = m_pDiskImage->ImagePath();
    FileDialogCommand(spec, [&](const std::string& path) {
        const auto& types = ContainerTypes();
        ConvertRequest request;
        request.input = input;
        request.output = path;
        request.target =
            m_nChosenFilter >= 0 && static_cast<std::size_t>(m_nChosenFilter) < types.size()
                ? &types[static_cast<std::size_t>(m_nChosenFilter)]
                : nullptr;
        // The file dialog has asked before replacing a file.
        request.replace = true;
        ConvertResult result;
        ConvertRefusal refusal;
        if (!ConvertImage(LibraryTable(), request, result, refusal)) {
            ShowError(QStringLiteral("Unable to save a copy as %1\n%2: %3")
                          .arg(Leaf(path), QString::fromStdString(refusal.subject),
                               QString::fromStdString(refusal.cause)));
            return;
        }
        QString text = QStringLiteral("%1 (%2) was saved as %3 (%4): %5 tracks, %6 sectors, "
                                      "read back and compared")
                           .arg(Leaf(input), QString::fromStdString(result.inputContainer),
                                Leaf(path), QString::fromLatin1(result.target->name))
                           .arg(result.tracks)
                           .arg(result.sectors);
        if (result.cylinders != result.dumpCylinders)
            text += QStringLiteral("\nA double-stepped dump: its %1 cylinders were written as "
                                   "the %2 of the disk.")
                        .arg(result.dumpCylinders)
                        .arg(result.cylinders);
        if (!result.rawNote.empty())
            text += QLatin1Char('\n') + QString::fromStdString(result.rawNote);
        m_pDialogs->ShowMessage(this, text, QStringLiteral("Tarnlight"), MessageIcon::Information);
    });
}

void CMainDlg::OnCheckDisk() {
    RunCommand([this] {
        const std::vector<CheckProblem> problems = m_pDiskImage->CheckFileSystem();
        ShowNotices();
        if (m_pDiskImage->LastStatus().reason == FailReason::ImageChanged) {
            RefreshList();
            UpdateData(false);
            return;
        }
        std::vector<QStringList> rows;
        for (const CheckProblem& problem : problems)
            rows.push_back(
                {QString::fromStdString(problem.file), QString::fromStdString(problem.text)});
        if (problems.empty())
            rows.push_back({QString(), QStringLiteral("clean: no problem found")});
        // Information, not damage.
        const auto fragmented = m_pDiskImage->Volume().FragmentedFiles();
        for (const auto& [file, runs] : fragmented)
            rows.push_back({QString::fromStdString(file.Shown()),
                            QStringLiteral("in %1 runs of blocks (not damage; the command line's "
                                           "optimise makes each file one run)")
                                .arg(runs)});
        ShowFindings(QStringLiteral("Check Disk - %1").arg(Leaf(m_pDiskImage->ImagePath())), rows);
    });
}

void CMainDlg::ShowFindings(const QString& title, const std::vector<QStringList>& rows) {
    auto* dialog = new QDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("findings"));
    dialog->setWindowTitle(title);
    auto* list = new QTreeWidget(dialog);
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Finding")});
    for (const QStringList& row : rows)
        list->addTopLevelItem(new QTreeWidgetItem(row));
    list->resizeColumnToContents(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog->resize(560, 300);
    dialog->show();
}
