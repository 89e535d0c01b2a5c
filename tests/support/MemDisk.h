#pragma once
// An in-memory disk behind a DiskLibraryTable: sectors addressed by cylinder,
// head and sector id, with transfers that can be made to fail on demand.

#include "DiskLibraryTable.h"
#include "IDiskOwner.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

class MemDisk {
public:
    MemDisk(unsigned cylinders, unsigned heads, unsigned sectors, unsigned firstSector,
            unsigned sectorSize, std::uint8_t fill = 0xE5);

    // Registers the disk under a path that the table's open entry accepts.
    void Register(const std::string& path);
    static void UnregisterAll();
    static MemDisk* Find(const std::string& path);
    static DiskLibraryTable Table();

    std::uint8_t* Sector(unsigned cylinder, unsigned head, unsigned id);
    // Logical sector of the data area, for a disk with the given reserved tracks.
    std::uint8_t* Logical(unsigned reservedTracks, unsigned logical);
    unsigned SectorSize() const { return m_SectorSize; }
    std::vector<std::uint8_t> Contents() const { return m_Data; }
    void Restore(const std::vector<std::uint8_t>& data) { m_Data = data; }

    DSK_GEOMETRY geometry{};
    // Geometry reported by getgeom; starts equal to the real layout (the
    // track ids reported stay the real ones).
    bool failOpen = false;
    bool failGeometry = false;
    // Fail the n-th read or write from now on (1-based); 0 = never.
    unsigned failReadAt = 0;
    unsigned failWriteAt = 0;
    // Sectors that can never be read.
    std::set<std::tuple<unsigned, unsigned, unsigned>> unreadable;
    unsigned reads = 0;
    unsigned writes = 0;
    unsigned opens = 0;
    unsigned closes = 0;
    // Every sector written: (cylinder, head, id).
    std::vector<std::tuple<unsigned, unsigned, unsigned>> written;

private:
    static dsk_err_t Open(DSK_PDRIVER* self, const char* path, const char*, const char*);
    static dsk_err_t Creat(DSK_PDRIVER* self, const char* path, const char*, const char*);
    static dsk_err_t Close(DSK_PDRIVER* self);
    static dsk_err_t Read(DSK_PDRIVER self, const DSK_GEOMETRY*, void* buf, dsk_pcyl_t cyl,
                          dsk_phead_t head, dsk_psect_t sector);
    static dsk_err_t Write(DSK_PDRIVER self, const DSK_GEOMETRY*, const void* buf,
                           dsk_pcyl_t cyl, dsk_phead_t head, dsk_psect_t sector);
    static dsk_err_t GetGeom(DSK_PDRIVER self, DSK_GEOMETRY* geom);
    static dsk_err_t Format(DSK_PDRIVER self, DSK_GEOMETRY* geom, dsk_pcyl_t cyl,
                            dsk_phead_t head, unsigned char filler);
    static dsk_err_t TrackIds(DSK_PDRIVER self, const DSK_GEOMETRY*, dsk_pcyl_t cyl,
                              dsk_phead_t head, dsk_psect_t* count, DSK_FORMAT** result);
    static dsk_err_t StdFormat(DSK_GEOMETRY* geom, dsk_format_t format, dsk_cchar_t*,
                               dsk_cchar_t*);
    long Offset(unsigned cylinder, unsigned head, unsigned id) const;

    unsigned m_Cylinders, m_Heads, m_Sectors, m_FirstSector, m_SectorSize;
    std::vector<std::uint8_t> m_Data;
};

// An owner that serves a MemDisk table (or any table).
class TestOwner : public IDiskOwner {
  public:
    explicit TestOwner(DiskLibraryTable table = MemDisk::Table()) : m_Table(table) {}
    const DiskLibraryTable& LibraryTable() const override { return m_Table; }

  private:
    DiskLibraryTable m_Table;
};
