#include "SinclairBasic.h"

#include "BasicText.h"
#include "CNumber.h"

#include <algorithm>
#include <cstdio>

// A program is a run of lines:
//   0..1  line number, big-endian (16384 and above: not a line; the
//         variables would begin here)
//   2..3  length of the text that follows, little-endian, the final 0x0D
//         included
//   4..   the text: ASCII, keyword codes 0xA3-0xFF, and control codes:
//         0x0E followed by the five-byte binary form of the number whose
//         digits precede it (never shown), 0x10-0x15 (INK, PAPER, FLASH,
//         BRIGHT, INVERSE, OVER) with one parameter byte, 0x16-0x17 (AT,
//         TAB) with two, 0x0D ending the line.

namespace {

constexpr const char* kKeywords[] = {
    "SPECTRUM", "PLAY", "RND", "INKEY$", "PI", "FN", "POINT", "SCREEN$", "ATTR", "AT", "TAB",
    "VAL$", "CODE", "VAL", "LEN", "SIN", "COS", "TAN", "ASN", "ACS", "ATN", "LN", "EXP", "INT",
    "SQR", "SGN", "ABS", "PEEK", "IN", "USR", "STR$", "CHR$", "NOT", "BIN", "OR", "AND", "<=",
    ">=", "<>", "LINE", "THEN", "TO", "STEP", "DEF FN", "CAT", "FORMAT", "MOVE", "ERASE",
    "OPEN #", "CLOSE #", "MERGE", "VERIFY", "BEEP", "CIRCLE", "INK", "PAPER", "FLASH", "BRIGHT",
    "INVERSE", "OVER", "OUT", "LPRINT", "LLIST", "STOP", "READ", "DATA", "RESTORE", "NEW",
    "BORDER", "CONTINUE", "DIM", "REM", "FOR", "GO TO", "GO SUB", "INPUT", "LOAD", "LIST", "LET",
    "PAUSE", "NEXT", "POKE", "PRINT", "PLOT", "RUN", "SAVE", "RANDOMIZE", "IF", "CLS", "DRAW",
    "CLEAR", "RETURN", "COPY"};
constexpr std::uint8_t kFirstKeyword = 0xA3;
static_assert(sizeof kKeywords / sizeof kKeywords[0] == 0x100 - kFirstKeyword);

constexpr std::uint8_t kRem = 0xEA, kNumber = 0x0E;
constexpr unsigned kFirstNonLine = 16384;

// The ROM's spacing (its token printer): a keyword from OR on, and the
// +3's SPECTRUM and PLAY, gets a space before it when it starts with a
// letter and the last thing printed was not a space; one ending in a letter
// or $ gets a space after it, except RND, INKEY$ and PI, which take no
// argument.
bool SpaceBefore(std::uint8_t code, const char* word) {
    return (code >= 0xC5 || code < 0xA5) && word[0] >= 'A';
}
bool SpaceAfter(std::uint8_t code, const char* word) {
    if (code >= 0xA5 && code <= 0xA7)
        return false;
    std::size_t last = 0;
    while (word[last + 1] != '\0')
        ++last;
    return word[last] == '$' || word[last] >= 'A';
}

// zmakebas's escapes for the block graphics: the left column's quarter
// squares, then the right column's, each as ' ' (none), '\'' (top), '.'
// (bottom) or ':' (both). Bit 0 is the top right square, 1 the top left,
// 2 the bottom right, 3 the bottom left.
std::string BlockGraphic(std::uint8_t code) {
    static constexpr char kColumn[] = {' ', '\'', '.', ':'};
    const unsigned left = ((code >> 1) & 1) | ((code >> 2) & 2);
    const unsigned right = (code & 1) | ((code >> 1) & 2);
    return std::string{'\\', kColumn[left], kColumn[right]};
}

// A printable character (0x20 to 0xA4) as a listing writes it: UDGs and
// block graphics as zmakebas escapes, £ (0x60) and © (0x7F) in UTF-8 or as
// the tokenizer's ` and \*, a backslash doubled.
std::string CharacterShown(std::uint8_t c, ListingStyle style = ListingStyle::AsShown) {
    const bool escaped = style == ListingStyle::Escaped;
    if (c >= 0x90)
        return std::string{'\\', static_cast<char>('a' + (c - 0x90))};
    if (c >= 0x80)
        return BlockGraphic(c);
    if (c == 0x60)
        return escaped ? "`" : "\xC2\xA3"; // £
    if (c == 0x7F)
        return escaped ? "\\*" : "\xC2\xA9"; // ©
    if (c == '\\')
        return "\\\\";
    return std::string(1, static_cast<char>(c));
}

std::string ByteEscape(std::uint8_t c) {
    return "\\{" + std::to_string(c) + "}";
}

// Whether the five bytes after the number marker at `marker` are the ones
// the tokenizer makes from the digits before it.
bool HiddenFormIsTheDigits(std::span<const std::uint8_t> text, std::size_t marker) {
    std::size_t start = marker;
    auto numeric = [&](std::size_t k) {
        const char c = static_cast<char>(text[k]);
        return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' ||
               ((c == '+' || c == '-') && k > 0 && (text[k - 1] == 'e' || text[k - 1] == 'E'));
    };
    while (start > 0 && numeric(start - 1))
        --start;
    const std::string digits(text.begin() + static_cast<std::ptrdiff_t>(start),
                             text.begin() + static_cast<std::ptrdiff_t>(marker));
    char* end = nullptr;
    const double value = ReadCNumber(digits.c_str(), &end);
    if (digits.empty() || end != digits.c_str() + digits.size())
        return false;
    const auto form = SinclairNumberForm(value);
    return form && std::equal(form->begin(), form->end(),
                              text.begin() + static_cast<std::ptrdiff_t>(marker + 1));
}

// The bytes a control code takes after it in a line, as the ROM steps over
// them: a number's hidden five, a colour control's one, AT's and TAB's two.
std::size_t ParameterBytes(std::uint8_t c) {
    if (c == kNumber)
        return 5;
    if (c >= 0x10 && c <= 0x15)
        return 1;
    return c == 0x16 || c == 0x17 ? 2 : 0;
}

// Where a line's ENTER lies (not inside a control's parameters); the
// text's size when there is none.
std::size_t LineEnd(std::span<const std::uint8_t> text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == 0x0D)
            return i;
        i += ParameterBytes(text[i]);
    }
    return text.size();
}

class LinePrinter {
public:
    LinePrinter(std::string& out, ListingStyle style) : m_Out(out), m_Style(style) {}

    void Line(std::span<const std::uint8_t> text) {
        const bool escaped = m_Style == ListingStyle::Escaped;
        bool inString = false, afterRem = false;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const std::uint8_t c = text[i];
            if (c < 0x20) {
                // Controls are not shown; their parameters are skipped with
                // them. Written out, a number's hidden form is left to the
                // tokenizer when it makes the same, and the ENTER ends the line.
                const std::size_t parameters = std::min(ParameterBytes(c), text.size() - i - 1);
                const bool own = c == 0x0D      ? i + 1 == text.size()
                                 : c == kNumber ? parameters == 5 && HiddenFormIsTheDigits(text, i)
                                                : false;
                if (escaped && !own)
                    for (std::size_t k = i; k <= i + parameters; ++k)
                        Put(ByteEscape(text[k]), false);
                i += parameters;
                continue;
            }
            if (c == '"' && !afterRem)
                inString = !inString;
            if (c >= kFirstKeyword && !(inString && c <= 0xA4)) {
                // Keyword codes inside strings and REM are words only on screen.
                if (escaped && (inString || afterRem)) {
                    Put(ByteEscape(c), false);
                    continue;
                }
                Keyword(c);
                afterRem = afterRem || (c == kRem && !inString);
                continue;
            }
            // The tokenizer drops spaces outside strings and REM: a stored
            // one is written as its byte.
            if (escaped && c == ' ' && !inString && !afterRem) {
                Put(ByteEscape(c), false);
                continue;
            }
            // A block graphic's escape may end in a space; the graphic is none.
            Put(CharacterShown(c, m_Style), c < 0x80 || c >= 0x90);
        }
    }

private:
    void Keyword(std::uint8_t code) {
        const char* word = kKeywords[code - kFirstKeyword];
        if (SpaceBefore(code, word) && !m_AfterSpace)
            m_Out += ' ';
        Put(word);
        if (SpaceAfter(code, word))
            Put(" ");
    }
    // The ROM leaves out a keyword's leading space only after a space
    // character it printed.
    void Put(const std::string& text, bool mayBeSpace = true) {
        m_Out += text;
        m_AfterSpace = mayBeSpace && text.back() == ' ';
    }

    std::string& m_Out;
    ListingStyle m_Style;
    bool m_AfterSpace = false;
};

} // namespace

const char* SinclairKeyword(std::uint8_t code) {
    return code >= kFirstKeyword ? kKeywords[code - kFirstKeyword] : nullptr;
}

std::string SpectrumTextShown(std::string_view text) {
    std::string shown;
    for (const char byte : text) {
        const auto c = static_cast<std::uint8_t>(byte);
        if (c < 0x20)
            shown += "\\{" + std::to_string(c) + "}";
        else if (c <= 0xA4)
            shown += CharacterShown(c);
        else
            shown += SinclairKeyword(c);
    }
    return shown;
}

Listing ListSinclairBasic(std::span<const std::uint8_t> program, ListingStyle style) {
    Listing listing;
    std::size_t at = 0;
    while (at < program.size()) {
        if (program.size() - at < 4) {
            listing.warning = "the program ends inside a line's number and length";
            break;
        }
        const unsigned number = program[at] << 8 | program[at + 1];
        const std::size_t length = program[at + 2] | program[at + 3] << 8;
        if (number >= kFirstNonLine) {
            listing.warning = "line number " + std::to_string(number) +
                              " is past the last a program can have: the listing ends there";
            break;
        }
        if (length > program.size() - at - 4) {
            // A loader's trick: a length past the program's end keeps LIST
            // from finding the next line. The machine prints this one to its
            // ENTER and no more; a line with no ENTER was cut short.
            const std::span<const std::uint8_t> rest = program.subspan(at + 4);
            const std::size_t end = LineEnd(rest);
            if (end == rest.size()) {
                listing.warning = "line " + std::to_string(number) + " runs past the end of the program";
                break;
            }
            char head[8];
            std::snprintf(head, sizeof head, "%5u", number);
            listing.text += head;
            LinePrinter(listing.text, style).Line(rest.first(end + 1));
            listing.text += '\n';
            const std::size_t hidden = rest.size() - end - 1;
            listing.note = "line " + std::to_string(number) + "'s length field says " +
                           std::to_string(length) +
                           " bytes, past the program's end: the machine lists no further" +
                           (hidden != 0 ? ", and the " + std::to_string(hidden) +
                                              " bytes after the line stay hidden from LIST"
                                        : "");
            break;
        }
        char head[8];
        std::snprintf(head, sizeof head, "%5u", number);
        listing.text += head;
        LinePrinter(listing.text, style).Line(program.subspan(at + 4, length));
        listing.text += '\n';
        at += 4 + length;
    }
    return listing;
}
