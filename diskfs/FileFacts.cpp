#include "FileFacts.h"

#include "LocoScriptFiles.h"

FileFacts FactsOfFile(const CDiskImage& image, const FileEntry& row,
                      std::span<const std::uint8_t> start) {
    const CCpmVolume& volume = image.Volume();
    const FileId id = FileId::Of(row);
    FileFacts facts;
    facts.header = FileHeaderOf(start, row);
    const LocoScriptGroupMap groups = volume.LocoScriptGroups();
    facts.kind = KindOfRow(groups, row, facts.header, start);
    if (facts.header)
        facts.about = DescribeHeader(*facts.header);
    if (facts.kind == FileKind::LocoScriptDocument)
        facts.about = LocoScriptVersionName(*ReadLocoScriptHeader(start)) + ", group " +
                      LocoScriptGroupName(groups, row.user);
    facts.size = row.size;
    facts.records = row.size / 128;
    facts.blocks = volume.FileBlockCount(id);
    facts.readOnly = row.readOnly;
    facts.system = row.system;
    facts.archive = row.archive;
    if (volume.HasStampEntries())
        facts.stamps = volume.StampsOf(id);
    if (volume.HasPasswordRecords())
        facts.passwordMode = volume.PasswordModeOf(id);
    return facts;
}

const char* PasswordProtectionName(std::uint8_t mode) {
    return (mode & 0x80) ? "read" : (mode & 0x40) ? "write" : (mode & 0x20) ? "delete" : "none";
}
