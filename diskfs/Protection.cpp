// Only a disk with a track unlike the others (or read with errors) is
// looked at. The schemes and their signs, as Disk Image Manager's format analysis and
// SAMdisk's special formats document them (side 0's tracks; a sector is
// counted from 0 in the order its track holds it):
//   Alkatraz +3        " THE ALKATRAZ PROTECTION SYSTEM   (C) 1987  Appleby
//                      Associates" in track 0's first sector
//   Alkatraz CPC       a track of 18 sectors of 256 bytes
//   Hexagon            track 0 of 10 sectors (the ninth of 512 bytes) and
//                      "HEXAGON DISK PROTECTION c 1989" (or "Disk
//                      Protection") in tracks 0-3; unsigned, one of tracks
//                      0-3 holding one sector of size code 6 with ST1 0x20,
//                      ST2 0x60
//   Paul Owens         track 0 of 9 sectors, track 1 empty, over 10 tracks;
//                      "PAUL OWENS\x80PROTECTION SYS" in track 0's third
//                      sector, or unsigned track 2 of 6 sectors of 256 bytes
//   Speedlock          its copyright texts anywhere; unsigned +3 1987: track
//                      0 of 9 sectors, the seventh deleted data, the ninth
//                      not, track 1 of 5 sectors of 1024 bytes; +3 1988 the
//                      same with the ninth deleted too; 1989/90: track 0 of
//                      over 7 sectors, over 40 tracks, track 1 one sector id
//                      193 with ST1 0x20
//   Three Inch Loader  type 1 "***Loader Copyright Three Inch Software 1988,
//                      All Rights Reserved. Three Inch Software, 73 Surbiton
//                      Road, Kingston upon Thames, KT1 2HG***" in track 0's
//                      first (or eighth) sector; type 2 "***Loader Copyright
//                      Three Inch Software 1988, All Rights Reserved. 01-546
//                      2754" in its first; type 3 "Loader \x7f1988 Three
//                      Inch Software" in track 1's fifth
//   KBI-19, CAAV       a track of 19 sectors, "(c) 1986 for KBI " in its
//                      second sector (KBI-19) or "ALAIN LAURENT GENERATION 5
//                      1989" in its first (CAAV)
//   KBI-10             track 38 of 9 sectors, track 39 of 10 whose tenth has
//                      ST1 0x20 and ST2 0x20
//   Jacelock           "JacelocK Protection System" (its loader's own text)
//                      anywhere on a disk with a track of its own

#include "Protection.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string_view>

namespace {

using namespace std::string_view_literals;

class Side {
  public:
    Side(const std::vector<TrackRecord>& tracks, unsigned heads) {
        for (std::size_t t = 0; t < tracks.size(); t += std::max(heads, 1u))
            m_Tracks.push_back(&tracks[t]);
    }
    std::size_t Tracks() const { return m_Tracks.size(); }
    // Sectors of track t (0 for a track not there or unformatted).
    std::size_t Sectors(std::size_t t) const {
        return t < m_Tracks.size() ? m_Tracks[t]->sectors.size() : 0;
    }
    const SectorRecord* Sector(std::size_t t, std::size_t i) const {
        return i < Sectors(t) ? &m_Tracks[t]->sectors[i] : nullptr;
    }
    const TrackRecord* Track(std::size_t t) const {
        return t < m_Tracks.size() ? m_Tracks[t] : nullptr;
    }
    // The first track unlike the others (OddTrack), found once.
    std::optional<std::string> oddTrack;

  private:
    std::vector<const TrackRecord*> m_Tracks;
};

// Where `text` lies in the sector's data; -1 when it does not.
long Find(const SectorRecord* sector, std::string_view text) {
    if (sector == nullptr)
        return -1;
    const auto at =
        std::search(sector->data.begin(), sector->data.end(), text.begin(), text.end(),
                    [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    return at == sector->data.end() ? -1 : static_cast<long>(at - sector->data.begin());
}

std::string Signed(std::size_t track, const SectorRecord& sector, long offset,
                   std::string_view text) {
    std::string shown;
    for (const char c : text)
        shown += c >= 0x20 && c < 0x7F ? c : '.';
    return "signed at track " + std::to_string(track) + ", sector id " + std::to_string(sector.id) +
           ", byte " + std::to_string(offset) + ": \"" + shown + "\"";
}

// Sector `index` of track `track`, when it holds the text.
std::optional<std::string> SignedIn(const Side& side, std::size_t track, std::size_t index,
                                    std::string_view text) {
    if (const SectorRecord* sector = side.Sector(track, index)) {
        const long at = Find(sector, text);
        if (at >= 0)
            return Signed(track, *sector, at, text);
    }
    return std::nullopt;
}

std::optional<std::string> SignedAnywhere(const Side& side, std::size_t firstTrack,
                                          std::size_t endTrack, std::string_view text) {
    for (std::size_t t = firstTrack; t < endTrack && t < side.Tracks(); ++t)
        for (std::size_t i = 0; i < side.Sectors(t); ++i)
            if (auto found = SignedIn(side, t, i, text))
                return found;
    return std::nullopt;
}

// "5 × 1024", "9 × 512, 1 × 256"
std::string Shape(const TrackRecord& track) {
    std::map<std::uint32_t, unsigned, std::greater<>> sizes;
    for (const SectorRecord& sector : track.sectors)
        ++sizes[sector.Size()];
    std::string text;
    for (const auto& [size, count] : sizes)
        text += (text.empty() ? "" : ", ") + std::to_string(count) + " × " + std::to_string(size);
    return text.empty() ? "no sectors" : text;
}

std::string TrackSays(std::size_t t, const TrackRecord& track) {
    return "track " + std::to_string(t) + ": " + Shape(track);
}

// A track whose sectors (ids and sizes, a sector given twice counted once)
// are not those of most of the disk's tracks, one whose sectors the
// controller read with errors, or an empty track before others: "track 3
// holds 5 sectors of 1024 bytes".
std::optional<std::string> OddTrack(const Side& side) {
    using Layout = std::set<std::pair<std::uint8_t, std::uint32_t>>;
    const auto layoutOf = [](const TrackRecord& track) {
        Layout layout;
        for (const SectorRecord& sector : track.sectors)
            layout.insert({sector.id, sector.Size()});
        return layout;
    };
    std::map<Layout, unsigned> layouts;
    for (std::size_t t = 0; t < side.Tracks(); ++t)
        if (side.Sectors(t) != 0)
            ++layouts[layoutOf(*side.Track(t))];
    if (layouts.empty())
        return std::nullopt;
    const Layout usual =
        std::max_element(layouts.begin(), layouts.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first;
    std::size_t lastFull = 0;
    for (std::size_t t = 0; t < side.Tracks(); ++t)
        if (side.Sectors(t) != 0)
            lastFull = t;
    for (std::size_t t = 0; t < side.Tracks(); ++t) {
        const TrackRecord& track = *side.Track(t);
        // Empty tracks at the end are a disk formatted short, not a sign.
        if (track.sectors.empty() && t < lastFull)
            return "track " + std::to_string(t) + " holds no sectors";
        if (track.sectors.empty())
            continue;
        const bool flagged =
            std::any_of(track.sectors.begin(), track.sectors.end(), [](const SectorRecord& s) {
                return s.ErrorStatus() || s.Deleted() || s.Weak();
            });
        if (layoutOf(track) == usual && !flagged)
            continue;
        std::vector<std::uint32_t> sizes;
        for (const SectorRecord& sector : track.sectors)
            sizes.push_back(sector.Size());
        return "track " + std::to_string(t) + " holds " + std::to_string(track.sectors.size()) +
               (track.sectors.size() == 1 ? " sector of " : " sectors of ") +
               SectorSizesText(sizes) + " bytes" + (flagged ? ", read with errors" : "");
    }
    return std::nullopt;
}

using Finding = std::optional<ProtectionFinding>;

Finding Alkatraz(const Side& side) {
    if (auto found = SignedIn(side, 0, 0,
                              " THE ALKATRAZ PROTECTION SYSTEM   (C) 1987  Appleby Associates"sv))
        return ProtectionFinding{"Alkatraz +3", *found};
    for (std::size_t t = 0; t + 1 < side.Tracks(); ++t)
        if (side.Sectors(t) == 18 && side.Sector(t, 0)->Size() == 256)
            return ProtectionFinding{"Alkatraz CPC", TrackSays(t, *side.Track(t))};
    return std::nullopt;
}

Finding Hexagon(const Side& side) {
    if (side.Sectors(0) != 10 || side.Sector(0, 8)->Size() != 512 || side.Tracks() <= 2)
        return std::nullopt;
    for (const std::string_view text :
         {"HEXAGON DISK PROTECTION c 1989"sv, "HEXAGON Disk Protection c 1989"sv})
        if (auto found = SignedAnywhere(side, 0, 4, text))
            return ProtectionFinding{"Hexagon", *found};
    for (std::size_t t = 0; t < 4; ++t) {
        const SectorRecord* only = side.Sectors(t) == 1 ? side.Sector(t, 0) : nullptr;
        if (only != nullptr && only->sizeCode == 6 && only->st1 == 0x20 && only->st2 == 0x60)
            return ProtectionFinding{"Hexagon",
                                     "track 0: 10 sectors; track " + std::to_string(t) +
                                         ": 1 × 8192, data error in a deleted-data sector"};
    }
    return std::nullopt;
}

Finding PaulOwens(const Side& side) {
    if (side.Sectors(0) != 9 || side.Tracks() <= 10 || side.Sectors(1) != 0)
        return std::nullopt;
    if (auto found = SignedIn(side, 0, 2, "PAUL OWENS\x80PROTECTION SYS"sv))
        return ProtectionFinding{"Paul Owens", *found};
    if (side.Sectors(2) == 6 && side.Sector(2, 0)->Size() == 256)
        return ProtectionFinding{"Paul Owens", "track 0: 9 sectors; track 1: no sectors; " +
                                                   TrackSays(2, *side.Track(2))};
    return std::nullopt;
}

Finding Speedlock(const Side& side) {
    static constexpr std::array<std::pair<std::string_view, const char*>, 10> kSigned = {{
        {"SPEEDLOCK PROTECTION SYSTEM (C) 1987 D.LOOKER & D.AUBREY JONES : VERSION D/2.1",
         "Speedlock 1987 v2.1"},
        {"SPEEDLOCK DISC PROTECTION SYSTEMS COPYRIGHT 1987 ", "Speedlock disc 1987"},
        {"SPEEDLOCK +3 DISC PROTECTION SYSTEM COPYRIGHT 1987 SPEEDLOCK ASSOCIATES",
         "Speedlock +3 1987"},
        {"SPEEDLOCK +3 DISC PROTECTION SYSTEM COPYRIGHT 1988 SPEEDLOCK ASSOCIATES",
         "Speedlock +3 1988"},
        {"SPEEDLOCK DISC PROTECTION SYSTEMS (C) 1988 SPEEDLOCK ASSOCIATES", "Speedlock 1988"},
        {"SPEEDLOCK DISC PROTECTION SYSTEMS (C) 1989 SPEEDLOCK ASSOCIATES", "Speedlock 1989"},
        {"SPEEDLOCK DISC PROTECTION SYSTEMS (C) 1990 SPEEDLOCK ASSOCIATES", "Speedlock 1990"},
        {"SPEEDLOCK PROTECTION SYSTEM (C) 1985 ", "Speedlock 1985"},
        {"SPEEDLOCK PROTECTION SYSTEM (C) 1986 ", "Speedlock 1986"},
        {"SPEEDLOCK PROTECTION SYSTEM (C) 1987 ", "Speedlock 1987"},
    }};
    for (std::size_t t = 0; t < side.Tracks(); ++t)
        for (std::size_t i = 0; i < side.Sectors(t); ++i)
            for (const auto& [text, scheme] : kSigned)
                if (auto found = SignedIn(side, t, i, text))
                    return ProtectionFinding{scheme, *found};
    if (side.Sectors(0) == 9 && side.Sectors(1) == 5 && side.Sector(1, 0)->Size() == 1024 &&
        side.Sector(0, 6)->Deleted()) {
        const bool ninthDeleted = side.Sector(0, 8)->Deleted();
        return ProtectionFinding{
            ninthDeleted ? "Speedlock +3 1988" : "Speedlock +3 1987",
            std::string("track 0: 9 sectors, ") +
                (ninthDeleted ? "sectors 6 and 8 deleted data" : "sector 6 deleted data") +
                "; track 1: 5 × 1024"};
    }
    if (side.Sectors(0) > 7 && side.Tracks() > 40 && side.Sectors(1) == 1 &&
        side.Sector(1, 0)->id == 193 && (side.Sector(1, 0)->st1 & 0x20) != 0)
        return ProtectionFinding{"Speedlock 1989/90",
                                 "track 1: 1 sector, id 193, data error; over 40 tracks"};
    return std::nullopt;
}

Finding ThreeInchLoader(const Side& side) {
    static constexpr std::string_view kType1 =
        "***Loader Copyright Three Inch Software 1988, All Rights Reserved. Three Inch "
        "Software, 73 Surbiton Road, Kingston upon Thames, KT1 2HG***";
    if (auto found = SignedIn(side, 0, 0, kType1))
        return ProtectionFinding{"Three Inch Loader type 1", *found};
    if (auto found = SignedIn(side, 0, 7, kType1))
        return ProtectionFinding{"Three Inch Loader type 1", *found};
    if (auto found = SignedIn(
            side, 0, 0,
            "***Loader Copyright Three Inch Software 1988, All Rights Reserved. 01-546 2754"sv))
        return ProtectionFinding{"Three Inch Loader type 2", *found};
    if (auto found = SignedIn(side, 1, 4,
                              "Loader \x7f"
                              "1988 Three Inch Software"sv))
        return ProtectionFinding{"Three Inch Loader type 3", *found};
    return std::nullopt;
}

Finding Kbi(const Side& side) {
    std::optional<std::size_t> nineteen;
    for (std::size_t t = 0; t < side.Tracks(); ++t) {
        if (side.Sectors(t) != 19)
            continue;
        nineteen = t;
        if (auto found = SignedIn(side, t, 1, "(c) 1986 for KBI "sv))
            return ProtectionFinding{"KBI-19", *found};
        if (auto found = SignedIn(side, t, 0, "ALAIN LAURENT GENERATION 5 1989"sv))
            return ProtectionFinding{"CAAV", *found};
    }
    if (nineteen)
        return ProtectionFinding{"KBI-19 or CAAV", TrackSays(*nineteen, *side.Track(*nineteen))};
    if (side.Tracks() >= 40 && side.Sectors(39) == 10 && side.Sectors(38) == 9) {
        const SectorRecord* tenth = side.Sector(39, 9);
        if (tenth->st1 == 0x20 && tenth->st2 == 0x20)
            return ProtectionFinding{"KBI-10", "track 39: 10 sectors, the last with a data error"};
    }
    return std::nullopt;
}

Finding Jacelock(const Side& side) {
    if (!side.oddTrack)
        return std::nullopt;
    if (auto found = SignedAnywhere(side, 0, side.Tracks(), "JacelocK Protection System"sv))
        return ProtectionFinding{"Jacelock", *found + "; " + *side.oddTrack};
    return std::nullopt;
}

} // namespace

std::optional<ProtectionFinding> NameProtection(const std::vector<TrackRecord>& tracks,
                                                unsigned heads) {
    Side side(tracks, heads);
    // A disk whose tracks are all alike and read cleanly is protected by
    // nothing, whatever texts its files hold.
    side.oddTrack = OddTrack(side);
    if (side.Tracks() < 2 || side.Sectors(0) == 0 || !side.oddTrack)
        return std::nullopt;
    for (const auto detect :
         {Alkatraz, Hexagon, PaulOwens, Speedlock, ThreeInchLoader, Kbi, Jacelock})
        if (Finding found = detect(side))
            return found;
    return ProtectionFinding{"unknown", *side.oddTrack};
}
