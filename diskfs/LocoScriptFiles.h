#pragma once
// LocoScript's documents and groups as the listings and get show them.

#include "CDiskImage.h"
#include "FileKind.h"
#include "LocoScript.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

// The groups a disk names (the entry naming each user's group, by user).
using LocoScriptGroupMap = std::map<std::uint8_t, FileId>;

// The name of the group a user's documents belong to: its entry's name
// ("SAMPLES"), or "group N" where the disk names none.
std::string LocoScriptGroupName(const LocoScriptGroupMap& groups, std::uint8_t user);

// What a row of a listing is: its bytes' kind, or a group's entry.
FileKind KindOfRow(const LocoScriptGroupMap& groups, const FileEntry& row,
                   const std::optional<FileHeader>& header, std::span<const std::uint8_t> start);
