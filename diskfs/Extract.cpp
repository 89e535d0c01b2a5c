// Extraction to a host folder: a thin layer over the volume's ReadFile.

#include "CDiskImage.h"
#include "HostFile.h"

#include <cerrno>
#include <vector>

namespace {

// Whether a host name can be created inside a folder: "/" would lead out of
// the chosen folder and NUL ends a host path; "", "." and ".." name no file.
bool HostNameAllowed(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

} // namespace

std::string HostName(const FileEntry& row, CDiskImage::HostNames style) {
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
    if (style == CDiskImage::HostNames::Padded)
        return base + "." + ext;
    base.erase(base.find_last_not_of(' ') + 1);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return ext.empty() ? base : base + "." + ext;
}

int CDiskImage::ReadFileData(const FileEntry& row, const DataSink& sink) {
    m_Status = {};
    if (!StillAsLoaded())
        return 0;
    return About(FileId::Of(row), Take(m_Volume.ReadFile(FileId::Of(row), sink)));
}

int CDiskImage::ExtractFile(const std::string& folder, const FileEntry& row, HostNames style) {
    ExtractOptions options;
    options.style = style;
    return ExtractFile(folder, row, options);
}

int CDiskImage::ExtractFile(const std::string& folder, const FileEntry& row,
                            const ExtractOptions& options) {
    return About(FileId::Of(row), ExtractInto(folder, row, options));
}

int CDiskImage::ExtractInto(const std::string& folder, const FileEntry& row,
                            const ExtractOptions& options) {
    m_Status = {};
    if (!StillAsLoaded())
        return 0;
    const std::string hostName = HostName(row, options.style) + options.hostSuffix;
    if (!HostNameAllowed(hostName))
        return Fail(FailReason::BadName);
    if (m_Volume.FileExtents(FileId::Of(row)).empty())
        return Fail(FailReason::FileNotFound);
    auto writer = std::make_unique<CHostFileWriter>();
    CHostFileWriter& host = *writer;
    if (!host.Open(folder + "/" + hostName, &m_File.Loaded()))
        return HostFailure(FailReason::HostOpen, host.Cause());
    // Streamed, unless the data is to be cut first.
    std::vector<std::uint8_t> data;
    // (The image was checked above: the volume is read straight.)
    if (!Take(m_Volume.ReadFile(FileId::Of(row), [&](const std::uint8_t* bytes, std::size_t size) {
            if (options.filter) {
                data.insert(data.end(), bytes, bytes + size);
                return true;
            }
            return host.Write(bytes, size);
        })))
        return m_Status.reason == FailReason::HostWrite
                   ? HostFailure(FailReason::HostWrite, host.Cause())
                   : 0;
    if (options.stampTime) {
        if (const auto updated = m_Volume.StampsOf(FileId::Of(row)).updated)
            host.SetModified(TimeOfStamp(*updated));
    }
    if (options.filter) {
        options.filter(data);
        if (!host.Write(data.data(), data.size()))
            return HostFailure(FailReason::HostWrite, host.Cause());
    }
    if (options.deferred != nullptr) {
        if (!host.Complete())
            return HostFailure(FailReason::HostWrite, host.Cause());
        options.deferred->push_back(std::move(writer));
        return 1;
    }
    bool existed = false;
    if (!host.Commit(options.replace, &existed))
        return existed ? Fail(FailReason::FileExists)
                       : HostFailure(FailReason::HostWrite, host.Cause());
    return 1;
}

std::vector<std::vector<std::uint8_t>> CDiskImage::FileStarts(const std::vector<FileEntry>& rows) {
    if (!IsMapped() || !StillAsLoaded())
        return std::vector<std::vector<std::uint8_t>>(rows.size());
    return m_Volume.FileStarts(rows);
}

std::optional<FileHeader> FileHeaderOf(std::span<const std::uint8_t> start, const FileEntry& row) {
    if (start.size() < kHeaderSize)
        return std::nullopt;
    return ParseFileHeader(start.data(), row.size);
}

int CDiskImage::HostFailure(FailReason reason, const std::string& cause) {
    m_Status.cause = cause;
    return Fail(reason);
}
