// +3DOS and AMSDOS headers: bytes written out by hand from the two systems'
// documentation, files built by other programs, and the corpus.

#include "FileHeader.h"
#include "support/DiskBuilder.h"
#include "support/DskWriter.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <numeric>

#include <nlohmann/json.hpp>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<std::pair<std::size_t, std::vector<std::uint8_t>>> runs) {
    std::vector<std::uint8_t> header(128, 0);
    for (const auto& [at, bytes] : runs)
        std::copy(bytes.begin(), bytes.end(), header.begin() + static_cast<long>(at));
    return header;
}

const std::vector<std::uint8_t> kPlus3Signature = {'P', 'L', 'U', 'S', '3', 'D', 'O', 'S', 0x1A, 1, 0};

TEST(FileHeader, BuiltAsTheDocumentationLaysThemOut) {
    // CODE 16384,6912 (a screen): length 7040 with the header, parameter 2 32768.
    EXPECT_EQ(MakePlus3Header(3, 6912, 16384, 32768),
              Bytes({{0, kPlus3Signature},
                     {11, {0x80, 0x1B, 0, 0, 3, 0x00, 0x1B, 0x00, 0x40, 0x00, 0x80}},
                     {127, {0xF1}}}));
    // A 300-byte program that starts at line 10.
    EXPECT_EQ(MakePlus3Header(0, 300, 10, 300),
              Bytes({{0, kPlus3Signature},
                     {11, {0xAC, 0x01, 0, 0, 0, 0x2C, 0x01, 0x0A, 0x00, 0x2C, 0x01}},
                     {127, {0x89}}}));
    // GAME.BIN, binary, 4096 bytes at &4000, run at &4000.
    const std::uint8_t name[] = {'G', 'A', 'M', 'E', ' ', ' ', ' ', ' '};
    const std::uint8_t type[] = {'B', 'I', 'N'};
    EXPECT_EQ(MakeAmsdosHeader(0, name, type, 2, 4096, 0x4000, 0x4000),
              Bytes({{1, {'G', 'A', 'M', 'E', ' ', ' ', ' ', ' ', 'B', 'I', 'N'}},
                     {18, {2, 0, 0, 0x00, 0x40, 0xFF, 0x00, 0x10, 0x00, 0x40}},
                     {64, {0x00, 0x10, 0x00, 0x14, 0x04}}}));
}

TEST(FileHeader, RecognisedOnlyWhenChecksumZerosAndLengthsAllowIt) {
    std::vector<std::uint8_t> file = MakePlus3Header(3, 6912, 16384, 32768);
    file.resize(128 + 6912 + 64, 0x1A); // stored in whole records
    auto header = ParseFileHeader(file.data(), file.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->kind, FileHeader::Kind::Plus3Dos);
    EXPECT_EQ(header->fileType, 3);
    EXPECT_EQ(header->dataLength, 6912u);
    EXPECT_EQ(header->param1, 16384);
    EXPECT_EQ(header->param2, 32768);
    EXPECT_EQ(DescribeHeader(*header), "CODE 16384,6912");
    EXPECT_FALSE(ParseFileHeader(file.data(), 1000)); // longer than the file

    const std::uint8_t name[] = {'G', 'A', 'M', 'E', ' ', ' ', ' ', ' '};
    const std::uint8_t type[] = {'B', 'I', 'N'};
    std::vector<std::uint8_t> binary = MakeAmsdosHeader(0, name, type, 2, 256, 0x4000, 0x4100);
    binary.resize(128 + 256);
    header = ParseFileHeader(binary.data(), binary.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->kind, FileHeader::Kind::Amsdos);
    EXPECT_EQ(header->load, 0x4000);
    EXPECT_EQ(header->entry, 0x4100);
    EXPECT_EQ(DescribeHeader(*header), "BIN &4000,&4100");

    binary[67] ^= 1;
    EXPECT_FALSE(ParseFileHeader(binary.data(), binary.size()));
    file[127] ^= 1;
    EXPECT_FALSE(ParseFileHeader(file.data(), file.size()));
    const std::vector<std::uint8_t> zeros(512, 0);
    EXPECT_FALSE(ParseFileHeader(zeros.data(), zeros.size()));

    // A SCREEN$ without a header whose top is black: 67 zero bytes sum to
    // the zero word after them, but they are no name and no file type.
    std::vector<std::uint8_t> screen = PatternBytes(6912, 3);
    std::fill_n(screen.begin(), 112, 0);
    EXPECT_FALSE(ParseFileHeader(screen.data(), screen.size()));
    // Nor is a block whose name bytes are control codes, or whose file
    // type AMSDOS never writes, though its checksum is right.
    for (const std::size_t at : {std::size_t{3}, std::size_t{18}}) {
        std::vector<std::uint8_t> odd = binary;
        odd[67] ^= 1; // (mended above)
        odd[at] = at == 18 ? 0x40 : 0x07;
        const unsigned sum = std::accumulate(odd.begin(), odd.begin() + 67, 0u);
        odd[67] = static_cast<std::uint8_t>(sum);
        odd[68] = static_cast<std::uint8_t>(sum >> 8);
        EXPECT_FALSE(ParseFileHeader(odd.data(), odd.size())) << at;
    }
}

bool HaveCpmtools() { return HaveProgram("cpmcp") && HaveProgram("cpmls"); }

std::uint16_t Word(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

TEST(FileHeaderCli, PutAddsHeadersThatLoadAndGetTakesThemOff) {
    if (!HaveCpmtools())
        GTEST_SKIP() << "cpmtools is not installed";
    TempDir dir;
    const std::string plus3 = dir / "plus3.dsk";
    ASSERT_EQ(RunCommand(Cli("new " + Quote(plus3))).status, 0);
    WriteFile(dir / "game.bin", PatternBytes(6000, 1));
    WriteFile(dir / "loader", PatternBytes(200, 2));
    ASSERT_EQ(RunCommand(Cli("put --plus3 code:32768 " + Quote(plus3) + " " + Quote(dir / "game.bin"))).status, 0);
    ASSERT_EQ(RunCommand(Cli("put --plus3 basic:10 --as DISK " + Quote(plus3) + " " + Quote(dir / "loader"))).status, 0);

    // The bytes cpmtools reads back, checked field by field.
    fs::create_directory(dir.Path() / "raw");
    RunCommand("cpmcp -f pcw " + Quote(plus3) + " 0:GAME.BIN 0:DISK " + Quote(dir / "raw"));
    for (const auto& [file, type, length, p1, p2] :
         {std::tuple{"game.bin", 3, 6000, 32768, 32768}, std::tuple{"disk", 0, 200, 10, 200}}) {
        const auto raw = ReadFile(dir / ("raw/" + std::string(file)));
        ASSERT_GE(raw.size(), 128u);
        EXPECT_EQ(std::string(raw.begin(), raw.begin() + 8), "PLUS3DOS");
        EXPECT_EQ(raw[8], 0x1A);
        unsigned sum = 0;
        for (int i = 0; i < 127; ++i)
            sum += raw[i];
        EXPECT_EQ(raw[127], sum % 256) << file;
        EXPECT_EQ(raw[11] | raw[12] << 8 | raw[13] << 16, length + 128) << file;
        EXPECT_EQ(raw[15], type) << file;
        EXPECT_EQ(Word(raw, 16), length) << file;
        EXPECT_EQ(Word(raw, 18), p1) << file;
        EXPECT_EQ(Word(raw, 20), p2) << file;
    }
    const auto listing = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(plus3))).out);
    EXPECT_EQ(listing["files"][0]["header"],
              nlohmann::json::parse(R"({"kind":"plus3dos","filetype":"code","length":6000,"load":32768})"));
    EXPECT_EQ(listing["files"][1]["header"],
              nlohmann::json::parse(R"({"kind":"plus3dos","filetype":"basic","length":200,"line":10})"));
    const CommandResult bare = RunCommand(Cli("get --strip-header " + Quote(plus3) + " - GAME.BIN"));
    EXPECT_EQ(std::vector<unsigned char>(bare.out.begin(), bare.out.end()), PatternBytes(6000, 1));
    // A file that has its header already gets no second one.
    ASSERT_EQ(RunCommand(Cli("put --plus3 code:32768 --as AGAIN.BIN " + Quote(plus3) + " " + Quote(dir / "raw/game.bin"))).status, 0);
    const CommandResult again = RunCommand(Cli("get " + Quote(plus3) + " - AGAIN.BIN"));
    EXPECT_EQ(std::vector<unsigned char>(again.out.begin(), again.out.end()), ReadFile(dir / "raw/game.bin"));

    const std::string cpc = dir / "cpc.dsk";
    ASSERT_EQ(RunCommand(Cli("new -f cpcdata " + Quote(cpc))).status, 0);
    ASSERT_EQ(RunCommand(Cli("put --amsdos " + Quote("bin:0x4000:&4010") + " " + Quote(cpc) + " " + Quote(dir / "game.bin"))).status, 0);
    RunCommand("cpmcp -f cpcdata " + Quote(cpc) + " 0:GAME.BIN " + Quote(dir / "cpc.bin"));
    const auto raw = ReadFile(dir / "cpc.bin");
    ASSERT_GE(raw.size(), 128u);
    unsigned sum = 0;
    for (int i = 0; i < 67; ++i)
        sum += raw[i];
    EXPECT_EQ(Word(raw, 67), sum);
    EXPECT_EQ(std::string(raw.begin() + 1, raw.begin() + 12), "GAME    BIN");
    EXPECT_EQ(raw[18], 2);
    EXPECT_EQ(Word(raw, 21), 0x4000);
    EXPECT_EQ(Word(raw, 24), 6000);
    EXPECT_EQ(Word(raw, 26), 0x4010);
    EXPECT_EQ(raw[64] | raw[65] << 8 | raw[66] << 16, 6000);

    // Fields that cannot hold the file, and requests that make no sense.
    WriteFile(dir / "big.bin", PatternBytes(70000, 3));
    const CommandResult big = RunCommand(Cli("put --amsdos bin:0 " + Quote(cpc) + " " + Quote(dir / "big.bin")), true);
    EXPECT_EQ(big.status, 1);
    EXPECT_NE(big.out.find("65535"), std::string::npos) << big.out;
    EXPECT_EQ(RunCommand(Cli("put --plus3 code " + Quote(cpc) + " x")).status, 2);
    EXPECT_EQ(RunCommand(Cli("put --amsdos bin:0x10000 " + Quote(cpc) + " x")).status, 2);
}

TEST(FileHeaderCli, ExactHonoursTheLastRecordByteCount) {
    TempDir dir;
    DskWriter disk(40);
    DirEntry entry = MakeEntry(0, "TEXT", "", 2, {2});
    entry.s1 = 44; // the second record holds 44 bytes
    disk.PutEntry(1, 0, &entry);
    const std::string image = dir / "s1.dsk";
    disk.Save(image);
    EXPECT_EQ(RunCommand(Cli("get " + Quote(image) + " - TEXT")).out.size(), 256u);
    EXPECT_EQ(RunCommand(Cli("get --exact " + Quote(image) + " - TEXT")).out.size(), 172u);
}

TEST(FileHeaderCli, EveryHeaderOfTheCorpusIsReportedAtItsLength) {
    const std::string corpus = CorpusDir();
    if (corpus.empty())
        GTEST_SKIP() << "the shared corpus is not there";
    unsigned plus3 = 0, amsdos = 0;
    for (const auto& item : fs::directory_iterator(corpus)) {
        if (item.path().extension() != ".dsk")
            continue;
        const std::string image = item.path().string();
        const CommandResult ls = RunCommand(Cli("ls --json " + Quote(image)));
        if (ls.status != 0)
            continue;
        const auto listing = nlohmann::json::parse(ls.out);
        for (const auto& file : listing["files"]) {
            const std::string name = file["type"].get<std::string>().empty()
                                         ? file["name"].get<std::string>()
                                         : file["name"].get<std::string>() + "." + file["type"].get<std::string>();
            const std::string named = std::to_string(file["user"].get<int>()) + ":" + name;
            const std::string raw = RunCommand(Cli("get " + Quote(image) + " - " + Quote(named))).out;
            // This test's own reading of the two layouts.
            const auto* b = reinterpret_cast<const unsigned char*>(raw.data());
            long expected = -1;
            if (raw.size() >= 128 && raw.compare(0, 8, "PLUS3DOS") == 0) {
                unsigned sum = 0;
                for (int i = 0; i < 127; ++i)
                    sum += b[i];
                if (sum % 256 == b[127])
                    expected = (b[11] | b[12] << 8 | b[13] << 16) - 128;
            } else if (raw.size() >= 128) {
                unsigned sum = 0;
                for (int i = 0; i < 67; ++i)
                    sum += b[i];
                if (sum != 0 && (sum & 0xFFFF) == static_cast<unsigned>(b[67] | b[68] << 8))
                    expected = b[64] | b[65] << 8 | b[66] << 16;
            }
            if (expected < 0) {
                EXPECT_TRUE(file["header"].is_null()) << image << " " << named;
                continue;
            }
            ASSERT_FALSE(file["header"].is_null()) << image << " " << named;
            (file["header"]["kind"] == "plus3dos" ? plus3 : amsdos)++;
            EXPECT_EQ(file["header"]["length"], expected) << image << " " << named;
            const CommandResult bare = RunCommand(Cli("get --strip-header " + Quote(image) + " - " + Quote(named)));
            EXPECT_EQ(static_cast<long>(bare.out.size()), expected) << image << " " << named;
        }
    }
    EXPECT_GT(plus3, 10u);
    EXPECT_GT(amsdos, 10u);
}

} // namespace
