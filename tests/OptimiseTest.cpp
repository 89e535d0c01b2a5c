// optimise: every file in one run and the directory compact, with every file,
// name and stamp as it was (by cpmtools), and an interrupted optimise leaving
// the old image or the new one.

#include "support/DiskBuilder.h"
#include "support/DskWriter.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <unistd.h>

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct Disk {
    std::string image, type, format;
};

// A +3 disk with a label and create stamps (mkfs.cpm), fragmented by copies
// and deletions with cpmtools (seeded).
std::string ChurnedStampedDisk(const TempDir& dir, unsigned seed) {
    const std::string raw = dir / "churn.raw",
                      image = dir / ("churn" + std::to_string(seed) + ".dsk");
    WriteFile(raw, std::vector<unsigned char>(184320, 0xE5));
    if (RunCommand("mkfs.cpm -f pcw -t -L WORK " + Quote(raw)).status != 0 ||
        RunCommand("dsktrans -itype raw -otype dsk -format pcw180 " + Quote(raw) + " " +
                   Quote(image) + " >/dev/null 2>&1")
                .status != 0)
        return {};
    std::mt19937 random(seed);
    for (int round = 0; round < 30; ++round) {
        const std::string name =
            std::to_string(round % 3) + ":F" + std::to_string(round % 7) + ".BIN";
        std::vector<unsigned char> bytes(1 + random() % 12000);
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(random());
        WriteFile(dir / "in", bytes);
        RunCommand("cpmrm -T dsk -f pcw " + Quote(image) + " " + name);
        if (random() % 4 != 0)
            RunCommand("cpmcp -T dsk -f pcw " + Quote(image) + " " + Quote(dir / "in") + " " +
                       name);
    }
    return image;
}

json MapOf(const std::string& image) {
    return json::parse(RunCommand(Cli("map --json " + Quote(image))).out);
}

// Every file's bytes, as cpmtools copies them out.
std::map<std::string, std::vector<unsigned char>> FilesOf(const Disk& disk, const TempDir& dir) {
    std::map<std::string, std::vector<unsigned char>> files;
    const json map = MapOf(disk.image);
    for (const json& file : map["files"]) {
        const std::string name = file["name"];
        fs::remove(dir / "out");
        RunCommand("cpmcp -T " + disk.type + " -f " + disk.format + " " + Quote(disk.image) + " " +
                   Quote(name) + " " + Quote(dir / "out"));
        files[name] = ReadFile(dir / "out");
    }
    return files;
}

std::string Listing(const Disk& disk) {
    return RunCommand("cpmls -T " + disk.type + " -f " + disk.format + " -F " + Quote(disk.image))
        .out;
}

} // namespace

TEST(Optimise, FragmentedDisksComeOutContiguousAndWhole) {
    if (!HaveProgram("mkfs.cpm") || !HaveProgram("dsktrans") || !HaveProgram("fsck.cpm"))
        GTEST_SKIP() << "cpmtools or LibDsk's tools are not installed";
    TempDir dir;
    std::vector<Disk> disks;
    for (const unsigned seed : {1u, 2u, 3u}) {
        const std::string churned = ChurnedStampedDisk(dir, seed);
        ASSERT_FALSE(churned.empty());
        disks.push_back({churned, "dsk", "pcw"});
    }
    const std::string corpus = CorpusDir();
    if (corpus.empty()) {
        std::cout << "The real-world disks are not here: only churned disks are optimised.\n";
    } else {
        for (const auto& [name, type, format] :
             {std::tuple{"pcw_180k_cpm3_u765test_edsk.dsk", "edsk", "pcw"},
              std::tuple{"cpc_data_57files_two_users_edsk.dsk", "edsk", "cpcdata"},
              std::tuple{"plus3_180k_soloforth_boot.dsk", "dsk", "pcw"}}) {
            const std::string copy = dir / name;
            fs::copy_file(corpus + "/" + name, copy);
            fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
            disks.push_back({copy, type, format});
        }
    }
    unsigned fragmentedDisks = 0;
    for (const Disk& disk : disks) {
        SCOPED_TRACE(disk.image);
        const auto files = FilesOf(disk, dir);
        const std::string listing = Listing(disk);
        // A dry run changes nothing.
        const std::vector<unsigned char> before = ReadFile(disk.image);
        const CommandResult dry = RunCommand(Cli("optimise --dry-run " + Quote(disk.image)));
        EXPECT_EQ(dry.status, 0) << dry.out;
        EXPECT_EQ(ReadFile(disk.image), before);
        std::size_t fragmented = 0;
        const json mapBefore = MapOf(disk.image);
        for (const json& file : mapBefore["files"])
            fragmented += file["fragments"].size() > 1 ? 1 : 0;
        fragmentedDisks += fragmented > 0 ? 1 : 0;
        // check tells of the files in several runs, as information only.
        const json checked = json::parse(RunCommand(Cli("check --json " + Quote(disk.image))).out);
        EXPECT_TRUE(checked["clean"]);
        EXPECT_EQ(checked["fragmented"].size(), fragmented);

        const CommandResult run = RunCommand(Cli("optimise " + Quote(disk.image)), true);
        ASSERT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(FilesOf(disk, dir), files);
        EXPECT_EQ(Listing(disk), listing); // names, sizes, attributes, stamps
        const CommandResult fsck = RunCommand(
            "fsck.cpm -T " + disk.type + " -f " + disk.format + " -n " + Quote(disk.image), true);
        EXPECT_EQ(fsck.status, 0) << fsck.out;
        // Each file one run, the runs following each other in directory
        // order from the first block after the directory.
        const json map = MapOf(disk.image);
        unsigned next = map["directoryBlocks"];
        for (const json& file : map["files"]) {
            if (file["blocks"].empty())
                continue;
            ASSERT_EQ(file["fragments"].size(), 1u) << file["name"];
            EXPECT_EQ(file["fragments"][0]["first"], next) << file["name"];
            next += file["fragments"][0]["blocks"].get<unsigned>();
        }
        EXPECT_NE(RunCommand(Cli("optimize " + Quote(disk.image))).out.find("already contiguous"),
                  std::string::npos);
        const CommandResult after = RunCommand(Cli("check " + Quote(disk.image)));
        EXPECT_EQ(after.status, 0);
        EXPECT_EQ(after.out.find("more than one run"), std::string::npos) << after.out;
    }
    EXPECT_GE(fragmentedDisks, 2u);
}

TEST(Optimise, RefusedWhereTheDiskCannotBeWritten) {
    TempDir dir;
    // Two files naming one block: which file's the block is cannot be told.
    DskWriter shared(40);
    const DirEntry entries[] = {MakeEntry(0, "ONE", "BIN", 16, {2, 5}),
                                MakeEntry(0, "TWO", "BIN", 16, {5, 9})};
    shared.PutEntry(1, 0, &entries[0]);
    shared.PutEntry(1, 1, &entries[1]);
    const std::string image = dir / "shared.dsk";
    shared.Save(image);
    const std::vector<unsigned char> bytes = ReadFile(image);
    for (const char* options : {"", "--dry-run "}) {
        const CommandResult run =
            RunCommand(Cli(std::string("optimise ") + options + Quote(image)), true);
        EXPECT_EQ(run.status, 1) << options;
        EXPECT_NE(
            run.out.find(
                "image is read-only: Damaged directory: two files use the same block (see check)"),
            std::string::npos)
            << run.out;
        EXPECT_EQ(ReadFile(image), bytes);
    }

    const std::string corpus = CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "the real-world disks are not here";
    const std::string copy = dir / "protected.dsk";
    fs::copy_file(corpus + "/cpc_data_jacelock_protected_edsk.dsk", copy);
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
    const std::vector<unsigned char> before = ReadFile(copy);
    const CommandResult run = RunCommand(Cli("optimise " + Quote(copy)), true);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("track 39 holds 14 sectors"), std::string::npos) << run.out;
    EXPECT_EQ(ReadFile(copy), before);
}

// Killed at many instants, the image is byte for byte the old one or the one
// an optimise left to finish makes.
TEST(Optimise, KilledAtAnyInstantLeavesTheOldOrTheNewImage) {
    if (!HaveProgram("mkfs.cpm") || !HaveProgram("dsktrans"))
        GTEST_SKIP() << "cpmtools or LibDsk's tools are not installed";
    TempDir dir;
    const std::string original = ChurnedStampedDisk(dir, 7);
    ASSERT_FALSE(original.empty());
    const std::vector<unsigned char> old = ReadFile(original);
    const fs::path disks = dir.Path() / "disks";
    fs::create_directory(disks);
    const std::string image = (disks / "work.dsk").string();
    WriteFile(image, old);
    // Kills are spread over the time an optimise left alone takes (longer
    // under the sanitizers), and a little past it.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunCommand(Cli("optimise " + Quote(image))).status, 0);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    const std::vector<unsigned char> optimised = ReadFile(image);
    ASSERT_NE(optimised, old);

    std::mt19937 random(99);
    std::uniform_int_distribution<long> delay(0, took + took / 4);
    unsigned killed = 0, oldSeen = 0, newSeen = 0;
    for (int round = 0; round < 120; ++round) {
        WriteFile(image, old);
        const pid_t pid = SpawnCli({"optimise", image});
        usleep(static_cast<useconds_t>(delay(random)));
        killed += kill(pid, SIGKILL) == 0 ? 1 : 0;
        WaitFor(pid);
        const std::vector<unsigned char> now = ReadFile(image);
        if (now == old)
            ++oldSeen;
        else if (now == optimised)
            ++newSeen;
        else
            ADD_FAILURE() << "round " << round << ": the image is neither the old nor the new one";
        // Nothing is left beside it but the one passing name a save uses.
        for (const auto& entry : fs::directory_iterator(disks)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "work.dsk" || name == ".work.dsk.tarnlight-save") << name;
        }
    }
    EXPECT_GT(killed, 30u) << "the processes ended before they could be killed";
    EXPECT_GT(oldSeen, 0u);
    EXPECT_GT(newSeen, 0u);
}
