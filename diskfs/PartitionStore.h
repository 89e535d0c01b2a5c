#pragma once
// The sectors of one partition of a hard-disk image, read from the file as
// they are needed and written through a rollback journal (Journal.h): a
// change's writes are held here until it is saved, and only the sectors it
// wrote are written, in place.

#include "HardDisk.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>

class CPartitionStore {
  public:
    static constexpr std::size_t kSectorBytes = 512;

    CPartitionStore() = default;
    ~CPartitionStore() { Close(); }
    CPartitionStore(const CPartitionStore&) = delete;
    CPartitionStore& operator=(const CPartitionStore&) = delete;

    // Opens the partition of the image file at `hostPath` (read-write where
    // the file may be written).
    bool Open(const std::string& hostPath, const HardDisk& disk, const HardDiskPartition& partition,
              std::string& cause);
    void Close();
    bool IsOpen() const { return m_Fd >= 0; }
    bool Writable() const { return m_bWritable; }

    // One 512-byte sector counted from the partition's first byte, as the
    // change under way left it; false past the partition or the file.
    bool Read(std::uint32_t sector, std::uint8_t* buffer) const;
    // Held until Commit; false past the partition.
    bool Write(std::uint32_t sector, const std::uint8_t* buffer);
    std::uint32_t Sectors() const;
    // Forgets the writes not yet saved.
    void Drop() { m_Pending.clear(); }
    // Saves the writes held (in place, through the journal); false with
    // the cause, the image then as it was.
    bool Commit(const std::string& hostPath, std::string& cause);

  private:
    int m_Fd = -1;
    bool m_bWritable = false;
    HardDisk m_Disk;
    HardDiskPartition m_Partition;
    std::map<std::uint32_t, std::array<std::uint8_t, kSectorBytes>> m_Pending;
};

// The hard-disk image at `path`, its partition table read after any
// unfinished change was rolled back, under the image's lock (taken here
// unless `lockHeld`). False with the cause when the file is no hard-disk
// image or cannot be read.
bool ReadHardDiskImage(const std::string& path, HardDisk& disk, std::string& cause,
                       bool lockHeld = false);
// Whether the host file at `path` is a hard-disk image (its first bytes).
bool IsHardDiskFile(const std::string& path);
