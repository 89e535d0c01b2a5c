// Every sector transfer of every operation that writes an image, failed in
// turn: the operation must report the failure and the image, opened afresh,
// must list exactly what it listed before, with no block used twice.

#include "support/DiskBuilder.h"
#include "support/HostTools.h"

#include <functional>
#include <map>

namespace {

struct Row {
    std::string name;
    std::uint32_t size;
    bool operator==(const Row&) const = default;
};

class FaultMatrix : public ::testing::Test {
protected:
    FaultMatrix() {
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

    std::vector<Row> Open(CDiskImage& image) {
        EXPECT_EQ(image.LoadImage("fm.dsk"), 1);
        Catalogue rows;
        ClearCatalogue(rows);
        image.ReadCatalogue(rows);
        std::vector<Row> list;
        for (std::size_t i = 0; i < CatalogueLength(rows); ++i)
            list.push_back({ShownFileName(rows[i]), rows[i].size});
        return list;
    }

    // Every block that is marked used is named by exactly one live entry.
    void CheckBlocks(const CDiskImage& image) {
        std::map<unsigned, int> named;
        const auto* entries = reinterpret_cast<const DirEntry*>(image.DirectoryBuffer());
        for (std::size_t i = 0; i < kMaxDirEntries; ++i) {
            if (entries[i].user > kMaxLiveUser)
                continue;
            for (auto b : entries[i].blocks)
                if (b != 0)
                    ++named[b];
        }
        for (auto [block, count] : named)
            EXPECT_EQ(count, 1) << "block " << block << " is used twice";
        for (std::uint16_t b = 0; b < kMapBlocks; ++b)
            EXPECT_EQ(image.IsBlockFree(b), named.count(b) == 0) << "block " << b;
    }

    using Operation = std::function<int(CDiskImage&)>;

    // Runs `op` once cleanly to count its writes, then once per write with
    // that write failing.
    void FailEachWrite(const Operation& op, const char* what) {
        unsigned transfers;
        {
            disk.Restore(pristine);
            TestOwner owner;
            CDiskImage image(&owner);
            Open(image);
            const unsigned before = disk.writes;
            ASSERT_EQ(op(image), 1) << what;
            transfers = disk.writes - before;
        }
        ASSERT_GT(transfers, 0u);
        for (unsigned k = 1; k <= transfers; ++k) {
            disk.Restore(pristine);
            TestOwner owner;
            CDiskImage image(&owner);
            const std::vector<Row> before = Open(image);
            disk.failWriteAt = disk.writes + k;
            EXPECT_EQ(op(image), 0) << what << ", write " << k << " failed";
            disk.failWriteAt = 0;
            CheckBlocks(image);
            TestOwner again;
            CDiskImage reopened(&again);
            EXPECT_EQ(Open(reopened), before) << what << ", write " << k << " failed";
            CheckBlocks(reopened);
            EXPECT_EQ(reopened.GetUsedSpace(), image.GetUsedSpace());
        }
    }

    MemDisk disk{40, 1, 9, 1, 512};
    TempDir host;
    std::vector<std::uint8_t> pristine;
};

TEST_F(FaultMatrix, ImportOfOneEntry) {
    FailEachWrite([&](CDiskImage& image) { return image.ImportFile(host / "SMALL.BIN"); },
                  "import");
}

TEST_F(FaultMatrix, ImportOfTwoEntries) {
    FailEachWrite([&](CDiskImage& image) { return image.ImportFile(host / "NEW.BIN"); },
                  "import");
}

TEST_F(FaultMatrix, Deletion) {
    const std::uint8_t name[8] = {'T', 'W', 'O', ' ', ' ', ' ', ' ', ' '};
    const std::uint8_t type[3] = {'B', 'I', 'N'};
    FailEachWrite([&](CDiskImage& image) { return image.EraseFile(name, type); }, "deletion");
}

TEST_F(FaultMatrix, BootSectorWrite) {
    FailEachWrite([&](CDiskImage& image) { return image.WriteBootSector(host / "boot.bin"); },
                  "boot sector");
}

TEST_F(FaultMatrix, ExtractionLeavesTheFolderAsItWas) {
    const std::uint8_t name[8] = {'T', 'W', 'O', ' ', ' ', ' ', ' ', ' '};
    const std::uint8_t type[3] = {'B', 'I', 'N'};
    TempDir out;
    WriteFile(out / "TWO     .BIN", PatternBytes(10, 9));
    TestOwner owner;
    CDiskImage image(&owner);
    Open(image);
    const unsigned start = disk.reads;
    ASSERT_EQ(image.ExtractFile(out.Path().string(), name, type), 1);
    const unsigned transfers = disk.reads - start;
    ASSERT_EQ(transfers, 18u * 2);
    WriteFile(out / "TWO     .BIN", PatternBytes(10, 9));
    for (unsigned k = 1; k <= transfers; ++k) {
        disk.failReadAt = disk.reads + k;
        EXPECT_EQ(image.ExtractFile(out.Path().string(), name, type), 0) << k;
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

} // namespace
