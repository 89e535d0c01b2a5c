#include "CDiskImage.h"

#include "Formats.h"
#include "HardDisk.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool IsPowerOfTwo(unsigned value) { return value != 0 && (value & (value - 1)) == 0; }

// The +3DOS partitions a hard-disk image offers ("FILES, GAMES").
std::string Plus3PartitionNames(const HardDisk& disk) {
    std::string names;
    for (const HardDiskPartition& p : disk.partitions)
        if (p.type == kPlus3DosPartition)
            names += (names.empty() ? "" : ", ") + p.name;
    return names.empty() ? "none" : names;
}

} // namespace

CDiskImage::CDiskImage(IDiskOwner* owner) : m_pOwner(owner), m_Device(*owner) {
    m_Device.layout = &m_Volume.Layout();
    m_Device.reopen = [this] { return EnsureHandle(); };
}

CDiskImage::~CDiskImage() { CloseImage(); }

void CDiskImage::TellError(const char* text, const std::string& cause) {
    m_Status.cause = cause;
    m_Notices.push_back({text, kErrorCaption, MessageIcon::Error, cause});
}

void CDiskImage::TellWarning(const std::string& text, const std::string& cause) {
    m_Notices.push_back({text, kErrorCaption, MessageIcon::Warning, cause});
}

std::vector<Notice> CDiskImage::TakeNotices() {
    std::vector<Notice> notices;
    notices.swap(m_Notices);
    return notices;
}

std::string CDiskImage::ForeignFormatText() const {
    if (m_Device.map.ForeignTrack().empty())
        return {};
    return m_Device.map.ForeignTrack() + ": a disk with a format of its own can be listed, not changed";
}

bool CDiskImage::ForeignContainerWritable() const {
    const auto writable = m_pOwner->LibraryTable().foreign_writable;
    return m_strForeignContainer.empty() ||
           (writable != nullptr && m_pOwner->LibraryTable().save_foreign != nullptr &&
            writable(m_strForeignContainer.c_str()));
}

bool CDiskImage::IsWritable() const {
    if (!IsMapped() || m_bReadOnly || !ForeignContainerWritable())
        return false;
    return m_File.Writable();
}

int CDiskImage::Fail(FailReason reason) {
    m_Status.reason = reason;
    return 0;
}

void CDiskImage::CloseHandle() {
    m_Device.Close();
    m_bHandleDeferred = false;
}

int CDiskImage::CloseImage() {
    // A change still under way is dropped: what it changed was never saved.
    if (m_Change.active)
        DropChange();
    CloseHandle();
    return 1;
}

int CDiskImage::LoadImage(const std::string& path) { return LoadFrom(path, {}); }

int CDiskImage::LoadFrom(const std::string& path, const std::string& libraryPath) {
    if (IsOpen())
        CloseImage();
    m_strImagePath = path;
    m_Status = {};
    // Nothing of the image before stays: until the parameters describe this
    // one, nothing is listed and nothing may be written.
    m_Volume.Unmount();
    m_bReadOnly = true;
    m_bMapped = false;
    m_Device.geometryValid = false;
    m_strPartition.clear();
    const bool hostFiles = m_pOwner->LibraryTable().imagesAreHostFiles;
    std::string host, partition;
    if (hostFiles && SplitPartitionPath(path, IsHardDiskFile, host, partition)) {
        if (!LoadPartition(host, partition))
            return 0;
    } else {
        if (hostFiles)
            m_File.Take(path);
        else
            m_File.TakeName(path);
        if (!LoadDisk(libraryPath))
            return 0;
    }
    if (m_bReadOnly) {
        TellError("Unable to read directory");
        return 0;
    }
    // Listed and extracted where it can be; never changed.
    if (!m_strReadOnlyCause.empty()) {
        m_bReadOnly = true;
        TellWarning(m_strReadOnlyCause + ": it can be listed and read, not changed");
    } else if (!m_Device.map.ForeignTrack().empty()) {
        m_bReadOnly = true;
        TellWarning(ForeignFormatText());
    }
    // A damaged directory is listed all the same; the map keeps every block
    // it names in use, so nothing written later lands on a listed file.
    if (m_Volume.DirectoryDamage() != CCpmVolume::Damage::None)
        TellWarning(DamageText(m_Volume.DirectoryDamage()));
    return 1;
}

bool CDiskImage::LoadDisk(const std::string& libraryPath) {
    // A hard-disk image holds partitions, not one volume: one is named.
    if (m_pOwner->LibraryTable().imagesAreHostFiles && IsHardDiskFile(m_File.Path())) {
        HardDisk disk;
        std::string cause;
        if (ReadHardDiskImage(m_File.Path(), disk, cause))
            cause = m_strImagePath + " is a hard-disk image: name one of its partitions, as " +
                    m_strImagePath + ":NAME (its +3DOS partitions: " + Plus3PartitionNames(disk) +
                    ")";
        TellError("Unable to load disk image", cause);
        return false;
    }
    if (!OpenThroughLibrary(libraryPath.empty() ? m_File.Path() : libraryPath))
        return false;
    // Formats that cannot be mapped safely leave no image open.
    auto refuse = [this](const std::string& cause = {}) {
        CloseHandle();
        TellError("Unsupported disk format", cause);
        return false;
    };
    if (!TakeGeometry())
        return refuse();
    // A named format the disk does not fit is refused before its first
    // sector is looked for.
    if (m_pNamedFormat != nullptr) {
        if (std::string misfit = FormatMisfit(*m_pNamedFormat, Figures(), true); !misfit.empty())
            return refuse(misfit);
    }
    // An image whose boot sector cannot be read is not opened at all.
    if (const dsk_err_t err = m_Device.ReadSector(0, 0, m_Device.map.firstSectorId, m_BootSector);
        err != DSK_ERR_OK) {
        CloseHandle();
        TellError("Unable to read boot sector", m_Device.ErrorText(err));
        return false;
    }
    if (std::string refusal; !MapFromBootSector(&refusal))
        return refuse(!refusal.empty() ? refusal : OtherSystemsBootRecord(m_BootSector));
    return true;
}

bool CDiskImage::LoadPartition(const std::string& host, const std::string& name) {
    // Read under the image's lock, so that no change is half-way through
    // the sectors read; an unfinished one is rolled back first, and the
    // file taken up as it then is. (A change that reloads holds it already.)
    const std::string resolved = ResolvedPath(host);
    CFileLock lock;
    std::string cause;
    const bool lockHeld =
        (m_File.Locked() && m_File.Path() == resolved) || lock.Acquire(resolved, cause);
    HardDisk disk;
    const bool read = lockHeld && ReadHardDiskImage(resolved, disk, cause, true);
    m_File.Take(host);
    if (!read) {
        TellError("Unable to load disk image", cause);
        return false;
    }
    const HardDiskPartition* partition = disk.Named(name);
    auto refuse = [&](const char* text, const std::string& why) {
        CloseHandle();
        TellError(text, why);
        return false;
    };
    if (partition == nullptr)
        return refuse("Unable to load disk image",
                      host + " has no partition named \"" + name +
                          "\" (its +3DOS partitions: " + Plus3PartitionNames(disk) + ")");
    if (partition->type != kPlus3DosPartition)
        return refuse("Unsupported disk format",
                      "partition " + partition->name + " is a " +
                          PartitionTypeName(partition->type) +
                          " partition; only +3DOS partitions are read as volumes");
    if (!disk.Holds(*partition))
        return refuse("Unable to load disk image",
                      "partition " + partition->name + " runs past the end of the image");
    GeometryFigures figures;
    DiskLayout layout;
    if (!PartitionLayout(*partition, figures, layout, cause))
        return refuse("Unsupported disk format", "partition " + partition->name + ": " + cause);
    if (!m_Device.partition.Open(m_File.Path(), disk, *partition, cause))
        return refuse("Unable to load disk image", cause);
    m_strPartition = partition->name;
    m_strForeignContainer.clear();
    m_strReadOnlyCause.clear();
    m_strContainer = HardDiskContainerText(disk);
    CSectorMap& map = m_Device.map;
    map = CSectorMap{};
    map.cylinders = figures.cylinders;
    map.heads = figures.heads;
    map.sectorsPerTrack = figures.sectorsPerTrack;
    map.sectorSize = figures.sectorSize;
    map.firstSectorId = map.dataFirstSectorId = figures.firstSectorId;
    m_Device.geometryValid = true;
    std::memset(m_BootSector, 0, sizeof m_BootSector);
    map.SortTracks(layout);
    m_bMapped = true;
    m_bReadOnly = false;
    NoteDirectoryRead(m_Volume.Mount(layout, IsOpen()));
    return true;
}

bool CDiskImage::OpenThroughLibrary(const std::string& opened) {
    const DiskLibraryTable& lib = m_pOwner->LibraryTable();
    m_Device.map.stepping = 1;
    OpenFacts facts;
    facts.geometryNamed = m_pNamedFormat != nullptr;
    dsk_err_t err = m_Device.Open(opened, &facts);
    m_strForeignContainer = err == DSK_ERR_OK ? facts.foreign : "";
    m_strContainer = err == DSK_ERR_OK ? facts.container : "";
    m_strReadOnlyCause = err == DSK_ERR_OK ? facts.readOnlyCause : "";
    if (err != DSK_ERR_OK) {
        const std::string cause = lib.dsk_open == nullptr  ? "the disk library is not loaded"
                                  : !facts.refusal.empty() ? facts.refusal
                                                           : m_Device.ErrorText(err);
        // A file of a known kind that Tarnlight does not read (compressed,
        // another system's container) is a format question, not damage.
        TellError(err == DSK_ERR_BADFMT ? "Unsupported disk format" : "Unable to load disk image",
                  cause);
        return false;
    }
    // A named format's geometry is its own: LibDsk's probe of the first
    // sector is never run.
    err = m_pNamedFormat != nullptr ? GeometryOfFormat(*m_pNamedFormat, lib, m_Device.geometry)
          : lib.dsk_getgeom         ? lib.dsk_getgeom(m_Device.Handle(), &m_Device.geometry)
                                    : kNoEntry;
    if (err != DSK_ERR_OK) {
        CloseHandle();
        TellError("Unable to fetch disk geometry", m_Device.ErrorText(err));
        return false;
    }
    // LibDsk guesses the cylinders and heads from the boot sector (40 x 1
    // for a blank one); the container knows what the disk really holds.
    const bool shaped = facts.cylinders != 0 && facts.heads != 0;
    m_Device.map.containerCylinders = shaped ? facts.cylinders : 0;
    m_Device.map.containerHeads = shaped ? facts.heads : 0;
    if (shaped)
        TakeContainerShape(m_Device.geometry);
    // The sectors each track holds, when the container lists them (a track
    // it does not hold has none).
    std::vector<ContainerTrack> tracks;
    const bool listed =
        !facts.tracks.empty() && facts.heads != 0 && m_Device.geometry.dg_heads <= facts.heads;
    auto listedTrack = [&](unsigned c, unsigned h) -> const ContainerTrack* {
        const std::size_t index = std::size_t{c} * facts.heads + h;
        return index < facts.tracks.size() ? &facts.tracks[index] : nullptr;
    };
    m_Device.map.stepping =
        listed && IsDoubleStepped(facts.cylinders, facts.heads,
                                  [&](unsigned c, unsigned h) -> std::optional<unsigned> {
                                      const ContainerTrack* t = listedTrack(c, h);
                                      if (t == nullptr || t->count == 0)
                                          return std::nullopt;
                                      return t->idCylinder;
                                  })
            ? 2
            : 1;
    const unsigned stepping = m_Device.map.stepping;
    std::vector<bool> secondReadings;
    for (unsigned c = 0; listed && c * stepping < m_Device.geometry.dg_cylinders; ++c)
        for (unsigned h = 0; h < m_Device.geometry.dg_heads; ++h) {
            const ContainerTrack* t = listedTrack(c * stepping, h);
            tracks.push_back(t != nullptr ? *t : ContainerTrack{});
            const ContainerTrack* second = stepping == 2 ? listedTrack(c * 2 + 1, h) : nullptr;
            secondReadings.push_back(second != nullptr && second->count != 0);
        }
    m_Device.map.secondReadings = std::move(secondReadings);
    m_Device.map.containerTracks = std::move(tracks);
    return true;
}

bool CDiskImage::TakeGeometry() {
    // Geometries that the track mapping and the 512-byte boot-sector buffer
    // cannot serve are refused before anything is read.
    const DSK_GEOMETRY& g = m_Device.geometry;
    const bool mappable = g.dg_heads <= 128 && IsPowerOfTwo(g.dg_heads) && g.dg_sectors != 0 &&
                          g.dg_sectors <= 0xFFFF && g.dg_cylinders != 0 &&
                          g.dg_cylinders <= 0xFFFF && g.dg_secbase <= 0xFFFF &&
                          (g.dg_secsize == 128 || g.dg_secsize == 256 || g.dg_secsize == 512);
    if (!mappable)
        return false;
    m_Device.geometryValid = true;
    m_Device.map.sectorsPerTrack = static_cast<std::uint16_t>(g.dg_sectors);
    m_Device.map.heads = static_cast<std::uint8_t>(g.dg_heads);
    m_Device.map.cylinders = static_cast<std::uint16_t>(
        (g.dg_cylinders + m_Device.map.stepping - 1) / m_Device.map.stepping);
    m_Device.map.sectorSize = static_cast<std::uint16_t>(g.dg_secsize);
    m_Device.map.firstSectorId =
        m_Device.TrackFirstSectorId(0, 0, static_cast<std::uint16_t>(g.dg_secbase));
    return true;
}

void CDiskImage::TakeContainerShape(DSK_GEOMETRY& geometry) const {
    if (m_Device.map.containerCylinders != 0 && m_Device.map.containerHeads != 0) {
        geometry.dg_cylinders = m_Device.map.containerCylinders;
        geometry.dg_heads = m_Device.map.containerHeads;
    }
}

GeometryFigures CDiskImage::Figures() const {
    GeometryFigures figures{m_Device.map.cylinders,       m_Device.map.heads,
                            m_Device.map.sectorsPerTrack, m_Device.map.sectorSize,
                            m_Device.map.firstSectorId,   {}};
    if (!m_Device.map.containerTracks.empty()) {
        const ContainerTrack& first = m_Device.map.containerTracks.front();
        figures.firstTrackIds.assign(first.ids, first.ids + first.count);
    }
    return figures;
}

bool CDiskImage::MapFromBootSector(std::string* refusal) {
    DiskLayout layout;
    if (!DeriveLayout(Figures(), m_BootSector, layout, m_pNamedFormat, refusal)) {
        m_bMapped = false;
        m_bReadOnly = true;
        return false;
    }
    // A known format has its own sectors per track, whatever the disk
    // library guessed.
    if (layout.format != nullptr)
        m_Device.map.sectorsPerTrack = layout.format->sectorsPerTrack;
    const SectorAddress firstDataTrack = m_Device.map.AddressOf(0, layout);
    m_Device.map.dataFirstSectorId =
        m_Device.TrackFirstSectorId(firstDataTrack.cylinder, firstDataTrack.head, m_Device.map.firstSectorId);
    m_Device.map.SortTracks(layout);
    m_bMapped = true;
    m_bReadOnly = false;
    NoteDirectoryRead(m_Volume.Mount(layout, IsOpen()));
    return true;
}

std::string CDiskImage::GeometryReport() const {
    std::string text;
    auto add = [&text](const char* format, auto value) {
        char line[512];
        std::snprintf(line, sizeof line, format, value);
        text += line;
    };
    text += "Image name\t: " + m_strImagePath + " \r\n";
    text += "Image type\t: ";
    switch (m_Volume.Layout().spec.bytes[DiskSpec::Type]) {
    case 0:
        text += "PCW SS SD (+3)\r\n";
        break;
    case 1:
        text += "CPC System SS SD\r\n";
        break;
    case 2:
        text += "CPC Data SS SD\r\n";
        break;
    case 3:
        text += "PCW DS DD\r\n";
        break;
    default:
        text += Layout().format != nullptr ? std::string(Layout().format->title) + "\r\n"
                : !m_strPartition.empty()  ? "+3DOS partition " + m_strPartition + "\r\n"
                                           : std::string("Unknown\r\n");
        break;
    }
    text += "Image format\t: ";
    const std::uint8_t sides = m_Volume.Layout().spec.bytes[DiskSpec::Sides];
    switch (sides & 0x7F) {
    case 0:
        text += "Single Sided";
        break;
    case 1:
        text += "Double Sided Alternate";
        break;
    case 2:
        text += "Double Sided Successive";
        break;
    default:
        text += "Unknown";
        break;
    }
    if (sides & 0x80)
        text += ", Double Density";
    text += "\r\n";
    add("Sides\t\t: %u\r\n", unsigned{m_Device.map.heads});
    add("Cylinders\t\t: %u\r\n", unsigned{m_Device.map.cylinders});
    add("1st Sector\t: %u\r\n", unsigned{m_Device.map.firstSectorId});
    add("Sector Size\t: %u\r\n", unsigned{m_Device.map.sectorSize});
    add("Tracks per Side\t: %u\r\n", unsigned{m_Volume.Layout().spec.bytes[DiskSpec::TracksPerSide]});
    if (m_Device.map.stepping == 2)
        text += "Dump\t\t: double-stepped dump (a 40-track disk read on an 80-track drive)\r\n";
    add("Sectors per Track\t: %u\r\n", unsigned{m_Device.map.sectorsPerTrack});
    add("Sectors per Block\t: %u\r\n", unsigned{m_Volume.Layout().sectorsPerBlock});
    add("Reserved Tracks\t: %u\r\n", unsigned{m_Volume.Layout().spec.bytes[DiskSpec::ReservedTracks]});
    add("Directory Blocks\t: %u\r\n", unsigned{m_Volume.Layout().directoryBlocks});
    add("Total Blocks\t: %u\r\n", unsigned{m_Volume.Layout().totalBlocks});
    // What the image came in, where the disk library says.
    if (!m_strContainer.empty())
        text += "Container\t: " + m_strContainer + (ForeignContainerWritable() ? "" : " (read only)") +
                "\r\n";
    return text;
}

void CDiskImage::ShowGeometry() {
    m_Notices.push_back({GeometryReport(), kGeometryCaption, MessageIcon::None, {}});
}

int CDiskImage::NoteDirectoryRead(int failures) {
    // A directory read only in part must never be written back.
    if (failures != 0 || !IsOpen())
        m_bReadOnly = true;
    return failures;
}

int CDiskImage::RereadDirectory() { return NoteDirectoryRead(m_Volume.ReadDirectory(IsOpen())); }

bool CDiskImage::CanWriteDirectory() {
    if (!IsOpen()) {
        m_Status.reason = FailReason::NoImage;
        return false;
    }
    if (m_bReadOnly || !m_Volume.IsCurrent()) {
        m_Status.reason = FailReason::ReadOnly;
        m_Status.cause =
            m_strReadOnlyCause.empty() ? m_Device.map.ForeignTrack() : m_strReadOnlyCause;
        return false;
    }
    return true;
}

int CDiskImage::Take(Status status) {
    if (m_Volume.TakeBroken())
        NoteBroken();
    m_Status = std::move(status);
    return m_Status.Failed() ? 0 : 1;
}

int CDiskImage::ChangeVolume(const std::function<Status()>& change) {
    m_Status = {};
    if (!CanWriteDirectory())
        return 0;
    // The update may have loaded the image again.
    return InChange([&] { return CanWriteDirectory() ? Take(change()) : 0; });
}

int CDiskImage::OptimiseDisk(OptimisePlan& plan, bool dryRun) {
    m_Status = {};
    plan = {};
    if (!dryRun)
        return ChangeVolume([&] { return m_Volume.Optimise(plan); });
    if (!StillAsLoaded() || !CanWriteDirectory())
        return 0;
    return Take(m_Volume.PlanOptimise(plan));
}

std::vector<CheckProblem> CDiskImage::CheckFileSystem() {
    if (!IsMapped())
        return {{"", "the image could not be opened fully"}};
    // The directory as the disk holds it now. (A disk that is only read,
    // one with tracks of its own format or in a foreign container, is
    // checked all the same.)
    std::vector<CheckProblem> problems;
    if (RereadDirectory() != 0)
        problems.push_back({"", "the directory could not be read completely"});
    const std::vector<CheckProblem> found = m_Volume.Check();
    problems.insert(problems.end(), found.begin(), found.end());
    return problems;
}
