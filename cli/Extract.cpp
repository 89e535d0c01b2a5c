#include "Extract.h"

#include "CatalogueView.h"
#include "FileHeader.h"
#include "HostFile.h"

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <system_error>

namespace {

// The batch of files written before they are named together.
constexpr std::size_t kBatch = 64;

class RowExtractor {
  public:
    RowExtractor(CCliOwner& owner, const std::string& image, const GetOptions& options)
        : m_Owner(owner), m_Options(options), m_Lead(image.empty() ? "" : image + ": ") {
        m_Extract.style =
            options.padded ? CDiskImage::HostNames::Padded : CDiskImage::HostNames::Trimmed;
        m_Extract.replace = !options.noClobber;
        m_Extract.stampTime = true;
        m_Extract.deferred = &m_Pending;
    }

    // False when the rest of the rows must not be extracted.
    bool Extract(const FileEntry& row, const std::string& folder) {
        const std::string host = folder + "/" + HostName(row, m_Extract.style);
        const std::string shown = m_Lead + UserAndName(row);
        // One host name, one file: a second file for a name this command
        // wrote (the same name under another user) is not written over the
        // first.
        if (const auto it = m_Written.find(host); it != m_Written.end()) {
            Report(shown, "not extracted: " + std::to_string(it->second) + ":" +
                              Printable(ShownFileName(row)) +
                              " was extracted to the same host file");
            ++m_Counts.failed;
            ++m_Counts.clashing;
            return true;
        }
        if (!MakeFolder(folder, shown))
            return true;
        CDiskImage& disk = m_Owner.Image();
        const std::uint8_t lastBytes = disk.Volume().LastRecordBytes(FileId::Of(row));
        m_Extract.filter = nullptr;
        if (m_Options.stripHeader || m_Options.exact)
            m_Extract.filter = [this, lastBytes](std::vector<std::uint8_t>& data) {
                CutData(data, m_Options.stripHeader, m_Options.exact, lastBytes);
            };
        m_Owner.SayNotices();
        const std::size_t before = m_Pending.size();
        const bool extracted = disk.ExtractFile(folder, row, m_Extract) != 0;
        const bool told = m_Owner.SayNotices().has_value();
        if (extracted) {
            m_Written.emplace(host, row.user);
            if (m_Pending.size() > before)
                m_PendingNames.push_back(UserAndName(row));
            if (m_Pending.size() >= kBatch)
                NameBatch();
            return true;
        }
        if (!told)
            Report(shown, disk.LastStatus().Text());
        ++m_Counts.failed;
        const FailReason reason = disk.LastStatus().reason;
        m_Counts.unreadable += reason == FailReason::DiskRead ||
                               reason == FailReason::ForeignTrack ||
                               reason == FailReason::DuplicateExtent;
        // The rest of the rows name files of the image as it was: none is
        // taken from what another program saved since.
        return reason != FailReason::ImageChanged;
    }

    // The files written and not yet named, named together.
    void NameBatch() {
        std::vector<CHostFileWriter*> files;
        for (const auto& file : m_Pending)
            files.push_back(file.get());
        const std::vector<CommitOutcome> outcomes = CommitTogether(files, m_Extract.replace);
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            if (outcomes[i].named) {
                ++m_Counts.done;
            } else if (outcomes[i].existed && m_Options.noClobber) {
                ++m_Counts.kept;
            } else {
                Report(m_Lead + m_PendingNames[i],
                       "cannot write " + files[i]->Target() + ": " + outcomes[i].cause);
                ++m_Counts.failed;
            }
        }
        m_Pending.clear();
        m_PendingNames.clear();
    }

    ExtractCounts& Counts() { return m_Counts; }

  private:
    bool MakeFolder(const std::string& folder, const std::string& shown) {
        if (!m_Made.insert(folder).second)
            return true;
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (!ec)
            return true;
        Report(shown, "cannot make the folder " + folder + ": " + ec.message());
        ++m_Counts.failed;
        return false;
    }

    CCliOwner& m_Owner;
    const GetOptions& m_Options;
    const std::string m_Lead;
    CDiskImage::ExtractOptions m_Extract;
    std::vector<std::unique_ptr<CHostFileWriter>> m_Pending;
    std::vector<std::string> m_PendingNames;
    std::map<std::string, unsigned> m_Written;
    std::set<std::string> m_Made;
    ExtractCounts m_Counts;
};

} // namespace

void CutData(std::vector<std::uint8_t>& data, bool stripHeader, bool exact,
             std::uint8_t lastRecordBytes) {
    if (stripHeader) {
        if (const auto header = ParseFileHeader(data.data(), data.size())) {
            data.erase(data.begin(), data.begin() + kHeaderSize);
            data.resize(std::min<std::size_t>(data.size(), header->dataLength));
            return;
        }
    }
    if (exact && lastRecordBytes != 0 && lastRecordBytes < 128 && data.size() >= 128)
        data.resize(data.size() - 128 + lastRecordBytes);
}

ExtractCounts ExtractRows(CCliOwner& owner, const std::string& image,
                          const std::vector<FileEntry>& rows, const GetOptions& options,
                          const std::function<std::string(const FileEntry&)>& folderFor) {
    RowExtractor extractor(owner, image, options);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!extractor.Extract(rows[i], folderFor(rows[i]))) {
            extractor.Counts().failed += static_cast<unsigned>(rows.size() - 1 - i);
            break;
        }
    }
    extractor.NameBatch();
    return extractor.Counts();
}
