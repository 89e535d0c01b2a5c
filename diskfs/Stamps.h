#pragma once
// CP/M Plus's directory label and date stamps, as the PCW and +3DOS keep them.
//
// Label entry (status 0x20, anywhere in the directory):
//   1..11  the disk's name, space padded
//   12     mode: bit 0 the label exists, bit 4 create stamps, bit 5 update
//          stamps, bit 6 access stamps (instead of create), bit 7 passwords
//   16..23 the label's password (encoded)   24..31 its own two stamps
// Stamp entry (status 0x21): every fourth entry (index 3, 7, 11, ...) when
// the disk keeps stamps; it holds the stamps of the three entries before it,
// ten bytes each from byte 1 + 10 * (index mod 4):
//   0..3   create (or access) stamp   4..7  update stamp
//   8      password mode of the file  9     reserved
// A stamp is a day count, little-endian, day 1 being 1 January 1978, then
// the hour and the minute in BCD, in local time. All zeros: no stamp.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

constexpr std::uint8_t kLabelStatus = 0x20;
constexpr std::uint8_t kStampStatus = 0x21;

struct CpmStamp {
    std::uint16_t days = 0;
    std::uint8_t hour = 0;   // BCD
    std::uint8_t minute = 0; // BCD

    bool operator==(const CpmStamp&) const = default;
};

struct CalendarTime {
    int year, month, day, hour, minute;
};

// The date and time a stamp holds; nothing for no stamp (all zeros) or one
// whose hour or minute is no BCD time.
std::optional<CalendarTime> CalendarOf(const CpmStamp& stamp);
// "2026-12-07 23:57" (`separator` ' ') or "2026-12-07T23:57" ('T').
std::string FormatStamp(const CalendarTime& time, char separator);
// The moment, read as local time.
std::time_t TimeOfStamp(const CalendarTime& time);
// The stamp of a moment, in local time.
CpmStamp StampOfTime(std::time_t moment);

struct DiskLabel {
    std::string name; // "WORKDISK", trimmed
    std::uint8_t mode = 0;
    bool KeepsCreate() const { return (mode & 0x10) != 0; }
    bool KeepsUpdate() const { return (mode & 0x20) != 0; }
    bool KeepsAccess() const { return (mode & 0x40) != 0; }
    // "create", "access", "update": the stamps the label keeps, in that order.
    std::vector<const char*> KeptStamps() const;
};

// The label among the first `entries` entries of a directory, if any.
std::optional<DiskLabel> FindLabel(const std::uint8_t* directory, std::size_t entries);

// The stamps kept for the entry at `index`.
struct EntryStamps {
    CpmStamp first; // create, or access when the label says so
    CpmStamp update;
    std::uint8_t passwordMode = 0;
};
// Whether the directory keeps a stamp slot for the entry at `index` (its
// group's fourth entry is a stamp entry).
bool HasStampSlot(const std::uint8_t* directory, std::size_t entries, std::size_t index);
EntryStamps ReadStampSlot(const std::uint8_t* directory, std::size_t index);
void WriteStampSlot(std::uint8_t* directory, std::size_t index, const EntryStamps& stamps);
