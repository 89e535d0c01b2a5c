#pragma once
// What is known of one file of a volume, gathered for a page of facts:
// its kind and header, its size in records and blocks, its attributes,
// and CP/M Plus's stamps and password where the disk keeps them.

#include "CDiskImage.h"
#include "FileKind.h"
#include "Stamps.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

struct FileFacts {
    FileKind kind = FileKind::Binary;
    std::optional<FileHeader> header;
    // The header's fields in words, or a LocoScript document's version and
    // group ("" when neither).
    std::string about;
    std::uint32_t size = 0, records = 0, blocks = 0;
    bool readOnly = false, system = false, archive = false;
    CCpmVolume::FileStamps stamps;
    std::optional<std::uint8_t> passwordMode;
};

// `start` is the file's first bytes (FileStarts, or the whole file).
FileFacts FactsOfFile(const CDiskImage& image, const FileEntry& row,
                      std::span<const std::uint8_t> start);

// The strongest protection a password mode asks for: "read", "write",
// "delete", or "none".
const char* PasswordProtectionName(std::uint8_t mode);
