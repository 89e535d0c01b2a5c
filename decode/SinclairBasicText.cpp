// +3 BASIC made from text, byte for byte as zmakebas makes it (but for
// VAL$ and DEF FN, which are made as the +3's editor makes them). The line
// layout is described in SinclairBasic.cpp, where programs are listed.

#include "BasicText.h"
#include "CNumber.h"
#include "SinclairBasic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <map>

namespace {

constexpr std::uint8_t kNumberMarker = 0x0E, kLineEnd = 0x0D, kBin = 0xC4, kRem = 0xEA,
                       kDefFn = 0xCE, kVal = 0xB0, kValString = 0xAE, kCopyright = 0x7F;
constexpr unsigned kLastLine = 9999;
// zmakebas's limits: the text of a line (continuations joined), a line
// made, and a whole program.
constexpr std::size_t kLongestText = 2029, kLongestLine = 4088, kLargestProgram = 49151;

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct Word {
    std::string text; // lower case
    std::uint8_t code;
};

// The keywords in the order they are looked for: from COPY down to
// SPECTRUM, each with the other spellings zmakebas takes for it. The order
// matters where a keyword ending in $ or # is followed by another: the later
// one is found first, and only then is the earlier one not followed by a
// letter (INKEY$AT is two keywords, CHR$AT is not). VAL$ is looked for
// before VAL, which would otherwise take its letters. REM is found first,
// apart (see FindRem).
const std::vector<Word>& Words() {
    static const std::vector<Word> words = [] {
        static const std::pair<std::uint8_t, const char*> kOtherSpellings[] = {
            {0xEC, "goto"}, {0xED, "gosub"}, {0xCE, "deffn"},
            {0xD3, "open#"}, {0xD4, "close#"}, {0xF9, "randomise"}};
        std::vector<Word> list;
        auto add = [&](std::uint8_t code) {
            Word word{SinclairKeyword(code), code};
            std::transform(word.text.begin(), word.text.end(), word.text.begin(), Lower);
            list.push_back(word);
            for (const auto& [other, text] : kOtherSpellings)
                if (other == code)
                    list.push_back({text, code});
        };
        for (unsigned code = 0xFF; code >= 0xA3; --code) {
            if (code == kRem || code == kValString)
                continue;
            if (code == kVal)
                add(kValString);
            add(static_cast<std::uint8_t>(code));
        }
        return list;
    }();
    return words;
}

} // namespace

// A number as the +3 keeps it beside its digits: a whole number up to
// 65535 as 00 00 low high 00; anything else as an exponent byte (biased by
// 128) and a four-byte mantissa, big-endian, rounded to nearest, its top
// bit (always 1) replaced by the sign. Out of the exponent's range: none.
std::optional<std::array<std::uint8_t, 5>> SinclairNumberForm(double value) {
    if (value >= 0 && value <= 65535 && value == std::floor(value)) {
        const auto whole = static_cast<unsigned>(value);
        return std::array<std::uint8_t, 5>{0, 0, static_cast<std::uint8_t>(whole & 0xFF),
                                           static_cast<std::uint8_t>(whole >> 8), 0};
    }
    if (!std::isfinite(value))
        return std::nullopt;
    int exponent = 0;
    const double fraction = SplitBinary(std::fabs(value), exponent);
    exponent += 128;
    if (exponent < 0 || exponent > 255)
        return std::nullopt;
    const double rounded = std::floor(fraction * 4294967296.0 + 0.5);
    const auto mantissa = static_cast<std::uint32_t>(std::min(rounded, 4294967295.0));
    return std::array<std::uint8_t, 5>{
        static_cast<std::uint8_t>(exponent),
        static_cast<std::uint8_t>(((mantissa >> 24) & 0x7F) | (value < 0 ? 0x80 : 0)),
        static_cast<std::uint8_t>(mantissa >> 16), static_cast<std::uint8_t>(mantissa >> 8),
        static_cast<std::uint8_t>(mantissa)};
}

namespace {

// A source line with its continuations joined, and where each of its
// characters came from.
struct SourceLine {
    std::string text;
    std::vector<TextPlace> places;
};

// A line's text after its number goes through the stages zmakebas takes,
// as cells that are still text, keywords found, or bytes made:
//   1. REM is found, and what follows it is kept as typed (escapes aside);
//   2. keywords are found, one after another over the whole line;
//   3. numbers are found and given their hidden form;
//   4. spaces outside strings go, and tabs everywhere;
//   5. escapes become their bytes.
// Strings are passed over by 2-4; escapes by 3 and 4.
class LineMaker {
public:
    LineMaker(const SourceLine& source, std::vector<TextProblem>& warnings)
        : m_Source(source), m_Warnings(warnings) {}

    // The line's bytes after its number and length; false with `m_Error`
    // set when the line cannot be made.
    bool Make(std::size_t from, std::vector<std::uint8_t>& out) {
        const std::size_t rem = FindRem(from);
        for (std::size_t at = from; at < rem; ++at)
            m_Cells.push_back({Cell::Text, static_cast<std::uint8_t>(m_Source.text[at]), at});
        for (const Word& word : Words())
            FindKeyword(word);
        if (!FindNumbers())
            return false;
        DropSpaces();
        if (rem < m_Source.text.size()) {
            m_Cells.push_back({Cell::Keyword, kRem, rem});
            std::size_t at = rem + 3;
            // The editor takes the space after REM as part of it.
            if (at < m_Source.text.size() && m_Source.text[at] == ' ')
                ++at;
            for (; at < m_Source.text.size(); ++at)
                if (m_Source.text[at] != '\t')
                    m_Cells.push_back({Cell::Text, static_cast<std::uint8_t>(m_Source.text[at]), at});
        }
        return Escapes(out);
    }

    TextProblem m_Error;

private:
    struct Cell {
        enum Kind { Text, Keyword, Byte } kind;
        std::uint8_t value;
        std::size_t at; // where in the source it came from
    };

    bool IsText(std::size_t i, char c) const {
        return i < m_Cells.size() && m_Cells[i].kind == Cell::Text && m_Cells[i].value == c;
    }
    bool IsTextLetter(std::size_t i) const {
        return i < m_Cells.size() && m_Cells[i].kind == Cell::Text &&
               IsLetter(static_cast<char>(m_Cells[i].value));
    }

    // Where REM starts (the text's end without one): outside strings, not
    // inside a word.
    std::size_t FindRem(std::size_t from) const {
        const std::string& text = m_Source.text;
        bool inString = false;
        for (std::size_t at = from; at + 3 <= text.size(); ++at) {
            if (text[at] == '"')
                inString = !inString;
            if (inString || Lower(text[at]) != 'r' || Lower(text[at + 1]) != 'e' ||
                Lower(text[at + 2]) != 'm')
                continue;
            if ((at > from && IsLetter(text[at - 1])) ||
                (at + 3 < text.size() && IsLetter(text[at + 3])))
                continue;
            return at;
        }
        return text.size();
    }

    // Every place the keyword stands outside strings; one that starts with a
    // letter must not follow or be followed by a letter not yet taken into
    // a keyword.
    void FindKeyword(const Word& word) {
        const std::size_t length = word.text.size();
        const bool wordLike = IsLetter(word.text[0]);
        bool inString = false;
        for (std::size_t i = 0; i < m_Cells.size(); ++i) {
            if (IsText(i, '"'))
                inString = !inString;
            if (inString || m_Cells.size() - i < length)
                continue;
            bool same = true;
            for (std::size_t k = 0; k < length && same; ++k)
                same = m_Cells[i + k].kind == Cell::Text &&
                       Lower(static_cast<char>(m_Cells[i + k].value)) == word.text[k];
            if (!same || (wordLike && ((i > 0 && IsTextLetter(i - 1)) || IsTextLetter(i + length))))
                continue;
            m_Cells[i] = {Cell::Keyword, word.code, m_Cells[i].at};
            m_Cells.erase(m_Cells.begin() + static_cast<std::ptrdiff_t>(i + 1),
                          m_Cells.begin() + static_cast<std::ptrdiff_t>(i + length));
        }
    }

    // How many cells the escape starting at `i` takes: \{...}, a block
    // graphic's two characters, or one character.
    std::size_t EscapeLength(std::size_t i) const {
        if (i + 1 >= m_Cells.size() || m_Cells[i + 1].kind != Cell::Text)
            return 1;
        if (IsText(i + 1, '{')) {
            for (std::size_t k = i + 2; k < m_Cells.size() && m_Cells[k].kind == Cell::Text; ++k)
                if (m_Cells[k].value == '}')
                    return k - i + 1;
            return 2;
        }
        if (QuarterSquares(static_cast<char>(m_Cells[i + 1].value)) >= 0 && i + 2 < m_Cells.size() &&
            m_Cells[i + 2].kind == Cell::Text &&
            QuarterSquares(static_cast<char>(m_Cells[i + 2].value)) >= 0)
            return 3;
        return 2;
    }

    // Digits not inside a name (a digit or point after a letter is part of
    // it) get the number's hidden form after them; BIN's digits are read as
    // binary, or hex after 0x.
    bool FindNumbers() {
        std::vector<Cell> made;
        bool inString = false;
        for (std::size_t i = 0; i < m_Cells.size();) {
            const Cell cell = m_Cells[i];
            if (IsText(i, '"'))
                inString = !inString;
            if (inString || cell.kind != Cell::Text) {
                made.push_back(cell);
                ++i;
                if (cell.kind == Cell::Keyword && cell.value == kBin && !inString &&
                    !BinNumber(i, made))
                    return false;
                continue;
            }
            const char c = static_cast<char>(cell.value);
            if (c == '\\') {
                const std::size_t length = EscapeLength(i);
                made.insert(made.end(), m_Cells.begin() + static_cast<std::ptrdiff_t>(i),
                            m_Cells.begin() + static_cast<std::ptrdiff_t>(i + length));
                i += length;
                continue;
            }
            if ((IsDigit(c) || c == '.') && !(i > 0 && IsTextLetter(i - 1))) {
                std::string digits;
                for (std::size_t k = i; k < m_Cells.size() && m_Cells[k].kind == Cell::Text; ++k)
                    digits += static_cast<char>(m_Cells[k].value);
                char* end = nullptr;
                const double value = ReadCNumber(digits.c_str(), &end);
                const auto length = static_cast<std::size_t>(end - digits.c_str());
                if (length > 0) {
                    if (!Hidden(i, length, value, made))
                        return false;
                    i += length;
                    continue;
                }
            }
            made.push_back(cell);
            ++i;
        }
        m_Cells = std::move(made);
        return true;
    }

    bool BinNumber(std::size_t& i, std::vector<Cell>& made) {
        while (IsText(i, ' '))
            made.push_back(m_Cells[i++]);
        if (i >= m_Cells.size() || m_Cells[i].kind != Cell::Text)
            return true;
        const char first = static_cast<char>(m_Cells[i].value);
        if (!IsDigit(first) && first != '.')
            return true;
        const std::size_t start = i;
        std::size_t at = i;
        double value = 0;
        auto digit = [&](std::size_t k) {
            return k < m_Cells.size() && m_Cells[k].kind == Cell::Text
                       ? Lower(static_cast<char>(m_Cells[k].value))
                       : '\0';
        };
        // zmakebas reads hex wherever the second character is an x.
        if (IsDigit(digit(at)) && digit(at + 1) == 'x') {
            at += 2;
            const std::size_t digits = at;
            while (std::isxdigit(static_cast<unsigned char>(digit(at)))) {
                const char d = digit(at++);
                value = value * 16 + (IsDigit(d) ? d - '0' : d - 'a' + 10);
            }
            if (at == digits)
                return Fail(m_Cells[start].at, "BIN 0x needs hex digits");
        } else {
            while (digit(at) == '0' || digit(at) == '1')
                value = value * 2 + (digit(at++) - '0');
            if (at == start)
                return Fail(m_Cells[start].at, "BIN needs binary digits (0 and 1)");
        }
        if (!Hidden(start, at - start, value, made))
            return false;
        i = at;
        return true;
    }

    // The number's own cells, then the marker and its five bytes.
    bool Hidden(std::size_t start, std::size_t length, double value, std::vector<Cell>& made) {
        const auto form = SinclairNumberForm(value);
        const std::size_t at = m_Cells[start].at;
        // Digits written with their own hidden form after them (\{14} and
        // five bytes, as a lossless listing writes one the +3 stored
        // otherwise) keep it: none is made.
        const bool written = WrittenMarkerAt(start + length);
        if (!form && !written) {
            std::string digits;
            for (std::size_t k = start; k < start + length; ++k)
                digits += static_cast<char>(m_Cells[k].value);
            return Fail(at, "number out of range: " + digits);
        }
        made.insert(made.end(), m_Cells.begin() + static_cast<std::ptrdiff_t>(start),
                    m_Cells.begin() + static_cast<std::ptrdiff_t>(start + length));
        if (written)
            return true;
        made.push_back({Cell::Byte, kNumberMarker, at});
        for (const std::uint8_t byte : *form)
            made.push_back({Cell::Byte, byte, at});
        return true;
    }

    bool WrittenMarkerAt(std::size_t i) const {
        for (const std::string_view marker : {"\\{14}", "\\{0x0E}", "\\{0x0e}"}) {
            std::size_t k = 0;
            while (k < marker.size() && IsText(i + k, marker[k]))
                ++k;
            if (k == marker.size())
                return true;
        }
        return false;
    }

    void DropSpaces() {
        std::vector<Cell> kept;
        bool inString = false;
        for (std::size_t i = 0; i < m_Cells.size();) {
            if (IsText(i, '"'))
                inString = !inString;
            if (!inString && IsText(i, '\\')) {
                const std::size_t length = EscapeLength(i);
                kept.insert(kept.end(), m_Cells.begin() + static_cast<std::ptrdiff_t>(i),
                            m_Cells.begin() + static_cast<std::ptrdiff_t>(i + length));
                i += length;
                continue;
            }
            // Tabs go from strings too, as zmakebas drops them.
            if (!IsText(i, '\t') && (inString || !IsText(i, ' ')))
                kept.push_back(m_Cells[i]);
            ++i;
        }
        m_Cells = std::move(kept);
    }

    // The bytes: escapes in strings, REM and the program alike become the
    // byte they stand for.
    bool Escapes(std::vector<std::uint8_t>& out) {
        for (std::size_t i = 0; i < m_Cells.size(); ++i) {
            const Cell& cell = m_Cells[i];
            if (cell.kind != Cell::Text || cell.value != '\\') {
                out.push_back(cell.value);
                continue;
            }
            if (i + 1 >= m_Cells.size()) {
                out.push_back('\\');
                continue;
            }
            const Cell& next = m_Cells[++i];
            const char e = static_cast<char>(next.value);
            if (next.kind != Cell::Text) {
                Warn(cell.at, "a keyword after \\, kept as it is");
                out.push_back(next.value);
                continue;
            }
            const char lower = Lower(e);
            if (lower >= 'a' && lower <= 'u') {
                out.push_back(static_cast<std::uint8_t>(0x90 + (lower - 'a')));
            } else if (e == '\\' || e == '@') {
                out.push_back(static_cast<std::uint8_t>(e));
            } else if (e == '*') {
                out.push_back(kCopyright);
            } else if (e == '{') {
                std::string number;
                std::size_t k = i + 1;
                for (; k < m_Cells.size() && m_Cells[k].kind == Cell::Text && m_Cells[k].value != '}'; ++k)
                    number += static_cast<char>(m_Cells[k].value);
                char* end = nullptr;
                const long code = std::strtol(number.c_str(), &end, 0);
                if (k >= m_Cells.size() || number.empty() || *end != '\0')
                    return Fail(cell.at, "\\{ needs a number and }");
                if (code < 0 || code > 255)
                    return Fail(cell.at, "\\{...} must be a byte (0-255)");
                out.push_back(static_cast<std::uint8_t>(code));
                i = k;
            } else if (const int left = QuarterSquares(e); left >= 0) {
                const int right = i + 1 < m_Cells.size() && m_Cells[i + 1].kind == Cell::Text
                                      ? QuarterSquares(static_cast<char>(m_Cells[i + 1].value))
                                      : -1;
                if (right < 0)
                    return Fail(cell.at, "a block graphic needs two of ' . : and space after \\");
                ++i;
                // Bits 1 and 3: the left column's top and bottom; 0 and 2 the right's.
                out.push_back(static_cast<std::uint8_t>(0x80 | (left & 1) << 1 | (left & 2) << 2 |
                                                        (right & 1) | (right & 2) << 1));
            } else {
                Warn(cell.at, std::string("unknown escape \\") + e + ", taken as " + e);
                out.push_back(static_cast<std::uint8_t>(e));
            }
        }
        return true;
    }

    // A column of a block graphic: 1 the top square, 2 the bottom one.
    static int QuarterSquares(char c) {
        switch (c) {
        case ' ': return 0;
        case '\'': return 1;
        case '.': return 2;
        case ':': return 3;
        default: return -1;
        }
    }

    bool Fail(std::size_t at, std::string message) {
        m_Error = {Place(at), std::move(message)};
        return false;
    }
    void Warn(std::size_t at, std::string message) {
        m_Warnings.push_back({Place(at), std::move(message)});
    }
    TextPlace Place(std::size_t at) const {
        const auto& places = m_Source.places;
        return at < places.size() ? places[at] : (places.empty() ? TextPlace{} : places.back());
    }

    const SourceLine& m_Source;
    std::vector<TextProblem>& m_Warnings;
    std::vector<Cell> m_Cells;
};

// The +3's editor follows each parameter of DEF FN with a number marker and
// five bytes, where FN puts the argument's value when it runs.
void AddDefFnPlaceholders(std::vector<std::uint8_t>& line) {
    bool inString = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const std::uint8_t c = line[i];
        if (c == '"')
            inString = !inString;
        if (inString)
            continue;
        if (c == kNumberMarker) {
            i += 5;
            continue;
        }
        if (c == kRem)
            return;
        if (c != kDefFn)
            continue;
        std::size_t at = i + 1;
        auto letter = [&] { return at < line.size() && IsLetter(static_cast<char>(line[at])); };
        if (!letter())
            continue;
        ++at;
        if (at < line.size() && line[at] == '$')
            ++at;
        if (at >= line.size() || line[at] != '(')
            continue;
        ++at;
        while (letter()) {
            ++at;
            if (at < line.size() && line[at] == '$')
                ++at;
            static constexpr std::uint8_t kPlaceholder[] = {kNumberMarker, 0, 0, 0, 0, 0};
            line.insert(line.begin() + static_cast<std::ptrdiff_t>(at), std::begin(kPlaceholder),
                        std::end(kPlaceholder));
            at += sizeof kPlaceholder;
            if (at >= line.size() || line[at] != ',')
                break;
            ++at;
        }
        i = at - 1;
    }
}

// The text's lines: CR before LF dropped, UTF-8 £ and © taken for ` and
// \*, comment lines (# first) and empty lines left out, a line ending in a
// backslash joined to the next. False with `problem` set for a byte that is not
// ASCII or a control other than tab.
bool SourceLines(std::string_view text, std::vector<SourceLine>& lines, TextProblem& problem) {
    unsigned number = 0;
    bool joining = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view physical = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!physical.empty() && physical.back() == '\r')
            physical.remove_suffix(1);
        if (!joining && (physical.empty() || physical[0] == '#'))
            continue;
        if (!joining)
            lines.emplace_back();
        SourceLine& line = lines.back();
        joining = false;
        for (std::size_t i = 0; i < physical.size(); ++i) {
            const TextPlace place{number, static_cast<unsigned>(i + 1)};
            const auto c = static_cast<unsigned char>(physical[i]);
            if (c == 0xC2 && i + 1 < physical.size() &&
                (static_cast<unsigned char>(physical[i + 1]) == 0xA3 ||
                 static_cast<unsigned char>(physical[i + 1]) == 0xA9)) {
                const bool pound = static_cast<unsigned char>(physical[i + 1]) == 0xA3;
                for (const char made : pound ? std::string_view("`") : std::string_view("\\*")) {
                    line.text += made;
                    line.places.push_back(place);
                }
                ++i;
                continue;
            }
            if (c >= 0x80 || (c < 0x20 && c != '\t') || c == 0x7F) {
                problem = {place, c >= 0x80 ? "a character the +3 does not have (write block "
                                              "graphics and UDGs as \\ escapes, £ as `)"
                                            : "a control character (write it as \\{n})"};
                return false;
            }
            if (c == '\\' && i + 1 == physical.size()) {
                joining = true;
                break;
            }
            line.text += static_cast<char>(c);
            line.places.push_back(place);
        }
    }
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

// Lines written without numbers given them, and their labels replaced by
// the numbers (see LabelNumbering). False with `problem` set for a label
// defined twice or used and never defined.
bool NumberLabelledLines(std::vector<SourceLine>& lines, const LabelNumbering& numbering,
                         std::map<std::string, unsigned>& labels, TextProblem& problem) {
    std::vector<SourceLine> numbered;
    unsigned long number = numbering.first;
    for (SourceLine& line : lines) {
        std::size_t at = 0;
        while (at < line.text.size() && IsSpace(line.text[at]))
            ++at;
        const std::size_t colon = line.text.find(':', at);
        if (at < line.text.size() && line.text[at] == '@' && colon != std::string::npos) {
            const std::string name = line.text.substr(at + 1, colon - at - 1);
            if (!labels.emplace(name, static_cast<unsigned>(std::min(number, 99999UL))).second) {
                problem = {line.places[at], "the label @" + name + " is defined twice"};
                return false;
            }
            at = colon + 1;
            while (at < line.text.size() && IsSpace(line.text[at]))
                ++at;
        }
        if (at == line.text.size())
            continue; // a label alone names the next line
        line.text.erase(0, at);
        line.places.erase(line.places.begin(),
                          line.places.begin() + static_cast<std::ptrdiff_t>(at));
        const std::string digits = std::to_string(number) + " ";
        line.text.insert(0, digits);
        line.places.insert(line.places.begin(), digits.size(), line.places.front());
        numbered.push_back(std::move(line));
        number += numbering.step;
    }
    for (SourceLine& line : numbered) {
        for (std::size_t at = 0; at < line.text.size(); ++at) {
            if (line.text[at] == '\\') {
                ++at; // \@ is an @, \\ a backslash
                continue;
            }
            if (line.text[at] != '@')
                continue;
            std::size_t end = at + 1;
            while (end < line.text.size() && !IsSpace(line.text[end]) && line.text[end] != ':')
                ++end;
            const std::string name = line.text.substr(at + 1, end - at - 1);
            const auto label = labels.find(name);
            if (label == labels.end()) {
                problem = {line.places[at], "the label @" + name + " is not defined"};
                return false;
            }
            const std::string digits = std::to_string(label->second);
            const TextPlace place = line.places[at];
            line.text.replace(at, end - at, digits);
            line.places.erase(line.places.begin() + static_cast<std::ptrdiff_t>(at),
                              line.places.begin() + static_cast<std::ptrdiff_t>(end));
            line.places.insert(line.places.begin() + static_cast<std::ptrdiff_t>(at), digits.size(),
                               place);
            at += digits.size() - 1;
        }
    }
    lines = std::move(numbered);
    return true;
}

} // namespace

TokenizedProgram TokenizeSinclairBasic(std::string_view text,
                                       const std::optional<LabelNumbering>& labels) {
    TokenizedProgram made;
    std::vector<SourceLine> lines;
    TextProblem problem;
    if (!SourceLines(text, lines, problem) ||
        (labels && !NumberLabelledLines(lines, *labels, made.labels, problem))) {
        made.error = problem;
        return made;
    }
    long previous = -1;
    for (const SourceLine& source : lines) {
        const TextPlace first = source.places.empty() ? TextPlace{} : source.places.front();
        auto fail = [&](TextPlace place, std::string message) {
            made.error = TextProblem{place, std::move(message)};
            made.program.clear();
            return made;
        };
        if (source.text.size() > kLongestText)
            return fail(first, "the line is longer than " + std::to_string(kLongestText) +
                                   " characters");
        std::size_t at = 0;
        while (at < source.text.size() && (source.text[at] == ' ' || source.text[at] == '\t'))
            ++at;
        const std::size_t digits = at;
        unsigned long number = 0;
        while (at < source.text.size() && IsDigit(source.text[at]) && number <= kLastLine)
            number = number * 10 + static_cast<unsigned long>(source.text[at++] - '0');
        const TextPlace numberPlace = digits < source.places.size() ? source.places[digits] : first;
        if (at == digits)
            return fail(numberPlace, "a line number is missing");
        if (number > kLastLine || (at < source.text.size() && IsDigit(source.text[at])))
            return fail(numberPlace, "line numbers go from 0 to 9999");
        if (static_cast<long>(number) <= previous)
            return fail(numberPlace, "line " + std::to_string(number) +
                                         " does not come after line " + std::to_string(previous));
        previous = static_cast<long>(number);
        while (at < source.text.size() && (source.text[at] == ' ' || source.text[at] == '\t'))
            ++at;

        std::vector<std::uint8_t> line;
        LineMaker maker(source, made.warnings);
        if (!maker.Make(at, line))
            return fail(maker.m_Error.place, maker.m_Error.message);
        AddDefFnPlaceholders(line);
        line.push_back(kLineEnd);
        if (line.size() > kLongestLine)
            return fail(first, "line " + std::to_string(number) + " makes " +
                                   std::to_string(line.size()) + " bytes; a line holds at most " +
                                   std::to_string(kLongestLine));
        const std::size_t head = made.program.size();
        made.program.resize(head + 4);
        made.program[head] = static_cast<std::uint8_t>(number >> 8);
        made.program[head + 1] = static_cast<std::uint8_t>(number & 0xFF);
        made.program[head + 2] = static_cast<std::uint8_t>(line.size() & 0xFF);
        made.program[head + 3] = static_cast<std::uint8_t>(line.size() >> 8);
        made.program.insert(made.program.end(), line.begin(), line.end());
        if (made.program.size() > kLargestProgram)
            return fail(first, "the program is longer than " + std::to_string(kLargestProgram) +
                                   " bytes, more than the +3 can hold");
    }
    return made;
}
