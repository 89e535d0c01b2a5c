#include "FileView.h"

#include "LocoScript.h"
#include "LocomotiveBasic.h"
#include "SinclairBasic.h"
#include "TextView.h"

#include <algorithm>

FileView ChosenView(FileKind kind) {
    switch (kind) {
    case FileKind::SinclairBasic:
    case FileKind::LocomotiveBasic:
    case FileKind::ProtectedBasic:
        return FileView::Basic;
    case FileKind::LocoScriptDocument:
        return FileView::LocoScript;
    case FileKind::Text:
        return FileView::Text;
    default:
        return FileView::Hex;
    }
}

std::span<const std::uint8_t> ContentAfterHeader(const std::optional<FileHeader>& header,
                                                 std::span<const std::uint8_t> file) {
    if (!header || file.size() < kHeaderSize)
        return file;
    const std::span<const std::uint8_t> data = file.subspan(kHeaderSize);
    return data.first(std::min<std::size_t>(data.size(), header->dataLength));
}

std::optional<Listing> ListBasicFile(const std::optional<FileHeader>& header,
                                     std::span<const std::uint8_t> file, ListingStyle style,
                                     std::string& refusal) {
    const FileKind kind = KindOfFile(header, file, file.size());
    const std::span<const std::uint8_t> data = ContentAfterHeader(header, file);
    if (kind == FileKind::SinclairBasic)
        // The program without its variables.
        return ListSinclairBasic(data.first(std::min<std::size_t>(data.size(), header->param2)),
                                 style);
    if (kind == FileKind::LocomotiveBasic)
        return ListLocomotiveBasic(data, header->load != 0 ? header->load : 0x170);
    if (kind == FileKind::ProtectedBasic)
        refusal = "protected BASIC (saved with SAVE \"name\",P) is not listed";
    else
        refusal = std::string("not a BASIC program: it has ") +
                  (header ? "a header of another type" : "no +3DOS or AMSDOS header") + " (it is " +
                  FileKindName(kind) + ")";
    return std::nullopt;
}

std::string TextOfFile(std::span<const std::uint8_t> data, bool clearBit7) {
    // A document's text lies between codes, and its header holds a ^Z.
    if (ReadLocoScriptHeader(data))
        return LocoScriptRuns(data);
    return CpmText(data, {true, clearBit7});
}

ScreenKind ScreenKindOf(const std::optional<FileHeader>& header, std::size_t contentSize) {
    const bool amsdos = header && header->kind == FileHeader::Kind::Amsdos;
    const bool plus3 = header && header->kind == FileHeader::Kind::Plus3Dos;
    if (!amsdos && (contentSize == kSpectrumScreenSize || contentSize == kSpectrumBitmapSize))
        return ScreenKind::Spectrum;
    if (!plus3 && IsCpcScreenSize(contentSize))
        return ScreenKind::Cpc;
    return ScreenKind::None;
}

std::string ScreenSizesText(std::size_t contentSize) {
    return "a screen is " + std::to_string(kSpectrumScreenSize) + " or " +
           std::to_string(kSpectrumBitmapSize) + " bytes (Spectrum) or " +
           std::to_string(kCpcScreenSize) + " bytes (CPC); this file holds " +
           std::to_string(contentSize) + " bytes";
}
