#include "FileKind.h"

#include "LocoScript.h"
#include "Screens.h"
#include "TextView.h"

const char* FileKindName(FileKind kind) {
    switch (kind) {
    case FileKind::SinclairBasic:
        return "BASIC";
    case FileKind::Code:
        return "CODE";
    case FileKind::Screen:
        return "SCREEN$";
    case FileKind::Array:
        return "array";
    case FileKind::LocomotiveBasic:
        return "Locomotive BASIC";
    case FileKind::ProtectedBasic:
        return "protected BASIC";
    case FileKind::Text:
        return "text";
    case FileKind::LocoScriptDocument:
        return "LocoScript document";
    case FileKind::LocoScriptGroup:
        return "LocoScript group";
    case FileKind::Binary:
        break;
    }
    return "binary";
}

FileKind KindOfFile(const std::optional<FileHeader>& header, std::span<const std::uint8_t> start,
                    std::uint64_t size) {
    if (header && header->kind == FileHeader::Kind::Plus3Dos) {
        switch (header->fileType) {
        case FileHeader::kPlus3Program:
            return FileKind::SinclairBasic;
        case FileHeader::kPlus3Numbers:
        case FileHeader::kPlus3Characters:
            return FileKind::Array;
        default:
            return header->dataLength == kSpectrumScreenSize ? FileKind::Screen : FileKind::Code;
        }
    }
    if (header) {
        // The type's bit 0 marks a protected file; bits 1-3 the kind.
        if (header->fileType == FileHeader::kAmsdosBasic)
            return FileKind::LocomotiveBasic;
        if (header->fileType == FileHeader::kAmsdosBasic + 1)
            return FileKind::ProtectedBasic;
        return FileKind::Binary;
    }
    if (ReadLocoScriptHeader(start))
        return FileKind::LocoScriptDocument;
    if (size == kSpectrumScreenSize)
        return FileKind::Screen;
    return LooksLikeText(start) ? FileKind::Text : FileKind::Binary;
}
