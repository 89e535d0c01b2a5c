#include "Session.h"

#include "CatalogueView.h"
#include "Commands.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool HasDskExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".dsk";
}

} // namespace

std::vector<std::string> CollectImages(const std::vector<std::string>& paths, bool recursive,
                                       bool& anyFolder) {
    std::vector<std::string> images;
    for (const std::string& arg : paths) {
        std::error_code ec;
        if (!fs::is_directory(arg, ec)) {
            images.push_back(arg);
            continue;
        }
        anyFolder = true;
        std::vector<std::string> found;
        auto take = [&found](const fs::directory_entry& entry) {
            std::error_code fec;
            if (entry.is_regular_file(fec) && HasDskExtension(entry.path()))
                found.push_back(entry.path().string());
        };
        const auto opts = fs::directory_options::skip_permission_denied;
        if (recursive) {
            for (auto it = fs::recursive_directory_iterator(arg, opts, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                take(*it);
        } else {
            for (auto it = fs::directory_iterator(arg, opts, ec);
                 !ec && it != fs::directory_iterator(); it.increment(ec))
                take(*it);
        }
        if (ec)
            Report(arg, ec.message());
        std::sort(found.begin(), found.end());
        images.insert(images.end(), found.begin(), found.end());
    }
    return images;
}

std::vector<FileEntry> Filtered(const Catalogue& rows, const std::vector<FilePattern>& patterns) {
    std::vector<FileEntry> shown;
    const std::size_t n = CatalogueLength(rows);
    for (std::size_t i = 0; i < n; ++i) {
        bool take = patterns.empty();
        for (const FilePattern& pattern : patterns)
            take = take || Matches(pattern, rows[i]);
        if (take)
            shown.push_back(rows[i]);
    }
    return shown;
}

std::string ReasonText(const CDiskImage& disk) {
    const FailReason reason = disk.LastFailure();
    std::string text = FailReasonText(reason);
    if ((reason == FailReason::HostOpen || reason == FailReason::HostRead ||
         reason == FailReason::HostWrite || reason == FailReason::ForeignTrack ||
         reason == FailReason::ReadOnly) &&
        !disk.LastCause().empty())
        text += ": " + disk.LastCause();
    return text;
}

int FinishChanges(CCliOwner& owner, int status) {
    if (!owner.Image().EndUpdate())
        return kExitFailed;
    return status;
}

bool OpenImage(CCliOwner& owner, const std::string& image, bool forChange) {
    CDiskImage& disk = owner.Image();
    // A change locks the file before anything is read, so that the command
    // works on what the file holds once no other program is saving it.
    owner.TakeLastError();
    bool loaded = (forChange ? disk.LoadForUpdate(image) : disk.LoadImage(image)) != 0;
    // A refusal the core showed no message for (a read-only file) is said here.
    if (!loaded && forChange && disk.IsMapped() && owner.TakeLastError().empty()) {
        std::string text = FailReasonText(disk.LastFailure());
        if (!disk.LastCause().empty())
            text += ": " + disk.LastCause();
        Report(image, text);
    }
    if (disk.IsMapped()) {
        ClearCatalogue(owner.Rows());
        disk.ReadCatalogue(owner.Rows());
    }
    return loaded;
}

