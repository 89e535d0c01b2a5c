// Reading a file's data: its entries in extent order, the blocks of each in
// slot order, each entry cut at the records it holds. Extraction to a host
// folder is a thin layer over it.

#include "CDiskImage.h"
#include "HostFile.h"

#include <cerrno>
#include <vector>

// "/" would lead out of the chosen folder and NUL ends a host path; "", "."
// and ".." name no file.
bool CDiskImage::HostNameAllowed(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string CDiskImage::HostName(const FileEntry& row, HostNames style) {
    std::string base(reinterpret_cast<const char*>(row.name), kNameLen);
    std::string ext(reinterpret_cast<const char*>(row.type), kTypeLen);
    // 0x7F (a +3 program's way of keeping a name from being typed) and a
    // slash, which other tools store, cannot stand in a host name.
    for (std::string* part : {&base, &ext})
        for (char& c : *part) {
            c = static_cast<char>(c & 0x7F);
            if (c == 0x7F || c == '/')
                c = '_';
        }
    if (style == HostNames::Padded)
        return base + "." + ext;
    base.erase(base.find_last_not_of(' ') + 1);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return ext.empty() ? base : base + "." + ext;
}

int CDiskImage::ReadFileData(const FileEntry& row, const DataSink& sink) {
    m_Status = {};
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    const std::vector<std::uint16_t> positions = FileExtents(FileId::Of(row));
    if (positions.empty())
        return Fail(FailReason::FileNotFound);
    std::vector<std::uint8_t> buffer(m_Layout.blockSize, 0);
    const std::vector<std::uint8_t> zeros(m_Layout.blockSize, 0);
    // Each entry's data lies at its own extent's offset, as CP/M reads a
    // random-access file: what no entry or block holds (a hole) reads as
    // zeros.
    std::uint64_t written = 0;
    auto give = [&](const std::uint8_t* data, std::uint64_t size) {
        written += size;
        return sink(data, static_cast<std::size_t>(size));
    };
    for (std::size_t i = 0; i < positions.size(); ++i) {
        const CpmEntry entry = EntryAt(positions[i]);
        // Two entries for one extent (they are in extent order): which holds
        // the data cannot be told.
        if (i > 0 && CpmEntry::RawExtent(m_Directory + std::size_t{positions[i - 1]} * kDirEntrySize) ==
                         entry.Extent())
            return Fail(FailReason::DuplicateExtent);
        const std::uint64_t offset = entry.FirstByte(m_Layout.extentMask);
        while (written < offset)
            if (!give(zeros.data(), std::min<std::uint64_t>(offset - written, m_Layout.blockSize)))
                return Fail(FailReason::HostWrite);
        std::uint32_t remaining = entry.Records(m_Layout.extentMask) * 128;
        for (unsigned slot = 0; slot < entry.slotCount && remaining > 0; ++slot) {
            const std::uint16_t block = entry.blocks[slot];
            const std::uint32_t count = remaining < m_Layout.blockSize ? remaining : m_Layout.blockSize;
            remaining -= count;
            if (block != 0 && m_Sectors.BlockOnTrackOfKind(block, m_Layout.sectorsPerBlock, CSectorMap::TrackKind::OtherSizes)) {
                m_Status.cause = m_Sectors.ForeignTrack();
                return Fail(FailReason::ForeignTrack);
            }
            if (block != 0 && !ReadBlock(block, buffer.data()))
                return Fail(FailReason::DiskRead);
            if (!give(block != 0 ? buffer.data() : zeros.data(), count))
                return Fail(FailReason::HostWrite);
        }
    }
    return 1;
}

int CDiskImage::ExtractFile(const std::string& folder, const FileEntry& row, HostNames style) {
    ExtractOptions options;
    options.style = style;
    return ExtractFile(folder, row, options);
}

int CDiskImage::ExtractFile(const std::string& folder, const FileEntry& row,
                            const ExtractOptions& options) {
    m_Status = {};
    if (!IsOpen())
        return Fail(FailReason::NoImage);
    const std::string hostName = HostName(row, options.style);
    if (!HostNameAllowed(hostName))
        return Fail(FailReason::BadName);
    if (FileExtents(FileId::Of(row)).empty())
        return Fail(FailReason::FileNotFound);
    auto writer = std::make_unique<CHostFileWriter>();
    CHostFileWriter& host = *writer;
    if (!host.Open(folder + "/" + hostName))
        return HostFailure(FailReason::HostOpen);
    // Streamed, unless the data is to be cut first.
    std::vector<std::uint8_t> data;
    if (!ReadFileData(row, [&](const std::uint8_t* bytes, std::size_t size) {
            if (options.filter) {
                data.insert(data.end(), bytes, bytes + size);
                return true;
            }
            return host.Write(bytes, size);
        }))
        return m_Status.reason == FailReason::HostWrite ? HostFailure(FailReason::HostWrite) : 0;
    if (options.stampTime) {
        if (const auto updated = StampsOf(row).updated)
            host.SetModified(TimeOfStamp(*updated));
    }
    if (options.filter) {
        options.filter(data);
        if (!host.Write(data.data(), data.size()))
            return HostFailure(FailReason::HostWrite);
    }
    if (options.deferred != nullptr) {
        if (!host.Complete())
            return HostFailure(FailReason::HostWrite);
        options.deferred->push_back(std::move(writer));
        return 1;
    }
    bool existed = false;
    if (!host.Commit(options.replace, &existed))
        return existed ? Fail(FailReason::FileExists) : HostFailure(FailReason::HostWrite);
    return 1;
}

std::vector<std::uint8_t> CDiskImage::FileStart(const FileEntry& row) {
    if (!IsMapped() || row.size == 0)
        return {};
    const std::vector<std::uint16_t> positions = FileExtents(FileId::Of(row));
    if (positions.empty())
        return {};
    // The file's first sector: the start of its first block.
    const std::uint16_t block = EntryAt(positions.front()).blocks[0];
    if (block < m_Layout.directoryBlocks || !BlockOnDisk(block) || m_Sectors.sectorSize < kHeaderSize)
        return {};
    std::vector<std::uint8_t> sector(m_Sectors.sectorSize);
    if (ReadLogical(std::uint32_t{block} * m_Layout.sectorsPerBlock, sector.data()) != DSK_ERR_OK)
        return {};
    if (sector.size() > row.size)
        sector.resize(row.size);
    return sector;
}

std::optional<FileHeader> CDiskImage::FileHeaderOf(const std::vector<std::uint8_t>& start,
                                                   const FileEntry& row) {
    if (start.size() < kHeaderSize)
        return std::nullopt;
    return ParseFileHeader(start.data(), row.size);
}

int CDiskImage::HostFailure(FailReason reason) {
    m_Status.cause = errno != 0 ? ErrnoText(errno) : std::string();
    return Fail(reason);
}
