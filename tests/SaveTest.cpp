// Saving images safely, tried with real processes: killed at random moments,
// failing system calls, a file-size limit, two writers at once, links.
// Images come from dskform and cpmcp; cpmcp and fsck.cpm check the result.

#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <set>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool HaveOracles() {
    return HaveProgram("dskform") && HaveProgram("cpmcp") && HaveProgram("fsck.cpm");
}

// Names in the folder other than the expected ones: temporaries left behind.
std::vector<std::string> Strays(const fs::path& folder, const std::set<std::string>& expected) {
    std::vector<std::string> strays;
    for (const auto& entry : fs::directory_iterator(folder))
        if (expected.count(entry.path().filename().string()) == 0)
            strays.push_back(entry.path().filename().string());
    return strays;
}

struct Container {
    const char* type; // dskform -type and cpmtools -T
};

class SaveTest : public ::testing::TestWithParam<Container> {
protected:
    void SetUp() override {
        if (!HaveOracles())
            GTEST_SKIP() << "dskform and cpmtools are not installed";
        fs::create_directory(disks);
        image = (disks / "work.dsk").string();
        RunCommand(std::string("dskform -type ") + GetParam().type + " -format pcw180 " +
                   Quote(image) + " >/dev/null");
        for (unsigned i = 0; i < 4; ++i) {
            const std::string name = "KEEP" + std::to_string(i) + ".BIN";
            originals[name] = PatternBytes(1000 + 7000 * i, i + 1);
            WriteFile(dir / name, originals[name]);
            RunCommand(Cpm("cpmcp") + Quote(dir / name) + " 0:" + name);
        }
        for (unsigned i = 0; i < 4; ++i)
            WriteFile(dir / ("NEW" + std::to_string(i) + ".BIN"), PatternBytes(9000, 50 + i));
    }

    std::string Cpm(const std::string& tool, const std::string& options = "") const {
        return tool + " " + options + " -T " + GetParam().type + " -f pcw " + Quote(image) + " ";
    }

    // The image opens, fsck.cpm finds nothing wrong, and every file that was
    // on it from the start comes out byte for byte.
    void ExpectIntact(const std::string& when) {
        EXPECT_EQ(RunCommand(Cli("ls " + Quote(image))).status, 0) << when;
        const CommandResult fsck = RunCommand(Cpm("fsck.cpm", "-n"), true);
        EXPECT_EQ(fsck.status, 0) << when << "\n" << fsck.out;
        for (const auto& [name, bytes] : originals) {
            const std::string out = dir / ("out-" + name);
            fs::remove(out);
            RunCommand(Cpm("cpmcp") + "0:" + name + " " + Quote(out));
            std::vector<unsigned char> got = ReadFile(out);
            got.resize(std::min(got.size(), bytes.size()));
            EXPECT_EQ(got, bytes) << name << " " << when;
        }
    }

    TempDir dir;
    fs::path disks = dir.Path() / "disks";
    std::string image;
    std::map<std::string, std::vector<unsigned char>> originals;
};

// Killed with SIGKILL at random moments during put, rm and get. The
// TARNLIGHT_KILL_ROUNDS environment variable makes the run longer.
TEST_P(SaveTest, KilledAtRandomMomentsLosesNothing) {
    unsigned rounds = 150;
    if (const char* env = std::getenv("TARNLIGHT_KILL_ROUNDS"))
        rounds = static_cast<unsigned>(std::strtoul(env, nullptr, 10));
    const fs::path out = dir.Path() / "got";
    fs::create_directory(out);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> delay(0, 6000);
    unsigned killed = 0;
    for (unsigned round = 0; round < rounds; ++round) {
        const std::string added = dir / ("NEW" + std::to_string(round % 4) + ".BIN");
        std::vector<std::string> args;
        switch (round % 3) {
        case 0:
            args = {"put", image, added};
            break;
        case 1:
            args = {"rm", image, "NEW*"};
            break;
        default:
            args = {"get", image, out.string()};
            break;
        }
        const pid_t pid = SpawnCli(args);
        usleep(static_cast<useconds_t>(delay(random)));
        if (kill(pid, SIGKILL) == 0)
            ++killed;
        WaitFor(pid);
        // A process killed between the two steps of a replacement (link,
        // then rename) may leave its file at the one passing name of that
        // target, which the next save of the same target removes. Nothing
        // else may be left, ever.
        for (const std::string& stray : Strays(disks, {"work.dsk", ".work.dsk.tarnlight-save"}))
            ADD_FAILURE() << "round " << round << ": " << stray;
        for (const auto& entry : fs::directory_iterator(out)) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '.') {
                EXPECT_NE(name.find(".tarnlight-save"), std::string::npos) << name;
            }
        }
        if (round % 30 == 29)
            ExpectIntact("after round " + std::to_string(round));
    }
    // One more of each, left to finish: no temporary remains anywhere.
    RunCommand(Cli("rm " + Quote(image) + " 'NEW*'"));
    EXPECT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "NEW0.BIN"))).status, 0);
    EXPECT_EQ(RunCommand(Cli("get " + Quote(image) + " " + Quote(out.string()))).status, 0);
    EXPECT_EQ(RunCommand(Cli("rm " + Quote(image) + " 'NEW*'")).status, 0);
    EXPECT_TRUE(Strays(disks, {"work.dsk"}).empty());
    for (const auto& entry : fs::directory_iterator(out))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    ExpectIntact("at the end");
    EXPECT_GT(killed, rounds / 4) << "the processes ended before they could be killed";
}

// Every system call that writes the new image, failed: the command fails
// with "Unable to save disk image" and the image file is unchanged.
TEST_P(SaveTest, FailingSystemCallsLeaveTheImageAsItWas) {
    if (!HaveProgram("strace"))
        GTEST_SKIP() << "strace is not installed";
    const std::vector<unsigned char> before = ReadFile(image);
    std::vector<std::string> calls = {"pwrite64", "fsync", "linkat", "renameat"};
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer's runtime writes to a pipe of its own and stops the
    // program quietly when that fails; the file-size limit below fails
    // LibDsk's writes under it instead.
    calls.push_back("write");
#endif
    for (const std::string& name : calls) {
        const char* call = name.c_str();
        const std::string inject = std::string("-e inject=") + call + ":error=ENOSPC:when=1+";
        const CommandResult put =
            RunCommand("strace -f -o /dev/null " + inject + " " + Cli("put " + Quote(image) + " " +
                                                                      Quote(dir / "NEW0.BIN")),
                       true);
        EXPECT_NE(put.status, 0) << call;
        if (std::string(call) != "write") {
            EXPECT_NE(put.out.find("Unable to save disk image"), std::string::npos)
                << call << ": " << put.out;
        }
        EXPECT_EQ(ReadFile(image), before) << call;
        EXPECT_TRUE(Strays(disks, {"work.dsk"}).empty()) << call;
    }
    // A file-size limit below the image's size.
    const CommandResult limited = RunCommand(
        "ulimit -f 64; " + Cli("put " + Quote(image) + " " + Quote(dir / "NEW0.BIN")), true);
    EXPECT_EQ(limited.status, 1) << limited.out;
    EXPECT_NE(limited.out.find(image + ": Unable to save disk image: "), std::string::npos)
        << limited.out;
    EXPECT_EQ(ReadFile(image), before);
    const CommandResult renewed = RunCommand("ulimit -f 64; " + Cli("new --force " + Quote(image)), true);
    EXPECT_EQ(renewed.status, 1) << renewed.out;
    EXPECT_EQ(ReadFile(image), before);
    EXPECT_TRUE(Strays(disks, {"work.dsk"}).empty());
}

// The rename took place, then the folder could not be synced: the image
// changed, so the command says so and succeeds, with a warning.
TEST_P(SaveTest, FolderSyncFailingAfterTheRenameIsASave) {
    if (!HaveProgram("strace"))
        GTEST_SKIP() << "strace is not installed";
    // The first fsync is the new image's, the second its folder's.
    // LeakSanitizer cannot work under ptrace: it is left out of this run.
    const CommandResult put = RunCommand(
        "ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0 strace -f -o /dev/null -e inject=fsync:error=EIO:when=2 " +
            Cli("put " + Quote(image) + " " + Quote(dir / "NEW0.BIN")),
        true);
    EXPECT_EQ(put.status, 0) << put.out;
    EXPECT_NE(put.out.find("WARNING: " + image + ": The disk image was saved, but the folder "
                           "could not be synced: Input/output error"),
              std::string::npos)
        << put.out;
    EXPECT_NE(RunCommand(Cpm("cpmls")).out.find("new0.bin"), std::string::npos);
    ExpectIntact("after a failed folder sync");
}

// Programs that take no lock (cpmtools, emulators) may save the image while
// a put waits for its standard input: in place, or by putting another file
// in its place. The put reads its input before it takes the image's lock
// and copy, so what they saved stays and the put's file is added to it;
// `new --force` is not held up by a put waiting for its input.
TEST_P(SaveTest, AnotherProgramsSaveWhileAPutWaitsForItsInputIsKept) {
    const std::string fifo = dir / "input";
    // The put is started with a FIFO for its standard input, and the others
    // act once it waits there: the image locked, copied and loaded (its
    // system call, in /proc, is a read of descriptor 0).
    const std::string script =
        "set -u; cd " + Quote(dir.Path().string()) + "; rm -f put.pid; mkfifo " + Quote(fifo) + "; " +
        "(sh -c 'echo $$ >put.pid; exec " + Quote(TARNLIGHT_CLI) + " put --replace --as SLOW.BIN \"$0\" - <\"$1\"' " +
        Quote(image) + " " + Quote(fifo) + " >put.out 2>&1; echo $? >put.status) & " +
        "exec 3>" + Quote(fifo) + "; " +
        "for i in $(seq 1 1000); do grep -qs '^0 0x0 ' /proc/$(cat put.pid 2>/dev/null || echo 0)/syscall && "
        "break; sleep 0.01; done; ";
    const std::string finish = "cat NEW1.BIN >&3; exec 3>&-; wait; cat put.out; cat put.status";

    // In place.
    CommandResult run = RunCommand(script + Cpm("cpmcp") + "NEW0.BIN 0:OTHER.BIN; " + finish, true);
    EXPECT_EQ(run.out, "0\n");
    std::string listing = RunCommand(Cpm("cpmls")).out;
    EXPECT_NE(listing.find("other.bin"), std::string::npos) << listing;
    EXPECT_NE(listing.find("slow.bin"), std::string::npos) << listing;
    ExpectIntact("after a save in place during a put");

    // Another file put in the image's place.
    fs::remove(fifo);
    const std::string copy = Quote(dir / "copy.dsk");
    run = RunCommand(script + "cp " + Quote(image) + " " + copy + "; cpmcp -T " + GetParam().type +
                         " -f pcw " + copy + " NEW2.BIN 0:THIRD.BIN; mv " + copy + " " + Quote(image) +
                         "; " + finish,
                     true);
    EXPECT_EQ(run.out, "0\n");
    listing = RunCommand(Cpm("cpmls")).out;
    EXPECT_NE(listing.find("third.bin"), std::string::npos) << listing;
    EXPECT_NE(listing.find("other.bin"), std::string::npos) << listing;
    ExpectIntact("after a replacement during a put");

    // new --force is not held up by the waiting put, which then adds its
    // file to the new disk.
    fs::remove(fifo);
    run = RunCommand(script + Cli("new --force " + Quote(image)) + " 3>&-; echo new $?; " + finish,
                     true);
    EXPECT_NE(run.out.find("new 0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n0\n"), std::string::npos) << "the put saved: " << run.out;
    listing = RunCommand(Cli("ls " + Quote(image))).out;
    EXPECT_NE(listing.find("SLOW      BIN"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("OTHER"), std::string::npos) << listing;
}

// Two programs adding files at once: both land.
TEST_P(SaveTest, TwoWritersAtOnceBothLand) {
    for (unsigned round = 0; round < 8; ++round) {
        const pid_t first = SpawnCli({"put", image, dir / "NEW0.BIN"});
        const pid_t second = SpawnCli({"put", image, dir / "NEW1.BIN"});
        EXPECT_EQ(WaitFor(first), 0);
        EXPECT_EQ(WaitFor(second), 0);
        const CommandResult ls = RunCommand(Cpm("cpmls", "-l"));
        EXPECT_NE(ls.out.find("new0.bin"), std::string::npos) << "round " << round << ls.out;
        EXPECT_NE(ls.out.find("new1.bin"), std::string::npos) << "round " << round << ls.out;
        ASSERT_EQ(RunCommand(Cli("rm " + Quote(image) + " 'NEW*'")).status, 0);
    }
    ExpectIntact("after concurrent puts");
}

INSTANTIATE_TEST_SUITE_P(Containers, SaveTest,
                         ::testing::Values(Container{"dsk"}, Container{"edsk"}),
                         [](const auto& param) { return std::string(param.param.type); });

class SaveFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveOracles())
            GTEST_SKIP() << "dskform and cpmtools are not installed";
    }
    TempDir dir;
};

TEST_F(SaveFiles, KeepsPermissionsAndFollowsLinks) {
    const std::string image = dir / "real.dsk";
    const std::string link = dir / "link.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    chmod(image.c_str(), 0640);
    fs::create_symlink("real.dsk", link);
    WriteFile(dir / "A.BIN", PatternBytes(500, 1));
    ASSERT_EQ(RunCommand(Cli("put " + Quote(link) + " " + Quote(dir / "A.BIN"))).status, 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(image).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_NE(RunCommand("cpmls -T dsk -f pcw " + Quote(image)).out.find("a.bin"),
              std::string::npos);
    // new --force through the link replaces the file it points to.
    ASSERT_EQ(RunCommand(Cli("new --force " + Quote(link))).status, 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(RunCommand("cpmls -T dsk -f pcw " + Quote(image)).out.find("a.bin"),
              std::string::npos);
    // Without --force an existing file stays as it is, whatever it holds.
    WriteFile(dir / "taken.dsk", {1, 2, 3});
    EXPECT_EQ(RunCommand(Cli("new " + Quote(dir / "taken.dsk"))).status, 1);
    EXPECT_EQ(ReadFile(dir / "taken.dsk"), (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_TRUE(Strays(dir.Path(), {"real.dsk", "link.dsk", "A.BIN", "taken.dsk"}).empty());

    // An extracted file takes the permissions of the file it replaces.
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    WriteFile((out / "A.BIN").string(), {9});
    chmod((out / "A.BIN").c_str(), 0600);
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "A.BIN"))).status, 0);
    ASSERT_EQ(RunCommand(Cli("get --trim " + Quote(image) + " " + Quote(out.string()))).status, 0);
    EXPECT_EQ(ReadFile((out / "A.BIN").string()).size(), 512u);
    EXPECT_EQ(fs::status(out / "A.BIN").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

} // namespace

namespace {

// Whether no process holds the image's lock.
bool Unlocked(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0)
        ::close(fd);
    return free;
}

std::vector<std::string> Names(CDiskImage& image) {
    Catalogue rows;
    image.ReadCatalogue(rows);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < rows.count; ++i)
        names.push_back(FileId::Of(rows[i]).Shown());
    return names;
}

TEST_F(SaveFiles, AChangeSavesItsOperationsOnceAtItsCommitAndNothingWithout) {
    const std::string path = dir / "disk.dsk";
    ASSERT_EQ(RunCommand("dskform -type dsk -format pcw180 " + Quote(path)).status, 0);
    for (const char* name : {"A.BIN", "B.BIN", "C.BIN"})
        WriteFile(dir / name, PatternBytes(3000, static_cast<unsigned>(name[0])));
    ASSERT_EQ(RunCommand("cpmcp -T dsk -f pcw " + Quote(path) + " " + Quote(dir / "A.BIN") + " " +
                         Quote(dir / "B.BIN") + " " + Quote(dir / "C.BIN") + " 0:")
                  .status,
              0);
    const std::vector<unsigned char> before = ReadFile(path);
    const std::vector<std::string> all{"0:A.BIN", "0:B.BIN", "0:C.BIN"};
    LibDskOwner owner;
    ASSERT_TRUE(owner.Loaded());
    CDiskImage image(&owner);
    ASSERT_TRUE(image.LoadImage(path));
    ASSERT_EQ(Names(image), all);
    Catalogue rows;
    image.ReadCatalogue(rows);
    const FileEntry a = rows[0], b = rows[1], c = rows[2];

    // Not committed: the file never changed, and the volume is as it holds.
    {
        CDiskImage::Transaction change(image);
        ASSERT_TRUE(change.Began());
        EXPECT_FALSE(Unlocked(path));
        ASSERT_TRUE(image.EraseFile(a));
        ASSERT_TRUE(image.EraseFile(b));
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_EQ(Names(image), std::vector<std::string>{"0:C.BIN"});
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(Names(image), all);
    EXPECT_TRUE(Unlocked(path));

    // The image closed in the middle of a change: nothing is saved.
    {
        CDiskImage::Transaction change(image);
        ASSERT_TRUE(image.EraseFile(c));
        image.CloseImage();
        EXPECT_TRUE(Unlocked(path));
        EXPECT_TRUE(change.Commit());
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_TRUE(Strays(dir.Path(), {"disk.dsk", "A.BIN", "B.BIN", "C.BIN"}).empty());

    // Committed: both erasures in one save, made only then, by whoever holds
    // the change (a change moved from ends nothing).
    ASSERT_TRUE(image.LoadImage(path));
    {
        CDiskImage::Transaction first(image);
        ASSERT_TRUE(image.EraseFile(a));
        CDiskImage::Transaction change(std::move(first));
        ASSERT_TRUE(image.EraseFile(c));
        EXPECT_EQ(ReadFile(path), before);
        EXPECT_TRUE(change.Commit());
    }
    EXPECT_TRUE(Unlocked(path));
    EXPECT_EQ(Names(image), std::vector<std::string>{"0:B.BIN"});
    const CommandResult listed = RunCommand("cpmls -T dsk -f pcw " + Quote(path));
    EXPECT_EQ(listed.out.find("a.bin"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("b.bin"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("c.bin"), std::string::npos) << listed.out;
    EXPECT_EQ(RunCommand("fsck.cpm -n -T dsk -f pcw " + Quote(path)).status, 0);
}

} // namespace
