#pragma once
// A file on a disk, as CP/M tells files apart: its user number, and its name
// and type with the attribute bits (bit 7) masked, space padded as the
// directory holds them. Text becomes a FileId only through ParseCpmName
// (CpmName.h); a FileId becomes text only through Shown.

#include "DiskStructs.h"

#include <algorithm>
#include <array>
#include <compare>
#include <cstdint>
#include <string>

struct FileId {
    std::uint8_t user = 0;
    std::array<std::uint8_t, kNameLen> name{};
    std::array<std::uint8_t, kTypeLen> type{};

    // The file a catalogue row names.
    static FileId Of(const FileEntry& row) {
        FileId id;
        id.user = row.user;
        std::transform(row.name, row.name + kNameLen, id.name.begin(), Masked);
        std::transform(row.type, row.type + kTypeLen, id.type.begin(), Masked);
        return id;
    }
    // The same name and type under another user number (a password record's
    // status byte, or the target of a move).
    FileId WithUser(std::uint8_t other) const {
        FileId id = *this;
        id.user = other;
        return id;
    }
    bool SameName(const FileId& other) const { return name == other.name && type == other.type; }
    // "NAME.TYP", or "NAME" when the type is blank; padding removed, NUL
    // bytes of a damaged entry shown as spaces. Bytes are as stored: the
    // front ends escape what cannot be printed.
    std::string ShownName() const;
    // "USER:NAME.TYP", as messages and the check name a file.
    std::string Shown() const { return std::to_string(user) + ":" + ShownName(); }

    auto operator<=>(const FileId&) const = default;

private:
    static std::uint8_t Masked(std::uint8_t byte) { return byte & 0x7F; }
};
