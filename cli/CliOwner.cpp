#include "CliOwner.h"

#include <cstdio>

CCliOwner::CCliOwner() {
    if (!m_Library.Load())
        ShowMessage(CDiskLibrary::kMissingMessage, CDiskImage::kErrorCaption, MessageIcon::None);
    m_pImage = std::make_unique<CDiskImage>(this);
}

CCliOwner::~CCliOwner() {
    // The image closes its handle through the library, so it goes first.
    m_pImage.reset();
    m_Library.Unload();
}

void CCliOwner::ShowMessage(const std::string& text, const std::string& caption, MessageIcon) {
    if (caption == CDiskImage::kErrorCaption) {
        // "ERROR: IMAGE: text: cause", each part where it is known.
        std::string line = "ERROR: ";
        if (m_pImage && !m_pImage->ImagePath().empty())
            line += m_pImage->ImagePath() + ": ";
        line += text;
        if (m_pImage && !m_pImage->LastCause().empty())
            line += ": " + m_pImage->LastCause();
        std::fprintf(stderr, "%s\n", line.c_str());
        m_strLastError = text;
        m_bAnyError = true;
        return;
    }
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    std::fputs(out.c_str(), stdout);
}

std::string CCliOwner::TakeLastError() {
    std::string text;
    text.swap(m_strLastError);
    return text;
}
