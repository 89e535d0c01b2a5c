#include "MemDisk.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

std::map<std::string, MemDisk*>& Registry() {
    static std::map<std::string, MemDisk*> registry;
    return registry;
}

// Disks made by the create entry live until the registry is cleared.
std::vector<std::unique_ptr<MemDisk>>& Created() {
    static std::vector<std::unique_ptr<MemDisk>> created;
    return created;
}

MemDisk* Self(DSK_PDRIVER handle) { return reinterpret_cast<MemDisk*>(handle); }

} // namespace

MemDisk::MemDisk(unsigned cylinders, unsigned heads, unsigned sectors, unsigned firstSector,
                 unsigned sectorSize, std::uint8_t fill)
    : m_Cylinders(cylinders), m_Heads(heads), m_Sectors(sectors), m_FirstSector(firstSector),
      m_SectorSize(sectorSize),
      m_Data(std::size_t{cylinders} * heads * sectors * sectorSize, fill) {
    geometry.dg_sidedness = SIDES_ALT;
    geometry.dg_cylinders = cylinders;
    geometry.dg_heads = heads;
    geometry.dg_sectors = sectors;
    geometry.dg_secbase = firstSector;
    geometry.dg_secsize = sectorSize;
}

void MemDisk::Register(const std::string& path) { Registry()[path] = this; }

void MemDisk::UnregisterAll() {
    Registry().clear();
    Created().clear();
}

MemDisk* MemDisk::Find(const std::string& path) {
    auto it = Registry().find(path);
    return it == Registry().end() ? nullptr : it->second;
}

long MemDisk::Offset(unsigned cylinder, unsigned head, unsigned id) const {
    if (cylinder >= m_Cylinders || head >= m_Heads || id < m_FirstSector ||
        id >= m_FirstSector + m_Sectors)
        return -1;
    return static_cast<long>(((std::size_t{cylinder} * m_Heads + head) * m_Sectors +
                              (id - m_FirstSector)) *
                             m_SectorSize);
}

std::uint8_t* MemDisk::Sector(unsigned cylinder, unsigned head, unsigned id) {
    const long offset = Offset(cylinder, head, id);
    return offset < 0 ? nullptr : m_Data.data() + offset;
}

std::uint8_t* MemDisk::Logical(unsigned reservedTracks, unsigned logical) {
    const unsigned track = logical / m_Sectors + reservedTracks;
    return Sector(track / m_Heads, track % m_Heads, m_FirstSector + logical % m_Sectors);
}

DiskLibraryTable MemDisk::Table() {
    DiskLibraryTable table;
    table.dsk_open = &MemDisk::Open;
    table.dsk_creat = &MemDisk::Creat;
    table.dsk_close = &MemDisk::Close;
    table.dsk_pread = &MemDisk::Read;
    table.dsk_pwrite = &MemDisk::Write;
    table.dsk_getgeom = &MemDisk::GetGeom;
    table.dsk_apform = &MemDisk::Format;
    table.dg_stdformat = &MemDisk::StdFormat;
    table.dsk_ptrackids = &MemDisk::TrackIds;
    table.imagesAreHostFiles = false;
    return table;
}

dsk_err_t MemDisk::Open(DSK_PDRIVER* self, const char* path, const char*, const char*) {
    MemDisk* disk = Find(path);
    if (disk == nullptr || disk->failOpen)
        return DSK_ERR_NOTME;
    ++disk->opens;
    *self = reinterpret_cast<DSK_PDRIVER>(disk);
    return DSK_ERR_OK;
}

dsk_err_t MemDisk::Creat(DSK_PDRIVER* self, const char* path, const char*, const char*) {
    // A created disk starts empty; formatting gives it its tracks.
    Created().push_back(std::make_unique<MemDisk>(40, 1, 9, 1, 512, 0x00));
    MemDisk* disk = Created().back().get();
    disk->Register(path);
    ++disk->opens;
    *self = reinterpret_cast<DSK_PDRIVER>(disk);
    return DSK_ERR_OK;
}

dsk_err_t MemDisk::TrackIds(DSK_PDRIVER self, const DSK_GEOMETRY*, dsk_pcyl_t cyl,
                            dsk_phead_t head, dsk_psect_t* count, DSK_FORMAT** result) {
    MemDisk* disk = Self(self);
    if (cyl >= disk->m_Cylinders || head >= disk->m_Heads)
        return DSK_ERR_NOADDR;
    auto* ids = static_cast<DSK_FORMAT*>(std::malloc(sizeof(DSK_FORMAT) * disk->m_Sectors));
    for (unsigned k = 0; k < disk->m_Sectors; ++k)
        ids[k] = {cyl, head, disk->m_FirstSector + k, disk->m_SectorSize};
    *count = disk->m_Sectors;
    *result = ids;
    return DSK_ERR_OK;
}

dsk_err_t MemDisk::Close(DSK_PDRIVER* self) {
    if (*self != nullptr)
        ++Self(*self)->closes;
    *self = nullptr;
    return DSK_ERR_OK;
}

dsk_err_t MemDisk::Read(DSK_PDRIVER self, const DSK_GEOMETRY*, void* buf, dsk_pcyl_t cyl,
                        dsk_phead_t head, dsk_psect_t sector) {
    MemDisk* disk = Self(self);
    ++disk->reads;
    if (disk->failReadAt != 0 && disk->reads == disk->failReadAt)
        return DSK_ERR_DATAERR;
    if (disk->unreadable.count({cyl, head, sector}) != 0)
        return DSK_ERR_DATAERR;
    const long offset = disk->Offset(cyl, head, sector);
    if (offset < 0)
        return DSK_ERR_NOADDR;
    std::memcpy(buf, disk->m_Data.data() + offset, disk->m_SectorSize);
    return DSK_ERR_OK;
}

dsk_err_t MemDisk::Write(DSK_PDRIVER self, const DSK_GEOMETRY*, const void* buf,
                         dsk_pcyl_t cyl, dsk_phead_t head, dsk_psect_t sector) {
    MemDisk* disk = Self(self);
    ++disk->writes;
    if (disk->failWriteAt != 0 && disk->writes == disk->failWriteAt)
        return DSK_ERR_DATAERR;
    const long offset = disk->Offset(cyl, head, sector);
    if (offset < 0)
        return DSK_ERR_NOADDR;
    std::memcpy(disk->m_Data.data() + offset, buf, disk->m_SectorSize);
    disk->written.emplace_back(cyl, head, sector);
    return DSK_ERR_OK;
}

dsk_err_t MemDisk::GetGeom(DSK_PDRIVER self, DSK_GEOMETRY* geom) {
    MemDisk* disk = Self(self);
    if (disk->failGeometry)
        return DSK_ERR_BADFMT;
    *geom = disk->geometry;
    return DSK_ERR_OK;
}

dsk_err_t MemDisk::Format(DSK_PDRIVER self, DSK_GEOMETRY* geom, dsk_pcyl_t cyl,
                          dsk_phead_t head, unsigned char filler) {
    MemDisk* disk = Self(self);
    for (unsigned s = 0; s < geom->dg_sectors; ++s) {
        std::uint8_t* sector = disk->Sector(cyl, head, geom->dg_secbase + s);
        if (sector == nullptr)
            return DSK_ERR_NOADDR;
        std::memset(sector, filler, disk->m_SectorSize);
    }
    disk->written.emplace_back(cyl, head, 0);
    return DSK_ERR_OK;
}

dsk_err_t MemDisk::StdFormat(DSK_GEOMETRY* geom, dsk_format_t format, dsk_cchar_t*,
                             dsk_cchar_t*) {
    if (format != FMT_180K)
        return DSK_ERR_BADFMT;
    *geom = DSK_GEOMETRY{};
    geom->dg_sidedness = SIDES_ALT;
    geom->dg_cylinders = 40;
    geom->dg_heads = 1;
    geom->dg_sectors = 9;
    geom->dg_secbase = 1;
    geom->dg_secsize = 512;
    return DSK_ERR_OK;
}
