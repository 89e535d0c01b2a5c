// map: where every file lies on the disk, as a text grid, JSON or a picture.

#include "Commands.h"
#include "Json.h"
#include "MapPicture.h"
#include "Png.h"
#include "Session.h"

#include <cstdio>
#include <memory>

namespace {

std::vector<std::string> ShownNames(const DiskMap& map) {
    std::vector<std::string> names;
    for (const MapFile& file : map.files)
        names.push_back(Printable(file.file.Shown()));
    return names;
}

std::string Plural(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Summary(const std::string& image, const DiskMap& map) {
    unsigned cylinders = 0, heads = 0;
    for (const MapTrack& track : map.tracks) {
        cylinders = std::max<unsigned>(cylinders, track.cylinder + 1u);
        heads = std::max<unsigned>(heads, track.head + 1u);
    }
    const std::string shape = Printable(image) + ": " + Plural(cylinders, "track", "tracks") +
                              ", " + Plural(heads, "side", "sides");
    if (map.blockSize == 0)
        return shape + "; no CP/M file system could be read on it";
    return shape + "; blocks of " + std::to_string(map.blockSize) + " bytes, " +
           Plural(map.directoryBlocks, "directory block", "directory blocks") + ", " +
           Plural(map.reservedTracks, "reserved track", "reserved tracks");
}

void PrintText(const std::string& image, const DiskMap& map) {
    std::printf("%s\n", Summary(image, map).c_str());
    if (map.protection)
        std::printf("Protection: %s\n", ProtectionText(*map.protection).c_str());
    for (const MapTrack& track : map.tracks) {
        std::string row;
        for (const MapSector& sector : track.sectors) {
            row += MapSymbol(sector);
            row += MapMark(sector);
        }
        while (!row.empty() && row.back() == ' ')
            row.pop_back();
        if (track.ownFormat || !track.formatted)
            row += std::string(row.empty() ? "" : " ") + track.description +
                   (track.ownFormat ? ": a format of its own" : "");
        std::printf("%3u:%u  %s\n", track.cylinder, track.head, row.c_str());
    }
    const MapShown shown = ShownOnMap(map);
    std::string legend;
    for (const auto& [use, symbol, text] : kMapUseLegend)
        if (shown.uses[static_cast<unsigned>(use)])
            legend += (legend.empty() ? "" : ", ") + std::string(1, symbol) + " " + text;
    std::printf("Legend: %s\n", legend.c_str());
    const std::vector<std::string> names = ShownNames(map);
    for (std::size_t i = 0; i < map.files.size(); ++i) {
        const MapFile& file = map.files[i];
        std::printf("  %c  %-16s %s, %s\n", MapFileSymbol(i), names[i].c_str(),
                    Plural(file.blocks.size(), "block", "blocks").c_str(),
                    Plural(file.fragments.size(), "run", "runs").c_str());
    }
    if (shown.marks)
        std::printf("Marks: ! cannot be read, ~ weak copies, * error status, ' deleted data\n");
    for (const std::uint32_t block : map.sharedBlocks) {
        std::string owners;
        if (block < map.directoryBlocks)
            owners = "the directory";
        for (std::size_t i = 0; i < map.files.size(); ++i)
            if (std::find(map.files[i].blocks.begin(), map.files[i].blocks.end(), block) !=
                map.files[i].blocks.end())
                owners += (owners.empty() ? "" : ", ") + names[i];
        std::printf("Block %u is named by %s\n", block, owners.c_str());
    }
}

JsonObject MapJson(const std::string& image, const DiskMap& map) {
    const std::vector<std::string> names = ShownNames(map);
    JsonObject tracks = JsonObject::array();
    for (const MapTrack& track : map.tracks) {
        JsonObject sectors = JsonObject::array();
        for (const MapSector& sector : track.sectors) {
            JsonObject one = {
                {"id", sector.id}, {"size", sector.size}, {"use", SectorUseName(sector.use)}};
            if (sector.use != SectorUse::Other && sector.use != SectorUse::Boot &&
                sector.use != SectorUse::Reserved)
                one["block"] = sector.block;
            if (!sector.files.empty()) {
                JsonObject files = JsonObject::array();
                for (const std::uint16_t index : sector.files)
                    files.push_back(names[index]);
                one["files"] = files;
            }
            one["unreadable"] = sector.unreadable;
            one["missing"] = sector.missing;
            one["weak"] = sector.weak;
            one["errorStatus"] = sector.errorStatus;
            one["deleted"] = sector.deleted;
            sectors.push_back(one);
        }
        tracks.push_back({{"cylinder", track.cylinder},
                          {"head", track.head},
                          {"formatted", track.formatted},
                          {"ownFormat", track.ownFormat},
                          {"description", track.description},
                          {"sectors", sectors}});
    }
    JsonObject files = JsonObject::array();
    for (std::size_t i = 0; i < map.files.size(); ++i) {
        const MapFile& file = map.files[i];
        JsonObject sectors = JsonObject::array();
        for (const SectorAddress& at : file.sectors)
            sectors.push_back(
                {{"cylinder", at.cylinder}, {"head", at.head}, {"sector", at.sector}});
        JsonObject fragments = JsonObject::array();
        for (const BlockRun& run : file.fragments)
            fragments.push_back({{"first", run.first}, {"blocks", run.count}});
        files.push_back({{"name", names[i]},
                         {"symbol", std::string(1, MapFileSymbol(i))},
                         {"blocks", file.blocks},
                         {"sectors", sectors},
                         {"fragments", fragments}});
    }
    return {{"image", image},
            {"protection", ProtectionJson(map.protection)},
            {"blockSize", map.blockSize},
            {"reservedTracks", map.reservedTracks},
            {"directoryBlocks", map.directoryBlocks},
            {"blocks", map.usableBlocks},
            {"tracks", tracks},
            {"files", files},
            {"sharedBlocks", map.sharedBlocks}};
}

} // namespace

int RunMap(CCliOwner& owner, const MapOptions& options) {
    // A disk whose file system cannot be read (told) is still drawn, as the
    // tracks its container holds; the status says it failed.
    const int status =
        OpenImage(owner, options.image) && owner.Image().IsMapped() ? kExitOk : kExitFailed;
    CDiskImage& disk = owner.Image();
    DiskMap map;
    const bool read = disk.ReadDiskMap(map) != 0;
    owner.SayNotices();
    if (!read) {
        if (options.json)
            PrintJsonLine(ImageErrorJson(options.image, owner));
        if (!owner.OpenError())
            Report(options.image, disk.LastStatus().Text());
        return kExitFailed;
    }
    if (!options.png.empty()) {
        std::string error;
        const std::vector<std::uint8_t> png = EncodePng(
            DrawDiskMap(
                map,
                Summary(options.image, map) +
                    (map.protection ? "; protection: " + ProtectionText(*map.protection) : ""),
                ShownNames(map)),
            error);
        if (png.empty()) {
            Report(options.image, "cannot make the picture: " + error);
            return kExitFailed;
        }
        if (!WritePicture(options.png, png, disk.ImageIdentity()))
            return kExitFailed;
        if (options.png == "-" && !options.json)
            return status;
    }
    if (options.json)
        PrintJsonLine(MapJson(options.image, map));
    else if (options.png.empty())
        PrintText(options.image, map);
    return status;
}

Verb MapVerb() {
    return {"map", "Show where every file lies on the disk",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                auto options = std::make_shared<MapOptions>();
                cmd.add_option("IMAGE", options->image, "Image file")->required();
                cmd.add_option("--png", options->png,
                               "Draw the map as a PNG picture into this file (- for standard "
                               "output)");
                cmd.add_flag("--json", options->json,
                             "Every track's sectors and every file's blocks, sectors and runs, as "
                             "one JSON object");
                cmd.footer(
                    "One row per track (cylinder:head), one cell per sector in the order the "
                    "track holds it: a letter per file (named in the legend), $ boot sector, "
                    "= reserved track, # directory, . free, + a block named by two files, "
                    "? not the file system's. A mark after a cell: ! cannot be read, ~ weak "
                    "copies, * error status in the container, ' deleted data.\n\nExamples:\n"
                    "  tarnlight-cli map game.dsk\n"
                    "  tarnlight-cli map game.dsk --png game-map.png\n"
                    "  tarnlight-cli map game.dsk --json");
                return [options](CCliOwner& owner) { return RunMap(owner, *options); };
            }};
}
