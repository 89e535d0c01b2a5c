#include "CliOwner.h"
#include "Names.h"

#include <cstdio>

CCliOwner::CCliOwner() {
    if (!m_Library.Load())
        ShowMessage(CDiskLibrary::kMissingMessage, CDiskImage::kErrorCaption, MessageIcon::Error);
    m_pImage = std::make_unique<CDiskImage>(this);
}

CCliOwner::~CCliOwner() {
    // The image closes its handle through the library, so it goes first;
    // a change never committed is rolled back before it.
    m_pChange.reset();
    m_pImage.reset();
    m_Library.Unload();
}

void CCliOwner::ShowMessage(const std::string& text, const std::string& /*caption*/,
                            MessageIcon icon) {
    if (icon == MessageIcon::Warning) {
        // Damage the command works around: said, but it does not fail the command.
        if (!m_bWarningsShown)
            return;
        std::string line = "WARNING: ";
        if (m_pImage && !m_pImage->ImagePath().empty())
            line += m_pImage->ImagePath() + ": ";
        std::fprintf(stderr, "%s\n", Printable(line + text).c_str());
        return;
    }
    if (icon == MessageIcon::Error) {
        // "ERROR: IMAGE: text: cause", each part where it is known.
        std::string line = "ERROR: ";
        if (m_pImage && !m_pImage->ImagePath().empty())
            line += m_pImage->ImagePath() + ": ";
        line += text;
        m_strLastCause = m_pImage ? m_pImage->LastStatus().cause : std::string();
        if (!m_strLastCause.empty())
            line += ": " + m_strLastCause;
        std::fprintf(stderr, "%s\n", Printable(line).c_str());
        m_strLastError = text;
        return;
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    // Keep tabs and line ends; escape every other control byte.
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
    out.swap(shown);
    std::fputs(out.c_str(), stdout);
}

std::string CCliOwner::TakeLastError() {
    std::string text;
    text.swap(m_strLastError);
    return text;
}
