// Every sector transfer of every operation that writes an image, failed in
// turn: the operation must report the failure and the image, opened afresh,
// must list exactly what it listed before, with no block used twice. Once
// on a disk in memory (every transfer of the operation itself), once on an
// image file through LibDsk (the working copy, its save and the reload):
// there the file must stay byte for byte as it was.

#include "Formats.h"
#include "support/DiskBuilder.h"
#include "support/HostTools.h"

#include <functional>
#include <map>

namespace {

struct Listed {
    std::string name;
    std::uint32_t size;
    bool operator==(const Listed&) const = default;
};

struct Format {
    const char* name;
    unsigned cylinders, heads, firstSector;
};

void PrintTo(const Format& format, std::ostream* os) { *os << format.name; }

class FaultMatrix : public ::testing::TestWithParam<Format> {
protected:
    FaultMatrix()
        : disk(GetParam().cylinders, GetParam().heads, 9, GetParam().firstSector, 512) {
        disk.Register("fm.dsk");
        WriteFile(host / "ONE.BIN", PatternBytes(3000, 1));
        WriteFile(host / "TWO.BIN", PatternBytes(17 * 1024 + 5, 2));
        WriteFile(host / "NEW.BIN", PatternBytes(18 * 1024, 3));
        WriteFile(host / "SMALL.BIN", PatternBytes(1500, 5));
        WriteFile(host / "boot.bin", PatternBytes(512, 4));
        TestOwner owner;
        CDiskImage image(&owner);
        Open(image);
        EXPECT_EQ(image.ImportFile(host / "ONE.BIN"), 1);
        EXPECT_EQ(image.ImportFile(host / "TWO.BIN"), 1);
        pristine = disk.Contents();
    }
    ~FaultMatrix() override { MemDisk::UnregisterAll(); }

    std::vector<Listed> Open(CDiskImage& image) {
        EXPECT_EQ(image.LoadImage("fm.dsk"), 1);
        Catalogue rows;
        ClearCatalogue(rows);
        image.ReadCatalogue(rows);
        std::vector<Listed> list;
        for (std::size_t i = 0; i < CatalogueLength(rows); ++i)
            list.push_back({ShownFileName(rows[i]), rows[i].size});
        return list;
    }

    // Every block that is marked used is named by exactly one live entry.
    void CheckBlocks(const CDiskImage& image) {
        std::map<unsigned, int> named;
        const auto* entries = reinterpret_cast<const DirEntry*>(image.Volume().DirectoryBuffer());
        const bool wide = image.Volume().WideBlockNumbers();
        for (std::size_t i = 0; i < kMaxDirEntries; ++i) {
            if (entries[i].user > kMaxLiveUser)
                continue;
            for (unsigned slot = 0; slot < (wide ? 8u : 16u); ++slot) {
                const unsigned b = wide ? entries[i].blocks[2 * slot] | entries[i].blocks[2 * slot + 1] << 8
                                        : entries[i].blocks[slot];
                if (b != 0)
                    ++named[b];
            }
        }
        for (auto [block, count] : named)
            EXPECT_EQ(count, 1) << "block " << block << " is used twice";
        // The directory's own blocks are in use as well.
        for (std::uint16_t b = 0; b < kMapBlocks; ++b)
            EXPECT_EQ(image.Volume().IsBlockFree(b),
                      b >= image.Layout().directoryBlocks && named.count(b) == 0)
                << "block " << b;
    }

    using Operation = std::function<int(CDiskImage&)>;

    // Runs `op` once cleanly to count its sector reads and writes, then once
    // per transfer with that transfer failing, reads and writes separately.
    void FailEachTransfer(const Operation& op, const char* what) {
        unsigned reads, writes;
        {
            disk.Restore(pristine);
            TestOwner owner;
            CDiskImage image(&owner);
            Open(image);
            const unsigned readsBefore = disk.reads, writesBefore = disk.writes;
            ASSERT_EQ(op(image), 1) << what;
            reads = disk.reads - readsBefore;
            writes = disk.writes - writesBefore;
        }
        ASSERT_GT(reads + writes, 0u);
        for (const bool failRead : {true, false}) {
            for (unsigned k = 1; k <= (failRead ? reads : writes); ++k) {
                disk.Restore(pristine);
                TestOwner owner;
                CDiskImage image(&owner);
                const std::vector<Listed> before = Open(image);
                (failRead ? disk.failReadAt : disk.failWriteAt) =
                    (failRead ? disk.reads : disk.writes) + k;
                EXPECT_EQ(op(image), 0) << what << (failRead ? ", read " : ", write ") << k;
                disk.failReadAt = disk.failWriteAt = 0;
                CheckBlocks(image);
                TestOwner again;
                CDiskImage reopened(&again);
                EXPECT_EQ(Open(reopened), before) << what << ", transfer " << k << " failed";
                CheckBlocks(reopened);
                EXPECT_EQ(reopened.Volume().GetUsedSpace(), image.Volume().GetUsedSpace());
            }
        }
    }

    MemDisk disk;
    TempDir host;
    std::vector<std::uint8_t> pristine;
};

TEST_P(FaultMatrix, ImportOfOneEntry) {
    FailEachTransfer([&](CDiskImage& image) { return image.ImportFile(host / "SMALL.BIN"); },
                  "import");
}

TEST_P(FaultMatrix, ImportOfTwoEntries) {
    FailEachTransfer([&](CDiskImage& image) { return image.ImportFile(host / "NEW.BIN"); },
                  "import");
}

TEST_P(FaultMatrix, Deletion) {
    const std::uint8_t name[8] = {'T', 'W', 'O', ' ', ' ', ' ', ' ', ' '};
    const std::uint8_t type[3] = {'B', 'I', 'N'};
    FailEachTransfer([&](CDiskImage& image) { return image.EraseFile(Row(0, name, type)); }, "deletion");
}

TEST_P(FaultMatrix, BootSectorWrite) {
    if (GetParam().firstSector == 0xC1)
        GTEST_SKIP() << "a CPC data disk has no boot sector to write";
    FailEachTransfer(
        [&](CDiskImage& image) {
            return image.WriteBootSector(host / "boot.bin", CDiskImage::BootWrite::ChangeFormat);
        },
        "boot sector");
}

TEST_P(FaultMatrix, ExtractionLeavesTheFolderAsItWas) {
    const std::uint8_t name[8] = {'T', 'W', 'O', ' ', ' ', ' ', ' ', ' '};
    const std::uint8_t type[3] = {'B', 'I', 'N'};
    TempDir out;
    WriteFile(out / "TWO     .BIN", PatternBytes(10, 9));
    TestOwner owner;
    CDiskImage image(&owner);
    Open(image);
    const unsigned start = disk.reads;
    ASSERT_EQ(image.ExtractFile(out.Path().string(), Row(0, name, type)), 1);
    const unsigned transfers = disk.reads - start;
    // TWO.BIN fills 18K: every sector of its blocks is read once.
    ASSERT_EQ(transfers, (17u * 1024 + 5 + image.Layout().blockSize - 1) /
                             image.Layout().blockSize * image.Layout().sectorsPerBlock);
    WriteFile(out / "TWO     .BIN", PatternBytes(10, 9));
    for (unsigned k = 1; k <= transfers; ++k) {
        disk.failReadAt = disk.reads + k;
        EXPECT_EQ(image.ExtractFile(out.Path().string(), Row(0, name, type)), 0) << k;
        disk.failReadAt = 0;
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(out.Path())) {
            (void)entry;
            ++files;
        }
        EXPECT_EQ(files, 1u);
        EXPECT_EQ(ReadFile(out / "TWO     .BIN"), PatternBytes(10, 9));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FaultMatrix,
                         ::testing::Values(Format{"plus3_180k", 40, 1, 1},
                                           Format{"pcw_720k", 80, 2, 1},
                                           Format{"cpc_data", 40, 1, 0xC1}),
                         [](const auto& param) { return std::string(param.param.name); });

// LibDsk's sector transfers, counted, the chosen one failing.
struct Transfers {
    static inline DiskLibraryTable::ReadFn read = nullptr;
    static inline DiskLibraryTable::WriteFn write = nullptr;
    static inline unsigned reads = 0, writes = 0, failReadAt = 0, failWriteAt = 0;

    static dsk_err_t Read(DSK_PDRIVER self, const DSK_GEOMETRY* geometry, void* buffer,
                          dsk_pcyl_t cylinder, dsk_phead_t head, dsk_psect_t sector) {
        if (++reads == failReadAt)
            return DSK_ERR_DATAERR;
        return read(self, geometry, buffer, cylinder, head, sector);
    }
    static dsk_err_t Write(DSK_PDRIVER self, const DSK_GEOMETRY* geometry, const void* buffer,
                           dsk_pcyl_t cylinder, dsk_phead_t head, dsk_psect_t sector) {
        if (++writes == failWriteAt)
            return DSK_ERR_DATAERR;
        return write(self, geometry, buffer, cylinder, head, sector);
    }
};

class FailingLibDsk : public IDiskOwner {
  public:
    FailingLibDsk() : m_Table(m_Real.LibraryTable()) {
        Transfers::read = m_Table.dsk_pread;
        Transfers::write = m_Table.dsk_pwrite;
        m_Table.dsk_pread = &Transfers::Read;
        m_Table.dsk_pwrite = &Transfers::Write;
    }
    bool Loaded() const { return m_Real.Loaded(); }
    const DiskLibraryTable& LibraryTable() const override { return m_Table; }

  private:
    LibDskOwner m_Real;
    DiskLibraryTable m_Table;
};

// Each parameter names a known format.
class FaultMatrixOnFile : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        if (!owner.Loaded())
            GTEST_SKIP() << "LibDsk is not installed";
        WriteFile(host / "ONE.BIN", PatternBytes(3000, 1));
        WriteFile(host / "TWO.BIN", PatternBytes(17 * 1024 + 5, 2));
        WriteFile(host / "NEW.BIN", PatternBytes(18 * 1024, 3));
        CDiskImage image(&owner);
        ASSERT_EQ(image.CreateImage(Path(), true, FormatNamed(GetParam())), 1);
        ASSERT_EQ(image.LoadImage(Path()), 1);
        ASSERT_EQ(image.ImportFile(host / "ONE.BIN"), 1);
        ASSERT_EQ(image.ImportFile(host / "TWO.BIN"), 1);
        pristine = ReadFile(Path());
    }
    std::string Path() const { return folder / "fm.dsk"; }
    std::vector<std::string> Listed(CDiskImage& image) {
        Catalogue rows;
        ClearCatalogue(rows);
        image.ReadCatalogue(rows);
        std::vector<std::string> names;
        for (std::size_t i = 0; i < CatalogueLength(rows); ++i)
            names.push_back(ShownFileName(rows[i]) + " " + std::to_string(rows[i].size));
        return names;
    }

    // Counts the operation's transfers on the file, then fails each in turn.
    void FailEachTransfer(const std::function<int(CDiskImage&)>& op, const char* what) {
        unsigned reads = 0, writes = 0;
        {
            CDiskImage image(&owner);
            ASSERT_EQ(image.LoadImage(Path()), 1);
            Transfers::reads = Transfers::writes = 0;
            ASSERT_EQ(op(image), 1) << what;
            reads = Transfers::reads;
            writes = Transfers::writes;
        }
        for (const bool failRead : {true, false}) {
            for (unsigned k = 1; k <= (failRead ? reads : writes); ++k) {
                WriteFile(Path(), pristine);
                CDiskImage image(&owner);
                ASSERT_EQ(image.LoadImage(Path()), 1);
                const std::vector<std::string> before = Listed(image);
                Transfers::reads = Transfers::writes = 0;
                (failRead ? Transfers::failReadAt : Transfers::failWriteAt) = k;
                EXPECT_EQ(op(image), 0) << what << (failRead ? ", read " : ", write ") << k;
                Transfers::failReadAt = Transfers::failWriteAt = 0;
                EXPECT_TRUE(ReadFile(Path()) == pristine) << what << ", transfer " << k;
                EXPECT_EQ(Listed(image), before) << what << ", transfer " << k;
                std::size_t files = 0;
                for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
                    files += entry.path().filename() != "fm.dsk";
                EXPECT_EQ(files, 0u) << "a working copy was left behind";
            }
        }
        WriteFile(Path(), pristine);
    }

    FailingLibDsk owner;
    TempDir host, folder;
    std::vector<std::uint8_t> pristine;
};

TEST_P(FaultMatrixOnFile, ImportDeletionAndRenameLeaveTheFileAsItWas) {
    FailEachTransfer([&](CDiskImage& image) { return image.ImportFile(host / "NEW.BIN"); },
                     "import");
    const FileEntry two = Row(0, "TWO     ", "BIN");
    FailEachTransfer([&](CDiskImage& image) { return image.EraseFile(two); }, "deletion");
    FailEachTransfer(
        [&](CDiskImage& image) { return image.RenameFile(two, Id(1, "THREE   ", "BIN")); },
        "rename");
}

INSTANTIATE_TEST_SUITE_P(Formats, FaultMatrixOnFile,
                         ::testing::Values("plus3", "pcw720", "cpcdata", "d20"));

} // namespace
