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

// Paths need not be UTF-8; never let one stop the listing.
std::string Dump(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void PrintText(const Catalogue& rows, const CDiskImage& image) {
    std::printf("%2s  %-8s  %-3s  %s\n", "U", "Filename", "Ext", "Size");
    const std::size_t n = CatalogueLength(rows);
    for (std::size_t i = 0; i < n; ++i) {
        const FileEntry& row = rows[i];
        std::printf("%2u  %s  %s  %s\n", unsigned{row.user}, ShownField(row.name, kNameLen).c_str(),
                    ShownField(row.type, kTypeLen).c_str(), FormatSize(row.size).c_str());
    }
    const SpaceFigures figures = ComputeSpaceFigures(image.GetUsedSpace(), image.GetCapacity());
    std::printf("Total in use : %s\nMaximum : %s\nFree : %s\n", figures.used.c_str(),
                figures.maximum.c_str(), figures.free.c_str());
}

nlohmann::ordered_json JsonListing(const std::string& path, const Catalogue& rows,
                                   const CDiskImage& image) {
    nlohmann::ordered_json out;
    out["image"] = path;
    auto files = nlohmann::ordered_json::array();
    const std::size_t n = CatalogueLength(rows);
    for (std::size_t i = 0; i < n; ++i) {
        const FileEntry& row = rows[i];
        nlohmann::ordered_json file;
        file["user"] = row.user;
        file["name"] = TrimmedField(row.name, kNameLen);
        file["type"] = TrimmedField(row.type, kTypeLen);
        file["size"] = row.size;
        file["readonly"] = (row.type[0] & 0x80) != 0;
        file["system"] = (row.type[1] & 0x80) != 0;
        file["archive"] = (row.type[2] & 0x80) != 0;
        files.push_back(std::move(file));
    }
    const std::uint32_t used = image.GetUsedSpace();
    const std::uint32_t capacity = image.GetCapacity();
    out["files"] = std::move(files);
    out["used"] = used;
    out["capacity"] = capacity;
    out["free"] = capacity > used ? capacity - used : 0;
    return out;
}

} // namespace

bool OpenImage(CCliOwner& owner, const std::string& image) {
    CDiskImage& disk = owner.Image();
    const bool loaded = disk.LoadImage(image) != 0;
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
            if (options.json) {
                nlohmann::ordered_json out;
                out["image"] = path;
                out["error"] = owner.TakeLastError();
                std::printf("%s\n", Dump(out).c_str());
            }
            continue;
        }
        if (options.json) {
            auto out = JsonListing(path, rows, disk);
            // The image opened but part of it could not be read.
            if (const std::string error = owner.TakeLastError(); !error.empty())
                out["error"] = error;
            std::printf("%s\n", Dump(out).c_str());
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
