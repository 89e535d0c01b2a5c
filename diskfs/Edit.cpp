// Renaming a file and setting its attributes: only the entries' user byte,
// name and type bytes change, in every entry of the file; the attribute bits
// of the name bytes (f1-f8) are kept.

#include "CDiskImage.h"

int CDiskImage::RenameFile(const FileEntry& row, const FileId& to) {
    m_Status = {};
    if (!CanWriteDirectory())
        return 0;
    return InUpdate([&] {
        if (!CanWriteDirectory())
            return 0;
        if (to.user > kMaxLiveUser)
            return Fail(FailReason::BadName);
        if (!FileExtents(to).empty())
            return Fail(FailReason::FileExists);
        // The file's password record (CP/M Plus) is renamed with it.
        return ChangeEntries(row, [&](CpmEntry& entry) {
            entry.user = entry.PasswordRecord()
                             ? static_cast<std::uint8_t>(to.user + kPasswordUserOffset)
                             : to.user;
            entry.name = to.name;
            entry.type = to.type;
        }, WithPassword::Yes);
    });
}

int CDiskImage::SetAttributes(const FileEntry& row, unsigned set, unsigned clear) {
    m_Status = {};
    if (!CanWriteDirectory())
        return 0;
    return InUpdate([&] {
        if (!CanWriteDirectory())
            return 0;
        return ChangeEntries(row, [&](CpmEntry& entry) {
            auto apply = [&](bool& bit, unsigned flag) {
                if (set & flag)
                    bit = true;
                if (clear & flag)
                    bit = false;
            };
            apply(entry.readOnly, kReadOnlyAttribute);
            apply(entry.system, kSystemAttribute);
            apply(entry.archive, kArchiveAttribute);
        });
    });
}

int CDiskImage::ChangeEntries(const FileEntry& row, const std::function<void(CpmEntry&)>& change,
                              WithPassword password) {
    std::vector<std::uint16_t> positions = FileExtents(FileId::Of(row));
    if (positions.empty())
        return Fail(FailReason::FileNotFound);
    if (password == WithPassword::Yes)
        for (std::uint16_t position : PasswordRecords(FileId::Of(row)))
            positions.push_back(position);
    Snapshot before;
    TakeSnapshot(before);
    for (std::uint16_t position : positions) {
        CpmEntry entry = EntryAt(position);
        change(entry);
        PutEntry(position, entry);
    }
    return CommitDirectory(before);
}
