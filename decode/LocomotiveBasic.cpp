#include "LocomotiveBasic.h"

#include <bit>
#include <cctype>
#include <cstdio>
#include <map>
#include <string_view>

// A program is a run of lines, ended by a length of 0:
//   0..1  length of the line, these four bytes included, little-endian
//   2..3  line number, little-endian
//   4..   tokens, ended by 0x00
// Tokens (CPCWiki, "Technical information about Locomotive BASIC"):
//   0x01        ':' (not shown before ELSE or before the ' comment)
//   0x02-0x04   variable with a % $ ! suffix; 0x0B-0x0D without one: a
//               two-byte offset, then the name, bit 7 set on its last byte
//   0x0E-0x18   the numbers 0-10
//   0x19        an 8-bit number          0x1A  a 16-bit number
//   0x1B        a 16-bit number, &X binary   0x1C  the same, & hex
//   0x1D        a line's address in memory (left by a run)
//   0x1E        a line number            0x1F  a five-byte real
//   0x22        a string up to the next " (or the line's end)
//   0x7C        an RSX, |NAME: one byte, then the name as a variable's
//   0x80-0xFE   keywords; 0xFF then a byte: functions
//   REM and ' keep the rest of the line as typed, DATA and DEFINT, DEFREAL
//   and DEFSTR the rest of the statement; every other byte is itself
//   (spaces are kept as typed).

namespace {

constexpr const char* kKeywords[] = {"AFTER",
                                     "AUTO",
                                     "BORDER",
                                     "CALL",
                                     "CAT",
                                     "CHAIN",
                                     "CLEAR",
                                     "CLG",
                                     "CLOSEIN",
                                     "CLOSEOUT",
                                     "CLS",
                                     "CONT",
                                     "DATA",
                                     "DEF",
                                     "DEFINT",
                                     "DEFREAL",
                                     "DEFSTR",
                                     "DEG",
                                     "DELETE",
                                     "DIM",
                                     "DRAW",
                                     "DRAWR",
                                     "EDIT",
                                     "ELSE",
                                     "END",
                                     "ENT",
                                     "ENV",
                                     "ERASE",
                                     "ERROR",
                                     "EVERY",
                                     "FOR",
                                     "GOSUB",
                                     "GOTO",
                                     "IF",
                                     "INK",
                                     "INPUT",
                                     "KEY",
                                     "LET",
                                     "LINE",
                                     "LIST",
                                     "LOAD",
                                     "LOCATE",
                                     "MEMORY",
                                     "MERGE",
                                     "MID$",
                                     "MODE",
                                     "MOVE",
                                     "MOVER",
                                     "NEXT",
                                     "NEW",
                                     "ON",
                                     "ON BREAK",
                                     "ON ERROR GOTO 0",
                                     "ON SQ",
                                     "OPENIN",
                                     "OPENOUT",
                                     "ORIGIN",
                                     "OUT",
                                     "PAPER",
                                     "PEN",
                                     "PLOT",
                                     "PLOTR",
                                     "POKE",
                                     "PRINT",
                                     "'",
                                     "RAD",
                                     "RANDOMIZE",
                                     "READ",
                                     "RELEASE",
                                     "REM",
                                     "RENUM",
                                     "RESTORE",
                                     "RESUME",
                                     "RETURN",
                                     "RUN",
                                     "SAVE",
                                     "SOUND",
                                     "SPEED",
                                     "STOP",
                                     "SYMBOL",
                                     "TAG",
                                     "TAGOFF",
                                     "TROFF",
                                     "TRON",
                                     "WAIT",
                                     "WEND",
                                     "WHILE",
                                     "WIDTH",
                                     "WINDOW",
                                     "WRITE",
                                     "ZONE",
                                     "DI",
                                     "EI",
                                     "FILL",
                                     "GRAPHICS",
                                     "MASK",
                                     "FRAME",
                                     "CURSOR",
                                     nullptr,
                                     "ERL",
                                     "FN",
                                     "SPC",
                                     "STEP",
                                     "SWAP",
                                     nullptr,
                                     nullptr,
                                     "TAB",
                                     "THEN",
                                     "TO",
                                     "USING",
                                     ">",
                                     "=",
                                     ">=",
                                     "<",
                                     "<>",
                                     "<=",
                                     "+",
                                     "-",
                                     "*",
                                     "/",
                                     "^",
                                     "\\",
                                     "AND",
                                     "MOD",
                                     "OR",
                                     "XOR",
                                     "NOT"};
static_assert(sizeof kKeywords / sizeof kKeywords[0] == 0xFF - 0x80);

} // namespace

const char* LocomotiveFunction(std::uint8_t code) {
    static constexpr const char* kOneArgument[] = {
        "ABS",   "ASC", "ATN",    "CHR$", "CINT", "COS",  "CREAL", "EXP",    "FIX",    "FRE",
        "INKEY", "INP", "INT",    "JOY",  "LEN",  "LOG",  "LOG10", "LOWER$", "PEEK",   "REMAIN",
        "SGN",   "SIN", "SPACE$", "SQ",   "SQR",  "STR$", "TAN",   "UNT",    "UPPER$", "VAL"};
    static constexpr const char* kNoArgument[] = {"EOF", "ERR",  "HIMEM", "INKEY$", "PI",
                                                  "RND", "TIME", "XPOS",  "YPOS",   "DERR"};
    static constexpr const char* kMoreArguments[] = {
        "BIN$",   "DEC$",  "HEX$",    "INSTR", "LEFT$", "MAX",      "MIN", "POS",
        "RIGHT$", "ROUND", "STRING$", "TEST",  "TESTR", "COPYCHR$", "VPOS"};
    if (code < std::size(kOneArgument))
        return kOneArgument[code];
    if (code >= 0x40 && code < 0x40 + std::size(kNoArgument))
        return kNoArgument[code - 0x40];
    if (code >= 0x71 && code < 0x71 + std::size(kMoreArguments))
        return kMoreArguments[code - 0x71];
    return nullptr;
}

const char* LocomotiveKeyword(std::uint8_t code) {
    return code >= 0x80 && code < 0xFF ? kKeywords[code - 0x80] : nullptr;
}

bool IsLocomotiveNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.';
}

namespace {

constexpr std::uint8_t kSeparator = 0x01, kElse = 0x97, kComment = 0xC0, kRem = 0xC5, kRsx = 0x7C,
                       kPrefix = 0xFF, kLinePointer = 0x1D, kData = 0x8C, kDefInt = 0x8E,
                       kDefStr = 0x90;

// A byte that cannot be typed, in a string or a comment: shown as an escape.
std::string Visible(std::uint8_t c) {
    if (c >= 0x20 && c < 0x7F && c != '\\')
        return std::string(1, static_cast<char>(c));
    if (c == '\\')
        return "\\\\";
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02x", c);
    return text;
}

class LineLister {
  public:
    LineLister(std::span<const std::uint8_t> text, const std::map<unsigned, unsigned>& lineAt,
               std::uint16_t loadAddress)
        : m_Text(text), m_LineAt(lineAt), m_Load(loadAddress) {}

    // The line's text; false when a token's operand runs past the line.
    bool List(std::string& out) {
        while (m_At < m_Text.size()) {
            const std::uint8_t c = m_Text[m_At++];
            if (c == 0x00)
                return true;
            const Before before = m_Before;
            m_Before = Before::Other;
            if (!Token(c, out, before))
                return false;
        }
        return true;
    }

    // What a run of the program left in this line that typing cannot make:
    // names given their type by DEFINT or DEFSTR (0x0B, 0x0C) and line
    // numbers turned into the lines' addresses (0x1D).
    unsigned typedByRun = 0;
    unsigned pointersOfRun = 0;

  private:
    // What the token before (a hidden ':' aside) ends with, where what is
    // written straight after it could be read back as more of it: a name
    // without a type mark, a keyword's letters, FN (which takes the word
    // after it for its function's name), or a number.
    enum class Before { Other, Name, Keyword, Fn, Decimal, Hex, Binary };
    enum class Next { Name, Keyword, Number };

    static bool IsCapital(int c) { return c >= 'A' && c <= 'Z'; }

    // Whether a token starting with `first` would be read back as part of
    // the one before it, and so needs a space. The CPC lists PRINTa and
    // PRINTUSING run together, and they read back apart; it never stores
    // what needs the space from text typed in, but a ? typed after a name is
    // stored as PRINT, and the lister takes any bytes.
    static bool RunsOn(Before before, Next next, char first) {
        switch (before) {
        case Before::Name: // aPRINT, a1: one name
            return IsLocomotiveNameCharacter(first);
        case Before::Keyword: // PRINTZN: one name; PRINTab is PRINT ab
            return next == Next::Name && IsCapital(first);
        case Before::Fn: // FNPRINT: the function PRINT
            return next == Next::Keyword;
        case Before::Decimal: // 1500E99: one number; 10.5 for 10 then .5
            return next == Next::Number || (next == Next::Name && (first == 'E' || first == 'e'));
        case Before::Hex: // &1F0.5, &1FA
            return next == Next::Number || std::isxdigit(static_cast<unsigned char>(first));
        case Before::Binary: // &X10.5
            return next == Next::Number;
        case Before::Other:
            break;
        }
        return false;
    }

    bool Token(std::uint8_t c, std::string& out, Before before) {
        if (c == kSeparator) {
            const bool hidden =
                m_At < m_Text.size() && (m_Text[m_At] == kElse || m_Text[m_At] == kComment);
            if (hidden)
                m_Before = before;
            else
                out += ':';
            return true;
        }
        if ((c >= 0x02 && c <= 0x04) || (c >= 0x0B && c <= 0x0D)) {
            if (m_At + 2 < m_Text.size() &&
                RunsOn(before, Next::Name, static_cast<char>(m_Text[m_At + 2] & 0x7F)))
                out += ' ';
            if (!Skip(2) || !Name(out))
                return false;
            typedByRun += c == 0x0B || c == 0x0C;
            if (c <= 0x04)
                out += "%$!"[c - 0x02];
            else
                m_Before = Before::Name;
            return true;
        }
        if (c >= 0x0E && c <= 0x1F) {
            if (RunsOn(before, Next::Number, '0'))
                out += ' ';
            m_Before = c == 0x1B ? Before::Binary : c == 0x1C ? Before::Hex : Before::Decimal;
        }
        if (c >= 0x0E && c <= 0x18) {
            out += std::to_string(c - 0x0E);
            return true;
        }
        switch (c) {
        case 0x19: {
            std::uint8_t value;
            if (!Byte(value))
                return false;
            out += std::to_string(value);
            return true;
        }
        case 0x1A:
        case 0x1E:
        case 0x1B:
        case 0x1C:
        case kLinePointer: {
            std::uint16_t value;
            if (!Word(value))
                return false;
            pointersOfRun += c == kLinePointer;
            out += Number(c, value);
            return true;
        }
        case 0x1F: {
            if (m_Text.size() - m_At < 5)
                return false;
            out += LocomotiveReal(m_Text.data() + m_At);
            m_At += 5;
            return true;
        }
        case '"':
            out += '"';
            while (m_At < m_Text.size() && m_Text[m_At] != 0x00) {
                const std::uint8_t s = m_Text[m_At++];
                out += Visible(s);
                if (s == '"')
                    break;
            }
            return true;
        case kRsx:
            out += '|';
            m_Before = Before::Name;
            return Skip(1) && Name(out);
        case kPrefix: {
            std::uint8_t code;
            if (!Byte(code))
                return false;
            const char* word = LocomotiveFunction(code);
            if (word != nullptr)
                Word(word, out, before);
            else
                out += Visible(code);
            return true;
        }
        default:
            break;
        }
        if (c >= 0x80) {
            const char* word = kKeywords[c - 0x80];
            if (word != nullptr)
                Word(word, out, before);
            else
                out += Visible(c);
            if (c == kRem || c == kComment)
                while (m_At < m_Text.size() && m_Text[m_At] != 0x00)
                    out += Visible(m_Text[m_At++]);
            // DATA's items and DEFINT's letters are kept as typed, up to
            // the statement's end.
            if (c == kData || (c >= kDefInt && c <= kDefStr)) {
                bool inString = false;
                while (m_At < m_Text.size() && m_Text[m_At] != 0x00 &&
                       (inString || m_Text[m_At] != kSeparator)) {
                    inString = inString != (m_Text[m_At] == '"');
                    out += Visible(m_Text[m_At++]);
                }
            }
            return true;
        }
        out += Visible(c);
        return true;
    }

    // A keyword's or function's name.
    void Word(const char* word, std::string& out, Before before) {
        if (RunsOn(before, Next::Keyword, word[0]))
            out += ' ';
        out += word;
        if (std::string_view(word) == "FN")
            m_Before = Before::Fn;
        else if (IsCapital(out.back()))
            m_Before = Before::Keyword;
    }

    std::string Number(std::uint8_t kind, std::uint16_t value) const {
        char text[24];
        switch (kind) {
        case 0x1B: {
            std::string bits;
            for (std::uint16_t v = value; v != 0; v >>= 1)
                bits.insert(bits.begin(), static_cast<char>('0' + (v & 1)));
            return "&X" + (bits.empty() ? std::string("0") : bits);
        }
        case 0x1C:
            std::snprintf(text, sizeof text, "&%X", value);
            return text;
        case kLinePointer: {
            // The address of the line in memory, or of the byte before it.
            if (value >= m_Load) {
                const unsigned offset = value - m_Load;
                for (unsigned candidate : {offset, offset + 1}) {
                    const auto found = m_LineAt.find(candidate);
                    if (found != m_LineAt.end())
                        return std::to_string(found->second);
                }
            }
            return std::to_string(value);
        }
        default:
            return std::to_string(value);
        }
    }

    bool Skip(std::size_t count) {
        if (m_Text.size() - m_At < count)
            return false;
        m_At += count;
        return true;
    }
    bool Byte(std::uint8_t& value) {
        if (m_At >= m_Text.size())
            return false;
        value = m_Text[m_At++];
        return true;
    }
    bool Word(std::uint16_t& value) {
        if (m_Text.size() - m_At < 2)
            return false;
        value = static_cast<std::uint16_t>(m_Text[m_At] | m_Text[m_At + 1] << 8);
        m_At += 2;
        return true;
    }
    // A variable's or RSX's name: bit 7 marks its last byte.
    bool Name(std::string& out) {
        while (m_At < m_Text.size()) {
            const std::uint8_t c = m_Text[m_At++];
            out += Visible(c & 0x7F);
            if (c & 0x80)
                return true;
        }
        return false;
    }

    std::span<const std::uint8_t> m_Text;
    const std::map<unsigned, unsigned>& m_LineAt;
    std::uint16_t m_Load;
    std::size_t m_At = 0;
    Before m_Before = Before::Other;
};

} // namespace

std::string LocomotiveReal(const std::uint8_t bytes[5]) {
    // Mantissa in bytes 0-3, little-endian, its top bit the sign (the
    // leading 1 is implied); byte 4 the exponent, biased by 128 (0: zero).
    if (bytes[4] == 0)
        return "0";
    const std::uint32_t raw = static_cast<std::uint32_t>(bytes[0]) | bytes[1] << 8 |
                              bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    // (raw with its leading 1) / 2^32 * 2^(exponent - 128), the power of
    // two built from its bits (always a normal double here).
    const double power =
        std::bit_cast<double>(static_cast<std::uint64_t>(bytes[4] - 160 + 1023) << 52);
    const double magnitude = static_cast<double>(raw | 0x80000000u) * power;
    const double value = (raw & 0x80000000u) ? -magnitude : magnitude;
    char text[32];
    if (magnitude >= 1e9 || magnitude < 1e-5) {
        std::snprintf(text, sizeof text, "%.8E", value);
        // Trailing zeros of the mantissa, and the exponent's third digit, go.
        std::string s = text;
        const std::size_t e = s.find('E');
        std::string digits = s.substr(0, e), exponent = s.substr(e + 1);
        while (!digits.empty() && digits.back() == '0')
            digits.pop_back();
        if (!digits.empty() && digits.back() == '.')
            digits.pop_back();
        const int decimal = std::stoi(exponent);
        std::snprintf(text, sizeof text, "E%c%02d", decimal < 0 ? '-' : '+',
                      decimal < 0 ? -decimal : decimal);
        return digits + text;
    }
    std::snprintf(text, sizeof text, "%.9G", value);
    return text;
}

Listing ListLocomotiveBasic(std::span<const std::uint8_t> program, std::uint16_t loadAddress) {
    Listing listing;
    // Where each line starts, for the line pointers.
    std::map<unsigned, unsigned> lineAt;
    for (std::size_t at = 0; program.size() - at >= 4;) {
        const std::size_t length = program[at] | program[at + 1] << 8;
        if (length < 4 || length > program.size() - at)
            break;
        lineAt[static_cast<unsigned>(at)] = program[at + 2] | program[at + 3] << 8;
        at += length;
    }
    unsigned typedByRun = 0, pointersOfRun = 0;
    std::size_t at = 0;
    while (true) {
        if (program.size() - at < 2) {
            listing.warning = "the program ends without its end mark";
            break;
        }
        const std::size_t length = program[at] | program[at + 1] << 8;
        if (length == 0)
            break;
        if (length < 4 || length > program.size() - at) {
            listing.warning =
                "a line at offset " + std::to_string(at) +
                (length < 4 ? " is too short to be one" : " runs past the end of the program");
            break;
        }
        const unsigned number = program[at + 2] | program[at + 3] << 8;
        std::string text = std::to_string(number) + ' ';
        LineLister lister(program.subspan(at + 4, length - 4), lineAt, loadAddress);
        const bool whole = lister.List(text);
        typedByRun += lister.typedByRun;
        pointersOfRun += lister.pointersOfRun;
        listing.text += text + '\n';
        if (!whole) {
            listing.warning = "line " + std::to_string(number) + " ends inside a token";
            break;
        }
        at += length;
    }
    if (typedByRun != 0 || pointersOfRun != 0) {
        std::string left;
        if (typedByRun != 0)
            left = std::to_string(typedByRun) + " names keep the type DEFINT or DEFSTR gave them";
        if (pointersOfRun != 0)
            left += (left.empty() ? "" : ", and ") + std::to_string(pointersOfRun) +
                    " line numbers are the lines' addresses";
        listing.note = "the program was run before it was saved: " + left +
                       ", which typing cannot make (the text made into a program again stores "
                       "them as typed)";
    }
    return listing;
}
