#include "CliOwner.h"
#include "Names.h"

#include <cstdio>

CCliOwner::CCliOwner() {
    if (!m_Library.Load())
        std::fprintf(stderr, "ERROR: %s\n", CDiskLibrary::kMissingMessage);
    m_pImage = std::make_unique<CDiskImage>(this);
}

CCliOwner::~CCliOwner() {
    // The image closes its handle through the library, so it goes first;
    // a change never committed is rolled back before it.
    m_pChange.reset();
    m_pImage.reset();
    m_Library.Unload();
}

namespace {

// A report as the terminal shows it: CR LF as LF, tabs and line ends kept,
// every other control byte escaped.
std::string ShownReport(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    std::string shown;
    std::size_t begin = 0;
    while (begin < out.size()) {
        const std::size_t end = out.find_first_of("\t\n", begin);
        shown += Printable(out.substr(begin, end - begin));
        if (end == std::string::npos)
            break;
        shown += out[end];
        begin = end + 1;
    }
    return shown;
}

} // namespace

std::optional<Notice> CCliOwner::SayNotices() {
    std::optional<Notice> error;
    if (!m_pImage)
        return error;
    const std::string& path = m_pImage->ImagePath();
    const std::string lead = path.empty() ? "" : path + ": ";
    for (Notice& notice : m_pImage->TakeNotices()) {
        if (notice.icon == MessageIcon::Warning) {
            // Damage the command works around: said, but it does not fail it.
            if (m_bWarningsShown)
                std::fprintf(stderr, "%s\n", Printable("WARNING: " + lead + notice.text).c_str());
        } else if (notice.icon == MessageIcon::Error) {
            std::string line = "ERROR: " + lead + notice.text;
            if (!notice.cause.empty())
                line += ": " + notice.cause;
            std::fprintf(stderr, "%s\n", Printable(line).c_str());
            error = std::move(notice);
        } else {
            std::fputs(ShownReport(notice.text).c_str(), stdout);
        }
    }
    return error;
}
