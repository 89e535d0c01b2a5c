// formats: every format the program knows, with its figures.

#include "Commands.h"
#include "Formats.h"
#include "Json.h"

#include <cstdio>
#include <memory>

namespace {

const char* ToldBy(const DiskFormat& format) {
    if (format.bySpecification)
        return "boot sector";
    return format.toldById ? "sector id" : "--format";
}

} // namespace

int RunFormats(bool json) {
    if (json) {
        JsonObject formats = JsonObject::array();
        for (const DiskFormat& f : KnownFormats())
            formats.push_back({{"name", f.name},
                               {"title", f.title},
                               {"sides", f.sides},
                               {"tracks_per_side", f.tracksPerSide},
                               {"sectors_per_track", f.sectorsPerTrack},
                               {"sector_size", f.sectorSize},
                               {"first_sector", f.firstSectorId},
                               {"block_size", f.blockSize},
                               {"directory_entries", f.directoryEntries},
                               {"reserved_tracks", f.reservedTracks},
                               {"capacity", f.Capacity()},
                               {"told_by", ToldBy(f)}});
        PrintJsonLine({{"formats", std::move(formats)}});
        return kExitOk;
    }
    std::printf("%-11s %-19s %5s %6s  %-9s %-8s %5s %7s %8s %8s  %s\n", "Name", "Format", "Sides",
                "Tracks", "Sectors", "Ids", "Block", "Entries", "Reserved", "Capacity", "Told by");
    for (const DiskFormat& f : KnownFormats())
        std::printf("%-11s %-19s %5u %6u  %2u x %-4u %-8s %5u %7u %8u %7uK  %s\n", f.name, f.title,
                    unsigned{f.sides}, unsigned{f.tracksPerSide}, unsigned{f.sectorsPerTrack},
                    unsigned{f.sectorSize}, SectorIdsText(f).c_str(), unsigned{f.blockSize},
                    unsigned{f.directoryEntries}, unsigned{f.reservedTracks}, f.Capacity() / 1024,
                    ToldBy(f));
    return kExitOk;
}

Verb FormatsVerb() {
    return {"formats", "List the disk formats known, with their figures",
            [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
                auto json = std::make_shared<bool>(false);
                cmd.add_flag("--json", *json, "The formats as one JSON object");
                cmd.footer(
                    "Told by: boot sector (+3 and PCW disks: the disk specification, or the "
                    "defaults where it has none); sector id (the first sector's id tells the "
                    "format); --format (the ids are the +3's: name the format to read such a "
                    "disk). Sectors: per track x bytes. Capacity: the blocks after the "
                    "directory. Tracks per side beyond the format's are not the file system's.\n"
                    "pcw180 is another name for plus3, sdos and s-dos for d80.\n\n"
                    "Examples:\n"
                    "  tarnlight-cli formats\n"
                    "  tarnlight-cli ls --format d1 romdos.dsk\n"
                    "  tarnlight-cli new -f d20 blank.dsk");
                return [json](CCliOwner&) { return RunFormats(*json); };
            },
            nullptr, false};
}
