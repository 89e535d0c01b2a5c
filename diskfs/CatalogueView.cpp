#include "CatalogueView.h"
#include "FileId.h"

#include <algorithm>
#include <cstdio>

void ClearCatalogue(Catalogue& rows) {
    for (FileEntry& row : rows)
        row = FileEntry{};
    rows.count = 0;
}

std::size_t CatalogueLength(const Catalogue& rows) { return std::min(rows.count, rows.size()); }

std::string ShownField(const std::uint8_t* bytes, std::size_t width) {
    std::string text(width, ' ');
    for (std::size_t i = 0; i < width; ++i)
        // NUL bytes of a damaged entry show as spaces.
        text[i] = (bytes[i] & 0x7F) == 0 ? ' ' : static_cast<char>(bytes[i] & 0x7F);
    return text;
}

std::string TrimmedField(const std::uint8_t* bytes, std::size_t width) {
    std::string text = ShownField(bytes, width);
    const auto end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    return text;
}

std::string ShownFileName(const FileEntry& row) { return FileId::Of(row).ShownName(); }

std::string FormatSize(std::uint32_t bytes) {
    char text[32];
    if (bytes >= 1024)
        std::snprintf(text, sizeof text, "%lu KB", static_cast<unsigned long>(bytes >> 10));
    else
        std::snprintf(text, sizeof text, "%lu Bytes", static_cast<unsigned long>(bytes));
    return text;
}

SpaceFigures ComputeSpaceFigures(std::uint32_t used, std::uint32_t capacity, std::uint32_t free) {
    auto kb = [](std::uint32_t bytes) {
        char text[32];
        std::snprintf(text, sizeof text, "%lu KB", static_cast<unsigned long>(bytes >> 10));
        return std::string(text);
    };
    return {kb(used), kb(capacity), kb(free)};
}
