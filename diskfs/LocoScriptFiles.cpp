#include "LocoScriptFiles.h"

std::string LocoScriptGroupName(const LocoScriptGroupMap& groups, std::uint8_t user) {
    const auto found = groups.find(user);
    if (found == groups.end())
        return "group " + std::to_string(user);
    std::string name = found->second.ShownName();
    if (const auto dot = name.rfind('.'); dot != std::string::npos)
        name.erase(dot);
    // A host folder is named after it: no slash, no name of its own meaning.
    for (char& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    return name.empty() || name == "." || name == ".." ? "group " + std::to_string(user) : name;
}

FileKind KindOfRow(const LocoScriptGroupMap& groups, const FileEntry& row,
                   const std::optional<FileHeader>& header, std::span<const std::uint8_t> start) {
    if (row.size == 0) {
        const auto found = groups.find(row.user);
        if (found != groups.end() && found->second == FileId::Of(row))
            return FileKind::LocoScriptGroup;
    }
    return KindOfFile(header, start, row.size);
}
