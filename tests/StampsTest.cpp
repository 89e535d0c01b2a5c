// CP/M Plus disks as CP/M Plus keeps them: stamps and label read and written
// (checked against cpmtools, which makes such disks), password records
// shown, read-only files and over-long names refused.

#include "support/DiskBuilder.h"
#include "support/DskWriter.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

bool HaveCpmtools() {
    return HaveProgram("mkfs.cpm") && HaveProgram("cpmcp") && HaveProgram("cpmls") &&
           HaveProgram("fsck.cpm");
}

// "YYYY-MM-DDTHH:MM" from cpmls -F's "MM/DD/YY HH:MM".
std::string FromCpmls(const std::string& text) {
    int month, day, year, hour, minute;
    if (std::sscanf(text.c_str(), "%d/%d/%d %d:%d", &month, &day, &year, &hour, &minute) != 5)
        return "?" + text;
    char iso[32];
    std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d", year < 78 ? 2000 + year : 1900 + year,
                  month, day, hour, minute);
    return iso;
}

// A PCW 720K disk (raw) with a label and stamps, made by cpmtools.
class StampedDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveCpmtools())
            GTEST_SKIP() << "cpmtools is not installed";
        WriteFile(image, std::vector<unsigned char>(737280, 0xE5));
        ASSERT_EQ(Here("mkfs.cpm -f cf2dd -L WORKDISK -t disk.img").status, 0);
        AddWithTime("A.TXT", "2024-03-05 14:27");
        AddWithTime("B.TXT", "2025-11-30 08:05");
        fsckBefore = FsckErrors();
    }
    CommandResult Here(const std::string& command) {
        return RunCommand("cd " + Quote(dir.Path().string()) + " && " + command, true);
    }
    void AddWithTime(const std::string& name, const std::string& when) {
        WriteFile(dir / name, PatternBytes(3000, static_cast<unsigned>(name[0])));
        ASSERT_EQ(Here("touch -d '" + when + "' " + name + " && cpmcp -p -f cf2dd disk.img " + name + " 0:").status, 0);
    }
    std::string FsckErrors() {
        std::string errors;
        std::istringstream lines(Here("fsck.cpm -n -f cf2dd disk.img").out);
        for (std::string line; std::getline(lines, line);)
            if (line.find("Error") != std::string::npos || line.find("Bad") != std::string::npos)
                errors += line + "\n";
        return errors;
    }
    // cpmls -F's update and create stamps of each file, as ISO 8601.
    std::map<std::string, std::pair<std::string, std::string>> CpmlsStamps() {
        std::map<std::string, std::pair<std::string, std::string>> stamps;
        std::istringstream lines(Here("cpmls -F -f cf2dd disk.img").out);
        for (std::string line; std::getline(lines, line);) {
            if (line.size() < 70)
                continue;
            const std::string update = FromCpmls(line.substr(line.size() - 30, 14));
            const std::string create = FromCpmls(line.substr(line.size() - 14, 14));
            if (update[0] == '?' || create[0] == '?')
                continue; // not a file's line
            std::istringstream fields(line);
            std::string name, type;
            fields >> name >> type;
            stamps[name + "." + type] = {update, create};
        }
        return stamps;
    }
    std::map<std::string, nlohmann::json> Files() {
        const auto listing = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
        std::map<std::string, nlohmann::json> files;
        for (const auto& f : listing["files"])
            files[f["name"].get<std::string>() + "." + f["type"].get<std::string>()] = f;
        return files;
    }
    CommandResult Run(const std::string& args) { return RunCommand(Cli(args), true); }

    TempDir dir;
    std::string image = dir / "disk.img";
    std::string fsckBefore;
};

TEST_F(StampedDisk, StampsAndLabelAreReadAsCpmlsReadsThem) {
    const auto files = Files();
    const auto theirs = CpmlsStamps();
    ASSERT_EQ(theirs.size(), 2u) << Here("cpmls -F -f cf2dd disk.img").out;
    for (const auto& [name, stamps] : theirs) {
        EXPECT_EQ(files.at(name)["updated"], stamps.first) << name;
        EXPECT_EQ(files.at(name)["created"], stamps.second) << name;
    }
    EXPECT_EQ(files.at("A.TXT")["updated"], "2024-03-05T14:27");
    const auto listing = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
    EXPECT_EQ(listing["label"], "WORKDISK");
    EXPECT_EQ(listing["stamps"], nlohmann::json::array({"create"}));
    EXPECT_NE(Run("ls -l " + Quote(image)).out.find("2025-11-30 08:05"), std::string::npos);
    EXPECT_NE(Run("info " + Quote(image)).out.find("Label : WORKDISK (stamps: create)"), std::string::npos);
    // get gives the host file the update stamp as its time.
    fs::create_directory(dir / "out");
    ASSERT_EQ(Run("get " + Quote(image) + " " + Quote(dir / "out")).status, 0);
    struct stat st {};
    ASSERT_EQ(stat((dir / "out/A.TXT").c_str(), &st), 0);
    std::tm local{};
    localtime_r(&st.st_mtime, &local);
    EXPECT_EQ(local.tm_year + 1900, 2024);
    EXPECT_EQ(local.tm_hour * 60 + local.tm_min, 14 * 60 + 27);
}

TEST_F(StampedDisk, ChangesStampAsCpmPlusDoesAndFsckFindsNothingNew) {
    WriteFile(dir / "NEW.BIN", PatternBytes(5000, 9));
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(Run("put " + Quote(image) + " " + Quote(dir / "NEW.BIN")).status, 0);
    ASSERT_EQ(Run("put --replace --as B.TXT " + Quote(image) + " " + Quote(dir / "NEW.BIN")).status, 0);
    ASSERT_EQ(Run("mv " + Quote(image) + " A.TXT RENAMED.TXT").status, 0);
    ASSERT_EQ(Run("attr --set s " + Quote(image) + " RENAMED.TXT").status, 0);
    EXPECT_EQ(FsckErrors(), fsckBefore);
    const auto theirs = CpmlsStamps();
    // Renamed and attr: the stamps as they were.
    EXPECT_EQ(theirs.at("RENAMED.TXT").first, "2024-03-05T14:27");
    // New and replaced: created now (the label keeps create stamps only).
    std::tm now{};
    localtime_r(&before, &now);
    char today[16];
    std::strftime(today, sizeof today, "%Y-%m-%d", &now);
    for (const char* name : {"NEW.BIN", "B.TXT"}) {
        EXPECT_EQ(theirs.at(name).second.substr(0, 10), today) << name;
        EXPECT_EQ(Files().at(name).count("updated"), 0u) << name;
    }
    // rm clears the slot it frees; a file put in its place gets its own.
    ASSERT_EQ(Run("rm " + Quote(image) + " RENAMED.TXT").status, 0);
    EXPECT_EQ(FsckErrors(), fsckBefore);
    ASSERT_EQ(Run("put --as LATE.BIN " + Quote(image) + " " + Quote(dir / "NEW.BIN")).status, 0);
    EXPECT_EQ(CpmlsStamps().at("LATE.BIN").second.substr(0, 10), today);
    EXPECT_EQ(FsckErrors(), fsckBefore);
}

TEST_F(StampedDisk, ReadOnlyFilesAreRefusedUnlessForced) {
    ASSERT_EQ(Run("attr --set r " + Quote(image) + " A.TXT").status, 0);
    const auto before = ReadFile(image);
    WriteFile(dir / "NEW.BIN", PatternBytes(100, 3));
    for (const std::string& args : {"rm " + Quote(image) + " '*.TXT'", "mv " + Quote(image) + " A.TXT Z.TXT",
                                    "put --replace --as A.TXT " + Quote(image) + " " + Quote(dir / "NEW.BIN")}) {
        const CommandResult refused = Run(args);
        EXPECT_EQ(refused.status, 1) << args;
        EXPECT_NE(refused.out.find("0:A.TXT is read-only: clear it with attr --clear r, or give --force"),
                  std::string::npos)
            << refused.out;
        EXPECT_EQ(ReadFile(image), before) << args;
    }
    ASSERT_EQ(Run("put --replace --force --as A.TXT " + Quote(image) + " " + Quote(dir / "NEW.BIN")).status, 0);
    EXPECT_EQ(Files().at("A.TXT")["readonly"], true); // the replaced file's attribute kept
    EXPECT_EQ(Run("rm --force " + Quote(image) + " A.TXT").status, 0);
    EXPECT_EQ(Files().count("A.TXT"), 0u);
}

TEST(CpmNames, NamesAreStoredAsTypedOrRefused) {
    TempDir dir;
    const std::string image = dir / "plus3.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
    WriteFile(dir / "report2024.txt", {'a'});
    WriteFile(dir / "report2025.txt", {'b'});
    WriteFile(dir / "averyverylongname.binary", {'c'});
    const auto before = ReadFile(image);
    CommandResult r = RunCommand(Cli("put --as TOOLONGNAME.BIN " + Quote(image) + " " + Quote(dir / "report2024.txt")), true);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("TOOLONGNAME.BIN is longer than 8.3"), std::string::npos) << r.out;
    EXPECT_EQ(ReadFile(image), before);
    // Two host names that cut to one: the second is refused, and with it
    // the command (--keep-going keeps the first).
    for (const char* keepGoing : {"", "--keep-going "}) {
        r = RunCommand(Cli("put --replace " + std::string(keepGoing) + Quote(image) + " " +
                           Quote(dir / "report2024.txt") + " " + Quote(dir / "report2025.txt")),
                       true);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("is stored as 0:REPORT20.TXT, as "), std::string::npos) << r.out;
        if (*keepGoing == 0) {
            EXPECT_NE(r.out.find("not stored over it: nothing stored"), std::string::npos) << r.out;
            EXPECT_EQ(ReadFile(image), before);
        } else {
            EXPECT_NE(r.out.find("report2024.txt \xe2\x86\x92 0:REPORT20.TXT"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("1 of 2 files stored (--keep-going)"), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(RunCommand(Cli("get " + Quote(image) + " - REPORT20.TXT")).out.substr(0, 1), "a");
    r = RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "averyverylongname.binary")), true);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("averyverylongname.binary \xe2\x86\x92 0:AVERYVER.BIN"), std::string::npos);
    // Two dots: the last begins the type, the others are left out, and
    // that is said as a cut is.
    for (const auto& [host, stored] : {std::pair{"frame1.img.scr", "0:FRAME1IM.SCR"}, std::pair{"a.b.c", "0:AB.C"}}) {
        WriteFile(dir / host, {'d'});
        r = RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / host)), true);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(std::string(host) + " \xe2\x86\x92 " + stored), std::string::npos) << r.out;
        EXPECT_EQ(RunCommand(Cli("get " + Quote(image) + " - " + stored)).out.substr(0, 1), "d");
    }
    ASSERT_EQ(RunCommand(Cli("rm " + Quote(image) + " FRAME1IM.SCR AB.C")).status, 0);
    const auto stored = ReadFile(image);
    r = RunCommand(Cli("mv " + Quote(image) + " AVERYVER.BIN TOOLONGNAME.BIN"), true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadFile(image), stored);
}

TEST(CpmPlusDisks, PasswordRecordsAreShownAndUnstampedDisksChangeOnlyTheirNewEntries) {
    TempDir dir;
    // A +3 180K disk: GOOD.BIN in block 2, its password record (mode: read)
    // byte by byte, and no stamp entries.
    DskWriter disk(40);
    const DirEntry good = MakeEntry(0, "GOOD", "BIN", 4, {2});
    const DirEntry password = MakeEntry(16, "GOOD", "BIN", 0, {}, false, 0x80);
    disk.PutEntry(1, 0, &good);
    disk.PutEntry(1, 1, &password);
    const std::string image = dir / "locked.dsk";
    disk.Save(image);
    const auto listing = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
    ASSERT_EQ(listing["files"].size(), 1u);
    EXPECT_EQ(listing["files"][0]["protected"], true);
    EXPECT_EQ(listing["files"][0]["protection"], "read");
    EXPECT_EQ(listing["files"][0].count("created"), 0u);
    EXPECT_TRUE(listing["label"].is_null());
    EXPECT_NE(RunCommand(Cli("ls -l " + Quote(image))).out.find("--- --- --- P"), std::string::npos);
    // A put on a disk without stamps changes the directory only in the new
    // file's entry (the third).
    const auto before = ReadFile(image);
    WriteFile(dir / "NEW.BIN", {1, 2, 3});
    ASSERT_EQ(RunCommand(Cli("put " + Quote(image) + " " + Quote(dir / "NEW.BIN"))).status, 0);
    const auto after = ReadFile(image);
    ASSERT_EQ(before.size(), after.size());
    // The container's own header (0x100 bytes) carries the name of the
    // program that wrote it last; the disk starts after it.
    std::vector<std::size_t> changed;
    for (std::size_t i = 0x100; i < before.size(); ++i)
        if (before[i] != after[i])
            changed.push_back(i);
    ASSERT_FALSE(changed.empty());
    // The directory's sectors start after the header (0x100), the first
    // track's header (0x100) and its nine sectors, and the second track's
    // header: the third entry is bytes 64-95 there.
    const std::size_t directory = 0x100 + 0x100 + 9 * 512 + 0x100;
    for (std::size_t at : changed)
        EXPECT_TRUE((at >= directory + 64 && at < directory + 96) || at >= directory + 1024)
            << "byte " << at << " changed";
}

TEST(CpmPlusCorpus, TheMastersKeepTheirStamps) {
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "the shared corpus is not there";
    const auto listing = nlohmann::json::parse(
        RunCommand(Cli("ls --json " + Quote(corpus + "/plus3_180k_soloforth_boot.dsk"))).out);
    EXPECT_EQ(listing["files"][0]["name"], "DISK");
    EXPECT_EQ(listing["files"][0]["updated"], "2017-04-27T20:14");
    EXPECT_FALSE(listing["label"].is_null());
}

} // namespace
