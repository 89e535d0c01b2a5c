// The whole directory region and the used-block map after put, replace,
// rename, attributes and erase, byte for byte, on three layouts: one-byte
// block numbers, two-byte block numbers, and entries of two logical extents
// (extent mask 1). The expected entries are written out here as CP/M fills
// them, not computed by the code under test.

#include "support/DiskBuilder.h"

#include <set>

namespace {

struct Golden {
    const char* name;
    unsigned cylinders, heads;
    std::vector<std::uint8_t> spec;
    unsigned reserved;
    unsigned directorySectors;
    bool wide;
    // The blocks 20000 bytes take (as CP/M allocates: the lowest free ones)
    // and how CP/M fills the entries: per entry its EX, RC and blocks.
    struct Entry {
        std::uint8_t ex, rc;
        std::vector<std::uint16_t> blocks;
    };
    std::vector<Entry> big;   // 20000 bytes
    std::vector<Entry> small; // 3000 bytes, replacing it
    unsigned usableBlocks;
};

void PrintTo(const Golden& golden, std::ostream* os) { *os << golden.name; }

const Golden kGoldens[] = {
    // +3 180K: 1K blocks, two directory blocks, 175 data blocks.
    {"one-byte", 40, 1, {0, 0, 40, 9, 2, 1, 3, 2, 0x2A, 0x52}, 1, 4, false,
     {{0, 128, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}}, {1, 29, {18, 19, 20, 21}}},
     {{0, 24, {22, 23, 24}}},
     175},
    // 720K: 2K blocks, four directory blocks, 357 data blocks: eight
    // two-byte numbers an entry.
    {"two-byte", 80, 2, {3, 0x81, 80, 9, 2, 1, 4, 4, 0x2A, 0x52}, 1, 16, true,
     {{0, 128, {4, 5, 6, 7, 8, 9, 10, 11}}, {1, 29, {12, 13}}},
     {{0, 24, {14, 15}}},
     357},
    // 180K with 2K blocks: 87 data blocks, sixteen one-byte numbers of 2K,
    // so an entry holds two logical extents; EX is the last one.
    {"extent mask 1", 40, 1, {0, 0, 40, 9, 2, 1, 4, 2, 0x2A, 0x52}, 1, 8, false,
     {{1, 29, {2, 3, 4, 5, 6, 7, 8, 9, 10, 11}}},
     {{0, 24, {12, 13}}},
     87},
};

class DirectoryGolden : public ::testing::TestWithParam<Golden> {
protected:
    DirectoryGolden() : disk(GetParam().cylinders, GetParam().heads, 9, 1, 512) {
        disk.Register(kPath);
        std::copy(GetParam().spec.begin(), GetParam().spec.end(),
                  disk.Sector(0, 0, disk.geometry.dg_secbase));
    }
    ~DirectoryGolden() override { MemDisk::UnregisterAll(); }

    void SetUp() override {
        ASSERT_EQ(image.LoadImage(kPath), 1);
        expected.assign(std::size_t{GetParam().directorySectors} * 512, 0xE5);
    }
    std::vector<std::uint8_t> Region() {
        std::vector<std::uint8_t> bytes;
        for (unsigned k = 0; k < GetParam().directorySectors; ++k) {
            const std::uint8_t* sector = disk.Logical(GetParam().reserved, k);
            bytes.insert(bytes.end(), sector, sector + 512);
        }
        return bytes;
    }
    void Expect(unsigned slot, std::uint8_t user, const char* name, const char* type,
                const Golden::Entry& entry) {
        DirEntry e = MakeEntry(user, name, type, entry.rc, {}, GetParam().wide, entry.ex);
        for (std::size_t i = 0; i < entry.blocks.size(); ++i) {
            if (GetParam().wide) {
                e.blocks[2 * i] = static_cast<std::uint8_t>(entry.blocks[i] & 0xFF);
                e.blocks[2 * i + 1] = static_cast<std::uint8_t>(entry.blocks[i] >> 8);
            } else {
                e.blocks[i] = static_cast<std::uint8_t>(entry.blocks[i]);
            }
        }
        std::memcpy(expected.data() + slot * 32, &e, 32);
    }
    // Above the directory (which allocation never reaches), exactly the
    // blocks of these entries are in use.
    void ExpectMap(const std::vector<Golden::Entry>& entries) {
        std::set<std::uint16_t> used;
        for (const auto& entry : entries)
            used.insert(entry.blocks.begin(), entry.blocks.end());
        const std::uint16_t directoryBlocks = GetParam().spec[7];
        for (std::uint16_t b = directoryBlocks; b < GetParam().usableBlocks; ++b)
            EXPECT_EQ(image.Volume().IsBlockFree(b), used.count(b) == 0) << "block " << b;
        EXPECT_EQ(image.Volume().GetUsedSpace(), used.size() * image.Layout().blockSize);
    }
    CDiskImage::ImportTarget Target(const char* text, bool replace = false) {
        CDiskImage::ImportTarget target;
        EXPECT_EQ(ParseCpmName(text, NameCase::Upper, target.file), NameCheck::Valid);
        target.replace = replace;
        return target;
    }

    static constexpr const char* kPath = "golden.dsk";
    MemDisk disk;
    TestOwner owner;
    CDiskImage image{&owner};
    std::vector<std::uint8_t> expected;
};

TEST_P(DirectoryGolden, PutReplaceRenameAttributesErase) {
    const Golden& g = GetParam();
    const std::vector<std::uint8_t> big(20000, 0x42), small(3000, 0x53);

    ASSERT_EQ(image.ImportData(Target("GAME.BIN"), big), 1);
    for (unsigned i = 0; i < g.big.size(); ++i)
        Expect(i, 0, "GAME", "BIN", g.big[i]);
    EXPECT_EQ(Region(), expected);
    ExpectMap(g.big);

    // The new file goes into the lowest free blocks, the old one's kept
    // until it is in place; the old entries are freed by their user byte.
    ASSERT_EQ(image.ImportData(Target("GAME.BIN", true), small), 1);
    Expect(0, 0, "GAME", "BIN", g.small[0]);
    for (unsigned i = 1; i < g.big.size(); ++i)
        expected[i * 32] = 0xE5;
    EXPECT_EQ(Region(), expected);
    ExpectMap(g.small);

    FileId renamed;
    ASSERT_EQ(ParseCpmName("PLAY.COM", NameCase::Upper, renamed), NameCheck::Valid);
    renamed.user = 3;
    ASSERT_EQ(image.RenameFile(Row(0, "GAME    ", "BIN"), renamed), 1);
    expected[0] = 3;
    std::memcpy(&expected[1], "PLAY    COM", 11);
    EXPECT_EQ(Region(), expected);

    // Read-only and archive: bit 7 of the type's first and third bytes.
    ASSERT_EQ(image.SetAttributes(Row(3, "PLAY    ", "COM"),
                                  CDiskImage::kReadOnlyAttribute | CDiskImage::kArchiveAttribute, 0),
              1);
    expected[9] |= 0x80;
    expected[11] |= 0x80;
    EXPECT_EQ(Region(), expected);

    ASSERT_EQ(image.EraseFile(Row(3, "PLAY    ", "COM")), 1);
    expected[0] = 0xE5;
    EXPECT_EQ(Region(), expected);
    ExpectMap({});
}

INSTANTIATE_TEST_SUITE_P(Layouts, DirectoryGolden, ::testing::ValuesIn(kGoldens),
                         [](const auto& param) {
                             std::string name = param.param.name;
                             for (char& c : name)
                                 if (c == ' ' || c == '-')
                                     c = '_';
                             return name;
                         });

} // namespace
