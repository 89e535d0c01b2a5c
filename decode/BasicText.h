#pragma once
// BASIC programs made from source text: the +3's and the CPC's.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where in the source text something was found: its line in the text file
// (from 1) and the column in that line (from 1).
// The most BASIC text read for one program: far more than any program a
// disk holds, even with comments, and still a bound on what is read.
constexpr std::uint32_t kMaxBasicTextBytes = 16 * 1024 * 1024;
constexpr const char* kBasicTextTooLong = "longer than any BASIC text read here (16 MiB)";

struct TextPlace {
    unsigned line = 0;
    unsigned column = 0;
};

struct TextProblem {
    TextPlace place;
    std::string message;
};

struct TokenizedProgram {
    std::vector<std::uint8_t> program; // the bytes a BASIC header is put in front of
    std::optional<TextProblem> error;  // set: nothing usable was made
    std::vector<TextProblem> warnings; // made, but something was taken as it stands
    std::map<std::string, unsigned> labels; // text with labels: the line each names
};

// +3 BASIC in the text form zmakebas reads: a line number (0-9999, each
// greater than the last) on every line, keywords in any case, numbers given
// their hidden five-byte form, \ escapes for block graphics (\:'), UDGs
// (\a-\u), © (\*), @ (\@), a backslash (\\) and any byte (\{0x10}); ` is
// the pound sign; # starts a comment line; a \ ending a line joins the next.
// As the +3's editor stores them (and zmakebas does not), VAL$ is its own
// keyword and each parameter of DEF FN is followed by a number marker and
// five zero bytes. £ and © written as UTF-8 are taken for ` and \*.
//
// With `labels` (zmakebas -l), lines have no numbers: they are numbered from
// `first` by `step`; "@name:" at a line's start defines a label (alone on
// its line, it names the next line), and "@name" anywhere (strings too) up
// to a space, tab, colon or the line's end is replaced by its line's number.
// A label is defined once; \@ is a literal @.
struct LabelNumbering {
    unsigned first = 10;
    unsigned step = 2;
};
TokenizedProgram TokenizeSinclairBasic(std::string_view text,
                                       const std::optional<LabelNumbering>& labels = {});
// The five bytes the +3 keeps beside a number's digits; nothing out of its
// range. (Digits written with "\{14}" and five bytes after them keep those.)
std::optional<std::array<std::uint8_t, 5>> SinclairNumberForm(double value);

// Locomotive BASIC as the CPC lists it: a line number (1-65535, each
// greater than the last) on every line, keywords and functions in any case,
// spaces kept as typed except the one after the line number, numbers in the
// forms the CPC stores (line numbers after GOTO, GOSUB, THEN, ELSE, RESTORE,
// RESUME, RUN, LIST, DELETE, RENUM, AUTO and EDIT), ? for PRINT. In
// strings, REM, ' and DATA, \\ is a backslash and \xNN any byte.
TokenizedProgram TokenizeLocomotiveBasic(std::string_view text);
