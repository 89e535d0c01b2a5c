#pragma once
// Every JSON document tarnlight-cli prints, built with nlohmann-json and
// printed one per line. Names and paths need not be UTF-8: bytes that are
// not are replaced in the output.

#include "CDiskImage.h"
#include "CliOwner.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using JsonObject = nlohmann::ordered_json;

// What kind of disk the image is, in the words of its users ("+3 180K").
std::string FormatLabel(const CDiskImage& image);
// The damage a load found, "" for none.
std::string DamageOf(const CDiskImage& image);

// One image's listing: its format, files (with their headers), space,
// whether it can be changed, damage, and an error where part of it could
// not be read.
JsonObject ListingJson(const std::string& path, CDiskImage& image,
                       const std::vector<FileEntry>& shown, const std::string& error);
// An image that could not be opened.
// An image that could not be read: the owner's last message and, where
// known, its cause.
JsonObject ImageErrorJson(const std::string& path, CCliOwner& owner);
// One file found by find.
JsonObject FoundJson(const std::string& path, const FileEntry& row);
// The result of check.
// `fragmented`: the files in more than one run (information, not damage).
JsonObject CheckJson(const std::string& path, const std::vector<CheckProblem>& problems,
                     const std::vector<std::pair<FileId, std::size_t>>& fragmented);
// The geometry and file-system figures of info.
JsonObject InfoJson(const std::string& path, const CDiskImage& image);

// {"scheme", "evidence"}, or null for none.
JsonObject ProtectionJson(const std::optional<ProtectionFinding>& protection);
// "Speedlock +3 1988 (track 0: ...)", "unknown protection: track 3 holds 5
// sectors of 1024 bytes".
std::string ProtectionText(const ProtectionFinding& protection);

// Prints the document and a new line on standard output.
void PrintJsonLine(const JsonObject& document);
