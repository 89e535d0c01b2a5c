#include "Stamps.h"

#include "DiskStructs.h"

#include <cstdio>

namespace {

constexpr int kFirstYear = 1978;

bool LeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

bool FromBcd(std::uint8_t bcd, int limit, int& value) {
    if ((bcd & 0x0F) > 9 || (bcd >> 4) > 9)
        return false;
    value = (bcd >> 4) * 10 + (bcd & 0x0F);
    return value < limit;
}

std::uint8_t ToBcd(int value) { return static_cast<std::uint8_t>((value / 10) << 4 | value % 10); }

std::size_t SlotOffset(std::size_t index) {
    return (index | 3) * kDirEntrySize + 1 + 10 * (index & 3);
}

} // namespace

std::optional<CalendarTime> CalendarOf(const CpmStamp& stamp) {
    if (stamp == CpmStamp{})
        return std::nullopt;
    CalendarTime time{};
    if (stamp.days == 0 || !FromBcd(stamp.hour, 24, time.hour) || !FromBcd(stamp.minute, 60, time.minute))
        return std::nullopt;
    int days = stamp.days;
    time.year = kFirstYear;
    while (days > (LeapYear(time.year) ? 366 : 365)) {
        days -= LeapYear(time.year) ? 366 : 365;
        ++time.year;
    }
    time.month = 1;
    while (days > DaysInMonth(time.year, time.month)) {
        days -= DaysInMonth(time.year, time.month);
        ++time.month;
    }
    time.day = days;
    return time;
}

std::string FormatStamp(const CalendarTime& time, char separator) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d", time.year, time.month, time.day,
                  separator, time.hour, time.minute);
    return text;
}

std::time_t TimeOfStamp(const CalendarTime& time) {
    std::tm parts{};
    parts.tm_year = time.year - 1900;
    parts.tm_mon = time.month - 1;
    parts.tm_mday = time.day;
    parts.tm_hour = time.hour;
    parts.tm_min = time.minute;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

CpmStamp StampOfTime(std::time_t moment) {
    std::tm parts{};
    localtime_r(&moment, &parts);
    CpmStamp stamp;
    int days = parts.tm_yday + 1;
    for (int year = kFirstYear; year < parts.tm_year + 1900; ++year)
        days += LeapYear(year) ? 366 : 365;
    stamp.days = static_cast<std::uint16_t>(days);
    stamp.hour = ToBcd(parts.tm_hour);
    stamp.minute = ToBcd(parts.tm_min);
    return stamp;
}

std::vector<const char*> DiskLabel::KeptStamps() const {
    std::vector<const char*> kept;
    if (KeepsCreate())
        kept.push_back("create");
    if (KeepsAccess())
        kept.push_back("access");
    if (KeepsUpdate())
        kept.push_back("update");
    return kept;
}

std::optional<DiskLabel> FindLabel(const std::uint8_t* directory, std::size_t entries) {
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* raw = directory + i * kDirEntrySize;
        if (raw[0] != kLabelStatus)
            continue;
        DiskLabel label;
        for (std::size_t k = 1; k <= kNameLen + kTypeLen; ++k)
            label.name += static_cast<char>(raw[k] & 0x7F);
        while (!label.name.empty() && label.name.back() == ' ')
            label.name.pop_back();
        label.mode = raw[12];
        return label;
    }
    return std::nullopt;
}

bool HasStampSlot(const std::uint8_t* directory, std::size_t entries, std::size_t index) {
    return (index & 3) != 3 && (index | 3) < entries && directory[(index | 3) * kDirEntrySize] == kStampStatus;
}

EntryStamps ReadStampSlot(const std::uint8_t* directory, std::size_t index) {
    const std::uint8_t* slot = directory + SlotOffset(index);
    EntryStamps stamps;
    stamps.first = {static_cast<std::uint16_t>(slot[0] | slot[1] << 8), slot[2], slot[3]};
    stamps.update = {static_cast<std::uint16_t>(slot[4] | slot[5] << 8), slot[6], slot[7]};
    stamps.passwordMode = slot[8];
    return stamps;
}

void WriteStampSlot(std::uint8_t* directory, std::size_t index, const EntryStamps& stamps) {
    std::uint8_t* slot = directory + SlotOffset(index);
    slot[0] = static_cast<std::uint8_t>(stamps.first.days);
    slot[1] = static_cast<std::uint8_t>(stamps.first.days >> 8);
    slot[2] = stamps.first.hour;
    slot[3] = stamps.first.minute;
    slot[4] = static_cast<std::uint8_t>(stamps.update.days);
    slot[5] = static_cast<std::uint8_t>(stamps.update.days >> 8);
    slot[6] = stamps.update.hour;
    slot[7] = stamps.update.minute;
    slot[8] = stamps.passwordMode;
    slot[9] = 0;
}
