// Formats beyond the +3's. The CPC ROM formats against cpmtools and LibDsk
// given each format's figures: a disk made by mkfs.cpm on a raw file, put
// into a CPCEMU container with the format's sector ids by dsktrans, filled
// by cpmcp, is listed, extracted and changed as cpmtools does; `new -f`
// makes disks cpmtools reads as clean. Double-stepped dumps read as the
// 40-track disks they hold.

#include "Formats.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

bool HaveOracles() {
    return HaveProgram("cpmls") && HaveProgram("cpmcp") && HaveProgram("cpmrm") &&
           HaveProgram("fsck.cpm") && HaveProgram("mkfs.cpm") && HaveProgram("dsktrans");
}

// A folder holding the format as LibDsk (.libdskrc, found through HOME) and
// cpmtools (diskdefs, found in the current folder) take it, by the name
// "tl-NAME"; every oracle runs there.
class FormatFolder {
  public:
    explicit FormatFolder(const DiskFormat& f) : m_Name(std::string("tl-") + f.name) {
        std::ofstream(dir.Path() / ".libdskrc")
            << "[" << m_Name << "]\n"
            << (f.sides == 2 ? "sides = alt\n" : "") << "cylinders = " << f.tracksPerSide
            << "\nheads = " << unsigned{f.sides} << "\nsectors = " << f.sectorsPerTrack
            << "\nsecbase = " << f.firstSectorId << "\nsecsize = " << f.sectorSize
            << "\ndatarate = SD\n";
        std::ofstream(dir.Path() / "diskdefs")
            << "diskdef " << m_Name << "\n  seclen " << f.sectorSize << "\n  tracks " << f.Tracks()
            << "\n  sectrk " << f.sectorsPerTrack << "\n  blocksize " << f.blockSize
            << "\n  maxdir " << f.directoryEntries << "\n  skew 1\n  boottrk "
            << unsigned{f.reservedTracks} << "\n  os 2.2\n  libdsk:format " << m_Name << "\nend\n";
    }
    // An oracle run in the folder: "cpmls -l" becomes
    // "cpmls -T dsk -f tl-NAME -l".
    CommandResult Tool(const std::string& tool, const std::string& args,
                       const char* type = "-T dsk ") const {
        return RunCommand("cd " + Quote(dir.Path().string()) +
                              " && HOME=" + Quote(dir.Path().string()) + " " + tool + " " + type +
                              "-f " + m_Name + " " + args,
                          true);
    }
    const std::string& Name() const { return m_Name; }

    TempDir dir;

  private:
    std::string m_Name;
};

std::vector<unsigned char> Padded(std::vector<unsigned char> bytes) {
    bytes.resize((bytes.size() + 127) / 128 * 128, 0x1A);
    return bytes;
}

TEST(RomFormats, ListExtractAndChangeAsCpmtoolsDoes) {
    if (!HaveOracles())
        GTEST_SKIP() << "cpmtools and libdsk-utils are not installed";
    for (const DiskFormat& f : KnownFormats()) {
        if (f.bySpecification)
            continue;
        SCOPED_TRACE(f.name);
        FormatFolder folder(f);
        const std::string raw = folder.dir / "disk.raw";
        const std::string image = folder.dir / "disk.dsk";
        WriteFile(raw, std::vector<unsigned char>(
                           std::size_t{f.Tracks()} * f.sectorsPerTrack * f.sectorSize, 0xE5));
        ASSERT_EQ(folder.Tool("mkfs.cpm", Quote(raw), "").status, 0);
        ASSERT_EQ(RunCommand("cd " + Quote(folder.dir.Path().string()) +
                             " && HOME=" + Quote(folder.dir.Path().string()) +
                             " dsktrans -itype raw -otype dsk -format " + folder.Name() + " " +
                             Quote(raw) + " " + Quote(image) + " >/dev/null 2>&1")
                      .status,
                  0);
        // Files in two users, one of them over many extents.
        WriteFile(folder.dir / "big.bin", PatternBytes(70000, 1));
        WriteFile(folder.dir / "notes.txt", PatternBytes(3000, 2));
        ASSERT_EQ(folder.Tool("cpmcp", Quote(image) + " big.bin notes.txt 0:").status, 0);
        ASSERT_EQ(folder.Tool("cpmcp", Quote(image) + " notes.txt 3:").status, 0);

        const std::string named = f.toldById ? "" : std::string("--format ") + f.name + " ";
        const auto listing =
            nlohmann::json::parse(RunCommand(Cli("ls --json " + named + Quote(image))).out);
        EXPECT_EQ(listing["format"], f.title);
        EXPECT_EQ(listing["writable"], true);
        EXPECT_TRUE(listing["damage"].is_null());
        std::vector<std::string> names;
        for (const auto& file : listing["files"])
            names.push_back(std::to_string(file["user"].get<int>()) + ":" +
                            file["name"].get<std::string>() + "." +
                            file["type"].get<std::string>());
        EXPECT_EQ(names, (std::vector<std::string>{"0:BIG.BIN", "0:NOTES.TXT", "3:NOTES.TXT"}));
        for (const char* name : {"0:BIG.BIN", "0:NOTES.TXT", "3:NOTES.TXT"}) {
            const std::string copy = folder.dir / "copy";
            ASSERT_EQ(folder.Tool("cpmcp", Quote(image) + " " + name + " " + Quote(copy)).status,
                      0);
            const auto expected = ReadFile(copy);
            // cpmcp keeps the last record's byte count, as CP/M 3 does.
            EXPECT_TRUE(RunCommand(Cli("get --exact " + named + Quote(image) + " - " + name)).out ==
                        std::string(expected.begin(), expected.end()))
                << name;
        }
        // The ids of the +3 tell these formats apart only by name.
        if (!f.toldById) {
            const auto unnamed =
                nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
            EXPECT_NE(unnamed.value("format", ""), f.title);
            // (Read so, a Vortex directory lies inside the 720K one: its
            // entries are listed, their blocks outside the disk.)
            EXPECT_TRUE(unnamed.value("files", nlohmann::json::array()) != listing["files"] ||
                        !unnamed["damage"].is_null());
        }

        // Changed here, read there.
        WriteFile(folder.dir / "new.bin", PatternBytes(25000, 3));
        ASSERT_EQ(
            RunCommand(Cli("put " + named + Quote(image) + " " + Quote(folder.dir / "new.bin")))
                .status,
            0);
        ASSERT_EQ(RunCommand(Cli("rm " + named + Quote(image) + " 0:BIG.BIN")).status, 0);
        EXPECT_EQ(folder.Tool("fsck.cpm", "-n " + Quote(image)).status, 0)
            << folder.Tool("fsck.cpm", "-n " + Quote(image)).out;
        const std::string after = folder.Tool("cpmls", "-l " + Quote(image)).out;
        EXPECT_EQ(after.find("big.bin"), std::string::npos) << after;
        ASSERT_EQ(
            folder.Tool("cpmcp", Quote(image) + " 0:new.bin " + Quote(folder.dir / "back")).status,
            0);
        EXPECT_TRUE(ReadFile(folder.dir / "back") == Padded(PatternBytes(25000, 3)));

        // A blank disk of the format, as cpmtools sees it.
        const std::string blank = folder.dir / "blank.dsk";
        ASSERT_EQ(RunCommand(Cli(std::string("new -f ") + f.name + " " + Quote(blank))).status, 0);
        EXPECT_EQ(folder.Tool("fsck.cpm", "-n " + Quote(blank)).status, 0);
        const auto made =
            nlohmann::json::parse(RunCommand(Cli("ls --json " + named + Quote(blank))).out);
        EXPECT_EQ(made["format"], f.title);
        EXPECT_TRUE(made["files"].empty());
    }
}

// A named format the image does not fit is refused, naming the figure.
TEST(RomFormats, ANamedFormatThatDoesNotFitIsRefused) {
    TempDir dir;
    const std::string image = dir / "d1.dsk";
    ASSERT_EQ(RunCommand(Cli("new -f d1 " + Quote(image))).status, 0);
    const auto bytes = ReadFile(image);
    const CommandResult refused = RunCommand(Cli("ls --format d10 " + Quote(image)), true);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find(
                  "ROMDOS D10 has sectors &11-&1A; the image's first track has no sector &11"),
              std::string::npos)
        << refused.out;
    const CommandResult unknown = RunCommand(Cli("ls --format d3 " + Quote(image)), true);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("no format is named d3"), std::string::npos) << unknown.out;
    // A change under a format that does not fit writes nothing.
    WriteFile(dir / "x.bin", PatternBytes(1000, 1));
    EXPECT_EQ(RunCommand(Cli("put --format d10 " + Quote(image) + " " + Quote(dir / "x.bin")) +
                         " 2>/dev/null")
                  .status,
              1);
    EXPECT_EQ(ReadFile(image), bytes);
}

} // namespace

namespace {

// The 40-track disk of a standard CPCEMU container as an 80-track drive
// dumps it: cylinder t holds track t / 2 (its id fields say so), each track
// read twice, or only the even cylinders read (the odd ones unformatted).
std::vector<unsigned char> DoubleSteppedDump(const std::vector<unsigned char>& source,
                                             bool oddEmpty) {
    const std::size_t trackSize = source[0x32] | source[0x33] << 8;
    const unsigned tracks = source[0x30];
    std::vector<unsigned char> dump(source.begin(), source.begin() + 256);
    dump[0x30] = static_cast<unsigned char>(2 * tracks);
    for (unsigned t = 0; t < 2 * tracks; ++t) {
        const auto from = source.begin() + 256 + static_cast<long>((t / 2) * trackSize);
        std::vector<unsigned char> block(from, from + static_cast<long>(trackSize));
        block[0x10] = static_cast<unsigned char>(t);
        if (oddEmpty && t % 2 == 1) {
            block[0x15] = 0;
            std::fill(block.begin() + 0x18, block.end(), 0);
        }
        dump.insert(dump.end(), block.begin(), block.end());
    }
    return dump;
}

std::string Listing(const std::string& image) {
    const auto json = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
    return json.value("files", nlohmann::json::array()).dump();
}

} // namespace

TEST(DoubleSteppedDumps, ReadAsTheFortyTrackDiskTheyHold) {
    TempDir dir;
    const std::string source = dir / "source.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(source))).status, 0);
    WriteFile(dir / "big.bin", PatternBytes(60000, 1));
    WriteFile(dir / "small.txt", PatternBytes(300, 2));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(source) + " " + Quote(dir / "big.bin") + " " +
                             Quote(dir / "small.txt")))
                  .status,
              0);
    const auto sourceBytes = ReadFile(source);
    for (const bool oddEmpty : {false, true}) {
        SCOPED_TRACE(oddEmpty ? "odd cylinders unformatted" : "every track read twice");
        const std::string dump = dir / "dump.dsk";
        WriteFile(dump, DoubleSteppedDump(sourceBytes, oddEmpty));
        EXPECT_EQ(Listing(dump), Listing(source));
        for (const char* name : {"BIG.BIN", "SMALL.TXT"})
            EXPECT_TRUE(RunCommand(Cli("get " + Quote(dump) + " - " + name)).out ==
                        RunCommand(Cli("get " + Quote(source) + " - " + name)).out)
                << name;
        EXPECT_NE(RunCommand(Cli("info " + Quote(dump))).out.find("double-stepped dump"),
                  std::string::npos);
        const auto info = nlohmann::json::parse(RunCommand(Cli("info --json " + Quote(dump))).out);
        EXPECT_EQ(info["double_stepped"], true);
        EXPECT_EQ(info["cylinders"], 40);
        // Converted, the 40-track disk it holds.
        const std::string single = dir / "single.dsk";
        std::filesystem::remove(single);
        ASSERT_EQ(RunCommand(Cli("convert " + Quote(dump) + " " + Quote(single))).status, 0);
        EXPECT_EQ(ReadFile(single)[0x30], 40);
        EXPECT_EQ(nlohmann::json::parse(
                      RunCommand(Cli("info --json " + Quote(single))).out)["double_stepped"],
                  false);
        EXPECT_EQ(Listing(single), Listing(source));
        EXPECT_TRUE(RunCommand(Cli("get " + Quote(single) + " - BIG.BIN")).out ==
                    RunCommand(Cli("get " + Quote(source) + " - BIG.BIN")).out);
    }
    // Changed, a dump keeps its shape: both readings of a track get the
    // new bytes.
    const std::string dump = dir / "dump.dsk";
    WriteFile(dump, DoubleSteppedDump(sourceBytes, false));
    WriteFile(dir / "new.bin", PatternBytes(20000, 3));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(dump) + " " + Quote(dir / "new.bin"))).status, 0);
    const auto changed = ReadFile(dump);
    ASSERT_EQ(changed.size(), 256 + 2 * (sourceBytes.size() - 256));
    const std::size_t trackSize = changed[0x32] | changed[0x33] << 8;
    for (std::size_t t = 0; t + 1 < changed[0x30]; t += 2) {
        const auto even = changed.begin() + static_cast<long>(256 + t * trackSize + 256);
        EXPECT_TRUE(std::equal(even, even + static_cast<long>(trackSize - 256),
                               even + static_cast<long>(trackSize)))
            << "cylinder " << t;
    }
    auto expected = PatternBytes(20000, 3);
    expected.resize(20096, 0x1A);
    const std::string got = RunCommand(Cli("get " + Quote(dump) + " - NEW.BIN")).out;
    EXPECT_TRUE(got == std::string(expected.begin(), expected.end()));
}
