// cat: one file's contents on standard output, shown as what it is: a BASIC
// listing, text, or hex.

#include "Commands.h"
#include "FileKind.h"
#include "FileView.h"
#include "LocoScript.h"
#include "Session.h"
#include "SinclairBasic.h"
#include "TextView.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

bool ReadNamedFile(CCliOwner& owner, const std::string& image, const std::string& name,
                   NamedFile& file) {
    if (!OpenImage(owner, image) && !owner.Image().IsMapped())
        return false;
    int status = kExitOk;
    const std::vector<FileEntry> rows = SelectRows(owner.Rows(), {name}, status);
    if (rows.size() != 1) {
        if (status == kExitOk)
            Report(name, "names " + std::to_string(rows.size()) + " files; name one");
        return false;
    }
    file.row = rows.front();
    file.data.clear();
    if (!Attempt(owner, image + ": " + UserAndName(file.row), [&](CDiskImage& disk) {
            return disk.ReadFileData(file.row, [&](const std::uint8_t* bytes, std::size_t size) {
                file.data.insert(file.data.end(), bytes, bytes + size);
                return true;
            });
        }))
        return false;
    file.header = ParseFileHeader(file.data.data(), file.data.size());
    return true;
}

std::span<const std::uint8_t> DataAfterHeader(const NamedFile& file) {
    return ContentAfterHeader(file.header, file.data);
}

namespace {

bool Write(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        Report("standard output", std::strerror(errno));
        return false;
    }
    return true;
}

// What a decoder made of the file, then its note; a warning (the file
// could not be shown whole) fails.
int WriteShown(const std::string& subject, const std::string& text, const std::string& note,
               const std::string& warning) {
    if (!Write(text))
        return kExitFailed;
    if (!note.empty())
        std::fprintf(stderr, "NOTE: %s: %s\n", subject.c_str(), note.c_str());
    if (!warning.empty()) {
        std::fprintf(stderr, "WARNING: %s: %s\n", subject.c_str(), warning.c_str());
        return kExitFailed;
    }
    return kExitOk;
}

// The BASIC program of a file with a BASIC header; nothing (reported)
// for any other file.
int ListBasic(const NamedFile& file, const std::string& subject, bool escapes) {
    std::string refusal;
    const auto listing = ListBasicFile(
        file.header, file.data, escapes ? ListingStyle::Escaped : ListingStyle::AsShown, refusal);
    if (!listing) {
        const bool isProtected =
            KindOfFile(file.header, file.data, file.data.size()) == FileKind::ProtectedBasic;
        Report(subject,
               refusal + (isProtected ? "; --hex shows its bytes" : "; --hex or --text shows it"));
        return kExitFailed;
    }
    return WriteShown(subject, listing->text, listing->note, listing->warning);
}

// A LocoScript document's identity and text; nothing (reported) for any
// other file.
int ShowLocoScript(const NamedFile& file, const std::string& subject, bool markdown) {
    const FileKind kind = KindOfFile(file.header, file.data, file.data.size());
    if (kind != FileKind::LocoScriptDocument) {
        Report(subject, std::string("not a LocoScript document (it is ") + FileKindName(kind) +
                            "); --hex or --text shows it");
        return kExitFailed;
    }
    const LocoScriptText text =
        LocoScriptToText(file.data, markdown ? LocoScriptStyle::Markdown : LocoScriptStyle::Text);
    return WriteShown(subject, text.text, text.note, text.warning);
}

} // namespace

int RunCat(CCliOwner& owner, const CatOptions& options) {
    NamedFile file;
    if (!ReadNamedFile(owner, options.image, options.name, file))
        return kExitFailed;
    const std::string subject = options.image + ": " + UserAndName(file.row);
    CatOptions::View view = options.view;
    if (view == CatOptions::View::Chosen) {
        const FileKind kind = KindOfFile(file.header, file.data, file.data.size());
        switch (options.markdown ? FileView::LocoScript : ChosenView(kind)) {
        case FileView::Basic:
            view = CatOptions::View::Basic;
            break;
        case FileView::LocoScript:
            view = CatOptions::View::LocoScript;
            break;
        case FileView::Text:
            view = CatOptions::View::Text;
            break;
        case FileView::Hex:
            view = CatOptions::View::Hex;
            break;
        }
    }
    const std::span<const std::uint8_t> data =
        options.stripHeader ? DataAfterHeader(file) : std::span<const std::uint8_t>(file.data);
    switch (view) {
    case CatOptions::View::Basic:
        return ListBasic(file, subject, options.escapes);
    case CatOptions::View::LocoScript:
        return ShowLocoScript(file, subject, options.markdown);
    case CatOptions::View::Text:
        return Write(TextOfFile(data, options.view == CatOptions::View::Text)) ? kExitOk
                                                                               : kExitFailed;
    case CatOptions::View::Raw:
        return Write(std::string(data.begin(), data.end())) ? kExitOk : kExitFailed;
    case CatOptions::View::Hex:
    case CatOptions::View::Chosen:
        break;
    }
    return Write(HexDump(data)) ? kExitOk : kExitFailed;
}

Verb CatVerb() {
    return {
        "cat", "Show one file: a BASIC listing, text, or hex",
        [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
            auto cat = std::make_shared<CatOptions>();
            using View = CatOptions::View;
            cmd.add_option("IMAGE", cat->image, "Image file")->required();
            cmd.add_option("FILE", cat->name, "[USER:]NAME of one file")->required();
            auto* views = cmd.add_option_group(
                "view", "How to show the file (chosen by the file when none is given)");
            views->add_flag_callback(
                "--basic", [cat] { cat->view = View::Basic; },
                "List a +3 or Locomotive BASIC program (after its header)");
            views->add_flag_callback(
                "--locoscript", [cat] { cat->view = View::LocoScript; },
                "A LocoScript document's identity and text, paragraph by paragraph");
            views->add_flag_callback(
                "--text", [cat] { cat->view = View::Text; },
                "Text up to CP/M's end mark (^Z), CR LF as LF, bit 7 cleared; of a "
                "LocoScript document, every printable run in order");
            views->add_flag_callback(
                "--hex", [cat] { cat->view = View::Hex; }, "Hex and characters, as xxd shows them");
            views->add_flag_callback(
                "--raw", [cat] { cat->view = View::Raw; }, "The bytes as stored (as get -)");
            views->require_option(0, 1);
            cmd.add_flag("--strip-header", cat->stripHeader,
                         "Start after a +3DOS or AMSDOS header (text, hex, raw)");
            cmd.add_flag("--markdown", cat->markdown,
                         "A LocoScript document as Markdown (implies --locoscript)");
            cmd.add_flag("--escapes", cat->escapes,
                         "A +3 listing put --tokenize reads back to the same program: £ as `, "
                         "© as \\*, colour controls, keyword codes in strings and REM and "
                         "stored spaces as \\{n}");
            cmd.footer("Without a view: BASIC for a program with a +3DOS or AMSDOS BASIC header, "
                       "the text of a LocoScript document, text for printable text, hex for "
                       "anything else. Exit status 1 when the "
                       "listing stopped early (a warning says where).\n\nExamples:\n"
                       "  tarnlight-cli cat game.dsk DISK\n"
                       "  tarnlight-cli cat --basic --escapes game.dsk DISK > disk.txt\n"
                       "  tarnlight-cli cat --hex --strip-header game.dsk 1:LOADER.BIN | less\n"
                       "  tarnlight-cli cat --text pcw.dsk LETTER.TXT\n"
                       "  tarnlight-cli cat --markdown pcw.dsk 1:QUOTE.EG > quote.md");
            return [cat](CCliOwner& owner) {
                if (cat->markdown && cat->view != View::Chosen && cat->view != View::LocoScript)
                    return UsageError("--markdown shows a LocoScript document; it goes with no "
                                      "other view than --locoscript");
                return RunCat(owner, *cat);
            };
        }};
}
