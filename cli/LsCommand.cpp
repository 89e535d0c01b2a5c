// ls, find, check and info: the commands that only read images, one image
// or whole collections of them.

#include "CatalogueView.h"
#include "CliOwner.h"
#include "Commands.h"
#include "FileHeader.h"
#include "Names.h"
#include "Walk.h"

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

// A JSON string, escaped by nlohmann-json; names need not be UTF-8.
std::string JsonString(const std::string& text) {
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// What kind of disk the image is, in the words of its users.
std::string FormatLabel(const CDiskImage& image) {
    const std::uint16_t first = image.FirstSectorId();
    if (first == 0xC1)
        return "CPC data";
    if (first == 0x41)
        return "CPC system";
    const unsigned long kb = static_cast<unsigned long>(image.Cylinders()) * image.Heads() *
                             image.SectorsPerTrack() * image.SectorSize() / 1024;
    if (kb == 180 && image.Heads() == 1)
        return "+3 180K";
    if (kb == 720 && image.Heads() == 2)
        return "PCW 720K";
    return "CP/M " + std::to_string(kb) + "K";
}

std::string DamageOf(const CDiskImage& image) {
    if (image.IsReadOnly())
        return "Unable to read directory";
    return CDiskImage::DamageText(image.DirectoryDamage());
}

std::string Attributes(const FileEntry& row) {
    std::string text = row.readOnly ? "R/O" : "---";
    text += row.system ? " SYS" : " ---";
    text += row.archive ? " ARC" : " ---";
    return text;
}

std::string HeaderJson(const std::optional<FileHeader>& header) {
    if (!header)
        return "null";
    nlohmann::ordered_json object;
    const bool plus3 = header->kind == FileHeader::Kind::Plus3Dos;
    object["kind"] = plus3 ? "plus3dos" : "amsdos";
    object["filetype"] = HeaderTypeName(*header);
    object["length"] = header->dataLength;
    if (plus3) {
        if (header->fileType == FileHeader::kPlus3Code)
            object["load"] = header->param1;
        if (header->fileType == FileHeader::kPlus3Program &&
            header->param1 < FileHeader::kNoAutostart)
            object["line"] = header->param1;
    } else {
        object["load"] = header->load;
        if ((header->fileType & 0x0E) == FileHeader::kAmsdosBinary)
            object["exec"] = header->entry;
    }
    return object.dump();
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

// One image's line. The objects have a fixed shape, so they are put
// together directly: building a document tree per image cost more than
// reading the directory.
std::string JsonListing(const std::string& path, CDiskImage& image,
                        const std::vector<FileEntry>& shown, const std::string& error) {
    std::string out = "{\"image\":" + JsonString(path) + ",\"format\":" +
                      JsonString(FormatLabel(image)) + ",\"files\":[";
    char number[96];
    bool first = true;
    for (const FileEntry& row : shown) {
        std::snprintf(number, sizeof number, "%s{\"user\":%u,\"name\":", first ? "" : ",",
                      unsigned{row.user});
        first = false;
        out += number;
        out += JsonString(TrimmedField(row.name, kNameLen));
        out += ",\"type\":";
        out += JsonString(TrimmedField(row.type, kTypeLen));
        auto flag = [](bool set) { return set ? "true" : "false"; };
        std::snprintf(number, sizeof number,
                      ",\"size\":%lu,\"readonly\":%s,\"system\":%s,\"archive\":%s,\"header\":",
                      static_cast<unsigned long>(row.size), flag(row.readOnly), flag(row.system),
                      flag(row.archive));
        out += number;
        out += HeaderJson(image.FileHeaderOf(row));
        out += "}";
    }
    const std::uint32_t used = image.GetUsedSpace();
    const std::uint32_t capacity = image.GetCapacity();
    std::snprintf(number, sizeof number, "],\"used\":%lu,\"capacity\":%lu,\"free\":%lu",
                  static_cast<unsigned long>(used), static_cast<unsigned long>(capacity),
                  static_cast<unsigned long>(image.GetFreeSpace()));
    out += number;
    out += ",\"writable\":";
    out += image.IsWritable() ? "true" : "false";
    const std::string damage = DamageOf(image);
    out += ",\"damage\":" + (damage.empty() ? std::string("null") : JsonString(damage));
    // The image opened but part of it could not be read.
    if (!error.empty())
        out += ",\"error\":" + JsonString(error);
    return out + "}";
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
                    std::printf("{\"image\":%s,\"error\":%s}\n", JsonString(path).c_str(),
                                JsonString(owner.TakeLastError()).c_str());
                return result;
            }
            const std::vector<FileEntry> shown = Filtered(owner.Rows(), patterns);
            printed = true;
            if (options.json) {
                std::fputs(JsonListing(path, disk, shown, owner.TakeLastError()).c_str(), stdout);
                std::fputc('\n', stdout);
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
                    std::printf("{\"image\":%s,\"user\":%u,\"name\":%s,\"type\":%s,\"size\":%lu}\n",
                                JsonString(path).c_str(), unsigned{row.user},
                                JsonString(TrimmedField(row.name, kNameLen)).c_str(),
                                JsonString(TrimmedField(row.type, kTypeLen)).c_str(),
                                static_cast<unsigned long>(row.size));
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
                    std::printf("{\"image\":%s,\"error\":%s}\n", JsonString(path).c_str(),
                                JsonString(owner.TakeLastError()).c_str());
                return int{kExitFailed};
            }
            const std::vector<CheckProblem> problems = disk.CheckFileSystem();
            if (options.json) {
                nlohmann::ordered_json found = nlohmann::ordered_json::array();
                for (const CheckProblem& problem : problems)
                    found.push_back({{"file", problem.file}, {"problem", problem.text}});
                std::printf("{\"image\":%s,\"clean\":%s,\"problems\":%s}\n", JsonString(path).c_str(),
                            problems.empty() ? "true" : "false",
                            found.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                                .c_str());
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
            const DiskSpec& spec = disk.Spec();
            nlohmann::ordered_json info;
            info["image"] = image;
            info["format"] = FormatLabel(disk);
            info["spec_type"] = spec.bytes[DiskSpec::Type];
            info["sidedness"] = spec.bytes[DiskSpec::Sides];
            info["sides"] = disk.Heads();
            info["cylinders"] = disk.Cylinders();
            info["first_sector"] = disk.FirstSectorId();
            info["sector_size"] = disk.SectorSize();
            info["tracks_per_side"] = spec.bytes[DiskSpec::TracksPerSide];
            info["sectors_per_track"] = disk.SectorsPerTrack();
            info["sectors_per_block"] = disk.SectorsPerBlock();
            info["block_size"] = disk.BlockSize();
            info["reserved_tracks"] = spec.bytes[DiskSpec::ReservedTracks];
            info["directory_blocks"] = disk.DirectoryBlocks();
            info["directory_entries"] = disk.DirectoryEntries();
            info["total_blocks"] = disk.TotalBlocks();
            info["capacity"] = disk.GetCapacity();
            info["writable"] = disk.IsWritable();
            const std::string damage = DamageOf(disk);
            info["damage"] = damage.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(damage);
            std::printf("%s\n",
                        info.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        }
    }
    disk.CloseImage();
    return loaded ? kExitOk : kExitFailed;
}
