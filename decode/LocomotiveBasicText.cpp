// Locomotive BASIC made from text as the CPC's editor makes it. The line
// layout and the tokens are described in LocomotiveBasic.cpp, where
// programs are listed.

#include "BasicText.h"
#include "CNumber.h"
#include "LocomotiveBasic.h"

#include <cmath>
#include <cstdlib>
#include <map>

namespace {

constexpr std::uint8_t kSeparator = 0x01, kElse = 0x97, kComment = 0xC0, kRem = 0xC5,
                       kData = 0x8C, kPrint = 0xBF, kFn = 0xE4, kRsx = 0x7C, kPrefix = 0xFF,
                       kLineNumber = 0x1E, kReal = 0x1F, kDefInt = 0x8E, kDefReal = 0x8F,
                       kDefStr = 0x90;
constexpr std::size_t kLongestName = 40;

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
std::string Upper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

struct Token {
    bool function = false; // after the 0xFF prefix
    std::uint8_t code = 0;
};

// Keywords and functions by their upper-case text, from the lister's tables.
const std::map<std::string, Token>& Tokens() {
    static const std::map<std::string, Token> tokens = [] {
        std::map<std::string, Token> map;
        for (unsigned code = 0x80; code < 0xFF; ++code) {
            const char* word = LocomotiveKeyword(static_cast<std::uint8_t>(code));
            if (word != nullptr)
                map[word] = {false, static_cast<std::uint8_t>(code)};
        }
        for (unsigned code = 0; code < 0x100; ++code) {
            const char* word = LocomotiveFunction(static_cast<std::uint8_t>(code));
            if (word != nullptr)
                map[word] = {true, static_cast<std::uint8_t>(code)};
        }
        return map;
    }();
    return tokens;
}

std::uint8_t Code(const char* word) { return Tokens().at(word).code; }

// Keywords after which a number is a line number.
bool TakesLineNumbers(std::uint8_t code) {
    static const std::uint8_t codes[] = {Code("GOTO"),   Code("GOSUB"),  Code("THEN"),
                                         Code("ELSE"),   Code("RESTORE"), Code("RESUME"),
                                         Code("RUN"),    Code("LIST"),   Code("DELETE"),
                                         Code("RENUM"),  Code("AUTO"),   Code("EDIT")};
    for (const std::uint8_t c : codes)
        if (c == code)
            return true;
    return false;
}

// A real as the CPC keeps it: a four-byte mantissa, little-endian, whose top
// bit (always 1) is replaced by the sign, then the exponent biased by 128;
// zero is all zeros. Out of the exponent's range: false.
bool RealForm(double value, std::uint8_t bytes[5]) {
    if (value == 0) {
        std::fill(bytes, bytes + 5, 0);
        return true;
    }
    if (!std::isfinite(value))
        return false;
    int exponent = 0;
    const double fraction = SplitBinary(std::fabs(value), exponent);
    auto mantissa = static_cast<std::uint64_t>(std::floor(fraction * 4294967296.0 + 0.5));
    if (mantissa > 0xFFFFFFFFu) {
        mantissa = 0x80000000u;
        ++exponent;
    }
    exponent += 128;
    if (exponent < 1 || exponent > 255)
        return false;
    mantissa = (mantissa & 0x7FFFFFFFu) | (value < 0 ? 0x80000000u : 0);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(mantissa >> (8 * i));
    bytes[4] = static_cast<std::uint8_t>(exponent);
    return true;
}

class LineMaker {
public:
    LineMaker(std::string_view text, unsigned lineInText, std::size_t columnOffset)
        : m_Text(text), m_Line(lineInText), m_ColumnOffset(columnOffset) {}

    bool Make(std::vector<std::uint8_t>& out) {
        while (m_At < m_Text.size()) {
            const char c = m_Text[m_At];
            const bool lineContext = m_LineContext;
            m_LineContext = false;
            if (c == ' ' || c == '\t') {
                out.push_back(' ');
                ++m_At;
                m_LineContext = lineContext;
            } else if (c == '"') {
                out.push_back('"');
                ++m_At;
                while (m_At < m_Text.size()) {
                    const bool closing = m_Text[m_At] == '"';
                    if (!Raw(out))
                        return false;
                    if (closing)
                        break;
                }
            } else if (c == ':') {
                out.push_back(kSeparator);
                ++m_At;
            } else if (c == '\'') {
                out.push_back(kSeparator);
                out.push_back(kComment);
                ++m_At;
                return RestAsTyped(out);
            } else if (c == '?') {
                out.push_back(kPrint);
                ++m_At;
            } else if (c == '|') {
                ++m_At;
                const std::size_t start = m_At;
                while (m_At < m_Text.size() && IsLocomotiveNameCharacter(m_Text[m_At]))
                    ++m_At;
                if (m_At == start)
                    return Fail(start - 1, "| needs the name of a command");
                out.push_back(kRsx);
                out.push_back(0);
                Name(out, m_Text.substr(start, m_At - start));
            } else if (c == '&') {
                if (!Based(out))
                    return false;
            } else if (IsDigit(c) || (c == '.' && m_At + 1 < m_Text.size() &&
                                      IsDigit(m_Text[m_At + 1]))) {
                if (!Number(out, lineContext))
                    return false;
                m_LineContext = lineContext;
            } else if (IsLetter(c)) {
                if (!Word(out))
                    return false;
            } else if (Operator(out)) {
                m_LineContext = lineContext && c == '-';
            } else {
                out.push_back(static_cast<std::uint8_t>(c));
                ++m_At;
                m_LineContext = lineContext && c == ',';
            }
            if (m_Finished)
                return true;
        }
        return true;
    }

    TextProblem m_Error;

private:
    bool Fail(std::size_t at, std::string message) {
        m_Error = {{m_Line, static_cast<unsigned>(m_ColumnOffset + at + 1)}, std::move(message)};
        return false;
    }

    // One byte of a string, a REM, a comment or DATA: \\ and \xNN are
    // escapes (as the lister writes them), anything else is itself.
    bool Raw(std::vector<std::uint8_t>& out) {
        const char c = m_Text[m_At];
        if (c == '\\' && m_At + 1 < m_Text.size() && m_Text[m_At + 1] == '\\') {
            out.push_back('\\');
            m_At += 2;
            return true;
        }
        if (c == '\\' && m_At + 3 < m_Text.size() && m_Text[m_At + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(m_Text[m_At + 2])) &&
            std::isxdigit(static_cast<unsigned char>(m_Text[m_At + 3]))) {
            out.push_back(static_cast<std::uint8_t>(
                std::strtoul(std::string(m_Text.substr(m_At + 2, 2)).c_str(), nullptr, 16)));
            m_At += 4;
            return true;
        }
        out.push_back(static_cast<std::uint8_t>(c));
        ++m_At;
        return true;
    }

    bool RestAsTyped(std::vector<std::uint8_t>& out) {
        while (m_At < m_Text.size())
            if (!Raw(out))
                return false;
        m_Finished = true;
        return true;
    }

    // The rest of the statement as typed.
    bool DataAsTyped(std::vector<std::uint8_t>& out) {
        bool inString = false;
        while (m_At < m_Text.size() && (inString || m_Text[m_At] != ':')) {
            if (m_Text[m_At] == '"')
                inString = !inString;
            if (!Raw(out))
                return false;
        }
        return true;
    }

    // A variable's or command's name: bit 7 set on its last character.
    static void Name(std::vector<std::uint8_t>& out, std::string_view name) {
        for (std::size_t i = 0; i < name.size(); ++i)
            out.push_back(static_cast<std::uint8_t>(name[i] | (i + 1 == name.size() ? 0x80 : 0)));
    }

    bool Operator(std::vector<std::uint8_t>& out) {
        for (const char* symbol : {">=", "<>", "<=", ">", "=", "<", "+", "-", "*", "/", "^", "\\"}) {
            const std::string_view s(symbol);
            if (m_Text.substr(m_At, s.size()) == s) {
                out.push_back(Code(symbol));
                m_At += s.size();
                return true;
            }
        }
        return false;
    }

    // &hex, &Hhex and &Xbinary.
    bool Based(std::vector<std::uint8_t>& out) {
        const std::size_t start = m_At++;
        unsigned base = 16;
        std::uint8_t kind = 0x1C;
        if (m_At < m_Text.size() && (m_Text[m_At] == 'X' || m_Text[m_At] == 'x') &&
            m_At + 1 < m_Text.size() && (m_Text[m_At + 1] == '0' || m_Text[m_At + 1] == '1')) {
            base = 2;
            kind = 0x1B;
            ++m_At;
        } else if (m_At < m_Text.size() && (m_Text[m_At] == 'H' || m_Text[m_At] == 'h')) {
            ++m_At;
        }
        const std::size_t digits = m_At;
        unsigned long value = 0;
        while (m_At < m_Text.size()) {
            const char d = m_Text[m_At];
            unsigned digit;
            if (IsDigit(d))
                digit = static_cast<unsigned>(d - '0');
            else if (base == 16 && std::isxdigit(static_cast<unsigned char>(d)))
                digit = static_cast<unsigned>((d | 0x20) - 'a' + 10);
            else
                break;
            if (digit >= base)
                break;
            value = value * base + digit;
            if (value > 0xFFFF)
                return Fail(start, "& numbers go up to &FFFF");
            ++m_At;
        }
        if (m_At == digits)
            return Fail(start, base == 2 ? "&X needs binary digits" : "& needs hex digits");
        out.push_back(kind);
        out.push_back(static_cast<std::uint8_t>(value & 0xFF));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
        return true;
    }

    bool Number(std::vector<std::uint8_t>& out, bool lineNumber) {
        const std::size_t start = m_At;
        bool whole = true;
        while (m_At < m_Text.size() && IsDigit(m_Text[m_At]))
            ++m_At;
        if (m_At < m_Text.size() && m_Text[m_At] == '.') {
            whole = false;
            ++m_At;
            while (m_At < m_Text.size() && IsDigit(m_Text[m_At]))
                ++m_At;
        }
        if (m_At < m_Text.size() && (m_Text[m_At] == 'E' || m_Text[m_At] == 'e')) {
            std::size_t at = m_At + 1;
            if (at < m_Text.size() && (m_Text[at] == '+' || m_Text[at] == '-'))
                ++at;
            if (at < m_Text.size() && IsDigit(m_Text[at])) {
                whole = false;
                while (at < m_Text.size() && IsDigit(m_Text[at]))
                    ++at;
                m_At = at;
            }
        }
        const std::string digits(m_Text.substr(start, m_At - start));
        const double value = ReadCNumber(digits.c_str(), nullptr);
        // A line number past the last the CPC stores as the digits typed.
        if (whole && lineNumber && value > 65535) {
            out.insert(out.end(), digits.begin(), digits.end());
            return true;
        }
        if (whole && lineNumber && value <= 65535) {
            const auto line = static_cast<unsigned>(value);
            out.push_back(kLineNumber);
            out.push_back(static_cast<std::uint8_t>(line & 0xFF));
            out.push_back(static_cast<std::uint8_t>(line >> 8));
            return true;
        }
        if (whole && value <= 32767) {
            const auto n = static_cast<unsigned>(value);
            if (n <= 9) {
                out.push_back(static_cast<std::uint8_t>(0x0E + n));
            } else if (n <= 255) {
                out.push_back(0x19);
                out.push_back(static_cast<std::uint8_t>(n));
            } else {
                out.push_back(0x1A);
                out.push_back(static_cast<std::uint8_t>(n & 0xFF));
                out.push_back(static_cast<std::uint8_t>(n >> 8));
            }
            return true;
        }
        std::uint8_t real[5];
        if (!RealForm(value, real))
            return Fail(start, "number out of range: " + digits);
        out.push_back(kReal);
        out.insert(out.end(), real, real + 5);
        return true;
    }

    // A word: a keyword or function, keywords run together (PRINTUSING,
    // GOTO10), FN and the function's name, or a variable.
    bool Word(std::vector<std::uint8_t>& out) {
        const std::size_t start = m_At;
        std::size_t end = start;
        while (end < m_Text.size() && IsLocomotiveNameCharacter(m_Text[end]))
            ++end;
        const std::string upper = Upper(m_Text.substr(start, end - start));
        const bool dollar = end < m_Text.size() && m_Text[end] == '$';

        if (upper == "ON") {
            for (const char* words : {"ON BREAK", "ON ERROR GOTO 0", "ON SQ"})
                if (MatchWords(words)) {
                    out.push_back(Code(words));
                    return true;
                }
        }
        if (dollar && Tokens().count(upper + "$") != 0) {
            m_At = end + 1;
            return Keyword(out, Tokens().at(upper + "$"));
        }
        if (const auto found = Tokens().find(upper); found != Tokens().end()) {
            m_At = end;
            return Keyword(out, found->second);
        }
        if (upper.size() > 2 && upper.compare(0, 2, "FN") == 0) {
            out.push_back(kFn);
            m_At = start + 2;
            return Variable(out);
        }
        // Keywords run together with what follows, as the CPC lists them
        // (PRINTUSING, PRINTa$, GOTO10): only keywords in capitals, so that
        // names such as format and keypress stay names.
        std::vector<Token> parts;
        std::size_t rest = 0;
        bool tookDollar = false;
        if (SplitKeywords(m_Text.substr(start, end - start), dollar, 0, parts, rest, tookDollar)) {
            m_At = tookDollar ? end + 1 : start + rest;
            for (const Token& part : parts)
                if (!Keyword(out, part))
                    return false;
            if (IsFn(parts.back()) && m_At < end)
                return Variable(out);
            return true;
        }
        return Variable(out);
    }

    static bool IsFn(Token token) { return !token.function && token.code == kFn; }

    // Splits capital keywords off the start of `word` from `from` on, up to
    // the end (the last may take a $ after the word) or to a small letter,
    // digit or point, where a name or number starts (`rest`); FN takes
    // what follows it as its function's name (PRINTFNZ).
    static bool SplitKeywords(std::string_view word, bool dollar, std::size_t from,
                              std::vector<Token>& parts, std::size_t& rest, bool& tookDollar) {
        if (from == word.size() || (from > 0 && !(word[from] >= 'A' && word[from] <= 'Z'))) {
            rest = from;
            return from > 0;
        }
        std::size_t capitals = from;
        while (capitals < word.size() && word[capitals] >= 'A' && word[capitals] <= 'Z')
            ++capitals;
        for (std::size_t to = capitals; to > from; --to) {
            const std::string piece(word.substr(from, to - from));
            if (to == word.size() && dollar && Tokens().count(piece + "$") != 0) {
                parts.push_back(Tokens().at(piece + "$"));
                rest = to;
                tookDollar = true;
                return true;
            }
            const auto found = Tokens().find(piece);
            if (found == Tokens().end())
                continue;
            parts.push_back(found->second);
            if (from > 0 && IsFn(found->second) && to < word.size()) {
                rest = to;
                return true;
            }
            if (SplitKeywords(word, dollar, to, parts, rest, tookDollar))
                return true;
            parts.pop_back();
        }
        return false;
    }

    // "ON BREAK" and the like, any run of spaces between the words; the
    // last word may not run on into a name (or, for GOTO 0, a number).
    bool MatchWords(std::string_view words) {
        std::size_t at = m_At;
        std::size_t i = 0;
        while (i < words.size()) {
            if (words[i] == ' ') {
                if (at >= m_Text.size() || (m_Text[at] != ' ' && m_Text[at] != '\t'))
                    return false;
                while (at < m_Text.size() && (m_Text[at] == ' ' || m_Text[at] == '\t'))
                    ++at;
                ++i;
                continue;
            }
            if (at >= m_Text.size() || Upper(m_Text.substr(at, 1))[0] != words[i])
                return false;
            ++at;
            ++i;
        }
        if (at < m_Text.size() && IsLocomotiveNameCharacter(m_Text[at]))
            return false;
        m_At = at;
        return true;
    }

    bool Keyword(std::vector<std::uint8_t>& out, Token token) {
        if (token.function) {
            out.push_back(kPrefix);
            out.push_back(token.code);
            return true;
        }
        if (token.code == kElse)
            out.push_back(kSeparator);
        out.push_back(token.code);
        m_LineContext = TakesLineNumbers(token.code);
        if (token.code == kRem)
            return RestAsTyped(out);
        // DATA's items and DEFINT's letter ranges stay as typed.
        if (token.code == kData || token.code == kDefInt || token.code == kDefReal ||
            token.code == kDefStr)
            return DataAsTyped(out);
        return true;
    }

    // A variable: its name as typed, its type from %, $ or ! after it.
    bool Variable(std::vector<std::uint8_t>& out) {
        const std::size_t start = m_At;
        while (m_At < m_Text.size() && IsLocomotiveNameCharacter(m_Text[m_At]))
            ++m_At;
        if (m_At == start)
            return Fail(start, "a name is missing");
        if (m_At - start > kLongestName)
            return Fail(start, "a name is longer than 40 characters");
        std::uint8_t kind = 0x0D;
        if (m_At < m_Text.size()) {
            switch (m_Text[m_At]) {
            case '%': kind = 0x02; break;
            case '$': kind = 0x03; break;
            case '!': kind = 0x04; break;
            default: break;
            }
        }
        out.push_back(kind);
        out.push_back(0);
        out.push_back(0);
        Name(out, m_Text.substr(start, m_At - start));
        if (kind != 0x0D)
            ++m_At;
        return true;
    }

    std::string_view m_Text;
    unsigned m_Line;
    std::size_t m_ColumnOffset;
    std::size_t m_At = 0;
    bool m_LineContext = false, m_Finished = false;
};

} // namespace

TokenizedProgram TokenizeLocomotiveBasic(std::string_view text) {
    TokenizedProgram made;
    auto fail = [&](TextPlace place, std::string message) {
        made.error = TextProblem{place, std::move(message)};
        made.program.clear();
        return made;
    };
    unsigned lineInText = 0;
    long previous = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++lineInText;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (c >= 0x7F || (c < 0x20 && c != '\t'))
                return fail({lineInText, static_cast<unsigned>(i + 1)},
                            c >= 0x80 ? "a character outside ASCII (write it as \\xNN in a string)"
                                      : "a control character (write it as \\xNN in a string)");
        }
        std::size_t at = line.find_first_not_of(" \t");
        if (at == std::string_view::npos)
            continue;
        const std::size_t digits = at;
        unsigned long number = 0;
        while (at < line.size() && IsDigit(line[at]) && number <= 65535)
            number = number * 10 + static_cast<unsigned long>(line[at++] - '0');
        const TextPlace numberPlace{lineInText, static_cast<unsigned>(digits + 1)};
        if (at == digits)
            return fail(numberPlace, "a line number is missing");
        if (number < 1 || number > 65535 || (at < line.size() && IsDigit(line[at])))
            return fail(numberPlace, "line numbers go from 1 to 65535");
        if (static_cast<long>(number) <= previous)
            return fail(numberPlace, "line " + std::to_string(number) +
                                         " does not come after line " + std::to_string(previous));
        previous = static_cast<long>(number);
        if (at < line.size() && line[at] == ' ')
            ++at;

        std::vector<std::uint8_t> tokens;
        LineMaker maker(line.substr(at), lineInText, at);
        if (!maker.Make(tokens))
            return fail(maker.m_Error.place, maker.m_Error.message);
        tokens.push_back(0x00);
        const std::size_t length = tokens.size() + 4;
        if (length > 0xFFFF)
            return fail(numberPlace, "the line is too long");
        const std::size_t head = made.program.size();
        made.program.resize(head + 4);
        made.program[head] = static_cast<std::uint8_t>(length & 0xFF);
        made.program[head + 1] = static_cast<std::uint8_t>(length >> 8);
        made.program[head + 2] = static_cast<std::uint8_t>(number & 0xFF);
        made.program[head + 3] = static_cast<std::uint8_t>(number >> 8);
        made.program.insert(made.program.end(), tokens.begin(), tokens.end());
    }
    // The end of the program: a line of length 0.
    made.program.push_back(0);
    made.program.push_back(0);
    return made;
}
