#include "LocoScript.h"

#include <algorithm>
#include <map>
#include <vector>

// A LocoScript document is whole 128-byte records.
//
// The header (record 0):
//   0x00  "JOY" 0x01, then the version: 0x01 LocoScript 1, 0x02 LocoScript 2,
//         0x04 LocoScript 3, 0x06 LocoScript 4; 0x00, 0x03 and 0x05 the
//         export forms of 2, 3 and 4
//   0x05  LocoScript 1: the identity, three lines of 30 characters
//   0x7E  LocoScript 1: the record of the first text chunk
//   0x7F  the sum of bytes 0x00-0x7E, modulo 256
// (the rest, page length and numbering, header and footer, is layout).
//
// LocoScript 1's text is a chain of chunks, each whole records:
//   +0    word: the chunk's length in records (repeated in its last word);
//         the next chunk follows it, a length of 0 ends the chain
//   +2    6 bytes, then the left margin's column and 2 bytes: not read
//   +11   the text: characters and codes, up to the code 0x80
//
// The characters are the PCW's (the Amstrad CP/M Plus set); 0x80-0x9F are
// LocoScript's codes. No description of the codes is published: what each
// one below means was established from the documents of LocoScript 1's
// start-of-day disc, with the evidence for it. A code whose parameters are
// known but not its meaning is left out; any other is left out alone.
namespace {

constexpr std::size_t kRecord = 128;
constexpr std::size_t kIdentityAt = 0x05, kIdentityLine = 30, kIdentityLines = 3;
constexpr std::size_t kFirstChunkAt = 0x7E, kChecksumAt = 0x7F;
constexpr std::size_t kChunkText = 11;

enum Code : std::uint8_t {
    // Ends the chunk's text.
    kEndOfText = 0x80,
    // A space between words: every word of the samples ends in one, and a
    // line the width of the page holds as many characters as its words and
    // these spaces.
    kWordSpace = 0x81,
    // 1 parameter, at the start of every chunk (always 0 there): not known.
    kChunkState = 0x82,
    // An effect (n) begins and ends: the pairs enclose the title (n = 0) and
    // the headings (n = 2) and nothing else. Which effect each n is, is not
    // known.
    kEffectOn = 0x83,
    kEffectOff = 0x84,
    // 2 parameters, before a heading: not known.
    kUnknown85 = 0x85,
    // Word: the width left unused at the end of the line that follows, in
    // the layout's units (a blank line's is the full width; a line's is the
    // width less 20 or 24 units per character it holds). Nothing shown.
    kLineSpare = 0x86,
    // A line ends (type): 1 where a paragraph runs on to the next line (the
    // last word's space comes before it), 2 at the end of a paragraph or a
    // blank line, 8 before a chunk's first line.
    kLineEnd = 0x88,
    // 4 parameters (type, column, word: the column in the layout's units,
    // 20 or 24 a column): type 4 moves on to the column, as a tab key does
    // (the columns of the samples' price list); type 0 sets the left margin
    // for the lines that follow (back to the layout's after an indented
    // paragraph, the chunk's margin at its start). Type 6: not known.
    kPosition = 0x89,
    // A line ends (type as 0x88), the next line justified: 4 more parameters
    // say how it is spread (the first, the spaces between its words).
    kJustifiedLineEnd = 0x8A,
    // An indent (type 5, column, word), the next line justified (4 more as
    // 0x8A): moves on to the column, as a tab, and keeps the paragraph's
    // lines there (after the "*" of each item of a list).
    kIndent = 0x8B,
};
constexpr std::uint8_t kSoftLine = 1, kHardLine = 2, kChunkStart = 8;
constexpr std::uint8_t kMarginPosition = 0, kTabPosition = 4, kIndentType = 5;

// Parameters that follow each code whose length is known.
std::size_t ParameterCount(std::uint8_t code) {
    switch (code) {
    case kChunkState:
    case kEffectOn:
    case kEffectOff:
    case kLineEnd:
        return 1;
    case kUnknown85:
    case kLineSpare:
        return 2;
    case kPosition:
        return 4;
    case kJustifiedLineEnd:
        return 5;
    case kIndent:
        return 8;
    default:
        return 0;
    }
}

// The PCW's characters in UTF-8, where the published table places them
// beyond doubt: ASCII but 0x5E (an arrow) and 0x7F (a zero without a slash),
// then the rows 0xC0-0xCF and 0xE0-0xEF, complete there, and 0xA0-0xA3: the
// row's first four, 0xA3 the pound of the samples' prices. Empty for the
// rest, whose places the table leaves in doubt.
std::string PcwCharacter(std::uint8_t byte) {
    static const char* const kUpperA[] = {"ª", "º", "°", "£"};
    static const char* const kUpperC[] = {"Á", "É", "Í", "Ó", "Ú", "Â", "Ê", "Î",
                                          "Ô", "Û", "À", "È", "Ì", "Ò", "Ù", "Ÿ"};
    static const char* const kUpperE[] = {"á", "é", "í", "ó", "ú", "â", "ê", "î",
                                          "ô", "û", "à", "è", "ì", "ò", "ù", "ÿ"};
    if (byte == 0x5E)
        return "↑";
    if (byte == 0x7F)
        return "0";
    if (byte >= 0x20 && byte < 0x7F)
        return std::string(1, static_cast<char>(byte));
    if (byte >= 0xA0 && byte <= 0xA3)
        return kUpperA[byte - 0xA0];
    if (byte >= 0xC0 && byte <= 0xCF)
        return kUpperC[byte - 0xC0];
    if (byte >= 0xE0 && byte <= 0xEF)
        return kUpperE[byte - 0xE0];
    return {};
}

bool IsCharacter(std::uint8_t byte) { return byte >= 0x20 && (byte < 0x80 || byte >= 0xA0); }

std::string Hex(std::uint8_t byte) {
    static const char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[byte >> 4] + kDigits[byte & 15];
}

// A code with the type (or effect number) that follows it: "0x89 06".
std::string CodeWithType(std::uint8_t code, std::uint8_t type) {
    return Hex(code) + " " + Hex(type).substr(2);
}

// "3 codes not understood: 0x8A ×2, 0x8B".
std::string Tally(const std::map<std::string, unsigned>& counts, const std::string& what,
                  const std::string& why) {
    unsigned total = 0;
    std::string list;
    for (const auto& [name, count] : counts) {
        total += count;
        list += (list.empty() ? "" : ", ") + name + (count > 1 ? " ×" + std::to_string(count) : "");
    }
    if (total == 0)
        return {};
    return std::to_string(total) + " " + what + (total == 1 ? " " : "s ") + why + ": " + list;
}

// The text, line by line, as the document's lines end.
class TextWriter {
  public:
    explicit TextWriter(LocoScriptStyle style) : m_Style(style) {}

    void Character(std::uint8_t byte) {
        const std::string shown = PcwCharacter(byte);
        if (shown.empty()) {
            ++m_UnknownCharacters[Hex(byte)];
            m_Line += "\xEF\xBF\xBD"; // U+FFFD
            return;
        }
        if (m_Style == LocoScriptStyle::Markdown && shown.size() == 1 &&
            std::string_view("\\`*_[]<>#|").find(shown[0]) != std::string_view::npos)
            m_Line += '\\';
        m_Line += shown;
    }
    void Space() { m_Line += ' '; }
    // Markdown reads a tab at a line's start as code: an em space there.
    void Tab() { m_Line += m_Style == LocoScriptStyle::Markdown ? "\u2003" : "\t"; }
    void EndLine() {
        m_Line.erase(m_Line.find_last_not_of(' ') + 1);
        m_Lines.push_back(std::move(m_Line));
        m_Line.clear();
    }
    void Unknown(const std::string& code) { ++m_UnknownCodes[code]; }
    void Effect(std::uint8_t code, std::uint8_t number) {
        if (code == kEffectOn)
            ++m_Effects[CodeWithType(code, number)];
    }

    // The identity lines, a blank line, then the lines of text.
    std::string Finish(const std::string& identity) {
        if (!m_Line.empty())
            EndLine();
        std::string text;
        const bool markdown = m_Style == LocoScriptStyle::Markdown;
        std::size_t start = 0;
        while (start < identity.size()) {
            const std::size_t end = identity.find('\n', start);
            const std::string line = identity.substr(start, end - start);
            start = end == std::string::npos ? identity.size() : end + 1;
            text += markdown ? "> " + line + (start < identity.size() ? "\\\n" : "\n")
                             : line + "\n";
        }
        if (!identity.empty() && !m_Lines.empty())
            text += "\n";
        for (std::size_t i = 0; i < m_Lines.size(); ++i) {
            std::string line = m_Lines[i];
            if (markdown) {
                line = MarkdownLineStart(line);
                // Lines ended by a return within a block stay lines.
                if (!line.empty() && i + 1 < m_Lines.size() && !m_Lines[i + 1].empty())
                    line += "\\";
            }
            text += line + "\n";
        }
        return text;
    }

    std::string Note() const {
        std::string note = Tally(m_UnknownCodes, "code", "not understood");
        for (const std::string& more :
             {Tally(m_UnknownCharacters, "character", "not known"),
              m_Style == LocoScriptStyle::Markdown
                  ? Tally(m_Effects, "effect", "not marked (which effect each number is, is not known)")
                  : std::string()})
            if (!more.empty())
                note += (note.empty() ? "" : "; ") + more;
        return note;
    }

  private:
    // What would begin a list or a heading at a line's start, escaped.
    static std::string MarkdownLineStart(const std::string& line) {
        if (!line.empty() && (line[0] == '-' || line[0] == '+' || line[0] == '='))
            return "\\" + line;
        std::size_t digits = 0;
        while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9')
            ++digits;
        if (digits > 0 && digits < line.size() && (line[digits] == '.' || line[digits] == ')'))
            return line.substr(0, digits) + "\\" + line.substr(digits);
        return line;
    }

    LocoScriptStyle m_Style;
    std::string m_Line;
    std::vector<std::string> m_Lines;
    std::map<std::string, unsigned> m_UnknownCodes, m_UnknownCharacters, m_Effects;
};

// One chunk's text, `bytes` from its first code to the chunk's last word.
void DecodeChunk(std::span<const std::uint8_t> bytes, TextWriter& out) {
    for (std::size_t i = 0; i < bytes.size();) {
        const std::uint8_t code = bytes[i];
        if (IsCharacter(code)) {
            out.Character(code);
            ++i;
            continue;
        }
        if (code == kEndOfText)
            return;
        const std::size_t count = ParameterCount(code);
        if (bytes.size() - i - 1 < count) {
            out.Unknown(Hex(code));
            return;
        }
        const std::span<const std::uint8_t> parameters = bytes.subspan(i + 1, count);
        i += 1 + count;
        switch (code) {
        case kWordSpace:
            out.Space();
            break;
        case kLineSpare:
            break;
        case kEffectOn:
        case kEffectOff:
            out.Effect(code, parameters[0]);
            break;
        case kLineEnd:
        case kJustifiedLineEnd:
            if (parameters[0] == kHardLine)
                out.EndLine();
            else if (parameters[0] != kSoftLine && parameters[0] != kChunkStart)
                out.Unknown(CodeWithType(code, parameters[0]));
            break;
        case kPosition:
            if (parameters[0] == kTabPosition)
                out.Tab();
            else if (parameters[0] != kMarginPosition)
                out.Unknown(CodeWithType(code, parameters[0]));
            break;
        case kIndent:
            if (parameters[0] == kIndentType)
                out.Tab();
            else
                out.Unknown(CodeWithType(code, parameters[0]));
            break;
        default:
            out.Unknown(Hex(code));
            break;
        }
    }
}

std::string Identity(std::span<const std::uint8_t> header) {
    std::string identity;
    for (std::size_t line = 0; line < kIdentityLines; ++line) {
        std::string text;
        for (std::size_t i = 0; i < kIdentityLine; ++i) {
            const std::uint8_t byte = header[kIdentityAt + line * kIdentityLine + i];
            const std::string shown = PcwCharacter(byte);
            text += shown.empty() ? (byte == 0 ? " " : "\xEF\xBF\xBD") : shown;
        }
        text.erase(text.find_last_not_of(' ') + 1);
        if (!text.empty())
            identity += (identity.empty() ? "" : "\n") + text;
    }
    return identity;
}

} // namespace

std::optional<LocoScriptHeader> ReadLocoScriptHeader(std::span<const std::uint8_t> file) {
    if (file.size() < kRecord || file[0] != 'J' || file[1] != 'O' || file[2] != 'Y' ||
        file[3] != 0x01 || file[4] > 0x06)
        return std::nullopt;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < kChecksumAt; ++i)
        sum = static_cast<std::uint8_t>(sum + file[i]);
    if (sum != file[kChecksumAt])
        return std::nullopt;
    static const int kVersions[] = {2, 1, 2, 3, 3, 4, 4};
    LocoScriptHeader header;
    header.version = kVersions[file[4]];
    header.exportForm = file[4] == 0x00 || file[4] == 0x03 || file[4] == 0x05;
    if (header.version == 1)
        header.identity = Identity(file.first(kRecord));
    return header;
}

std::string LocoScriptVersionName(const LocoScriptHeader& header) {
    return "LocoScript " + std::to_string(header.version) + (header.exportForm ? " (export)" : "");
}

LocoScriptText LocoScriptToText(std::span<const std::uint8_t> file, LocoScriptStyle style) {
    LocoScriptText result;
    const auto header = ReadLocoScriptHeader(file);
    if (!header) {
        result.warning = "not a LocoScript document (no \"JOY\" header with a right checksum)";
        return result;
    }
    TextWriter out(style);
    if (header->version != 1) {
        result.warning = "a " + LocoScriptVersionName(*header) +
                         " document: the layout of its text is not known here (--text gives "
                         "every printable run in order)";
    } else {
        // Each chunk names the next; no record is read twice.
        std::size_t record = file[kFirstChunkAt];
        const std::size_t records = file.size() / kRecord;
        if (record == 0)
            result.warning = "the header names no text chunk";
        else if (record >= records)
            result.warning = "the header puts the text at record " + std::to_string(record) +
                             ", past the file's end (record " + std::to_string(records) + ")";
        while (record != 0 && record < records) {
            const std::size_t at = record * kRecord;
            const std::size_t length = std::size_t{file[at]} | std::size_t{file[at + 1]} << 8;
            if (length == 0)
                break;
            if (record + length > records) {
                result.warning = "the text is cut short: the chunk at record " +
                                 std::to_string(record) + " promises " + std::to_string(length) +
                                 " records, the file holds " + std::to_string(records - record);
                DecodeChunk(file.subspan(at + kChunkText, (records - record) * kRecord - kChunkText),
                            out);
                break;
            }
            const std::size_t end = at + length * kRecord;
            DecodeChunk(file.subspan(at + kChunkText, end - 2 - at - kChunkText), out);
            record += length;
        }
    }
    result.text = out.Finish(header->identity.value_or(""));
    result.note = out.Note();
    return result;
}

std::string LocoScriptRuns(std::span<const std::uint8_t> file) {
    std::string runs, run;
    std::size_t letters = 0;
    auto endRun = [&] {
        run.erase(run.find_last_not_of(' ') + 1);
        if (letters >= 3)
            runs += run + "\n";
        run.clear();
        letters = 0;
    };
    for (const std::uint8_t byte : file) {
        if (byte == kWordSpace || byte == ' ') {
            if (!run.empty())
                run += ' ';
            continue;
        }
        const std::string shown = PcwCharacter(byte);
        if (shown.empty()) {
            endRun();
            continue;
        }
        run += shown;
        ++letters;
    }
    endRun();
    return runs;
}
