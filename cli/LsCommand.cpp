#include "CatalogueView.h"
#include "CliOwner.h"
#include "Commands.h"

#include <nlohmann/json.hpp>

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

// Expands folders into the ".dsk" files they hold (all levels with -r), each
// folder's files in sorted order; other arguments stay as given.
std::vector<std::string> CollectImages(const LsOptions& options, bool& anyFolder) {
    std::vector<std::string> images;
    for (const std::string& arg : options.paths) {
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
        if (options.recursive) {
            for (auto it = fs::recursive_directory_iterator(arg, opts, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                take(*it);
        } else {
            for (auto it = fs::directory_iterator(arg, opts, ec);
                 !ec && it != fs::directory_iterator(); it.increment(ec))
                take(*it);
        }
        if (ec)
            std::fprintf(stderr, "ERROR: %s: %s\n", arg.c_str(), ec.message().c_str());
        std::sort(found.begin(), found.end());
        images.insert(images.end(), found.begin(), found.end());
    }
    return images;
}

void PrintText(const Catalogue& rows, const CDiskImage& image) {
    std::printf("%2s  %-8s  %-3s  %s\n", "U", "Filename", "Ext", "Size");
    const std::size_t n = CatalogueLength(rows);
    for (std::size_t i = 0; i < n; ++i) {
        const FileEntry& row = rows[i];
        std::printf("%2u  %s  %s  %s\n", unsigned{row.user}, ShownField(row.name, kNameLen).c_str(),
                    ShownField(row.type, kTypeLen).c_str(), FormatSize(row.size).c_str());
    }
    const SpaceFigures figures =
        ComputeSpaceFigures(image.GetUsedSpace(), image.GetCapacity(), image.GetFreeSpace());
    std::printf("Total in use : %s\nMaximum : %s\nFree : %s\n", figures.used.c_str(),
                figures.maximum.c_str(), figures.free.c_str());
}

// A JSON string, escaped by nlohmann-json; names need not be UTF-8.
std::string JsonString(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// One image's line. The objects have a fixed shape, so they are put
// together directly: building a document tree per image cost more than
// reading the directory.
std::string JsonListing(const std::string& path, const Catalogue& rows, const CDiskImage& image,
                        const std::string& error) {
    std::string out = "{\"image\":" + JsonString(path) + ",\"files\":[";
    const std::size_t n = CatalogueLength(rows);
    char number[96];
    for (std::size_t i = 0; i < n; ++i) {
        const FileEntry& row = rows[i];
        std::snprintf(number, sizeof number, "%s{\"user\":%u,\"name\":", i == 0 ? "" : ",",
                      unsigned{row.user});
        out += number;
        out += JsonString(TrimmedField(row.name, kNameLen));
        out += ",\"type\":";
        out += JsonString(TrimmedField(row.type, kTypeLen));
        auto flag = [](bool set) { return set ? "true" : "false"; };
        std::snprintf(number, sizeof number,
                      ",\"size\":%lu,\"readonly\":%s,\"system\":%s,\"archive\":%s}",
                      static_cast<unsigned long>(row.size), flag(row.readOnly), flag(row.system),
                      flag(row.archive));
        out += number;
    }
    const std::uint32_t used = image.GetUsedSpace();
    const std::uint32_t capacity = image.GetCapacity();
    std::snprintf(number, sizeof number, "],\"used\":%lu,\"capacity\":%lu,\"free\":%lu",
                  static_cast<unsigned long>(used), static_cast<unsigned long>(capacity),
                  static_cast<unsigned long>(image.GetFreeSpace()));
    out += number;
    // The image opened but part of it could not be read.
    if (!error.empty())
        out += ",\"error\":" + JsonString(error);
    return out + "}";
}

} // namespace

bool OpenImage(CCliOwner& owner, const std::string& image, bool forChange) {
    CDiskImage& disk = owner.Image();
    bool loaded = disk.LoadImage(image) != 0;
    // The lock is taken before the catalogue is read, so that the command
    // works on what the file holds once no other program is saving it.
    if (loaded && forChange) {
        owner.TakeLastError();
        if (!disk.BeginUpdate()) {
            if (owner.TakeLastError().empty())
                std::fprintf(stderr, "ERROR: %s: %s\n", image.c_str(),
                             FailReasonText(disk.LastFailure()));
            loaded = false;
        }
    }
    if (disk.IsMapped()) {
        ClearCatalogue(owner.Rows());
        disk.ReadCatalogue(owner.Rows());
    }
    return loaded;
}

int RunLs(CCliOwner& owner, const LsOptions& options) {
    bool anyFolder = false;
    const std::vector<std::string> images = CollectImages(options, anyFolder);
    const bool headed = images.size() > 1 || anyFolder;
    int status = kExitOk;
    const Catalogue& rows = owner.Rows();
    CDiskImage& disk = owner.Image();
    bool first = true;
    for (const std::string& path : images) {
        owner.TakeLastError();
        const bool loaded = OpenImage(owner, path);
        if (!loaded)
            status = kExitFailed;
        if (!disk.IsMapped()) {
            if (options.json)
                std::printf("{\"image\":%s,\"error\":%s}\n", JsonString(path).c_str(),
                            JsonString(owner.TakeLastError()).c_str());
            continue;
        }
        if (options.json) {
            std::fputs(JsonListing(path, rows, disk, owner.TakeLastError()).c_str(), stdout);
            std::fputc('\n', stdout);
        } else {
            if (headed)
                std::printf("%s%s:\n", first ? "" : "\n", path.c_str());
            PrintText(rows, disk);
        }
        first = false;
    }
    disk.CloseImage();
    return status;
}
