// Bootable boot sectors: the sums each machine checks, boot-write's
// --bootable, and the refusal of format changes that leaves bytes 10-15 free.

#include "BootSum.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <numeric>

namespace {

unsigned SumMod256(const std::vector<unsigned char>& bytes) {
    return std::accumulate(bytes.begin(), bytes.begin() + 512, 0u) % 256;
}

TEST(BootSum, EachMachineGetsItsSum) {
    std::vector<std::uint8_t> sector = PatternBytes(512, 7);
    EXPECT_STREQ(BootMachineName(BootMachine::Pcw9512), "PCW9512");
    for (const auto& [machine, sum] : {std::pair{BootMachine::Plus3, 3u}, std::pair{BootMachine::Pcw8256, 255u},
                                       std::pair{BootMachine::Pcw9512, 1u}}) {
        MakeBootableOn(sector.data(), machine);
        EXPECT_EQ(SumMod256(sector), sum);
        EXPECT_EQ(MachineBootedBy(sector.data()), machine);
    }
    sector[0] ^= 0x10;
    EXPECT_EQ(MachineBootedBy(sector.data()), BootMachine::None);
}

class BootWrite : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveProgram("dskform"))
            GTEST_SKIP() << "LibDsk's utilities are not installed";
        ASSERT_EQ(RunCommand("dskform -type dsk -format pcw180 " + Quote(image)).status, 0);
        ASSERT_EQ(Run("boot-read " + Quote(image) + " " + Quote(dir / "boot.bin")).status, 0);
        boot = ReadFile(dir / "boot.bin");
    }
    CommandResult Run(const std::string& args) { return RunCommand(Cli(args), true); }
    std::string Written(const std::vector<unsigned char>& bytes, const std::string& options = "") {
        WriteFile(dir / "new.bin", bytes);
        return "boot-write " + options + Quote(image) + " " + Quote(dir / "new.bin");
    }
    TempDir dir;
    std::string image = dir / "plus3.dsk";
    std::vector<unsigned char> boot;
};

TEST_F(BootWrite, BytesTenToFifteenChangeFreelyAndTheFormatBytesDoNot) {
    auto changed = boot;
    changed[12] = 0x55;
    changed[15] = static_cast<unsigned char>(changed[15] + 1);
    EXPECT_EQ(Run(Written(changed)).status, 0);
    ASSERT_EQ(Run("boot-read " + Quote(image) + " " + Quote(dir / "back.bin")).status, 0);
    EXPECT_EQ(ReadFile(dir / "back.bin"), changed);
    const auto before = ReadFile(image);
    for (std::size_t formatByte : {std::size_t{2}, std::size_t{6}, std::size_t{9}}) {
        auto format = changed;
        format[formatByte] ^= 1;
        const CommandResult refused = Run(Written(format));
        EXPECT_EQ(refused.status, 1) << formatByte;
        EXPECT_NE(refused.out.find("changes the disk's format"), std::string::npos) << refused.out;
        EXPECT_EQ(ReadFile(image), before) << formatByte;
    }
}

TEST_F(BootWrite, BootableSetsTheSumAndInfoSaysWhichMachineStarts) {
    auto info = nlohmann::json::parse(RunCommand(Cli("info --json " + Quote(image))).out);
    EXPECT_TRUE(info["bootable"].is_null()); // dskform's boot sector boots nothing
    EXPECT_NE(Run("info " + Quote(image)).out.find("Bootable on : none"), std::string::npos);
    for (const auto& [option, sum, name] : {std::tuple{"plus3", 3u, "+3"}, std::tuple{"pcw8256", 255u, "PCW8256"},
                                            std::tuple{"pcw9512", 1u, "PCW9512"}}) {
        ASSERT_EQ(Run(Written(boot, std::string("--bootable ") + option + " ")).status, 0) << option;
        ASSERT_EQ(Run("boot-read " + Quote(image) + " " + Quote(dir / "back.bin")).status, 0);
        const auto back = ReadFile(dir / "back.bin");
        EXPECT_EQ(SumMod256(back), sum) << option;
        EXPECT_TRUE(std::equal(back.begin(), back.begin() + 15, boot.begin())) << option;
        info = nlohmann::json::parse(RunCommand(Cli("info --json " + Quote(image))).out);
        EXPECT_EQ(info["bootable"], name) << option;
    }
    EXPECT_NE(Run("info " + Quote(image)).out.find("Bootable on : PCW9512"), std::string::npos);
    EXPECT_EQ(Run(Written(boot, "--bootable zx81 ")).status, 2);
}

TEST(BootInfo, CpcDisksBootFromNoSectorOne) {
    TempDir dir;
    const std::string image = dir / "cpc.dsk";
    ASSERT_EQ(RunCommand(Cli("new -f cpcsys " + Quote(image))).status, 0);
    const auto info = nlohmann::json::parse(RunCommand(Cli("info --json " + Quote(image))).out);
    EXPECT_TRUE(info["bootable"].is_null());
    EXPECT_EQ(RunCommand(Cli("info " + Quote(image))).out.find("Bootable on"), std::string::npos);
}

} // namespace
