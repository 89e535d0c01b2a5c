// ls, find, check and info: the commands that only read images, one image
// or whole collections of them.

#include "CatalogueView.h"
#include "CliOwner.h"
#include "Commands.h"
#include "FileHeader.h"
#include "Json.h"
#include "Names.h"
#include "Walk.h"


#include <algorithm>
#include <cctype>
#include <cstdio>
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

// Expands folders into the ".dsk" files they hold (all levels with
// `recursive`), each folder's files in sorted order; other arguments stay as
// given.
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

std::string Attributes(const FileEntry& row) {
    std::string text = row.readOnly ? "R/O" : "---";
    text += row.system ? " SYS" : " ---";
    text += row.archive ? " ARC" : " ---";
    return text;
}

void PrintText(CDiskImage& image, const std::vector<FileEntry>& shown, bool longFormat) {
    if (longFormat)
        std::printf("%2s  %-8s  %-3s  %-9s  %-11s  %7s  %6s  %s\n", "U", "Filename", "Ext", "Size",
                    "Attributes", "Records", "Blocks", "Header");
    else
        std::printf("%2s  %-8s  %-3s  %s\n", "U", "Filename", "Ext", "Size");
    for (const FileEntry& row : shown) {
        const std::string name = Printable(ShownField(row.name, kNameLen));
        const std::string type = Printable(ShownField(row.type, kTypeLen));
        if (!longFormat) {
            std::printf("%2u  %s  %s  %s\n", unsigned{row.user}, name.c_str(), type.c_str(),
                        FormatSize(row.size).c_str());
            continue;
        }
        const auto header = image.FileHeaderOf(row);
        std::printf("%2u  %s  %s  %-9s  %s  %7lu  %6lu%s%s\n", unsigned{row.user}, name.c_str(),
                    type.c_str(), FormatSize(row.size).c_str(), Attributes(row).c_str(),
                    static_cast<unsigned long>(row.size / 128),
                    static_cast<unsigned long>(image.FileBlockCount(row)), header ? "  " : "",
                    header ? DescribeHeader(*header).c_str() : "");
    }
    const SpaceFigures figures =
        ComputeSpaceFigures(image.GetUsedSpace(), image.GetCapacity(), image.GetFreeSpace());
    std::printf("Total in use : %s\nMaximum : %s\nFree : %s\n", figures.used.c_str(),
                figures.maximum.c_str(), figures.free.c_str());
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

} // namespace

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

int RunLs(CCliOwner& owner, const LsOptions& options) {
    bool anyFolder = false;
    const std::vector<std::string> images =
        CollectImages(options.paths, options.recursive, anyFolder);
    const bool headed = images.size() > 1 || anyFolder;
    std::vector<FilePattern> patterns;
    for (const std::string& text : options.patterns)
        patterns.push_back(ParsePattern(text));
    CDiskImage& disk = owner.Image();
    const int status = WalkImages(
        owner, images, options.jobs, options.json ? "" : "\n", [&](const std::string& path, const char* lead, bool& printed) {
            owner.TakeLastError();
            const int result = OpenImage(owner, path) ? kExitOk : kExitFailed;
            if (!disk.IsMapped()) {
                if (options.json)
                    PrintJsonLine(ImageErrorJson(path, owner.TakeLastError()));
                return result;
            }
            const std::vector<FileEntry> shown = Filtered(owner.Rows(), patterns);
            printed = true;
            if (options.json) {
                PrintJsonLine(ListingJson(path, disk, shown, owner.TakeLastError()));
            } else {
                if (headed)
                    std::printf("%s%s:\n", lead, Printable(path).c_str());
                PrintText(disk, shown, options.longFormat);
            }
            return result;
        });
    disk.CloseImage();
    return status;
}

int RunFind(CCliOwner& owner, const FindOptions& options) {
    bool anyFolder = false;
    const std::vector<std::string> images =
        CollectImages(options.paths, options.recursive, anyFolder);
    const std::vector<FilePattern> patterns{ParsePattern(options.pattern)};
    CDiskImage& disk = owner.Image();
    const int status =
        WalkImages(owner, images, options.jobs, "", [&](const std::string& path, const char*, bool&) {
            const int result = OpenImage(owner, path) ? kExitOk : kExitFailed;
            if (!disk.IsMapped())
                return result;
            for (const FileEntry& row : Filtered(owner.Rows(), patterns)) {
                if (options.json) {
                    PrintJsonLine(FoundJson(path, row));
                } else {
                    std::printf("%s: %s %lu\n", Printable(path).c_str(), UserAndName(row).c_str(),
                                static_cast<unsigned long>(row.size));
                }
            }
            return result;
        });
    disk.CloseImage();
    return status;
}

int RunCheck(CCliOwner& owner, const CheckOptions& options) {
    bool anyFolder = false;
    const std::vector<std::string> images =
        CollectImages(options.paths, options.recursive, anyFolder);
    CDiskImage& disk = owner.Image();
    const int status =
        WalkImages(owner, images, options.jobs, "", [&](const std::string& path, const char*, bool&) {
            owner.TakeLastError();
            disk.LoadImage(path);
            if (!disk.IsMapped()) {
                // Not a disk image this program can read: a failure, not damage.
                if (options.json)
                    PrintJsonLine(ImageErrorJson(path, owner.TakeLastError()));
                return int{kExitFailed};
            }
            const std::vector<CheckProblem> problems = disk.CheckFileSystem();
            if (options.json) {
                PrintJsonLine(CheckJson(path, problems));
            } else if (problems.empty()) {
                std::printf("%s: clean\n", Printable(path).c_str());
            }
            if (!options.json)
                for (const CheckProblem& problem : problems)
                    std::printf("%s: %s%s%s\n", Printable(path).c_str(),
                                Printable(problem.file).c_str(), problem.file.empty() ? "" : ": ",
                                problem.text.c_str());
            return problems.empty() ? int{kExitOk} : int{kExitFailed};
        });
    disk.CloseImage();
    return status;
}

int RunInfo(CCliOwner& owner, const std::string& image, bool json) {
    CDiskImage& disk = owner.Image();
    const bool loaded = disk.LoadImage(image) != 0;
    // A directory that could not be read still leaves a geometry to report.
    if (disk.IsMapped()) {
        if (!json) {
            disk.ShowGeometry();
        } else {
            PrintJsonLine(InfoJson(image, disk));
        }
    }
    disk.CloseImage();
    return loaded ? kExitOk : kExitFailed;
}
