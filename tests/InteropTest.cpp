// Images made by LibDsk's dskform and filled by cpmtools, and the real-world
// images of the shared corpus, read through the real LibDsk.

#include "CatalogueView.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <tuple>

namespace {

struct Listed {
    unsigned user;
    std::uint32_t size;
    bool operator==(const Listed&) const = default;
};
using Listing = std::map<std::string, Listed>;

// Parses `cpmls -F`: per-user blocks of "NAME     TYP  Nk  RECS ..." lines.
// Names under several users are one file to us: first user, records added.
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
        const std::string key = type.empty() ? name : name + "." + type;
        auto [it, fresh] = listing.try_emplace(key, Listed{user, 0});
        it->second.size += static_cast<std::uint32_t>(records * 128);
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
        listing[ShownFileName(rows[i])] = {rows[i].user, rows[i].size};
    if (messages != nullptr)
        *messages = owner.messages;
    return listing;
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
    const unsigned users[] = {0, 3, 0, 15, 0, 1, 0, 31, 0, 2, 0};
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
    {"DISK", {0, 256}},       {"SOLO.BIN", {0, 31232}}, {"PR64.BIN", {0, 384}},
    {"PR42.BIN", {0, 1920}},  {"EA5A.F42", {0, 896}},   {"SOXZ.FZX", {0, 896}},
    {"CHLO.FZX", {0, 1024}},  {"GENE.FZX", {0, 1152}},  {"ZAIB.FZX", {0, 1152}},
    {"GROT.FZX", {0, 2816}},  {"SINC.FZX", {0, 1024}},  {"SABO.FZX", {0, 1920}},
    {"LETT.FZX", {0, 1152}},  {"IMG.ZX7", {0, 6400}},
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
    EXPECT_EQ(disk.GetUsedSpace(), 57u * 1024);
    EXPECT_EQ(disk.GetCapacity(), 180u * 1024);
    ASSERT_EQ(disk.LoadImage(Image("plus3_720k_soloforth_boot.dsk")), 1);
    EXPECT_EQ(disk.Spec().bytes[DiskSpec::ReservedTracks], 2);
    EXPECT_EQ(disk.GetUsedSpace(), 33u * 2048);
}

TEST_F(Corpus, RawBlockDiskWithoutFileSystemListsNothing) {
    std::vector<std::string> messages;
    EXPECT_TRUE(ListWithTarnlight(Image("plus3_720k_soloforth_rawblocks_nofs.dsk"), &messages)
                    .empty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Corpus, PcwExtendedImageWithFragmentedFile) {
    const Listing expected = {
        {"J29CPM3.EMS", {0, 43008}}, {"MUSHROOM.RAW", {0, 89088}}, {"DAC.COM", {0, 384}},
        {"SCAN.COM", {0, 1408}},     {"DIR.COM", {0, 14592}},      {"ERASE.COM", {0, 3712}},
        {"PIP.COM", {0, 8704}},      {"RENAME.COM", {0, 2944}},    {"TYPE.COM", {0, 3072}},
    };
    EXPECT_EQ(ListWithTarnlight(Image("pcw_180k_cpm3_u765test_edsk.dsk")), expected);
}

TEST_F(Corpus, BrokenContainerIsRefusedByTheLibrary) {
    LibDskOwner owner;
    CDiskImage disk(&owner);
    EXPECT_EQ(disk.LoadImage(Image("plus3_180k_zenzx_bad_header_edsk.dsk")), 0);
    EXPECT_FALSE(disk.IsOpen());
    ASSERT_EQ(owner.messages.size(), 1u);
    EXPECT_EQ(owner.messages[0], "Unable to load disk image");
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
    EXPECT_TRUE(messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Images, CpcCorpus,
    ::testing::Values(CpcImage{"cpc_data_romdump_42trk.dsk", "cpcdata", 2},
                      // 57 entries, NEMESIS.BAS and NEMESIS2.BAS under two users.
                      CpcImage{"cpc_data_57files_two_users_edsk.dsk", "cpcdata", 55},
                      CpcImage{"cpc_system_choicecheats_edsk.dsk", "cpcsys", 27},
                      CpcImage{"cpc_data_jacelock_protected_edsk.dsk", "cpcdata", 8}),
    [](const auto& param) {
        std::string name = param.param.file;
        return name.substr(0, name.find('.'));
    });

} // namespace
