#include "Extract.h"

#include "CatalogueView.h"
#include "FileHeader.h"
#include "HostFile.h"
#include "LocoScriptFiles.h"

#include <cstdio>
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
        if (!options.locoscript.empty())
            m_Extract.hostSuffix = options.locoscript == "markdown" ? ".md" : ".txt";
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
        LocoScriptText converted;
        if (!m_Options.locoscript.empty())
            m_Extract.filter = [this, &converted](std::vector<std::uint8_t>& data) {
                converted = ConvertDocument(data);
            };
        else if (m_Options.stripHeader || m_Options.exact)
            m_Extract.filter = [this, lastBytes](std::vector<std::uint8_t>& data) {
                CutData(data, m_Options.stripHeader, m_Options.exact, lastBytes);
            };
        m_Owner.SayNotices();
        const std::size_t before = m_Pending.size();
        const bool extracted = disk.ExtractFile(folder, row, m_Extract) != 0;
        const bool told = m_Owner.SayNotices().has_value();
        if (extracted) {
            if (!converted.note.empty())
                std::fprintf(stderr, "NOTE: %s: %s\n", shown.c_str(), converted.note.c_str());
            if (!converted.warning.empty()) {
                std::fprintf(stderr, "WARNING: %s: %s\n", shown.c_str(), converted.warning.c_str());
                ++m_Counts.partial;
            }
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
    // A document's text in place of its bytes. Of a version whose text
    // layout is not known, every printable run.
    LocoScriptText ConvertDocument(std::vector<std::uint8_t>& data) const {
        const auto style =
            m_Options.locoscript == "markdown" ? LocoScriptStyle::Markdown : LocoScriptStyle::Text;
        LocoScriptText converted = LocoScriptToText(data, style);
        const auto header = ReadLocoScriptHeader(data);
        if (header && header->version != 1) {
            converted.text = LocoScriptRuns(data);
            converted.warning = "a " + LocoScriptVersionName(*header) +
                                " document: the layout of its text is not known here; every "
                                "printable run was written, in order";
        }
        data.assign(converted.text.begin(), converted.text.end());
        return converted;
    }

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

namespace {

// The rows that are LocoScript documents; the rest counted as skipped. A
// file whose start cannot be read is reported, not taken for either.
std::vector<FileEntry> LocoScriptDocuments(CCliOwner& owner, const std::string& image,
                                           const std::vector<FileEntry>& rows,
                                           const LocoScriptGroupMap& groups,
                                           ExtractCounts& counts) {
    const auto starts = owner.Image().FileStarts(rows);
    std::vector<FileEntry> documents;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const FileEntry& row = rows[i];
        if (row.size != 0 && starts[i].empty()) {
            Report((image.empty() ? "" : image + ": ") + UserAndName(row),
                   "not converted: its first sector cannot be read");
            ++counts.failed;
            ++counts.unreadable;
            continue;
        }
        // A group's entry is no file to skip.
        const FileKind kind = KindOfRow(groups, row, FileHeaderOf(starts[i], row), starts[i]);
        if (kind == FileKind::LocoScriptDocument)
            documents.push_back(row);
        else if (kind != FileKind::LocoScriptGroup)
            ++counts.skipped;
    }
    return documents;
}

} // namespace

ExtractCounts ExtractRows(CCliOwner& owner, const std::string& image,
                          const std::vector<FileEntry>& givenRows, const GetOptions& options,
                          const std::function<std::string(const FileEntry&)>& givenFolderFor) {
    RowExtractor extractor(owner, image, options);
    std::vector<FileEntry> rows = givenRows;
    std::function<std::string(const FileEntry&)> folderFor = givenFolderFor;
    if (!options.locoscript.empty()) {
        const LocoScriptGroupMap groups = owner.Image().Volume().LocoScriptGroups();
        rows = LocoScriptDocuments(owner, image, givenRows, groups, extractor.Counts());
        // Each document into its group's folder; two users' groups of one
        // name into two folders.
        std::map<std::uint8_t, std::string> groupFolders;
        std::map<std::string, unsigned> uses;
        for (const FileEntry& row : rows)
            if (groupFolders.emplace(row.user, LocoScriptGroupName(groups, row.user)).second)
                ++uses[groupFolders[row.user]];
        for (auto& [user, folder] : groupFolders)
            if (uses[folder] > 1)
                folder += "~" + std::to_string(user);
        folderFor = [&givenFolderFor, groupFolders](const FileEntry& row) {
            return givenFolderFor(row) + "/" + groupFolders.at(row.user);
        };
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!extractor.Extract(rows[i], folderFor(rows[i]))) {
            extractor.Counts().failed += static_cast<unsigned>(rows.size() - 1 - i);
            break;
        }
    }
    extractor.NameBatch();
    return extractor.Counts();
}
