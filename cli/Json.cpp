#include "Json.h"

#include "FileFacts.h"

#include "CatalogueView.h"
#include "FileHeader.h"
#include "FileKind.h"
#include "Formats.h"
#include "LocoScriptFiles.h"

#include <cstdio>

std::string FormatLabel(const CDiskImage& image) {
    // The CPC formats, and the ROMs' formats, by their own names.
    if (const DiskFormat* format = image.Layout().format;
        format != nullptr && !format->bySpecification)
        return format->title;
    const unsigned long kb = static_cast<unsigned long>(image.Map().cylinders) * image.Map().heads *
                             image.Map().sectorsPerTrack * image.Map().sectorSize / 1024;
    if (!image.PartitionName().empty())
        return "+3DOS partition " + std::to_string(kb) + "K";
    if (kb == 180 && image.Map().heads == 1)
        return "+3 180K";
    if (kb == 720 && image.Map().heads == 2)
        return "PCW 720K";
    return "CP/M " + std::to_string(kb) + "K";
}

std::string DamageOf(const CDiskImage& image) {
    if (!image.ForeignFormatText().empty())
        return image.ForeignFormatText();
    if (image.IsReadOnly())
        return "Unable to read directory";
    return DamageText(image.Volume().DirectoryDamage());
}

namespace {

// An object with room for its keys. ordered_json keeps them in a vector whose
// pairs are copied, values and all, each time it grows (a pair with a const
// key cannot be moved), so adding a key after a listing's file array would
// copy the whole array.
JsonObject ObjectWithRoom(std::size_t keys) {
    JsonObject object = JsonObject::object();
    object.get_ref<JsonObject::object_t&>().reserve(keys);
    return object;
}

JsonObject HeaderJson(const std::optional<FileHeader>& header) {
    if (!header)
        return nullptr;
    JsonObject object = ObjectWithRoom(5);
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
    return object;
}

JsonObject OrNull(const std::string& text) {
    return text.empty() ? JsonObject() : JsonObject(text);
}

} // namespace

namespace {

// The label's name (null without one) and the stamps the disk keeps.
void AddLabel(JsonObject& object, const CDiskImage& image) {
    const auto label = image.Volume().Label();
    object["label"] = label ? JsonObject(label->name) : JsonObject();
    JsonObject stamps = JsonObject::array();
    if (label)
        for (const char* kept : label->KeptStamps())
            stamps.push_back(kept);
    object["stamps"] = std::move(stamps);
}

// What every file's stamps and password depend on, found once per image.
struct DirectoryFacts {
    std::optional<DiskLabel> label;
    bool stamps = false;
    bool passwords = false;
};

// A file's stamps (ISO 8601, local time) where it has them, and its password.
void AddStampsAndPassword(JsonObject& file, const CDiskImage& image, const FileEntry& row,
                          const DirectoryFacts& facts) {
    if (facts.stamps) {
        const CCpmVolume::FileStamps stamps = image.Volume().StampsOf(FileId::Of(row), facts.label);
        if (stamps.created)
            file["created"] = FormatStamp(*stamps.created, 'T');
        if (stamps.accessed)
            file["accessed"] = FormatStamp(*stamps.accessed, 'T');
        if (stamps.updated)
            file["updated"] = FormatStamp(*stamps.updated, 'T');
    }
    const auto mode =
        facts.passwords ? image.Volume().PasswordModeOf(FileId::Of(row)) : std::nullopt;
    file["protected"] = mode.has_value();
    if (mode) {
        // The strongest protection the mode asks for.
        file["protection"] = PasswordProtectionName(*mode);
    }
}

} // namespace

JsonObject ListingJson(const std::string& path, CDiskImage& image,
                       const std::vector<FileEntry>& shown, const std::string& error) {
    JsonObject files = JsonObject::array();
    files.get_ref<JsonObject::array_t&>().reserve(shown.size());
    const DirectoryFacts facts{image.Volume().Label(), image.Volume().HasStampEntries(),
                               image.Volume().HasPasswordRecords()};
    const auto starts = image.FileStarts(shown);
    const LocoScriptGroupMap groups = image.Volume().LocoScriptGroups();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const FileEntry& row = shown[i];
        const std::vector<std::uint8_t>& start = starts[i];
        const auto header = FileHeaderOf(start, row);
        // Built in place: a listing of a collection makes thousands of these.
        JsonObject& file = files.emplace_back(ObjectWithRoom(15));
        file["user"] = row.user;
        file["name"] = TrimmedField(row.name, kNameLen);
        file["type"] = TrimmedField(row.type, kTypeLen);
        file["size"] = row.size;
        file["readonly"] = row.readOnly;
        file["system"] = row.system;
        file["archive"] = row.archive;
        const FileKind kind = KindOfRow(groups, row, header, start);
        file["kind"] = FileKindName(kind);
        file["header"] = HeaderJson(header);
        if (kind == FileKind::LocoScriptDocument) {
            const LocoScriptHeader document = *ReadLocoScriptHeader(start);
            file["locoscript"] = {{"version", document.version},
                                  {"export", document.exportForm},
                                  {"identity", document.identity ? JsonObject(*document.identity)
                                                                 : JsonObject(nullptr)},
                                  {"group", LocoScriptGroupName(groups, row.user)}};
        }
        AddStampsAndPassword(file, image, row, facts);
    }
    JsonObject listing = ObjectWithRoom(14);
    listing["image"] = path;
    listing["format"] = FormatLabel(image);
    listing["container"] = OrNull(image.ContainerName());
    listing["files"] = std::move(files);
    listing["used"] = image.Volume().GetUsedSpace();
    listing["capacity"] = image.Volume().GetCapacity();
    listing["free"] = image.Volume().GetFreeSpace();
    listing["writable"] = image.IsWritable();
    AddLabel(listing, image);
    listing["damage"] = OrNull(DamageOf(image));
    // The image opened but part of it could not be read.
    if (!error.empty())
        listing["error"] = error;
    return listing;
}

JsonObject ImageErrorJson(const std::string& path, CCliOwner& owner) {
    const std::optional<Notice>& error = owner.OpenError();
    JsonObject object{{"image", path}, {"error", error ? error->text : ""}};
    if (error && !error->cause.empty())
        object["cause"] = error->cause;
    return object;
}

JsonObject FoundJson(const std::string& path, const FileEntry& row) {
    return {{"image", path},
            {"user", row.user},
            {"name", TrimmedField(row.name, kNameLen)},
            {"type", TrimmedField(row.type, kTypeLen)},
            {"size", row.size}};
}

JsonObject CheckJson(const std::string& path, const std::vector<CheckProblem>& problems,
                     const std::vector<std::pair<FileId, std::size_t>>& fragmented) {
    JsonObject found = JsonObject::array();
    for (const CheckProblem& problem : problems)
        found.push_back({{"file", problem.file}, {"problem", problem.text}});
    JsonObject runs = JsonObject::array();
    for (const auto& [file, count] : fragmented)
        runs.push_back({{"file", file.Shown()}, {"runs", count}});
    return {{"image", path},
            {"clean", problems.empty()},
            {"problems", std::move(found)},
            {"fragmented", std::move(runs)}};
}

JsonObject InfoJson(const std::string& path, const CDiskImage& disk) {
    const DiskSpec& spec = disk.Layout().spec;
    JsonObject info = ObjectWithRoom(25);
    info["image"] = path;
    info["format"] = FormatLabel(disk);
    info["container"] = OrNull(disk.ContainerName());
    info["spec_type"] = spec.bytes[DiskSpec::Type];
    info["sidedness"] = spec.bytes[DiskSpec::Sides];
    info["sides"] = disk.Map().heads;
    info["cylinders"] = disk.Map().cylinders;
    // A 40-track disk dumped on an 80-track drive, read as the disk it is.
    info["double_stepped"] = disk.Map().stepping == 2;
    info["first_sector"] = disk.Map().firstSectorId;
    info["sector_size"] = disk.Map().sectorSize;
    info["tracks_per_side"] = spec.bytes[DiskSpec::TracksPerSide];
    info["sectors_per_track"] = disk.Map().sectorsPerTrack;
    info["sectors_per_block"] = disk.Layout().sectorsPerBlock;
    info["block_size"] = disk.Layout().blockSize;
    info["reserved_tracks"] = spec.bytes[DiskSpec::ReservedTracks];
    info["directory_blocks"] = disk.Layout().directoryBlocks;
    info["directory_entries"] = disk.Volume().DirectoryEntries();
    info["total_blocks"] = disk.Layout().totalBlocks;
    info["capacity"] = disk.Volume().GetCapacity();
    info["writable"] = disk.IsWritable();
    AddLabel(info, disk);
    // The +3 and the PCWs start only from sector 1 of a disk.
    const BootMachine machine =
        disk.Map().firstSectorId == 1 ? MachineBootedBy(disk.BootSector()) : BootMachine::None;
    info["bootable"] =
        machine == BootMachine::None ? JsonObject() : JsonObject(BootMachineName(machine));
    info["damage"] = OrNull(DamageOf(disk));
    info["protection"] = ProtectionJson(disk.ReadProtection());
    return info;
}

JsonObject ProtectionJson(const std::optional<ProtectionFinding>& protection) {
    if (!protection)
        return JsonObject();
    return {{"scheme", protection->scheme}, {"evidence", protection->evidence}};
}

std::string ProtectionText(const ProtectionFinding& protection) {
    if (protection.scheme == "unknown")
        return "unknown protection: " + protection.evidence;
    return protection.scheme + " (" + protection.evidence + ")";
}

void PrintJsonLine(const JsonObject& document) {
    const std::string text =
        document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}
