// Images made by LibDsk's dskform and filled by cpmtools, and the real-world
// images of the shared corpus, read through the real LibDsk.

#include "CatalogueView.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <tuple>

namespace {

// "USER:NAME.TYP" to the size in bytes: one row per file, as CP/M knows files.
using Listing = std::map<std::string, std::uint32_t>;

// Parses `cpmls -F`: per-user blocks of "NAME     TYP  Nk  RECS ..." lines.
Listing ParseCpmls(const std::string& text) {
    Listing listing;
    std::istringstream in(text);
    std::string line;
    unsigned user = 0;
    while (std::getline(in, line)) {
        if (line.rfind("Directory For Drive", 0) == 0) {
            user = static_cast<unsigned>(std::stoul(line.substr(line.rfind(' ') + 1)));
            continue;
        }
        if (line.size() < 14 || line[0] == ' ' || line[0] == '-' || line.rfind("Total", 0) == 0)
            continue;
        auto trim = [](std::string s) {
            s.erase(s.find_last_not_of(' ') + 1);
            return s;
        };
        const std::string name = trim(line.substr(0, 8));
        const std::string type = trim(line.substr(9, 3));
        std::istringstream rest(line.substr(12));
        std::string bytes;
        unsigned long records = 0;
        rest >> bytes >> records;
        const std::string key = std::to_string(user) + ":" + (type.empty() ? name : name + "." + type);
        listing[key] += static_cast<std::uint32_t>(records * 128);
    }
    return listing;
}

Listing ListWithTarnlight(const std::string& image, std::vector<std::string>* messages = nullptr) {
    LibDskOwner owner;
    CDiskImage disk(&owner);
    disk.LoadImage(image);
    Catalogue rows;
    ClearCatalogue(rows);
    disk.ReadCatalogue(rows);
    Listing listing;
    for (std::size_t i = 0; i < CatalogueLength(rows); ++i)
        listing[std::to_string(rows[i].user) + ":" + ShownFileName(rows[i])] = rows[i].size;
    if (messages != nullptr)
        for (const Notice& notice : disk.Notices())
            messages->push_back(notice.text);
    return listing;
}

// Every file, taken out by user and name, holds what cpmcp takes out of
// USER:NAME (ours is whole records; cpmcp may stop at a CP/M 3 byte count).
void ExpectSameDataAsCpmcp(const std::string& image, const std::string& cpmOptions) {
    LibDskOwner owner;
    CDiskImage disk(&owner);
    ASSERT_EQ(disk.LoadImage(image), 1);
    Catalogue rows;
    ClearCatalogue(rows);
    disk.ReadCatalogue(rows);
    TempDir dir;
    for (std::size_t i = 0; i < CatalogueLength(rows); ++i) {
        const FileEntry& row = rows[i];
        const std::string shown = std::to_string(row.user) + ":" + ShownFileName(row);
        std::vector<std::uint8_t> ours;
        ASSERT_EQ(disk.ReadFileData(row, [&](const std::uint8_t* data, std::size_t size) {
            ours.insert(ours.end(), data, data + size);
            return true;
        }), 1) << shown;
        const std::string theirs = dir / ("cpmcp" + std::to_string(i));
        RunCommand("cpmcp " + cpmOptions + " " + Quote(image) + " " + Quote(shown) + " " + Quote(theirs));
        const std::vector<unsigned char> peer = ReadFile(theirs);
        ASSERT_LE(peer.size(), ours.size()) << shown;
        EXPECT_LT(ours.size() - peer.size(), 128u) << shown;
        EXPECT_TRUE(std::equal(peer.begin(), peer.end(), ours.begin())) << shown;
    }
}

bool HaveCpmtools() { return HaveProgram("dskform") && HaveProgram("cpmcp") && HaveProgram("cpmls"); }

struct Format {
    const char* dskform;
    const char* diskdef;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Format& value, std::ostream* os) { *os << value.dskform; }


class CpmtoolsImages : public ::testing::TestWithParam<Format> {};

TEST_P(CpmtoolsImages, ListsWhatCpmlsLists) {
    if (!HaveCpmtools())
        GTEST_SKIP() << "dskform and cpmtools are not installed";
    const Format format = GetParam();
    TempDir dir;
    const std::string image = dir / "disk.dsk";
    ASSERT_EQ(RunCommand("dskform -type dsk -format " + std::string(format.dskform) + " " +
                         Quote(image) + " >/dev/null")
                  .status,
              0);
    // Sizes around record, block and extent boundaries, under several users.
    const std::size_t sizes[] = {0, 1, 127, 128, 300, 1024, 5000, 16384, 16385, 40000, 70000};
    const unsigned users[] = {0, 3, 0, 15, 0, 1, 0, 14, 0, 2, 0};
    const char* types[] = {"BIN", "TXT", "", "COM", "BAS", "", "DAT", "Z80", "SCR", "A", "RAW"};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const std::string host = dir / ("f" + std::to_string(i));
        WriteFile(host, PatternBytes(sizes[i], static_cast<unsigned>(i)));
        std::string target = std::to_string(users[i]) + ":FILE" + std::to_string(i);
        if (*types[i] != 0)
            target += std::string(".") + types[i];
        ASSERT_EQ(RunCommand("cpmcp -T dsk -f " + std::string(format.diskdef) + " " + Quote(image) +
                             " " + Quote(host) + " " + target)
                      .status,
                  0)
            << target;
    }
    const CommandResult cpmls =
        RunCommand("cpmls -T dsk -f " + std::string(format.diskdef) + " -F " + Quote(image));
    ASSERT_EQ(cpmls.status, 0);
    const Listing expected = ParseCpmls(cpmls.out);
    ASSERT_EQ(expected.size(), std::size(sizes));
    std::vector<std::string> messages;
    EXPECT_EQ(ListWithTarnlight(image, &messages), expected);
    EXPECT_TRUE(messages.empty());
    ExpectSameDataAsCpmcp(image, "-T dsk -f " + std::string(format.diskdef));
}

INSTANTIATE_TEST_SUITE_P(Formats, CpmtoolsImages,
                         ::testing::Values(Format{"pcw180", "pcw"}, Format{"pcw720", "cf2dd"},
                                           Format{"cpcdata", "cpcdata"},
                                           Format{"cpcsys", "cpcsys"}),
                         [](const auto& param) { return std::string(param.param.dskform); });

class Corpus : public ::testing::Test {
protected:
    void SetUp() override {
        dir = CorpusDir();
        if (dir.empty())
            GTEST_SKIP() << "the shared corpus (../shared/corpus) is not present";
    }
    std::string Image(const char* name) const { return dir + "/" + name; }
    std::string dir;
};

const Listing kSoloForth = {
    {"0:DISK", 256},       {"0:SOLO.BIN", 31232}, {"0:PR64.BIN", 384},
    {"0:PR42.BIN", 1920},  {"0:EA5A.F42", 896},   {"0:SOXZ.FZX", 896},
    {"0:CHLO.FZX", 1024},  {"0:GENE.FZX", 1152},  {"0:ZAIB.FZX", 1152},
    {"0:GROT.FZX", 2816},  {"0:SINC.FZX", 1024},  {"0:SABO.FZX", 1920},
    {"0:LETT.FZX", 1152},  {"0:IMG.ZX7", 6400},
};

TEST_F(Corpus, Plus3SoloForthDisks) {
    EXPECT_EQ(ListWithTarnlight(Image("plus3_180k_soloforth_boot.dsk")), kSoloForth);
    EXPECT_EQ(ListWithTarnlight(Image("plus3_720k_soloforth_boot.dsk")), kSoloForth);
}

TEST_F(Corpus, Plus3FiguresCountReferencedBlocks) {
    LibDskOwner owner;
    CDiskImage disk(&owner);
    ASSERT_EQ(disk.LoadImage(Image("plus3_180k_soloforth_boot.dsk")), 1);
    // 59 blocks referenced, the 2 directory blocks among them.
    EXPECT_EQ(disk.Volume().GetUsedSpace(), 57u * 1024);
    EXPECT_EQ(disk.Volume().GetCapacity(), 180u * 1024);
    ASSERT_EQ(disk.LoadImage(Image("plus3_720k_soloforth_boot.dsk")), 1);
    EXPECT_EQ(disk.Layout().spec.bytes[DiskSpec::ReservedTracks], 2);
    EXPECT_EQ(disk.Volume().GetUsedSpace(), 33u * 2048);
}

TEST_F(Corpus, RawBlockDiskWithoutFileSystemListsNothing) {
    std::vector<std::string> messages;
    EXPECT_TRUE(ListWithTarnlight(Image("plus3_720k_soloforth_rawblocks_nofs.dsk"), &messages)
                    .empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Corpus, PcwExtendedImageWithFragmentedFile) {
    const Listing expected = {
        {"0:J29CPM3.EMS", 43008}, {"0:MUSHROOM.RAW", 89088}, {"0:DAC.COM", 384},
        {"0:SCAN.COM", 1408},     {"0:DIR.COM", 14592},      {"0:ERASE.COM", 3712},
        {"0:PIP.COM", 8704},      {"0:RENAME.COM", 2944},    {"0:TYPE.COM", 3072},
    };
    EXPECT_EQ(ListWithTarnlight(Image("pcw_180k_cpm3_u765test_edsk.dsk")), expected);
}

// A header promising 42 tracks of which the last two have no block, and
// track headers without their CR LF: LibDsk (and so cpmls) refuse the file
// as corrupt. Read from a copy made whole, it lists the two files the
// corpus's notes found on a mended copy, and is never written to.
TEST_F(Corpus, ContainerLibDskRefusesIsReadFromACopyMadeWhole) {
    const std::string path = Image("plus3_180k_zenzx_bad_header_edsk.dsk");
    const auto before = ReadFile(path);
    LibDskOwner owner;
    CDiskImage disk(&owner);
    ASSERT_EQ(disk.LoadImage(path), 1);
    EXPECT_FALSE(disk.IsWritable());
    ASSERT_EQ(disk.Notices().size(), 1u);
    EXPECT_EQ(disk.Notices()[0].icon, MessageIcon::Warning);
    EXPECT_EQ(disk.Notices()[0].text, "the container ends in unformatted tracks, which the disk "
                                      "library cannot read as they stand: it can be listed and "
                                      "read, not changed");
    const Listing expected = {{"0:ALOUETTE.BAS", 256}, {"0:HELLO.BAS", 256}};
    EXPECT_EQ(ListWithTarnlight(path), expected);
    disk.CloseImage();
    EXPECT_EQ(ReadFile(path), before);
}

struct CpcImage {
    const char* file;
    const char* diskdef;
    std::size_t files;
};
// Names the case in test listings instead of dumping its bytes.
void PrintTo(const CpcImage& value, std::ostream* os) { *os << value.file; }


class CpcCorpus : public Corpus, public ::testing::WithParamInterface<CpcImage> {};

TEST_P(CpcCorpus, ListsWhatCpmlsLists) {
    if (!HaveProgram("cpmls"))
        GTEST_SKIP() << "cpmtools is not installed";
    const CpcImage c = GetParam();
    // Leaving out -T lets LibDsk recognise both container kinds.
    const CommandResult cpmls =
        RunCommand("cpmls -f " + std::string(c.diskdef) + " -F " + Quote(Image(c.file)));
    ASSERT_EQ(cpmls.status, 0);
    const Listing expected = ParseCpmls(cpmls.out);
    EXPECT_EQ(expected.size(), c.files);
    std::vector<std::string> messages;
    EXPECT_EQ(ListWithTarnlight(Image(c.file), &messages), expected);
    // The copy-protection tracks are named, and keep the disk from changes.
    if (std::string(c.file).find("protected") != std::string::npos)
        EXPECT_EQ(messages, (std::vector<std::string>{
                                "track 39 holds 14 sectors of 8192 and 256 bytes: a disk with a format "
                                "of its own can be listed, not changed"}));
    else
        EXPECT_TRUE(messages.empty());
    ExpectSameDataAsCpmcp(Image(c.file), std::string("-f ") + c.diskdef);
}

INSTANTIATE_TEST_SUITE_P(
    Images, CpcCorpus,
    ::testing::Values(CpcImage{"cpc_data_romdump_42trk.dsk", "cpcdata", 2},
                      // NEMESIS.BAS and NEMESIS2.BAS under users 0 and 1.
                      CpcImage{"cpc_data_57files_two_users_edsk.dsk", "cpcdata", 57},
                      CpcImage{"cpc_system_choicecheats_edsk.dsk", "cpcsys", 27},
                      CpcImage{"cpc_data_jacelock_protected_edsk.dsk", "cpcdata", 8}),
    [](const auto& param) {
        std::string name = param.param.file;
        return name.substr(0, name.find('.'));
    });

} // namespace
