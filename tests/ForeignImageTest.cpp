// Containers LibDsk reads in a child process (ImageDisk, TeleDisk, CopyQM,
// LDBS, YAZE, QRST): made by dsktrans from a disk made here, they list and
// extract as that disk does and as cpmtools reads them; changes are saved in
// their own container; a reader that dies takes nothing else with it; and
// convert writes each container, checked by LibDsk's own dsktrans.

#include "SectorImage.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <random>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Type {
    const char* name;      // dsktrans's and cpmtools' -T
    const char* extension; // what collections call it
    const char* container; // what Tarnlight calls it
};
constexpr Type kTypes[] = {{"imd", "imd", "ImageDisk"}, {"tele", "td0", "TeleDisk"},
                           {"qm", "cqm", "CopyQM"},     {"ldbs", "ldbs", "LDBS"},
                           {"ydsk", "ydsk", "YAZE"},    {"qrst", "qrst", "QRST"}};

class ForeignImages : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveProgram("dsktrans") || !HaveProgram("dskform"))
            GTEST_SKIP() << "dsktrans and dskform (Debian libdsk-utils) are not installed";
        // A disk formatted by LibDsk's own dskform.
        ASSERT_EQ(RunCommand("dskform -type dsk -format pcw180 " + Quote(dsk) + " >/dev/null 2>&1").status, 0);
        WriteFile(dir / "big.bin", PatternBytes(20000, 3));
        WriteFile(dir / "small.txt", PatternBytes(300, 4));
        ASSERT_EQ(RunCommand(Cli("put " + Quote(dsk) + " " + Quote(dir / "big.bin") + " " +
                                 Quote(dir / "small.txt")))
                      .status,
                  0);
        ASSERT_EQ(RunCommand(Cli("put -u 3 --plus3 code:32768 --as GAME.BIN " + Quote(dsk) + " " +
                                 Quote(dir / "small.txt")))
                      .status,
                  0);
    }
    std::string Made(const Type& type) {
        const std::string path = dir / (std::string("disk.") + type.extension);
        if (!fs::exists(path)) {
            EXPECT_EQ(RunCommand("dsktrans -otype " + std::string(type.name) + " " + Quote(dsk) + " " +
                                 Quote(path))
                          .status,
                      0);
        }
        return path;
    }
    static nlohmann::json Files(const std::string& image) {
        return nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out)["files"];
    }

    TempDir dir;
    std::string dsk = dir / "disk.dsk";
};

TEST_F(ForeignImages, EachListsAndExtractsAsTheDiskItWasMadeFrom) {
    const auto expected = Files(dsk);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(nlohmann::json::parse(RunCommand(Cli("info --json " + Quote(dsk))).out)["container"],
              "CPCEMU standard");
    fs::create_directory(dir / "from-dsk");
    ASSERT_EQ(RunCommand(Cli("get " + Quote(dsk) + " " + Quote(dir / "from-dsk"))).status, 0);
    for (const Type& type : kTypes) {
        SCOPED_TRACE(type.name);
        const std::string image = Made(type);
        EXPECT_EQ(Files(image), expected);
        const auto info = nlohmann::json::parse(RunCommand(Cli("info --json " + Quote(image))).out);
        EXPECT_EQ(info["container"], type.container);
        EXPECT_EQ(info["writable"], true);
        EXPECT_NE(RunCommand(Cli("info " + Quote(image))).out.find(std::string("Container\t: ") + type.container + "\n"),
                  std::string::npos);
        const std::string out = dir / (std::string("from-") + type.name);
        fs::create_directory(out);
        ASSERT_EQ(RunCommand(Cli("get " + Quote(image) + " " + Quote(out))).status, 0);
        unsigned files = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir / "from-dsk")) {
            if (!entry.is_regular_file())
                continue;
            const fs::path same = fs::path(out) / fs::relative(entry.path(), dir / "from-dsk");
            EXPECT_EQ(ReadFile(same.string()), ReadFile(entry.path().string())) << same;
            ++files;
        }
        EXPECT_EQ(files, 3u);
        EXPECT_EQ(RunCommand(Cli("check " + Quote(image))).status, 0);
        // cpmtools, through LibDsk in its own process, sees the same names.
        if (HaveProgram("cpmls")) {
            const std::string listed =
                RunCommand("cpmls -T " + std::string(type.name) + " -f pcw " + Quote(image)).out;
            for (const char* name : {"big.bin", "small.txt", "game.bin"})
                EXPECT_NE(listed.find(name), std::string::npos) << listed;
        }
    }
}

TEST_F(ForeignImages, ChangesAreSavedInTheirOwnContainer) {
    for (const Type& type : kTypes) {
        SCOPED_TRACE(type.name);
        const std::string image = Made(type);
        const CommandResult put = RunCommand(
            Cli("put --as NEW.TXT " + Quote(image) + " " + Quote(dir / "small.txt")), true);
        const CommandResult rm = RunCommand(Cli("rm " + Quote(image) + " BIG.BIN"), true);
        ASSERT_EQ(put.status, 0) << put.out;
        ASSERT_EQ(rm.status, 0) << rm.out;
        // Still that container, with the change in it, as cpmtools reads it.
        EXPECT_EQ(nlohmann::json::parse(RunCommand(Cli("info --json " + Quote(image))).out)["container"],
                  type.container);
        EXPECT_EQ(RunCommand(Cli("get " + Quote(image) + " - NEW.TXT")).out.substr(0, 300),
                  std::string(reinterpret_cast<const char*>(PatternBytes(300, 4).data()), 300));
        if (HaveProgram("cpmls")) {
            const std::string listed =
                RunCommand("cpmls -T " + std::string(type.name) + " -f pcw " + Quote(image)).out;
            EXPECT_NE(listed.find("new.txt"), std::string::npos) << listed;
            EXPECT_EQ(listed.find("big.bin"), std::string::npos) << listed;
        }
        if (HaveProgram("fsck.cpm")) {
            EXPECT_EQ(RunCommand("fsck.cpm -n -T " + std::string(type.name) + " -f pcw " + Quote(image) +
                                 " >/dev/null 2>&1")
                          .status,
                      0);
        }
    }
}

// Bytes of a CopyQM image changed here and there: LibDsk's own dskid dies
// on nearly all of them.
Bytes Mutated(const Bytes& original, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes = original;
    const unsigned changes = 1 + random() % 8;
    for (unsigned i = 0; i < changes; ++i)
        bytes[random() % bytes.size()] = static_cast<std::uint8_t>(random());
    return bytes;
}

TEST_F(ForeignImages, AReaderThatDiesIsADamagedFileAndTheWalkGoesOn) {
    const Bytes copyqm = ReadFile(Made(kTypes[2]));
    const std::string folder = dir / "collection";
    fs::create_directory(folder);
    fs::copy_file(dsk, folder + "/good.dsk");
    fs::copy_file(Made(kTypes[0]), folder + "/good.imd");
    unsigned killedDskid = 0;
    for (unsigned seed = 0; seed < 12; ++seed) {
        const std::string bad = folder + "/bad" + std::to_string(seed) + ".cqm";
        WriteFile(bad, Mutated(copyqm, seed));
        // The reader really dies on these.
        const CommandResult oracle = RunCommand("dskid " + Quote(bad) + " >/dev/null 2>&1");
        killedDskid += oracle.status > 128 || oracle.status < 0;
    }
    for (const Type& type : kTypes) {
        const Bytes made = ReadFile(Made(type));
        WriteFile(folder + "/cut." + type.extension, Bytes(made.begin(), made.begin() + static_cast<std::ptrdiff_t>(made.size() / 3)));
    }
    EXPECT_GT(killedDskid, 6u);
    // Each file alone: an error naming it, never a signal.
    for (unsigned seed = 0; seed < 12; ++seed) {
        const std::string bad = folder + "/bad" + std::to_string(seed) + ".cqm";
        const CommandResult r = RunCommand(Cli("ls " + Quote(bad)), true);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
        if (r.status == 1) {
            EXPECT_NE(r.out.find(bad + ": "), std::string::npos) << r.out;
        }
    }
    const CommandResult failed = RunCommand(Cli("ls " + Quote(folder + "/bad0.cqm")), true);
    EXPECT_NE(failed.out.find("damaged container (the CopyQM reader failed)"), std::string::npos)
        << failed.out;
    // The walk lists both good images whatever the others do.
    const CommandResult walk = RunCommand(Cli("ls --json -r " + Quote(folder) + " 2>/dev/null"));
    EXPECT_EQ(walk.status, 1);
    unsigned good = 0;
    std::istringstream lines(walk.out);
    for (std::string line; std::getline(lines, line);) {
        const auto image = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(image.is_discarded()) << line;
        const std::string path = image.value("image", "");
        if (path.ends_with("good.dsk") || path.ends_with("good.imd")) {
            ++good;
            EXPECT_EQ(image["files"].size(), 3u) << path;
        }
    }
    EXPECT_EQ(good, 2u) << walk.out;
}

} // namespace

namespace {

// The disk as LibDsk's own dsktrans reads it, in a process of its own: the
// sectors of every track in order.
Bytes RawThroughDsktrans(const TempDir& dir, const std::string& image, const char* type) {
    const std::string raw = dir / "oracle.raw";
    std::filesystem::remove(raw);
    EXPECT_EQ(RunCommand("dsktrans -itype " + std::string(type) + " -otype raw " + Quote(image) +
                         " " + Quote(raw) + " >/dev/null 2>&1")
                  .status,
              0)
        << image;
    return ReadFile(raw);
}

// An ImageDisk file's first `tracks` tracks: its text header to the 0x1A,
// then per track mode, cylinder, head (flags for the optional cylinder and
// head maps), sector count and size code, the maps, and each sector as a
// record type (0: none, odd: the data, even: one byte for all of it).
Bytes FirstImageDiskTracks(const Bytes& imd, unsigned tracks) {
    std::size_t at = std::find(imd.begin(), imd.end(), 0x1A) - imd.begin() + 1;
    for (unsigned t = 0; t < tracks && at + 5 <= imd.size(); ++t) {
        const unsigned head = imd[at + 2], count = imd[at + 3], size = 128u << imd[at + 4];
        at += 5 + count * (1 + ((head & 0x80) != 0) + ((head & 0x40) != 0));
        for (unsigned s = 0; s < count; ++s) {
            const unsigned type = imd[at++];
            at += type == 0 ? 0 : type % 2 == 1 ? size : 1;
        }
    }
    return Bytes(imd.begin(), imd.begin() + static_cast<std::ptrdiff_t>(std::min(at, imd.size())));
}

// An ImageDisk file cut at a bad track opens as cpmtools opens it, read-only,
// with a warning naming the tracks it lacks.
TEST_F(ForeignImages, ImageDiskCutShortIsReadNeverChanged) {
    const std::string imd = dir / "short.imd";
    WriteFile(imd, FirstImageDiskTracks(ReadFile(Made(kTypes[0])), 9));
    const Bytes before = ReadFile(imd);
    const CommandResult ls = RunCommand(Cli("ls " + Quote(imd)), true);
    ASSERT_EQ(ls.status, 0) << ls.out;
    EXPECT_NE(ls.out.find("WARNING: " + imd +
                          ": the container is cut short: 40 tracks promised, "
                          "9 present (tracks 9 to 39 missing): it can be listed and read, not "
                          "changed"),
              std::string::npos)
        << ls.out;
    EXPECT_EQ(Files(imd), Files(dsk));
    if (HaveProgram("cpmls")) {
        const std::string names = RunCommand("cpmls -f pcw -T imd " + Quote(imd)).out;
        EXPECT_NE(names.find("big.bin"), std::string::npos) << names;
        EXPECT_NE(names.find("small.txt"), std::string::npos) << names;
    }
    fs::create_directory(dir / "got");
    ASSERT_EQ(RunCommand(Cli("get " + Quote(imd) + " " + Quote(dir / "got") + " BIG.BIN")).status,
              0);
    Bytes got = ReadFile(dir / "got/BIG.BIN");
    got.resize(20000); // (whole records)
    EXPECT_EQ(got, PatternBytes(20000, 3));
    const CommandResult put = RunCommand(
        Cli("put " + Quote(imd) + " " + Quote(dir / "small.txt") + " --as NEW.TXT"), true);
    EXPECT_EQ(put.status, 1) << put.out;
    EXPECT_NE(put.out.find("image is read-only: the container is cut short"), std::string::npos)
        << put.out;
    EXPECT_EQ(ReadFile(imd), before);
}

TEST_F(ForeignImages, ConvertWritesEachTypeWithEverySectorAndFileKept) {
    const auto files = Files(dsk);
    const Bytes sectors = RawThroughDsktrans(dir, dsk, "dsk");
    ASSERT_EQ(sectors.size(), 40u * 9 * 512);
    struct Case {
        const char* name; // the output's name
        const char* to;   // --to, or nullptr for the name's extension
        const char* type; // dsktrans's -itype for it
    };
    for (const Case& c : {Case{"out.dsk", nullptr, "dsk"}, Case{"out-x.dsk", "edsk", "edsk"},
                          Case{"out.raw", nullptr, "raw"}, Case{"out.imd", nullptr, "imd"},
                          Case{"out.ldbs", nullptr, "ldbs"}, Case{"out.cqm", nullptr, "qm"},
                          Case{"out.td0", nullptr, "tele"}, Case{"out.ydsk", nullptr, "ydsk"},
                          Case{"out.qrst", nullptr, "qrst"}, Case{"out.img", "imd", "imd"}}) {
        SCOPED_TRACE(c.name);
        const std::string out = dir / c.name;
        const CommandResult r = RunCommand(
            Cli("convert " + Quote(dsk) + " " + Quote(out) + (c.to ? std::string(" --to ") + c.to : "")),
            true);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("compared"), std::string::npos) << r.out;
        EXPECT_EQ(Files(out), files);
        EXPECT_EQ(RawThroughDsktrans(dir, out, c.type), sectors);
        // And back to a .dsk from it.
        const std::string back = dir / (std::string(c.name) + ".back.dsk");
        ASSERT_EQ(RunCommand(Cli("convert " + Quote(out) + " " + Quote(back))).status, 0);
        const bool standard = ReadFile(back).front() == 'M';
        EXPECT_EQ(RawThroughDsktrans(dir, back, standard ? "dsk" : "edsk"), sectors);
    }
    // A standard .dsk stays standard; an ImageDisk image becomes extended.
    EXPECT_EQ(ReadFile(dir / "out.dsk").size(), ReadFile(dsk).size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ReadFile(dir / "out.imd.back.dsk").data()), 8),
              "EXTENDED");
}

TEST_F(ForeignImages, ConvertNeverWritesOverAFileOrWritesWhatItCannotKeep) {
    const std::string out = dir / "out.imd";
    WriteFile(out, Bytes{'k', 'e', 'e', 'p'});
    const Bytes original = ReadFile(dsk);
    CommandResult r = RunCommand(Cli("convert " + Quote(dsk) + " " + Quote(out)), true);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("exists: give --force"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(out), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(RunCommand(Cli("convert --force " + Quote(dsk) + " " + Quote(out))).status, 0);
    EXPECT_EQ(Files(out), Files(dsk));
    // Never over the image itself, and not without a type.
    r = RunCommand(Cli("convert --force " + Quote(dsk) + " " + Quote(dsk)), true);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("the image being read: give another name"), std::string::npos) << r.out;
    EXPECT_EQ(RunCommand(Cli("convert " + Quote(dsk) + " " + Quote(dir / "out.xyz"))).status, 2);
    EXPECT_EQ(ReadFile(dsk), original);
    // Tracks of mixed sizes cannot go into a standard .dsk or a raw dump,
    // nor two sectors of one id into a container that finds sectors by id.
    const std::string corpus = CorpusDir();
    if (!corpus.empty()) {
        r = RunCommand(Cli("convert " + Quote(corpus + "/cpc_system_choicecheats_edsk.dsk") + " " +
                           Quote(dir / "repeated.imd")),
                       true);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("track 39 (cylinder 39, head 0) holds two sectors of id 0x49: ImageDisk "
                             "cannot keep them apart"),
                  std::string::npos)
            << r.out;
        EXPECT_FALSE(fs::exists(dir / "repeated.imd"));
        EXPECT_EQ(RunCommand(Cli("convert --to edsk " + Quote(corpus + "/cpc_system_choicecheats_edsk.dsk") +
                                 " " + Quote(dir / "repeated.dsk")))
                      .status,
                  0);
        const std::string protectedDisk = corpus + "/cpc_system_choicecheats_edsk.dsk";
        for (const char* to : {"dsk", "raw"}) {
            const std::string made = dir / (std::string("mixed.") + to);
            r = RunCommand(Cli("convert --to " + std::string(to) + " " + Quote(protectedDisk) + " " +
                               Quote(made)),
                           true);
            EXPECT_EQ(r.status, 1) << to;
            EXPECT_NE(r.out.find("track 39 (cylinder 39, head 0) holds"), std::string::npos) << r.out;
            EXPECT_FALSE(fs::exists(made));
        }
    }
    // Nothing half-written stays beside the outputs.
    fs::remove_all(dir / "from-dsk");
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_EQ(entry.path().filename().string().find("tarnlight"), std::string::npos)
            << entry.path();
}

} // namespace

namespace {

// The corpus's +3 and PCW disks through every pair of the containers listed
// here: the files list the same after each step.
TEST(ConvertCorpus, EveryPairKeepsTheFiles) {
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "the shared corpus is not there";
    TempDir dir;
    auto files = [](const std::string& image) {
        const auto json = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out,
                                                nullptr, false);
        return json.is_discarded() ? nlohmann::json() : json["files"];
    };
    const char* kinds[] = {"edsk", "raw", "imd", "ldbs", "dsk"};
    for (const char* name : {"plus3_180k_soloforth_boot.dsk", "pcw_180k_cpm3_u765test_edsk.dsk",
                             "plus3_720k_soloforth_boot.dsk"}) {
        SCOPED_TRACE(name);
        const std::string original = corpus + "/" + name;
        const auto expected = files(original);
        ASSERT_FALSE(expected.is_null());
        for (const char* from : kinds) {
            const std::string source = dir / (std::string("from.") + from);
            fs::remove(source);
            if (RunCommand(Cli("convert --to " + std::string(from) + " " + Quote(original) + " " +
                               Quote(source) + " >/dev/null 2>&1"))
                    .status != 0)
                continue; // (a standard .dsk cannot hold every disk)
            for (const char* to : kinds) {
                SCOPED_TRACE(std::string(from) + " to " + to);
                const std::string target = dir / (std::string("to.") + to);
                fs::remove(target);
                const CommandResult r = RunCommand(
                    Cli("convert --to " + std::string(to) + " " + Quote(source) + " " + Quote(target)),
                    true);
                if (r.status != 0) {
                    // Only a container that cannot hold the disk refuses.
                    EXPECT_NE(r.out.find("cannot hold it"), std::string::npos) << r.out;
                    continue;
                }
                EXPECT_EQ(files(target), expected);
            }
        }
    }
}

// A raw dump of a CPC disk keeps its sectors in id order but not the ids:
// written, said so, and byte for byte what LibDsk's dsktrans dumps. (cpmtools
// is no oracle here: its LibDsk aborts reading such a dump.)
TEST(ConvertRaw, CpcDisksAreDumpedAndSaidHowToReadThem) {
    if (!HaveProgram("dsktrans"))
        GTEST_SKIP() << "LibDsk's tools are not installed";
    TempDir dir;
    WriteFile(dir / "note.txt", std::vector<unsigned char>(3000, 'x'));
    for (const std::string format : {"cpcdata", "cpcsys"}) {
        SCOPED_TRACE(format);
        const std::string image = dir / (format + ".dsk"), raw = dir / (format + ".raw");
        ASSERT_EQ(RunCommand(Cli("new -f " + format + " " + Quote(image))).status, 0);
        ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "note.txt"))).status, 0);
        const CommandResult r = RunCommand(Cli("convert " + Quote(image) + " " + Quote(raw)), true);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("NOTE: " + raw + ": a raw dump keeps no sector ids"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find(format == "cpcdata" ? "CPC data" : "CPC system"), std::string::npos)
            << r.out;
        EXPECT_EQ(ReadFile(raw), RawThroughDsktrans(dir, image, "dsk"));
    }
}

// A mastering quirk of real CPC disks: one track whose sectors' ids name
// another cylinder (track 39 saying 41). ImageDisk, LDBS and TeleDisk keep
// such ids (LibDsk's dskscan lists the same ids from them as from the
// .dsk); containers that number sectors by their place refuse, naming the
// track; a raw dump says it forgets them.
TEST(ConvertRaw, IdsNamingAnotherCylinderAreKeptOrTheContainerRefused) {
    if (!HaveProgram("dskscan"))
        GTEST_SKIP() << "LibDsk's tools are not installed";
    TempDir dir;
    const std::string made = dir / "made.dsk", image = dir / "quirk.dsk";
    WriteFile(dir / "data.bin", PatternBytes(30000, 7));
    ASSERT_EQ(RunCommand(Cli("new -f cpcdata " + Quote(made))).status, 0);
    ASSERT_EQ(RunCommand(Cli("put " + Quote(made) + " " + Quote(dir / "data.bin"))).status, 0);
    ASSERT_EQ(RunCommand(Cli("convert --to edsk " + Quote(made) + " " + Quote(image))).status, 0);
    Bytes bytes = ReadFile(image);
    std::size_t track = 0x100;
    for (unsigned t = 0; t < 39; ++t)
        track += bytes[0x34 + t] * 256u;
    for (unsigned s = 0; s < bytes[track + 0x15]; ++s)
        bytes[track + 0x18 + 8 * s] = 41; // the id's C
    WriteFile(image, bytes);
    auto ids = [&](const std::string& path, const char* type) {
        return RunCommand("dskscan -itype " + std::string(type) + " " + Quote(path) +
                          " 2>/dev/null | grep 'Sec '")
            .out;
    };
    const std::string expected = ids(image, "edsk");
    ASSERT_NE(expected.find("Cyl 41<!> Head 0    Sec 193"), std::string::npos) << expected;
    auto files = [](const std::string& path) {
        return nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(path))).out)["files"];
    };
    ASSERT_EQ(files(image).size(), 1u);
    for (const char* type : {"imd", "ldbs", "tele"}) {
        SCOPED_TRACE(type);
        const std::string out = dir / (std::string("out.") + type);
        const CommandResult r = RunCommand(
            Cli("convert --to " + std::string(type) + " " + Quote(image) + " " + Quote(out)), true);
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(ids(out, type), expected);
        EXPECT_EQ(files(out), files(image));
    }
    for (const char* type : {"copyqm", "ydsk"}) {
        const std::string out = dir / (std::string("out.") + type);
        const CommandResult r = RunCommand(
            Cli("convert --to " + std::string(type) + " " + Quote(image) + " " + Quote(out)), true);
        EXPECT_EQ(r.status, 1) << type;
        EXPECT_NE(r.out.find("track 39 (cylinder 39, head 0) holds sectors whose ids say cylinder "
                             "41, head 0"),
                  std::string::npos)
            << r.out;
        EXPECT_FALSE(fs::exists(out)) << type;
    }
    const CommandResult raw =
        RunCommand(Cli("convert " + Quote(image) + " " + Quote(dir / "out.raw")), true);
    ASSERT_EQ(raw.status, 0) << raw.out;
    EXPECT_NE(raw.out.find("say cylinder 41, head 0, which read back say the track's own"),
              std::string::npos)
        << raw.out;
}

} // namespace

namespace {

// A weak sector (several readings kept, as captures of protected disks
// hold) survives an extended container and is named where it cannot go.
TEST(SectorImage, WeakSectorsStayInExtendedContainersAndAreNamedElsewhere) {
    SectorImage disk;
    disk.cylinders = 1;
    disk.heads = 1;
    ImageTrack track;
    for (std::uint8_t id = 1; id <= 9; ++id)
        track.sectors.push_back({0, 0, id, std::vector<std::uint8_t>(512, id), 2});
    track.sectors[4].data.resize(1024, 0x55); // two readings of sector 5
    disk.tracks.push_back(track);
    const auto bytes = ExtendedImageBytes(disk);
    ASSERT_FALSE(bytes.empty());
    const auto back = ReadCpcemuImage(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, disk);
    EXPECT_EQ(OddSectorProblem(disk),
              "track 0 (cylinder 0, head 0), sector 0x05: 1024 bytes kept for a sector of 512 "
              "(weak or cut short)");
    EXPECT_FALSE(StandardImageProblem(disk).empty());
    disk.tracks[0].sectors[4].data.resize(512);
    EXPECT_EQ(OddSectorProblem(disk), "");
    EXPECT_EQ(StandardImageProblem(disk), "");
    EXPECT_EQ(ReadCpcemuImage(StandardImageBytes(disk)), disk);
    disk.tracks[0].sectors[8].id = 1;
    EXPECT_EQ(RepeatedIdProblem(disk), "track 0 (cylinder 0, head 0) holds two sectors of id 0x01");
}

} // namespace
