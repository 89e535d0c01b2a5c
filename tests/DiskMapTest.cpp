// The disk map: every sector's part in the file system, each file's blocks
// and runs, and what the container records of each sector; checked against
// disks built byte by byte and against where cpmtools finds the files.

#include "../cli/MapPicture.h"
#include "support/DiskBuilder.h"
#include "support/DskWriter.h"
#include "support/HostTools.h"
#include "support/PngReader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>

namespace {

using nlohmann::json;

json MapOf(const std::string& image) {
    const CommandResult result = RunCommand(Cli("map --json " + Quote(image)));
    EXPECT_EQ(result.status, 0) << result.out;
    return json::parse(result.out);
}

const json& SectorAt(const json& map, unsigned cylinder, unsigned id) {
    for (const json& track : map["tracks"])
        if (track["cylinder"] == cylinder && track["head"] == 0)
            for (const json& sector : track["sectors"])
                if (sector["id"] == id)
                    return sector;
    static const json none;
    return none;
}

// A +3 180K disk (one reserved track, 1K blocks of two sectors, blocks 0
// and 1 the directory) whose block b lies on cylinder 1 + 2b / 9 at ids
// 1 + 2b % 9 and the next.
struct Place {
    unsigned cylinder, id;
};
std::vector<Place> SectorsOfBlock(unsigned block) {
    return {{1 + 2 * block / 9, 1 + 2 * block % 9},
            {1 + (2 * block + 1) / 9, 1 + (2 * block + 1) % 9}};
}

} // namespace

TEST(DiskMap, ByteBuiltDiskShowsEachSectorsPart) {
    TempDir dir;
    DskWriter disk(40);
    const DirEntry entries[] = {MakeEntry(0, "FRAG", "BIN", 24, {2, 3, 6}),
                                MakeEntry(0, "TWO", "BIN", 16, {4, 5}),
                                MakeEntry(0, "THIEF", "BIN", 16, {5, 7})};
    for (unsigned i = 0; i < 3; ++i)
        disk.PutEntry(1, i, &entries[i]);
    disk.Track(10).sectors[2].data.resize(1024, 0x11); // two copies: a weak sector
    disk.Track(11).sectors[3].st1 = 0x20;              // CRC error
    disk.Track(11).sectors[3].st2 = 0x20;
    disk.Track(12).sectors[4].st2 = 0x40;                             // deleted data
    disk.Track(13).sectors[5].data.clear();                           // listed, but no data kept
    disk.Track(14).sectors.erase(disk.Track(14).sectors.begin() + 6); // id 7 missing
    disk.FiveSectorsOf1024From(38);
    const std::string image = dir / "map.dsk";
    disk.Save(image);
    const json map = MapOf(image);

    // Files, their runs, the shared block.
    const std::map<std::string, std::pair<std::vector<unsigned>, std::vector<unsigned>>> files = {
        {"0:FRAG.BIN", {{2, 3, 6}, {2, 2, 6, 1}}},
        {"0:TWO.BIN", {{4, 5}, {4, 2}}},
        {"0:THIEF.BIN", {{5, 7}, {5, 1, 7, 1}}},
    };
    ASSERT_EQ(map["files"].size(), files.size());
    for (const json& file : map["files"]) {
        const auto& [blocks, runs] = files.at(file["name"]);
        EXPECT_EQ(file["blocks"].get<std::vector<unsigned>>(), blocks) << file["name"];
        std::vector<unsigned> got;
        for (const json& run : file["fragments"])
            got.insert(got.end(), {run["first"].get<unsigned>(), run["blocks"].get<unsigned>()});
        EXPECT_EQ(got, runs) << file["name"];
        std::vector<unsigned> sectors;
        for (const json& at : file["sectors"])
            sectors.insert(sectors.end(),
                           {at["cylinder"].get<unsigned>(), at["sector"].get<unsigned>()});
        std::vector<unsigned> expected;
        for (const unsigned block : blocks)
            for (const Place& place : SectorsOfBlock(block))
                expected.insert(expected.end(), {place.cylinder, place.id});
        EXPECT_EQ(sectors, expected) << file["name"];
    }
    EXPECT_EQ(map["sharedBlocks"], json::array({5}));

    // Every sector of the first tracks, by what lies there.
    std::map<std::pair<unsigned, unsigned>, std::pair<std::string, json>> expected;
    for (unsigned id = 1; id <= 9; ++id)
        expected[{0, id}] = {id == 1 ? "boot" : "reserved", nullptr};
    for (unsigned block = 0; block < 12; ++block)
        for (const Place& place : SectorsOfBlock(block))
            expected[{place.cylinder, place.id}] = {"free", nullptr};
    for (const unsigned block : {0, 1})
        for (const Place& place : SectorsOfBlock(block))
            expected[{place.cylinder, place.id}] = {"directory", nullptr};
    for (const auto& [name, blocks] : files)
        for (const unsigned block : blocks.first)
            for (const Place& place : SectorsOfBlock(block)) {
                auto& [use, owners] = expected[{place.cylinder, place.id}];
                use = use == "file" ? "shared" : "file";
                owners.push_back(name);
            }
    for (const auto& [place, what] : expected) {
        const json& sector = SectorAt(map, place.first, place.second);
        EXPECT_EQ(sector["use"], what.first) << place.first << "/" << place.second;
        if (what.second.is_array()) {
            std::set<std::string> owners(what.second.begin(), what.second.end());
            EXPECT_EQ(sector["files"].get<std::set<std::string>>(), owners);
        }
        EXPECT_FALSE(sector["unreadable"]);
    }

    // What the container records of a sector, and the sectors that cannot be read.
    EXPECT_TRUE(SectorAt(map, 10, 3)["weak"]);
    EXPECT_TRUE(SectorAt(map, 11, 4)["errorStatus"]);
    EXPECT_TRUE(SectorAt(map, 12, 5)["deleted"]);
    EXPECT_FALSE(SectorAt(map, 12, 5)["errorStatus"]);
    EXPECT_TRUE(SectorAt(map, 13, 6)["unreadable"]);
    EXPECT_TRUE(SectorAt(map, 14, 7)["missing"]);
    EXPECT_TRUE(SectorAt(map, 14, 7)["unreadable"]);
    EXPECT_EQ(SectorAt(map, 14, 7)["use"], "free");
    // A track that lacks one of the layout's sectors is not the layout's
    // either: it is never written.
    for (const json& track : map["tracks"]) {
        const unsigned cylinder = track["cylinder"];
        EXPECT_EQ(track["ownFormat"], cylinder == 13 || cylinder == 14 || cylinder >= 38)
            << cylinder;
        const bool own = cylinder >= 38;
        std::size_t other = 0, flagged = 0;
        for (const json& sector : track["sectors"]) {
            other += sector["use"] == "other";
            flagged += sector["weak"] || sector["errorStatus"] || sector["deleted"] ||
                       sector["unreadable"];
        }
        EXPECT_EQ(other, own ? 5u : 0u) << cylinder;
        if (!own) {
            EXPECT_EQ(flagged, cylinder >= 10 && cylinder <= 14 ? 1u : 0u) << cylinder;
        }
    }

    // The text grid: track 1 holds the directory, then FRAG (A) and TWO (B).
    const std::string text = RunCommand(Cli("map " + Quote(image))).out;
    EXPECT_NE(text.find("  1:0  # # # # A A A A B\n"), std::string::npos) << text;
    EXPECT_NE(
        text.find(
            " 13:0  . . . . . .!. . . 9 sectors of 512 bytes, ids 1-9: a format of its own\n"),
        std::string::npos)
        << text;
    EXPECT_NE(text.find("Block 5 is named by 0:TWO.BIN, 0:THIEF.BIN"), std::string::npos) << text;

    // The picture, cell by cell: one colour per part (per file for files),
    // each shown in the legend, no two parts alike.
    ASSERT_EQ(RunCommand(Cli("map " + Quote(image) + " --png " + Quote(dir / "map.png"))).status,
              0);
    const Picture picture = DecodePng(ReadFile(dir / "map.png"));
    ASSERT_GT(picture.width, 0u);
    const auto colour = [&](MapPoint at) {
        const std::size_t i = (std::size_t{at.y} * picture.width + at.x) * 3;
        return std::array<unsigned, 3>{picture.rgb.at(i), picture.rgb.at(i + 1),
                                       picture.rgb.at(i + 2)};
    };
    std::set<std::array<unsigned, 3>> swatches;
    for (std::size_t line = 0; line < 12; ++line)
        swatches.insert(colour(MapSwatchCorner(map["tracks"].size(), line)));
    std::map<std::string, std::array<unsigned, 3>> colourOfPart;
    std::set<std::array<unsigned, 3>> seen;
    for (std::size_t row = 0; row < map["tracks"].size(); ++row) {
        const json& sectors = map["tracks"][row]["sectors"];
        for (std::size_t column = 0; column < sectors.size(); ++column) {
            const json& sector = sectors[column];
            const std::string part =
                sector["use"].get<std::string>() +
                (sector["use"] == "file" ? sector["files"][0].get<std::string>() : "");
            const auto got = colour(MapCellCorner(row, column));
            const auto [at, added] = colourOfPart.emplace(part, got);
            EXPECT_EQ(at->second, got) << part << " at row " << row << ", column " << column;
            if (added) {
                EXPECT_TRUE(seen.insert(got).second) << part << " has another part's colour";
                EXPECT_TRUE(swatches.count(got)) << part << " is not in the legend";
            }
        }
    }
    // boot, reserved, directory, free, unused (the last sector), shared, other, 3 files
    EXPECT_EQ(colourOfPart.size(), 10u);
}

// Each file's sectors, read in the map's order from the disk as LibDsk's
// dsktrans writes it out, hold what cpmtools copies out of it.
TEST(DiskMap, FilesLieWhereCpmtoolsReadsThem) {
    if (!HaveProgram("cpmcp") || !HaveProgram("dsktrans") || !HaveProgram("dskform"))
        GTEST_SKIP() << "cpmtools or LibDsk's tools are not installed";
    TempDir dir;
    struct Disk {
        std::string image, type, format;
    };
    std::vector<Disk> disks;
    // A +3 disk made fragmented by copies and deletions (seeded).
    const std::string churned = dir / "churned.dsk";
    ASSERT_EQ(RunCommand("dskform -type dsk -format pcw180 " + Quote(churned)).status, 0);
    std::mt19937 random(37);
    for (int round = 0; round < 24; ++round) {
        const std::string name = "F" + std::to_string(round % 9) + ".BIN";
        std::vector<unsigned char> bytes(1 + random() % 9000);
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(random());
        WriteFile(dir / "in", bytes);
        RunCommand("cpmrm -T dsk -f pcw " + Quote(churned) + " 0:" + name);
        ASSERT_EQ(RunCommand("cpmcp -T dsk -f pcw " + Quote(churned) + " " + Quote(dir / "in") +
                             " 0:" + name)
                      .status,
                  0);
    }
    disks.push_back({churned, "dsk", "pcw"});
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        std::cout << "The real-world disks are not here: only the churned disk is mapped.\n";
    else {
        disks.push_back({corpus + "/pcw_180k_cpm3_u765test_edsk.dsk", "edsk", "pcw"});
        disks.push_back({corpus + "/cpc_data_57files_two_users_edsk.dsk", "edsk", "cpcdata"});
        disks.push_back({corpus + "/cpc_system_choicecheats_edsk.dsk", "edsk", "cpcsys"});
    }
    bool fragmented = false;
    for (const Disk& disk : disks) {
        SCOPED_TRACE(disk.image);
        const json map = MapOf(disk.image);
        const std::string raw = dir / "raw";
        ASSERT_EQ(RunCommand("dsktrans -otype raw " + Quote(disk.image) + " " + Quote(raw)).status,
                  0);
        const std::vector<unsigned char> sectors = ReadFile(raw);
        unsigned firstId = 255;
        for (const json& sector : map["tracks"][0]["sectors"])
            firstId = std::min(firstId, sector["id"].get<unsigned>());
        for (const json& file : map["files"]) {
            const std::string name = file["name"];
            fragmented = fragmented || file["fragments"].size() > 1;
            ASSERT_EQ(RunCommand("cpmcp -T " + disk.type + " -f " + disk.format + " " +
                                 Quote(disk.image) + " " + Quote(name) + " " + Quote(dir / "out"))
                          .status,
                      0)
                << name;
            const std::vector<unsigned char> copied = ReadFile(dir / "out");
            std::vector<unsigned char> read;
            for (const json& at : file["sectors"]) {
                const std::size_t offset = (at["cylinder"].get<std::size_t>() * 9 +
                                            at["sector"].get<std::size_t>() - firstId) *
                                           512;
                ASSERT_LE(offset + 512, sectors.size()) << name;
                read.insert(read.end(), sectors.begin() + static_cast<long>(offset),
                            sectors.begin() + static_cast<long>(offset) + 512);
            }
            ASSERT_GE(read.size(), copied.size()) << name;
            EXPECT_TRUE(std::equal(copied.begin(), copied.end(), read.begin())) << name;
        }
    }
    EXPECT_TRUE(fragmented) << "no disk held a file in more than one run";
}

namespace {

void Sign(DskSector& sector, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), sector.data.begin() + static_cast<long>(at));
}
DskTrack SectorsOf(unsigned count, std::uint8_t sizeCode, std::uint8_t firstId = 1) {
    DskTrack track;
    for (unsigned i = 0; i < count; ++i)
        track.sectors.push_back({static_cast<std::uint8_t>(firstId + i), sizeCode, 0, 0,
                                 std::vector<std::uint8_t>(128u << sizeCode, 0xE5)});
    return track;
}

} // namespace

// One container per scheme, built from the signs it is known by; a plain disk,
// and one whose file merely quotes a scheme's text, name none.
TEST(Protection, EachSchemeIsNamedFromItsTracks) {
    struct Case {
        const char* scheme;
        const char* evidence;
        unsigned cylinders;
        std::function<void(DskWriter&)> build;
    };
    const std::string speedlock88 =
        "SPEEDLOCK +3 DISC PROTECTION SYSTEM COPYRIGHT 1988 SPEEDLOCK ASSOCIATES";
    const std::string threeInch =
        "***Loader Copyright Three Inch Software 1988, All Rights Reserved. ";
    const auto oddTrack = [](DskWriter& disk) { disk.Track(1) = SectorsOf(5, 3); };
    const Case cases[] = {
        {"Speedlock +3 1987", "track 0: 9 sectors, sector 6 deleted data; track 1: 5 × 1024", 40,
         [&](DskWriter& disk) {
             disk.Track(0).sectors[6].st2 = 0x40;
             oddTrack(disk);
         }},
        {"Speedlock +3 1988", "track 0: 9 sectors, sectors 6 and 8 deleted data; track 1: 5 × 1024",
         40,
         [&](DskWriter& disk) {
             disk.Track(0).sectors[6].st2 = disk.Track(0).sectors[8].st2 = 0x40;
             oddTrack(disk);
         }},
        {"Speedlock +3 1988", "signed at track 0, sector id 1, byte 304", 40,
         [&](DskWriter& disk) {
             Sign(disk.Track(0).sectors[0], 304, speedlock88);
             oddTrack(disk);
         }},
        {"Speedlock 1989/90", "track 1: 1 sector, id 193", 42,
         [&](DskWriter& disk) {
             disk.Track(1) = SectorsOf(1, 2, 193);
             disk.Track(1).sectors[0].st1 = 0x20;
         }},
        {"Alkatraz +3", "signed at track 0, sector id 1, byte 16", 40,
         [&](DskWriter& disk) {
             Sign(disk.Track(0).sectors[0], 16,
                  " THE ALKATRAZ PROTECTION SYSTEM   (C) 1987  Appleby Associates");
             oddTrack(disk);
         }},
        {"Paul Owens", "track 1: no sectors; track 2: 6 × 256", 40,
         [&](DskWriter& disk) {
             disk.Track(1) = DskTrack{};
             disk.Track(2) = SectorsOf(6, 1);
         }},
        {"Paul Owens", "signed at track 0, sector id 3", 40,
         [&](DskWriter& disk) {
             disk.Track(1) = DskTrack{};
             Sign(disk.Track(0).sectors[2], 40, "PAUL OWENS\x80PROTECTION SYS");
         }},
        {"Three Inch Loader type 1", "signed at track 0, sector id 1, byte 0", 40,
         [&](DskWriter& disk) {
             Sign(disk.Track(0).sectors[0], 0,
                  threeInch +
                      "Three Inch Software, 73 Surbiton Road, Kingston upon Thames, KT1 2HG***");
             oddTrack(disk);
         }},
        {"Three Inch Loader type 2", "signed at track 0, sector id 1", 40,
         [&](DskWriter& disk) {
             Sign(disk.Track(0).sectors[0], 100, threeInch + "01-546 2754");
             oddTrack(disk);
         }},
        {"Three Inch Loader type 3", "signed at track 1, sector id 5", 40,
         [&](DskWriter& disk) {
             Sign(disk.Track(1).sectors[4], 7,
                  "Loader \x7f"
                  "1988 Three Inch Software");
             disk.Track(2) = SectorsOf(5, 3);
         }},
        {"Hexagon", "signed at track 2, sector id 4", 40,
         [&](DskWriter& disk) {
             disk.Track(0) = SectorsOf(10, 2);
             Sign(disk.Track(2).sectors[3], 200, "HEXAGON DISK PROTECTION c 1989");
         }},
        {"Hexagon", "track 1: 1 × 8192", 40,
         [&](DskWriter& disk) {
             disk.Track(0) = SectorsOf(10, 2);
             disk.Track(1) = SectorsOf(1, 6);
             disk.Track(1).sectors[0].st1 = 0x20;
             disk.Track(1).sectors[0].st2 = 0x60;
         }},
        {"KBI-19", "signed at track 5, sector id 1", 40,
         [&](DskWriter& disk) {
             disk.Track(5) = SectorsOf(19, 2, 0);
             Sign(disk.Track(5).sectors[1], 0, "(c) 1986 for KBI by L. TOURNIER");
         }},
        {"CAAV", "signed at track 5, sector id 0", 40,
         [&](DskWriter& disk) {
             disk.Track(5) = SectorsOf(19, 2, 0);
             Sign(disk.Track(5).sectors[0], 60, "ALAIN LAURENT GENERATION 5 1989");
         }},
        {"KBI-19 or CAAV", "track 5: 19 × 512", 40,
         [&](DskWriter& disk) { disk.Track(5) = SectorsOf(19, 2, 0); }},
        {"unknown", "track 3 holds 5 sectors of 1024 bytes", 40,
         [&](DskWriter& disk) { disk.Track(3) = SectorsOf(5, 3); }},
        {"unknown", "track 7 holds 9 sectors of 512 bytes, read with errors", 40,
         [&](DskWriter& disk) { disk.Track(7).sectors[2].st2 = 0x20; }},
        {nullptr, nullptr, 40, [](DskWriter&) {}},
        {nullptr, nullptr, 40,
         [&](DskWriter& disk) { Sign(disk.Track(5).sectors[0], 0, speedlock88); }},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scheme == nullptr ? "plain" : std::string(c.scheme) + ", " + c.evidence);
        DskWriter disk(c.cylinders);
        c.build(disk);
        const std::string image = dir / "protected.dsk";
        disk.Save(image);
        // (A disk with a track of its own format loads read-only: exit 1.)
        const CommandResult info = RunCommand(Cli("info --json " + Quote(image)));
        ASSERT_FALSE(info.out.empty());
        const json protection = json::parse(info.out)["protection"];
        // The map names the same, and draws every track even where no file
        // system can be read (as where the loader's text fills the boot
        // sector).
        const json map = json::parse(RunCommand(Cli("map --json " + Quote(image))).out);
        EXPECT_EQ(map["protection"], protection);
        EXPECT_EQ(map["tracks"].size(), c.cylinders);
        if (c.scheme == nullptr) {
            EXPECT_TRUE(protection.is_null()) << protection;
            continue;
        }
        ASSERT_TRUE(protection.is_object()) << info.out;
        EXPECT_EQ(protection["scheme"], c.scheme);
        EXPECT_NE(protection["evidence"].get<std::string>().find(c.evidence), std::string::npos)
            << protection["evidence"];
    }
    // The text says it in one line; an unknown scheme says what it saw.
    DskWriter disk(40);
    disk.Track(3) = SectorsOf(5, 3);
    disk.Save(dir / "odd.dsk");
    EXPECT_NE(
        RunCommand(Cli("info " + Quote(dir / "odd.dsk")))
            .out.find("Protection : unknown protection: track 3 holds 5 sectors of 1024 bytes\n"),
        std::string::npos);
}

TEST(Protection, TheCorpusProtectedDiskIsNamedAndTheOthersAreNot) {
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "the real-world disks are not here";
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() != ".dsk")
            continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const CommandResult info = RunCommand(Cli("info --json " + Quote(entry.path().string())));
        if (info.out.empty())
            continue; // an image info cannot read
        const json protection = json::parse(info.out)["protection"];
        if (name == "cpc_data_jacelock_protected_edsk.dsk") {
            EXPECT_EQ(protection["scheme"], "Jacelock");
            EXPECT_NE(protection["evidence"].get<std::string>().find(
                          "track 39 holds 14 sectors of 8192 and 256 bytes, read with errors"),
                      std::string::npos);
        } else {
            EXPECT_TRUE(protection.is_null()) << protection;
        }
    }
}
