// Collections from the command line: walks that survive any image, get -r,
// and nothing silent: every failure named and in the exit status.

#include "support/DiskBuilder.h"
#include "support/DskWriter.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Every regular file below `root`, by relative path, with its bytes.
std::map<std::string, std::vector<unsigned char>> Tree(const fs::path& root) {
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = ReadFile(entry.path().string());
    return files;
}

class Collection : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "top/sub");
        // Two users with a file of one name.
        MakeImage(dir / "top/users.dsk", {{"SAME.TXT", 0}, {"SAME.TXT", 1}, {"ONLY.BIN", 1}});
        MakeImage(dir / "top/sub/plain.dsk", {{"LOADER.BAS", 0}, {"GAME.BIN", 0}});
        // A file with a block past the end of the disk, beside a sound one.
        DskWriter damaged(40);
        std::fill_n(damaged.Logical(1, 4).begin(), 512, 'G');
        const DirEntry good = MakeEntry(0, "GOOD", "BIN", 4, {2});
        const DirEntry far = MakeEntry(0, "FAR", "BIN", 8, {250});
        damaged.PutEntry(1, 0, &good);
        damaged.PutEntry(1, 1, &far);
        damaged.Save(dir / "top/sub/damaged.dsk");
        WriteFile(dir / "top/broken.dsk", {'n', 'o', 't', ' ', 'a', ' ', 'd', 'i', 's', 'k'});
    }
    void MakeImage(const std::string& path, const std::vector<std::pair<std::string, int>>& files) {
        ASSERT_EQ(RunCommand(Cli("new " + Quote(path))).status, 0);
        unsigned seed = 1;
        for (const auto& [name, user] : files) {
            WriteFile(dir / "data", PatternBytes(700 * seed, seed));
            ++seed;
            ASSERT_EQ(RunCommand(Cli("put -u " + std::to_string(user) + " --as " + name + " " +
                                     Quote(path) + " " + Quote(dir / "data")))
                          .status,
                      0);
        }
    }
    CommandResult Run(const std::string& args) { return RunCommand(Cli(args), true); }

    TempDir dir;
};

TEST_F(Collection, GetRecursiveGivesWhatGetGivesImageByImage) {
    const CommandResult all = Run("get -r " + Quote(dir / "top") + " " + Quote(dir / "out"));
    EXPECT_EQ(all.status, 1) << all.out;
    EXPECT_NE(all.out.find("4 images, 6 files extracted, 1 not (1 unreadable on the disk), 1 images not read"), std::string::npos)
        << all.out;
    // Every error names its image and file.
    EXPECT_NE(all.out.find("top/sub/damaged.dsk: 0:FAR.BIN: disk read error"), std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find("top/broken.dsk: Unable to load disk image: not a disk image"),
              std::string::npos);

    // The same files, one image at a time (users apart where two share a name).
    fs::create_directories(dir / "each/sub/plain");
    fs::create_directories(dir / "each/sub/damaged");
    fs::create_directories(dir / "each/users/0");
    fs::create_directories(dir / "each/users/1");
    EXPECT_EQ(Run("get " + Quote(dir / "top/sub/plain.dsk") + " " + Quote(dir / "each/sub/plain")).status, 0);
    EXPECT_EQ(Run("get " + Quote(dir / "top/sub/damaged.dsk") + " " + Quote(dir / "each/sub/damaged")).status, 1);
    EXPECT_EQ(Run("get " + Quote(dir / "top/users.dsk") + " " + Quote(dir / "each/users/0") + " '0:*'").status, 0);
    EXPECT_EQ(Run("get " + Quote(dir / "top/users.dsk") + " " + Quote(dir / "each/users/1") + " '1:*'").status, 0);
    const auto tree = Tree(dir / "out");
    EXPECT_EQ(tree, Tree(dir / "each"));
    EXPECT_EQ(tree.size(), 6u);

    // -j 1 and -j 3 give the same tree, summary and status.
    for (const char* jobs : {"1", "3"}) {
        const CommandResult again =
            Run(std::string("get -r -j ") + jobs + " " + Quote(dir / "top") + " " + Quote(dir / ("out" + std::string(jobs))));
        EXPECT_EQ(again.status, all.status) << jobs;
        EXPECT_EQ(Tree(dir / ("out" + std::string(jobs))), tree) << jobs;
        EXPECT_NE(again.out.find("4 images, 6 files extracted, 1 not (1 unreadable on the disk), 1 images not read"), std::string::npos);
    }
    // --by-user: every image's files by user; patterns after --.
    const CommandResult byUser = Run("get -r --by-user " + Quote(dir / "top") + " " +
                                     Quote(dir / "users") + " -- '*.BAS' '*.BIN'");
    EXPECT_NE(byUser.out.find("4 images, 4 files extracted, 1 not (1 unreadable on the disk), 1 images not read"), std::string::npos)
        << byUser.out;
    EXPECT_TRUE(fs::exists(dir / "users/sub/plain/0/LOADER.BAS"));
    EXPECT_TRUE(fs::exists(dir / "users/users/1/ONLY.BIN"));
    EXPECT_FALSE(fs::exists(dir / "users/users/0"));
    // Again with -n: every file left as it was.
    const CommandResult kept = Run("get -r -n " + Quote(dir / "top") + " " + Quote(dir / "out"));
    EXPECT_NE(kept.out.find("4 images, 0 files extracted, 6 left as they were (-n), 1 not"), std::string::npos)
        << kept.out;
    EXPECT_EQ(Tree(dir / "out"), tree);
    // No temporary left anywhere.
    for (const auto& entry : fs::recursive_directory_iterator(dir / "out"))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(Collection, EveryImageGetsAFolderOfItsOwnAndEveryFileComesOutOnce) {
    fs::create_directories(dir / "other/sub");
    fs::copy_file(dir / "top/users.dsk", dir / "other/sub/plain.dsk");
    fs::copy_file(dir / "top/users.dsk", dir / "other/...dsk");
    // Two images named plain.dsk in folders given apart, one named twice,
    // and one whose name without .dsk would be "..".
    const CommandResult got =
        Run("get -r " + Quote(dir / "top/sub/plain.dsk") + " " + Quote(dir / "other/sub/plain.dsk") + " " +
            Quote(dir / "other/...dsk") + " " + Quote(dir / "top/sub/../sub/plain.dsk") + " " + Quote(dir / "out"));
    EXPECT_EQ(got.status, 0) << got.out;
    EXPECT_NE(got.out.find("3 images, 8 files extracted, 0 not, 0 images not read"), std::string::npos) << got.out;
    EXPECT_TRUE(fs::exists(dir / "out/plain.dsk/LOADER.BAS"));
    EXPECT_TRUE(fs::exists(dir / "out/plain.dsk~2/1/ONLY.BIN"));
    EXPECT_TRUE(fs::exists(dir / "out/...dsk/0/SAME.TXT"));
    for (const auto& entry : fs::directory_iterator(dir / "out"))
        EXPECT_TRUE(entry.is_directory()) << entry.path();
    EXPECT_FALSE(fs::exists(dir / "SAME.TXT")); // nothing outside OUTDIR

    // One image's users' folders are where an image in its folder would go
    // (x.dsk's users 0 and 1 go to x/0 and x/1; x/0.dsk would go to x/0):
    // the inner image's folder takes a number, and every file comes out.
    fs::create_directories(dir / "coll/x");
    MakeImage(dir / "coll/x.dsk", {{"SAME.TXT", 0}, {"SAME.TXT", 1}});
    MakeImage(dir / "coll/x/0.dsk", {{"SAME.TXT", 0}});
    for (const char* jobs : {"1", "2"}) {
        const std::string out = dir / ("nested" + std::string(jobs));
        const CommandResult nested =
            Run(std::string("get -r -j ") + jobs + " " + Quote(dir / "coll") + " " + Quote(out));
        EXPECT_EQ(nested.status, 0) << nested.out;
        EXPECT_NE(nested.out.find("2 images, 3 files extracted, 0 not"), std::string::npos)
            << nested.out;
        const auto tree = Tree(out);
        for (const auto& [path, image, file] :
             {std::tuple{"x/0/SAME.TXT", "coll/x.dsk", "0:SAME.TXT"},
              std::tuple{"x/1/SAME.TXT", "coll/x.dsk", "1:SAME.TXT"},
              std::tuple{"x~2/0/SAME.TXT", "coll/x/0.dsk", "0:SAME.TXT"}}) {
            const std::string data =
                RunCommand(Cli("get " + Quote(dir / image) + " - " + file)).out;
            ASSERT_EQ(tree.count(path), 1u) << path;
            EXPECT_EQ(tree.at(path), std::vector<unsigned char>(data.begin(), data.end())) << path;
        }
        EXPECT_EQ(tree.size(), 3u);
    }
    // A passing name left by a get killed while it replaced a file goes
    // with the next replacement in that folder.
    WriteFile(dir / "out/plain.dsk/.GAME.BIN.tarnlight-save", {1});
    WriteFile(dir / "out/plain.dsk/.mine", {2});
    ASSERT_EQ(Run("get " + Quote(dir / "top/sub/plain.dsk") + " " + Quote(dir / "out/plain.dsk")).status, 0);
    EXPECT_FALSE(fs::exists(dir / "out/plain.dsk/.GAME.BIN.tarnlight-save"));
    EXPECT_TRUE(fs::exists(dir / "out/plain.dsk/.mine"));
}

TEST_F(Collection, AWalkSurvivesAnImageOnWhichTheDiskLibraryDies) {
    fs::create_directories(dir / "many");
    for (int i = 0; i < 20; ++i)
        fs::copy_file(dir / "top/sub/plain.dsk", dir / ("many/disk" + std::to_string(10 + i) + ".dsk"));
    fs::copy_file(dir / "top/sub/plain.dsk", dir / "many/disk15-lethal.dsk");
    // The library is preloaded under the sanitizers too.
    const std::string preload = "ASAN_OPTIONS=${ASAN_OPTIONS:-}:verify_asan_link_order=0 LD_PRELOAD=" +
                                Quote(TARNLIGHT_LETHAL_SHIM) + " ";
    for (const char* jobs : {"-j 1", "-j 2", ""}) {
        const CommandResult ls =
            RunCommand(preload + Cli(std::string("ls --json ") + jobs + " " + Quote(dir / "many")), false);
        EXPECT_EQ(ls.status, 1) << jobs;
        std::size_t listed = 0;
        std::istringstream lines(ls.out);
        for (std::string line; std::getline(lines, line);)
            listed += nlohmann::json::parse(line).contains("files");
        EXPECT_EQ(listed, 20u) << jobs;
        const CommandResult err = RunCommand(
            "( " + preload + Cli(std::string("ls ") + jobs + " " + Quote(dir / "many")) + " 2>&1 >/dev/null )",
            false);
        EXPECT_NE(err.out.find("disk15-lethal.dsk: the disk library failed on this image"), std::string::npos)
            << jobs << ": " << err.out;
    }
    const CommandResult get = RunCommand(preload + Cli("get -r " + Quote(dir / "many") + " " + Quote(dir / "got")), true);
    EXPECT_EQ(get.status, 1);
    EXPECT_NE(get.out.find("21 images, 40 files extracted, 0 not, 1 images not read"), std::string::npos) << get.out;
}

TEST_F(Collection, NothingEndsSilently) {
    const std::string top = Quote(dir / "top"), plain = Quote(dir / "top/sub/plain.dsk");
    // A folder with images only in its subfolders.
    fs::create_directories(dir / "empty/deeper");
    const CommandResult empty = Run("ls " + Quote(dir / "empty"));
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.out.find("holds no disk images (use -r to look in its subfolders)"), std::string::npos);
    EXPECT_EQ(Run("find -r '*' " + Quote(dir / "empty")).status, 1);
    // Patterns that match nothing anywhere.
    const CommandResult find = Run("find NOSUCH " + plain);
    EXPECT_EQ(find.status, 1);
    EXPECT_NE(find.out.find("no file matches NOSUCH"), std::string::npos);
    EXPECT_EQ(Run("ls " + plain + " -- NOSUCH").status, 1);
    EXPECT_EQ(Run("find -r 'LOADER.BAS' " + Quote(dir / "top/sub")).status, 0);
    EXPECT_EQ(Run("find -r 'LOADER.BAS' " + top).status, 1); // broken.dsk cannot be read
    EXPECT_EQ(Run("find 'LOADER.BAS' " + plain).status, 0);
    // A pattern ending in "." names a blank type; *.* matches it too.
    WriteFile(dir / "data", {1, 2, 3});
    ASSERT_EQ(Run("put --as DISK " + plain + " " + Quote(dir / "data")).status, 0);
    const CommandResult blank = Run("find 'disk.' " + plain);
    EXPECT_EQ(blank.status, 0);
    EXPECT_NE(blank.out.find("0:DISK 128"), std::string::npos) << blank.out;
    EXPECT_NE(Run("ls " + plain + " -- '*.*'").out.find("DISK"), std::string::npos);
    EXPECT_EQ(Run("find 'LOADER.' " + plain).status, 1);
}

TEST_F(Collection, WriteErrorsAndUnreadableFoldersFailTheCommand) {
    const std::string plain = Quote(dir / "top/sub/plain.dsk");
    for (const std::string& args : {"ls " + plain, "ls --json -r " + Quote(dir / "top"), "info " + plain,
                                    "find -r '*' " + Quote(dir / "top"), "check " + plain}) {
        const CommandResult full = RunCommand("( " + Cli(args) + " 2>&1 >/dev/full )", false);
        EXPECT_EQ(full.status, 1) << args;
        EXPECT_NE(full.out.find("write error: No space left on device"), std::string::npos) << args;
    }
    // The cause a JSON error object keeps.
    const auto broken =
        nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(dir / "top/broken.dsk")), false).out);
    EXPECT_EQ(broken["error"], "Unable to load disk image");
    EXPECT_EQ(broken["cause"], "not a disk image");
    for (const char* command : {"find --json '*' ", "check --json "}) {
        const auto found = nlohmann::json::parse(
            RunCommand(Cli(std::string(command) + Quote(dir / "top/broken.dsk")), false).out);
        EXPECT_EQ(found["cause"], "not a disk image") << command;
    }
    // Root reads every folder: the walk then runs as nobody.
    std::string asUser;
    if (geteuid() == 0) {
        if (!HaveProgram("setpriv"))
            GTEST_SKIP() << "running as root without setpriv: no folder is unreadable";
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    }
    fs::permissions(dir / "top/sub", fs::perms::none);
    const CommandResult ls = RunCommand(asUser + Cli("ls -r " + Quote(dir / "top")), true);
    fs::permissions(dir / "top/sub", fs::perms::owner_all);
    EXPECT_EQ(ls.status, 1);
    EXPECT_NE(ls.out.find("cannot read the folder"), std::string::npos) << ls.out;
}

} // namespace
