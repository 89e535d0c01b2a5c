#pragma once
// What a file holds, told from its header and its first bytes, for listings
// and for choosing how to show it.

#include "FileHeader.h"

#include <cstdint>
#include <optional>
#include <span>

enum class FileKind {
    SinclairBasic,      // "BASIC"
    Code,               // "CODE"
    Screen,             // "SCREEN$": a +3DOS CODE file of 6912 bytes, or a bare one
    Array,              // "array"
    LocomotiveBasic,    // "Locomotive BASIC"
    ProtectedBasic,     // "protected BASIC" (SAVE "name",P)
    Binary,             // "binary"
    Text,               // "text"
    LocoScriptDocument, // "LocoScript document"
    LocoScriptGroup,    // "LocoScript group": told by its directory entry, not its bytes
};

const char* FileKindName(FileKind kind);

// `start` is the file's first bytes (as many as are at hand), `size` its
// size as stored (whole records).
FileKind KindOfFile(const std::optional<FileHeader>& header, std::span<const std::uint8_t> start,
                    std::uint64_t size);
