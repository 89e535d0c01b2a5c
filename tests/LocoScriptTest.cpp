// LocoScript documents: the header's rule, the codes read from hand-built
// documents, and the real documents of LocoScript 1's start-of-day disc
// through the command line.

#include "LocoScript.h"
#include "support/DiskBuilder.h"
#include "support/DskWriter.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <numeric>
#include <regex>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

// A LocoScript 1 document: the header (identity, the first chunk at record
// 1, the checksum), then `chunks`, each the text codes of one chunk.
Bytes Document(const std::vector<Bytes>& chunks, std::uint8_t version = 0x01) {
    Bytes file(128, 0);
    const std::string identity = "Letter to the bank";
    std::copy(identity.begin(), identity.end(), file.begin() + 5);
    std::fill(file.begin() + 5 + identity.size(), file.begin() + 95, ' ');
    file[0] = 'J', file[1] = 'O', file[2] = 'Y', file[3] = 0x01, file[4] = version;
    file[0x7E] = 1;
    file[0x7F] = static_cast<std::uint8_t>(std::accumulate(file.begin(), file.begin() + 127, 0u));
    for (Bytes text : chunks) {
        text.push_back(0x80);
        const std::size_t records = (11 + text.size() + 2 + 127) / 128;
        Bytes chunk(records * 128, 0);
        chunk[0] = chunk[chunk.size() - 2] = static_cast<std::uint8_t>(records);
        chunk[8] = 10; // the left margin's column
        std::copy(text.begin(), text.end(), chunk.begin() + 11);
        file.insert(file.end(), chunk.begin(), chunk.end());
    }
    return file;
}

Bytes Words(const std::string& text) {
    Bytes bytes;
    for (const char c : text)
        bytes.push_back(c == ' ' ? 0x81 : static_cast<std::uint8_t>(c));
    return bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The text after the identity line and the blank line.
std::string Body(const LocoScriptText& text) {
    const std::string lead = "Letter to the bank\n\n";
    return text.text.rfind(lead, 0) == 0 ? text.text.substr(lead.size()) : "(" + text.text + ")";
}

} // namespace

TEST(LocoScriptDecoder, EachEstablishedCodeAsTheDocumentsUseIt) {
    const Bytes kSoft = {0x88, 0x01, 0x86, 0x28, 0x00}, kHard = {0x88, 0x02, 0x86, 0xA0, 0x05};
    struct Case {
        const char* what;
        Bytes codes;
        std::string text;
        std::string note;
    } cases[] = {
        {"word spaces", Words("Dear Sir"), "Dear Sir\n", ""},
        {"a line run on, its last word's space kept once",
         Join({Words("one two "), kSoft, Words("three")}), "one two three\n", ""},
        {"a paragraph's end and a blank line",
         Join({Words("one"), kHard, kHard, Words("two")}), "one\n\ntwo\n", ""},
        {"a justified line run on and a justified paragraph's end",
         Join({Words("one "), {0x8A, 0x01, 0x01, 0x03, 0x4F, 0x00}, Words("two"),
               {0x8A, 0x02, 0x0B, 0x03, 0x4F, 0x00}, Words("three")}),
         "one two\nthree\n", ""},
        {"a chunk's first line", Join({{0x88, 0x08, 0x86, 0x00, 0x06}, Words("one")}), "one\n", ""},
        {"tabs, a margin set, effects (text)",
         Join({{0x89, 0x04, 0x0F, 0x2C, 0x01}, Words("Hire"), {0x89, 0x04, 0x32, 0xE8, 0x03},
               {0x83, 0x02}, Words("10.30"), {0x84, 0x02}, {0x89, 0x00, 0x08, 0xC0, 0x00}}),
         "\tHire\t10.30\n", ""},
        {"an indent", Join({Words("*"), {0x8B, 0x05, 0x0D, 0x38, 0x01, 0x0B, 0x04, 0x67, 0x00},
                           Words("Written")}),
         "*\tWritten\n", ""},
        {"the PCW's characters", {0xA3, '1', 0x7F, ' ', 0xE1, 0xC0, 0x5E}, "£10 éÁ↑\n", ""},
        {"codes and characters not known, counted",
         Join({{0x82, 0x00}, Words("a"), {0x8C}, Words("b"), {0x8C, 0x89, 0x06, 0x02, 0x00, 0x00},
               {0xB5}, {0x88, 0x07}}),
         "ab\xEF\xBF\xBD\n",
         "5 codes not understood: 0x82, 0x88 07, 0x89 06, 0x8C ×2; "
         "1 character not known: 0xB5"},
    };
    for (const Case& c : cases) {
        const LocoScriptText text = LocoScriptToText(Document({c.codes}), LocoScriptStyle::Text);
        EXPECT_EQ(Body(text), c.text) << c.what;
        EXPECT_EQ(text.note, c.note) << c.what;
        EXPECT_EQ(text.warning, "") << c.what;
    }

    // Markdown: lines ended within a block kept, what Markdown reads as
    // markup escaped, a tab no code block, effects counted as not marked.
    const LocoScriptText markdown = LocoScriptToText(
        Document({Join({Words("1. *Name*_"), kHard, {0x89, 0x04, 0x0F, 0x2C, 0x01}, {0x83, 0x00},
                        Words("Town"), {0x84, 0x00}, kHard, kHard, Words("- end")})}),
        LocoScriptStyle::Markdown);
    EXPECT_EQ(markdown.text, "> Letter to the bank\n\n1\\. \\*Name\\*\\_\\\n\u2003Town\n\n\\- end\n");
    EXPECT_EQ(markdown.note, "1 effect not marked (which effect each number is, is not known): "
                             "0x83 00");
}

TEST(LocoScriptDecoder, HeaderVersionsAndChecksum) {
    const Bytes document = Document({Words("text")});
    const auto header = ReadLocoScriptHeader(document);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->version, 1);
    EXPECT_EQ(header->identity, "Letter to the bank");
    // The version byte: LocoScript 2, 3 and 4 and their export forms.
    const std::pair<std::uint8_t, std::string> versions[] = {
        {0x00, "LocoScript 2 (export)"}, {0x02, "LocoScript 2"}, {0x03, "LocoScript 3 (export)"},
        {0x04, "LocoScript 3"},          {0x06, "LocoScript 4"}, {0x07, ""}};
    for (const auto& [byte, name] : versions) {
        Bytes other = Document({Words("text")}, byte);
        const auto read = ReadLocoScriptHeader(other);
        EXPECT_EQ(read ? LocoScriptVersionName(*read) : "", name) << int{byte};
    }
    // Another version's text layout is not known: said, and its words are
    // still every printable run.
    const Bytes second = Document({Words("Dear Sir ok")}, 0x02);
    EXPECT_NE(LocoScriptToText(second, LocoScriptStyle::Text).warning.find("LocoScript 2 document"),
              std::string::npos);
    EXPECT_NE(LocoScriptRuns(second).find("\nDear Sir ok\n"), std::string::npos);
    // One byte of the header changed: the checksum no longer holds.
    Bytes changed = document;
    ++changed[40];
    EXPECT_FALSE(ReadLocoScriptHeader(changed));
    EXPECT_FALSE(ReadLocoScriptHeader(Bytes(document.begin(), document.begin() + 127)));
}

TEST(LocoScriptDecoder, ChunksChainAndACutShortOneIsSaid) {
    // A paragraph runs on from one chunk into the next.
    const Bytes two = Document({Join({Words("first "), {0x88, 0x01}}),
                                Join({{0x8A, 0x08, 0x0C, 0x05, 0x7E, 0x00}, Words("second")})});
    const LocoScriptText text = LocoScriptToText(two, LocoScriptStyle::Text);
    EXPECT_EQ(Body(text), "first second\n");
    EXPECT_EQ(text.warning, "");
    // The second chunk's last record lost: what came before, and a warning.
    Bytes cut = Document({Words("kept"), Join({Words(std::string(200, 'x'))})});
    cut.resize(cut.size() - 128);
    const LocoScriptText partial = LocoScriptToText(cut, LocoScriptStyle::Text);
    EXPECT_EQ(Body(partial).substr(0, 8), "keptxxxx");
    EXPECT_EQ(partial.warning, "the text is cut short: the chunk at record 2 promises 2 records, "
                               "the file holds 1");
    // The header's pointer to the text past the file's end.
    Bytes lost = Document({Words("gone")});
    lost.resize(128);
    EXPECT_EQ(LocoScriptToText(lost, LocoScriptStyle::Text).warning,
              "the header puts the text at record 1, past the file's end (record 1)");
}

// A +3/PCW 180K disk filled file by file, 1K blocks from block 2.
class DiskFiles {
  public:
    void Put(std::uint8_t user, const char* name, const char* type, const Bytes& data) {
        std::vector<std::uint16_t> blocks;
        for (std::size_t at = 0; at < data.size(); at += 512) {
            if (at % 1024 == 0)
                blocks.push_back(static_cast<std::uint16_t>(m_Block++));
            auto& sector = m_Disk.Logical(1, blocks.back() * 2u + (at % 1024) / 512);
            std::copy_n(data.begin() + static_cast<long>(at),
                        std::min<std::size_t>(512, data.size() - at), sector.begin());
        }
        DirEntry entry = MakeEntry(user, name, type, static_cast<std::uint8_t>(data.size() / 128));
        for (std::size_t i = 0; i < blocks.size(); ++i)
            entry.blocks[i] = static_cast<std::uint8_t>(blocks[i]);
        m_Disk.PutEntry(1, m_Index++, &entry);
    }
    // LocoScript's entry naming a user's group.
    void Group(std::uint8_t user, const char* name) {
        DirEntry group = MakeEntry(user, name, "GRP", 0, {});
        group.ex = 0x20;
        m_Disk.PutEntry(1, m_Index++, &group);
    }
    void Save(const std::string& path) const { m_Disk.Save(path); }

  private:
    DskWriter m_Disk{40};
    unsigned m_Block = 2, m_Index = 0;
};

// A LocoScript 2 document is named, its text layout said to be unknown,
// and get writes its printable runs with a warning; with no group entry,
// its group is named by its user number.
TEST(LocoScriptCli, ALaterVersionIsNamedAndWrittenAsItsRuns) {
    TempDir dir;
    const std::string image = dir / "ls2.dsk";
    DiskFiles disk;
    disk.Put(2, "LETTER", "LS2", Document({Words("Dear Sir ok")}, 0x02));
    disk.Save(image);
    const auto json = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
    EXPECT_EQ(json["files"][0]["locoscript"]["version"], 2);
    EXPECT_TRUE(json["files"][0]["locoscript"]["identity"].is_null());
    EXPECT_EQ(json["files"][0]["locoscript"]["group"], "group 2");
    const CommandResult cat = RunCommand(Cli("cat " + Quote(image) + " 2:LETTER.LS2"), true);
    EXPECT_EQ(cat.status, 1);
    EXPECT_NE(cat.out.find("WARNING: " + image +
                           ": 2:LETTER.LS2: a LocoScript 2 document: the "
                           "layout of its text is not known here"),
              std::string::npos)
        << cat.out;
    EXPECT_NE(
        RunCommand(Cli("cat --text " + Quote(image) + " 2:LETTER.LS2")).out.find("Dear Sir ok\n"),
        std::string::npos);
    const CommandResult get =
        RunCommand(Cli("get --locoscript " + Quote(image) + " " + Quote(dir.Path())), true);
    EXPECT_EQ(get.status, 1) << get.out;
    EXPECT_NE(get.out.find("WARNING: " + image +
                           ": 2:LETTER.LS2: a LocoScript 2 document: the "
                           "layout of its text is not known here; every printable run was "
                           "written, in order"),
              std::string::npos)
        << get.out;
    const Bytes written = ReadFile(dir / "group 2/LETTER.LS2.txt");
    EXPECT_NE(std::string(written.begin(), written.end()).find("Dear Sir ok\n"), std::string::npos);
}

// Two users' groups of one name keep their documents apart: no document
// written over another's.
TEST(LocoScriptCli, GroupsOfOneNameGoIntoTwoFolders) {
    TempDir dir;
    const std::string image = dir / "groups.dsk";
    DiskFiles disk;
    disk.Put(1, "NOTE", "1", Document({Words("first")}));
    disk.Put(2, "NOTE", "1", Document({Words("second")}));
    disk.Group(1, "LETTERS");
    disk.Group(2, "LETTERS");
    disk.Save(image);
    EXPECT_EQ(RunCommand(Cli("get --locoscript " + Quote(image) + " " + Quote(dir.Path()))).status,
              0);
    for (const auto& [folder, word] : {std::pair{"LETTERS~1", "first"}, {"LETTERS~2", "second"}}) {
        const Bytes text = ReadFile(dir / (std::string(folder) + "/NOTE.1.txt"));
        EXPECT_EQ(std::string(text.begin(), text.end()),
                  "Letter to the bank\n\n" + std::string(word) + "\n");
    }
}

// The two documents of LocoScript 1's start-of-day disc, in group SAMPLES
// (user 1) of a disk with a file that is no document.
class LocoScriptDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string corpus = CorpusDir();
        if (corpus.empty())
            GTEST_SKIP() << "the shared corpus is not there";
        quote = ReadFile(corpus + "/locoscript/QUOTE.EG");
        document = ReadFile(corpus + "/locoscript/DOCUMENT.EG");
        DiskFiles disk;
        auto put = [&](std::uint8_t user, const char* name, const char* type, const Bytes& data) {
            disk.Put(user, name, type, data);
        };
        put(1, "QUOTE", "EG", quote);
        put(1, "DOCUMENT", "EG", document);
        put(0, "NOTES", "TXT", Bytes(128, 'n'));
        disk.Group(1, "SAMPLES");
        disk.Save(image);
    }

    TempDir dir;
    std::string image = dir / "pcw.dsk";
    Bytes quote, document;
};

TEST_F(LocoScriptDisk, EveryWordOfTheTextInOrderAndNothingOfTheHeader) {
    for (const auto& [name, bytes] : {std::pair{"QUOTE.EG", quote}, {"DOCUMENT.EG", document}}) {
        const CommandResult cat = RunCommand(Cli("cat " + Quote(image) + " 1:" + name));
        ASSERT_EQ(cat.status, 0) << cat.out;
        EXPECT_EQ(cat.out.rfind("Sample Document\n", 0), 0u) << cat.out;
        // Every run of three letters or more of the text area, in order.
        const std::string area(bytes.begin() + bytes[0x7E] * 128, bytes.end());
        const std::regex word("[A-Za-z]{3,}");
        std::size_t at = 0;
        unsigned words = 0;
        for (auto it = std::sregex_iterator(area.begin(), area.end(), word);
             it != std::sregex_iterator(); ++it, ++words) {
            at = cat.out.find(it->str(), at);
            ASSERT_NE(at, std::string::npos) << name << ": " << it->str() << " after word " << words;
            at += it->length();
        }
        EXPECT_GT(words, 200u) << name;
        // The header's and layouts' fields are no text.
        for (const char* field : {"JOY", "P5F", "\x7F"})
            EXPECT_EQ(cat.out.find(field), std::string::npos) << name << ": " << field;
        const CommandResult exact = RunCommand(Cli("cat --locoscript " + Quote(image) + " 1:" + name));
        EXPECT_EQ(exact.out, cat.out);
    }
    EXPECT_NE(RunCommand(Cli("cat " + Quote(image) + " 1:QUOTE.EG")).out.find(
                  "\tHire of carpentry shop\t£300.00\t£300.00\tCS/85\n"),
              std::string::npos);
}

TEST_F(LocoScriptDisk, ListedWithGroupsAndConvertedIntoThem) {
    const CommandResult ls = RunCommand(Cli("ls -l " + Quote(image)));
    EXPECT_NE(ls.out.find("LocoScript document  LocoScript 1, group SAMPLES"), std::string::npos)
        << ls.out;
    EXPECT_NE(ls.out.find("SAMPLES   GRP  0 Bytes"), std::string::npos) << ls.out;
    EXPECT_NE(ls.out.find("LocoScript group"), std::string::npos) << ls.out;
    const auto json = nlohmann::json::parse(RunCommand(Cli("ls --json " + Quote(image))).out);
    const auto& quoteRow = json["files"][0];
    EXPECT_EQ(quoteRow["kind"], "LocoScript document");
    EXPECT_EQ(quoteRow["locoscript"]["version"], 1);
    EXPECT_EQ(quoteRow["locoscript"]["group"], "SAMPLES");
    EXPECT_EQ(quoteRow["locoscript"]["identity"],
              "Sample Document\nQuotation for building service\nused to show layouts & tabs");
    // The group entry is LocoScript's, no damage.
    EXPECT_EQ(RunCommand(Cli("check " + Quote(image))).status, 0);
    // file(1) knows the header by the same rule.
    if (HaveProgram("file")) {
        WriteFile(dir / "quote", quote);
        EXPECT_EQ(RunCommand("file -b " + Quote(dir / "quote")).out, "LocoScript 1 document\n");
    }

    const CommandResult get =
        RunCommand(Cli("get --locoscript " + Quote(image) + " " + Quote(dir.Path())), true);
    EXPECT_EQ(get.status, 0) << get.out;
    EXPECT_NE(get.out.find("LocoScript documents converted: 2, other files skipped: 1"),
              std::string::npos)
        << get.out;
    const Bytes written = ReadFile(dir / "SAMPLES/QUOTE.EG.txt");
    EXPECT_EQ(std::string(written.begin(), written.end()),
              RunCommand(Cli("cat " + Quote(image) + " 1:QUOTE.EG")).out);
    EXPECT_FALSE(fs::exists(dir / "NOTES.TXT"));
    EXPECT_FALSE(fs::exists(dir / "SAMPLES/NOTES.TXT.txt"));
    EXPECT_EQ(RunCommand(Cli("get --locoscript=markdown " + Quote(image) + " " + Quote(dir.Path())))
                  .status,
              0);
    EXPECT_TRUE(fs::exists(dir / "SAMPLES/DOCUMENT.EG.md"));
}
