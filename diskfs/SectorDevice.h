#pragma once
// The disk as LibDsk gives it: the library handle, the geometry, where each
// logical sector of the data area lies (CSectorMap), and the sector
// transfers. The only code that calls the library's sector reads and writes.

#include "CpmVolume.h"
#include "DiskLibraryTable.h"
#include "IDiskOwner.h"
#include "Layout.h"
#include "PartitionStore.h"
#include "SectorMap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

// A dsk_err_t that stands for "the library cannot do this": used when a slot
// of the table is empty, so that callers see an ordinary refusal.
constexpr dsk_err_t kNoEntry = DSK_ERR_NOTIMPL;

class CSectorDevice final : public ILogicalSectors {
  public:
    explicit CSectorDevice(IDiskOwner& owner) : m_Owner(owner) {}
    CSectorDevice(const CSectorDevice&) = delete;
    CSectorDevice& operator=(const CSectorDevice&) = delete;

    // The library's handle the transfers go to: on the image, or on the
    // working copy of a change. Null when none is open.
    DSK_PDRIVER Handle() const { return m_Handle; }
    // A partition of a hard-disk image, read and written without the
    // library: the transfers go there while it is open.
    CPartitionStore partition;
    // Opens the image at `path` (or creates a .dsk there) through the
    // library; the handle stays null when that fails.
    // What the open found out of the file goes to `facts`, when given.
    dsk_err_t Open(const std::string& path, OpenFacts* facts = nullptr);
    dsk_err_t Create(const std::string& path);
    // Puts `other` in the place of the handle the transfers go to, and
    // returns that one: a change sends them to its working copy so.
    DSK_PDRIVER Exchange(DSK_PDRIVER other) {
        std::swap(m_Handle, other);
        return other;
    }
    // LibDsk's geometry, with the cylinders and heads the container holds.
    DSK_GEOMETRY geometry{};
    // The geometry was fetched and accepted; no transfer runs before.
    bool geometryValid = false;
    // The disk's figures and where each logical sector lies.
    CSectorMap map;
    // The layout logical sectors are counted by (the volume's).
    const DiskLayout* layout = nullptr;
    // Called before a transfer when no handle is open: opens it again where
    // a save left it closed; false when there is none.
    std::function<bool()> reopen;

    // Closes the handle through the library, if one is open; the library's
    // result (LibDsk writes out what it kept in memory only then).
    dsk_err_t Close();
    dsk_err_t ReadSector(std::uint16_t cylinder, std::uint8_t head, std::uint16_t sector,
                         std::uint8_t* buffer);
    dsk_err_t WriteSector(std::uint16_t cylinder, std::uint8_t head, std::uint16_t sector,
                          const std::uint8_t* buffer);
    // The first of the track's run of sector ids: LibDsk's guess when the
    // track holds sectors-per-track ids from it on, else the lowest id on
    // the track when they follow from that, else the guess.
    std::uint16_t TrackFirstSectorId(std::uint16_t cylinder, std::uint8_t head,
                                     std::uint16_t guess);
    // One logical sector counted from the first sector of logical track 0.
    int ReadLogical(std::uint32_t logical, std::uint8_t* buffer) override;
    int WriteLogical(std::uint32_t logical, const std::uint8_t* buffer) override;
    // The library's error in its own words ("library error N" where it has
    // none).
    std::string ErrorText(dsk_err_t err) const;
    // "cylinder 3, head 0, sector 4: Data error", in the library's words.
    std::string FaultText(std::uint32_t logical, int error) const override;

  private:
    // A handle is open, or could be opened again.
    bool Ready();
    // The partition's sector at that address (UINT32_MAX for none).
    std::uint32_t PartitionSector(std::uint16_t cylinder, std::uint8_t head,
                                  std::uint16_t sector) const;

    IDiskOwner& m_Owner;
    DSK_PDRIVER m_Handle = nullptr;
};

struct DiskFormat;
// LibDsk's geometry for a known format: its own for those it knows (pcw180,
// pcw720, cpcdata, cpcsys), else the format's figures with the gaps of a
// track of nine or ten sectors.
dsk_err_t GeometryOfFormat(const DiskFormat& format, const DiskLibraryTable& lib,
                           DSK_GEOMETRY& geometry);
