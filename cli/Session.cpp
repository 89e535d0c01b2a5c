#include "Session.h"

#include "CatalogueView.h"
#include "Commands.h"
#include "Containers.h"
#include "HostFile.h"
#include "Json.h"
#include "PartitionStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool HasDskExtension(const fs::path& path) {
    const std::string ext = LowerExtension(path.string());
    // And the containers LibDsk reads in a child process.
    return ext == ".dsk" || ext == ".imd" || ext == ".td0" || ext == ".cqm" || ext == ".ldbs" ||
           ext == ".ydsk" || ext == ".qrst";
}

} // namespace

namespace {

// The folder an image's files go to: its name without the extension, or the
// whole name where that would be no folder of its own ("..dsk", "...dsk").
std::string FolderName(const fs::path& image) {
    const std::string stem = image.stem().string();
    if (stem.empty() || stem == "." || stem == "..")
        return image.filename().string();
    return stem;
}

// A hard-disk image's +3DOS partitions, each an image of the walk ("a.hdf:FILES",
// its files under a/FILES); the image itself when it has none or cannot be read, so
// that the walk says why.
void AddPartitions(const fs::path& image, const std::string& prefix, ImageSet& set) {
    HardDisk disk;
    std::string cause;
    const std::size_t before = set.images.size();
    if (ReadHardDiskImage(image.string(), disk, cause))
        for (const HardDiskPartition& p : disk.partitions)
            if (p.type == kPlus3DosPartition) {
                set.images.push_back(image.string() + ":" + p.name);
                set.relative.push_back(prefix + FolderName(image) + "/" + p.name);
            }
    if (set.images.size() == before) {
        set.images.push_back(image.string());
        set.relative.push_back(prefix + FolderName(image));
    }
}

// Adds the images in `folder` (and, with `recursive`, in its subfolders,
// links to folders not followed) to `set`, `prefix` being the folder's path
// below the one named. False when a folder could not be read.
bool CollectFolder(const fs::path& folder, const std::string& prefix, bool recursive,
                   ImageSet& set) {
    std::error_code ec;
    std::vector<fs::directory_entry> entries;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        entries.push_back(*it);
    bool sound = true;
    if (ec) {
        Report(folder.string(), "cannot read the folder: " + ec.message());
        sound = false;
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    std::vector<fs::path> subfolders;
    for (const fs::directory_entry& entry : entries) {
        std::error_code fec;
        if (entry.is_regular_file(fec) && HasDskExtension(entry.path())) {
            set.images.push_back(entry.path().string());
            set.relative.push_back(prefix + FolderName(entry.path()));
        } else if (entry.is_regular_file(fec) && LowerExtension(entry.path().string()) == ".hdf") {
            AddPartitions(entry.path(), prefix, set);
        } else if (recursive && entry.is_directory(fec) && !entry.is_symlink(fec)) {
            subfolders.push_back(entry.path());
        }
    }
    for (const fs::path& sub : subfolders)
        sound = CollectFolder(sub, prefix + sub.filename().string() + "/", recursive, set) && sound;
    return sound;
}

} // namespace

ImageSet CollectImages(const std::vector<std::string>& paths, bool recursive) {
    ImageSet set;
    for (const std::string& arg : paths) {
        std::error_code ec;
        if (!fs::is_directory(arg, ec)) {
            set.images.push_back(arg);
            set.relative.push_back(FolderName(fs::path(arg)));
            continue;
        }
        set.anyFolder = true;
        const std::size_t before = set.images.size();
        if (!CollectFolder(arg, "", recursive, set))
            set.failed = true;
        if (set.images.size() == before) {
            Report(arg, recursive ? "holds no disk images"
                                  : "holds no disk images (use -r to look in its subfolders)");
            set.failed = true;
        }
    }
    return set;
}

std::vector<FileEntry> Filtered(const Catalogue& rows, const std::vector<FilePattern>& patterns,
                                std::uint64_t* matched) {
    std::vector<FileEntry> shown;
    const std::size_t n = CatalogueLength(rows);
    for (std::size_t i = 0; i < n; ++i) {
        bool take = patterns.empty();
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            if (!Matches(patterns[p], rows[i]))
                continue;
            take = true;
            if (matched != nullptr && p < 64)
                *matched |= std::uint64_t{1} << p;
        }
        if (take)
            shown.push_back(rows[i]);
    }
    return shown;
}

bool ReportUnmatched(const std::vector<std::string>& patterns, std::uint64_t matched) {
    bool any = false;
    for (std::size_t p = 0; p < patterns.size() && p < 64; ++p) {
        if (matched & (std::uint64_t{1} << p))
            continue;
        std::fprintf(stderr, "ERROR: no file matches %s\n", Printable(patterns[p]).c_str());
        any = true;
    }
    return any;
}

int FinishChanges(CCliOwner& owner, int status, bool keepGoing, const char* dropped) {
    if (status != kExitOk && !keepGoing) {
        const bool began = owner.DropChange();
        owner.SayNotices();
        if (began && dropped != nullptr)
            Report(owner.Image().ImagePath(), dropped);
        return status;
    }
    const bool saved = owner.CommitChange();
    owner.SayNotices();
    return saved ? status : kExitFailed;
}

bool OpenImage(CCliOwner& owner, const std::string& image, bool forChange) {
    CDiskImage& disk = owner.Image();
    // A change locks the file before anything is read, so that the command
    // works on what the file holds once no other program is saving it.
    owner.SayNotices();
    bool loaded = forChange ? owner.BeginChange(image) : disk.LoadImage(image) != 0;
    owner.NoteOpenError(owner.SayNotices());
    // A refusal the core told no error for (a read-only file) is said here.
    if (!loaded && forChange && disk.IsMapped() && !owner.OpenError()) {
        Report(image, disk.LastStatus().Text());
    }
    if (disk.IsMapped()) {
        ClearCatalogue(owner.Rows());
        disk.ReadCatalogue(owner.Rows());
        owner.SayNotices();
    }
    return loaded;
}

bool OpenForListing(CCliOwner& owner, const std::string& path, bool json, int& status) {
    status = OpenImage(owner, path) ? kExitOk : kExitFailed;
    if (owner.Image().IsMapped())
        return true;
    if (json)
        PrintJsonLine(ImageErrorJson(path, owner));
    return false;
}

bool WritePicture(const std::string& output, const std::vector<std::uint8_t>& png,
                  const FileIdentity& image) {
    if (output == "-") {
        if (std::fwrite(png.data(), 1, png.size(), stdout) != png.size() ||
            std::fflush(stdout) != 0) {
            Report("standard output", std::strerror(errno));
            return false;
        }
        return true;
    }
    std::string cause, warning;
    if (!WriteHostFile(output, png, &image, cause, warning)) {
        Report(output, "cannot write the picture: " + cause);
        return false;
    }
    if (!warning.empty())
        std::fprintf(stderr, "WARNING: %s: %s\n", output.c_str(), warning.c_str());
    return true;
}
