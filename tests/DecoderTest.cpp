// The decoders of file contents: BASIC listings against Fuse's listbasic
// and against lines written out by hand, text and hex against xxd, screens
// drawn from bytes with known pixels and read back from the PNG.

#include "BasicText.h"
#include "FileKind.h"
#include "LocomotiveBasic.h"
#include "Png.h"
#include "Screens.h"
#include "SinclairBasic.h"
#include "TextView.h"
#include "support/HostTools.h"
#include "support/PngReader.h"
#include "support/TapBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A +3 BASIC line: number (big-endian), length (little-endian), text, 0x0D.
Bytes SinclairLine(unsigned number, const Bytes& text) {
    Bytes line(4 + text.size() + 1);
    line[0] = static_cast<std::uint8_t>(number >> 8);
    line[1] = static_cast<std::uint8_t>(number);
    line[2] = static_cast<std::uint8_t>((text.size() + 1) & 0xFF);
    line[3] = static_cast<std::uint8_t>((text.size() + 1) >> 8);
    std::copy(text.begin(), text.end(), line.begin() + 4);
    line.back() = 0x0D;
    return line;
}

// A Locomotive BASIC line: length (header included), number, tokens, 0x00.
Bytes LocomotiveLine(unsigned number, const Bytes& tokens) {
    const std::size_t length = tokens.size() + 5;
    Bytes line(length);
    line[0] = static_cast<std::uint8_t>(length);
    line[1] = static_cast<std::uint8_t>(length >> 8);
    line[2] = static_cast<std::uint8_t>(number);
    line[3] = static_cast<std::uint8_t>(number >> 8);
    std::copy(tokens.begin(), tokens.end(), line.begin() + 4);
    line.back() = 0x00;
    return line;
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// ---- ZX Spectrum +3 BASIC ----

// Every keyword, numbers in each form, strings with quotes and graphics,
// colour controls inside strings, DEF FN, the +3's SPECTRUM and PLAY.
const char* const kSinclairProgram = R"(10 REM every "keyword" :-)
20 LET a=1.5e3: LET b=-0.25: LET c=BIN 1011: LET d$="say ""hi"""
30 PRINT AT 1,2; INK 3; PAPER 4; FLASH 1; BRIGHT 1; INVERSE 0; OVER 0;"\{vi}x\{vn}y"; TAB 5;a
40 DEF FN f(x)=x*2+PI: PRINT FN f(3); RND; INKEY$; POINT (1,2); SCREEN$ (0,0); ATTR (0,0)
50 IF a<>2 AND b<=3 OR c>=4 THEN GO TO 10
60 FOR i=1 TO 10 STEP 2: NEXT i: GO SUB 100: RETURN
70 PRINT VAL$ "1"; CODE "a"; VAL "2"; LEN "abc"; SIN 1; COS 1; TAN 1; ASN 1; ACS 1; ATN 1
80 PRINT LN 2; EXP 1; INT 2.5; SQR 4; SGN -1; ABS -1; PEEK 0; IN 254; USR 0; STR$ 1; CHR$ 65; NOT 0
90 PRINT "\::\:.\.:\..\' \'.\':\ .\ '\. \: \''\.'\:'\ :\  \a\b\c\s\t\u\*\\"
100 CAT : FORMAT "a:": MOVE "a" TO "b": ERASE "x": OPEN #4,"p": CLOSE #4: MERGE "m": VERIFY "v"
110 BEEP 1,2: CIRCLE 1,2,3: BORDER 1: OUT 254,0: LPRINT "x": LLIST : STOP : READ a: DATA 1,2
120 RESTORE : NEW : CONTINUE : DIM a$(10): INPUT "x";a: LOAD "" CODE : LIST : PAUSE 0
130 POKE 23606,0: PLOT 1,1: DRAW 2,2: RUN : SAVE "s" LINE 10: RANDOMIZE USR 32768: CLS : CLEAR 32767: COPY
140 SPECTRUM : PLAY "abc": LOAD "x" SCREEN$ : SAVE "y" DATA a$()
150 PRINT 65535; 0.000001; 1e10; 3.14159265
160 LET a=1\::PRINT a: LET b=2\  PRINT b
)";

TEST(SinclairBasicTest, AgreesWithListbasicOnProgramsMadeByZmakebas) {
    if (!HaveProgram("zmakebas") || !HaveProgram("listbasic"))
        GTEST_SKIP() << "zmakebas and listbasic (Debian zmakebas, fuse-emulator-utils) are not installed";
    TempDir dir;
    std::ofstream(dir / "p.bas") << kSinclairProgram;
    ASSERT_EQ(RunCommand("zmakebas -o " + Quote(dir / "p.tap") + " " + Quote(dir / "p.bas")).status, 0);
    ASSERT_EQ(RunCommand("zmakebas -r -o " + Quote(dir / "p.raw") + " " + Quote(dir / "p.bas")).status, 0);
    const CommandResult theirs = RunCommand("listbasic " + Quote(dir / "p.tap"));
    ASSERT_EQ(theirs.status, 0);
    const Listing ours = ListSinclairBasic(ReadFile(dir / "p.raw"));
    EXPECT_EQ(ours.warning, "");
    // listbasic writes 0x7F as zmakebas's escape; the +3 shows ©.
    EXPECT_EQ(Replaced(ours.text, "\xC2\xA9", "\\*"), theirs.out);
    EXPECT_NE(ours.text.find("   40 DEF FN f(x)=x*2+PI: PRINT FN f(3);RND;INKEY$;POINT (1,2)"),
              std::string::npos);
}

TEST(SinclairBasicTest, ShowsWhatThePlus3ShowsWhereListbasicDoesNot) {
    // 0x7B-0x7F at a statement's start are { | } ~ © on the +3 (listbasic
    // prints the TS2068's ON ERR, STICK, SOUND, FREE, RESET).
    const Bytes program = SinclairLine(1, {0x7B, ':', 0x7C, ':', 0x7D, ':', 0x7E, ':', 0x7F});
    EXPECT_EQ(ListSinclairBasic(program).text, "    1{:|:}:~:\xC2\xA9\n");
}

// A listing with --escapes is text the tokenizer reads back to the same
// bytes: lines built byte by byte with what the screen cannot show (colour
// and position controls in strings and outside, keyword codes inside
// strings and REM, stored spaces, a hidden number that is not its digits'
// own as loaders keep them, £, ©, block graphics, UDGs, backslashes). The
// listing as shown writes £ and © in UTF-8 and none of the controls.
TEST(SinclairBasicTest, EscapedListingsTokenizeBackToTheSameBytes) {
    std::mt19937 random(77);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto number = [&](Bytes& text, unsigned value, bool ownForm) {
        for (const char digit : std::to_string(value))
            text.push_back(static_cast<std::uint8_t>(digit));
        text.push_back(0x0E);
        // 00 00 low high 00 for a whole number, or another value's form.
        const unsigned hidden = ownForm ? value : static_cast<unsigned>(pick(0, 65535));
        text.insert(text.end(), {0, 0, static_cast<std::uint8_t>(hidden & 0xFF),
                                 static_cast<std::uint8_t>(hidden >> 8), 0});
    };
    for (int round = 0; round < 300; ++round) {
        Bytes program;
        unsigned line = 0;
        for (int l = pick(1, 5); l > 0; --l) {
            Bytes text;
            for (int part = pick(1, 5); part > 0; --part) {
                switch (pick(0, 5)) {
                case 0: // PRINT "string of anything" with controls and codes
                    text.insert(text.end(), {0xF5, '"'});
                    for (int k = pick(0, 12); k > 0; --k) {
                        const int kind = pick(0, 3);
                        if (kind == 0)
                            text.insert(text.end(), {static_cast<std::uint8_t>(pick(0x10, 0x15)),
                                                     static_cast<std::uint8_t>(pick(0, 9))});
                        else if (kind == 1)
                            text.insert(text.end(), {0x16, static_cast<std::uint8_t>(pick(0, 21)),
                                                     static_cast<std::uint8_t>(pick(0, 31))});
                        else
                            text.push_back(static_cast<std::uint8_t>(pick(0x20, 0xFF)));
                        if (text.back() == '"')
                            text.back() = 'q';
                    }
                    text.push_back('"');
                    break;
                case 1: // LET x=N, the hidden form its own or a loader's
                    text.insert(text.end(), {0xF1, 'x', '='});
                    number(text, static_cast<unsigned>(pick(0, 65535)), pick(0, 1) == 0);
                    break;
                case 2: // INK N as a control outside strings, and stored spaces
                    text.insert(text.end(), {0xD9, ' ', ' '});
                    number(text, static_cast<unsigned>(pick(0, 7)), true);
                    text.insert(text.end(), {0x10, static_cast<std::uint8_t>(pick(0, 7))});
                    break;
                case 3: // £, ©, block graphics, UDGs and a backslash in a string
                    text.insert(text.end(),
                                {0xF5, '"', 0x60, 0x7F, static_cast<std::uint8_t>(pick(0x80, 0x8F)),
                                 static_cast<std::uint8_t>(pick(0x90, 0xA4)), '\\', '"'});
                    break;
                default: // GO TO N
                    text.push_back(0xEC);
                    number(text, static_cast<unsigned>(pick(0, 9999)), true);
                }
                text.push_back(':');
            }
            if (pick(0, 2) == 0) { // a REM of anything but ENTER, keyword codes too
                text.push_back(0xEA);
                for (int k = pick(0, 10); k > 0; --k)
                    text.push_back(static_cast<std::uint8_t>(pick(0x20, 0xFF)));
            } else {
                text.pop_back();
            }
            line += static_cast<unsigned>(pick(1, 100));
            const Bytes made = SinclairLine(line, text);
            program.insert(program.end(), made.begin(), made.end());
        }
        const Listing listing = ListSinclairBasic(program, ListingStyle::Escaped);
        ASSERT_EQ(listing.warning, "");
        const TokenizedProgram back = TokenizeSinclairBasic(listing.text);
        ASSERT_FALSE(back.error.has_value()) << listing.text << back.error->message;
        ASSERT_EQ(back.program, program) << listing.text;
    }
    const Bytes pound = SinclairLine(1, {0xF5, '"', 0x60, 0x7F, '"', ':', 0x60});
    EXPECT_EQ(ListSinclairBasic(pound).text, "    1 PRINT \"\xC2\xA3\xC2\xA9\":\xC2\xA3\n");
    EXPECT_EQ(ListSinclairBasic(pound, ListingStyle::Escaped).text, "    1 PRINT \"`\\*\":`\n");
}

TEST(SinclairBasicTest, SpacesKeywordsAsTheRomDoes) {
    // A literal space stops the leading space (a block graphic, whose
    // escape ends in spaces, does not); <> and <= take none; RND and PI no
    // trailing one; a keyword after a trailing space no leading one.
    const Bytes program =
        SinclairLine(1, {'a', ' ', 0xC5, 'b', 0xC9, 0xC5, 'd', 0xC7, 0xCB, 0xCC, 0xF5, 0xA5, 0xA7});
    EXPECT_EQ(ListSinclairBasic(program).text, "    1a OR b<> OR d<= THEN TO PRINT RNDPI\n");
    EXPECT_EQ(ListSinclairBasic(SinclairLine(1, {'A', 0x80, 0xF5, 'x'})).text, "    1A\\   PRINT x\n");
}

TEST(SinclairBasicTest, ControlsAndHiddenNumbersAreLeftOutWithinTheLine) {
    // INK 2 (16,2) and AT 1,2 (22,1,2) inside a string; a number's five
    // bytes; a number marker at the very end of a line reads nothing past it.
    const Bytes program = Join({SinclairLine(5, {0xF5, '"', 0x10, 0x02, 'a', 0x16, 0x01, 0x02, 'b', '"'}),
                                SinclairLine(6, {0xF5, '1', 0x0E, 0, 0, 1, 0, 0}),
                                SinclairLine(7, {0xF5, '2', 0x0E})});
    EXPECT_EQ(ListSinclairBasic(program).text, "    5 PRINT \"ab\"\n    6 PRINT 1\n    7 PRINT 2\n");
}

TEST(SinclairBasicTest, ALineRunningPastTheProgramEndsTheListingWithAWarning) {
    Bytes program = SinclairLine(10, {0xF5, '"', 'a', '"'});
    program.insert(program.end(), {0x00, 0x14, 0xFF, 0x00, 0xF5, '"'});
    const Listing listing = ListSinclairBasic(program);
    EXPECT_EQ(listing.text, "   10 PRINT \"a\"\n");
    EXPECT_EQ(listing.warning, "line 20 runs past the end of the program");
    EXPECT_EQ(ListSinclairBasic(Bytes{0x00, 0x0A, 0x01}).warning,
              "the program ends inside a line's number and length");
}

// A loader hides its lines behind a length of 0xFFFF: the machine lists
// that line to its ENTER (a number's hidden bytes may hold 0x0D) and no
// further. That is the listing, with a note of what stays hidden.
TEST(SinclairBasicTest, AProtectedLoadersLineIsListedToItsEnter) {
    Bytes program = SinclairLine(10, {0xF5, '1', 0x0E, 0x00, 0x00, 0x0D, 0x00, 0x00});
    program[2] = program[3] = 0xFF;
    const Bytes hidden = SinclairLine(20, {0xEF, '"', '"'});
    program.insert(program.end(), hidden.begin(), hidden.end());
    const Listing listing = ListSinclairBasic(program);
    EXPECT_EQ(listing.text, "   10 PRINT 1\n");
    EXPECT_EQ(listing.warning, "");
    EXPECT_EQ(listing.note, "line 10's length field says 65535 bytes, past the program's end: the "
                            "machine lists no further, and the 8 bytes after the line stay hidden "
                            "from LIST");
    if (HaveProgram("listbasic")) {
        // listbasic shows the line's text too.
        TempDir dir;
        Bytes tap;
        AddFile(tap, 0, "loader", program, 0x8000, static_cast<std::uint16_t>(program.size()));
        WriteFile(dir / "p.tap", tap);
        EXPECT_NE(RunCommand("listbasic " + Quote(dir / "p.tap")).out.find("   10 PRINT 1"), std::string::npos);
    }
}

// ---- Locomotive BASIC ----

TEST(LocomotiveBasicTest, ListsEachTokenGroupAsTheCpcDoes) {
    // Written out by hand from the CPC's token tables.
    const Bytes a = {0x0D, 0, 0, 'a' | 0x80}, count = {0x02, 0, 0, 'c', 'n' | 0x80},
                name = {0x03, 0, 0, 'n', 'm' | 0x80}, real = {0x04, 0, 0, 'r' | 0x80};
    const Bytes program = Join({
        // 10 a=0:b%=9:nm$="x":r!=10
        LocomotiveLine(10, Join({a, {0xEF, 0x0E, 0x01}, count, {0xEF, 0x17, 0x01}, name,
                                 {0xEF, '"', 'x', '"', 0x01}, real, {0xEF, 0x18}})),
        // 20 PRINT 200;1000;&X101;&FF00;-2.25;0.5;1E+10
        LocomotiveLine(20, Join({{0xBF, ' ', 0x19, 200, ';', 0x1A, 0xE8, 0x03, ';', 0x1B, 0x05, 0x00,
                                  ';', 0x1C, 0x00, 0xFF, ';', 0xF5, 0x1F, 0x00, 0x00, 0x00, 0x10, 0x82,
                                  ';', 0x1F, 0x00, 0x00, 0x00, 0x00, 0x80, ';',
                                  0x1F, 0x00, 0xF9, 0x02, 0x15, 0xA2}})),
        // 30 IF a THEN GOTO 10 ELSE GOSUB 20 (the ':' before ELSE not shown)
        LocomotiveLine(30, Join({{0xA1, ' '}, a, {' ', 0xEB, ' ', 0xA0, ' ', 0x1E, 10, 0, ' ', 0x01,
                                  0x97, ' ', 0x9F, ' ', 0x1E, 20, 0}})),
        // 40 x=ABS(-1)+LEFT$("ab",1)+PI:|DISC:' note
        LocomotiveLine(40, Join({{0x0D, 0, 0, 'x' | 0x80, 0xEF, 0xFF, 0x00, '(', 0xF5, 0x0F, ')',
                                  0xF4, 0xFF, 0x75, '(', '"', 'a', 'b', '"', ',', 0x0F, ')', 0xF4,
                                  0xFF, 0x44, 0x01, 0x7C, 0x00, 'D', 'I', 'S', 'C' | 0x80, 0x01, 0xC0,
                                  ' ', 'n', 'o', 't', 'e'}})),
        // 50 ON ERROR GOTO 0:REM keep ÿ "as is":PRINT "a\x07b"
        LocomotiveLine(50, {0xB4, 0x01, 0xC5, ' ', 'k', 'e', 'e', 'p'}),
        LocomotiveLine(60, {0xBF, '"', 'a', 0x07, 'b', '"', 0x01, 0xBF, '"', 'o', 'p', 'e', 'n'}),
        Bytes{0x00, 0x00},
    });
    const Listing listing = ListLocomotiveBasic(program);
    EXPECT_EQ(listing.warning, "");
    EXPECT_EQ(listing.text, "10 a=0:cn%=9:nm$=\"x\":r!=10\n"
                            "20 PRINT 200;1000;&X101;&FF00;-2.25;0.5;1E+10\n"
                            "30 IF a THEN GOTO 10 ELSE GOSUB 20\n"
                            "40 x=ABS(-1)+LEFT$(\"ab\",1)+PI:|DISC' note\n"
                            "50 ON ERROR GOTO 0:REM keep\n"
                            "60 PRINT\"a\\x07b\":PRINT\"open\n");
}

TEST(LocomotiveBasicTest, LinePointersLeftByARunShowTheirLineNumbers) {
    // Line 10 takes 17 bytes, so line 20 lies at 0x170 + 17 = 0x181; a
    // pointer names it or the byte before it. One no line answers to is
    // shown as it is.
    const Bytes program = Join({LocomotiveLine(10, {0xA0, 0x1D, 0x81, 0x01, ',', 0x1D, 0x80, 0x01,
                                                    ',', 0x1D, 0x34, 0x12}),
                                LocomotiveLine(20, {0xC9}), Bytes{0, 0}});
    ASSERT_EQ(program[19], 20); // line 20's number: the line starts at 17
    EXPECT_EQ(ListLocomotiveBasic(program).text, "10 GOTO20,20,4660\n20 RETURN\n");
    EXPECT_EQ(ListLocomotiveBasic(program, 0x4000).text, "10 GOTO385,384,4660\n20 RETURN\n");
}

TEST(LocomotiveBasicTest, RealsAsTheCpcPrintsThem) {
    const auto real = [](std::initializer_list<std::uint8_t> bytes) {
        const Bytes b(bytes);
        return LocomotiveReal(b.data());
    };
    EXPECT_EQ(real({0, 0, 0, 0, 0}), "0");
    EXPECT_EQ(real({0, 0, 0, 0, 0x81}), "1");
    EXPECT_EQ(real({0, 0, 0, 0x40, 0x81}), "1.5");
    EXPECT_EQ(real({0, 0, 0, 0x80, 0x81}), "-1");
    EXPECT_EQ(real({0xA2, 0xDA, 0x0F, 0x49, 0x82}), "3.14159265");
    EXPECT_EQ(real({0, 0, 0x50, 0x43, 0x91}), "100000");
    EXPECT_EQ(real({0x06, 0xBD, 0x37, 0x06, 0x6D}), "1E-06");
    EXPECT_EQ(real({0x00, 0x00, 0x00, 0x40, 0x95}), "1572864");
    EXPECT_EQ(real({0x00, 0x28, 0x6B, 0x6E, 0x9E}), "1E+09");

}

TEST(LocomotiveBasicTest, ATruncatedProgramEndsWithAWarningAndReadsNothingPastIt) {
    Bytes program = LocomotiveLine(10, {0xBF, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x81});
    program.resize(program.size() - 4); // the real cut short, the line's length too long
    EXPECT_EQ(ListLocomotiveBasic(program).warning, "a line at offset 0 runs past the end of the program");
    Bytes cut = LocomotiveLine(10, {0xBF, 0x1F, 0x00});
    cut.pop_back(); // no 0x00, and the real's bytes missing within the line
    cut[0] = static_cast<std::uint8_t>(cut.size());
    cut.insert(cut.end(), {0, 0});
    const Listing listing = ListLocomotiveBasic(cut);
    EXPECT_EQ(listing.warning, "line 10 ends inside a token");
    EXPECT_EQ(ListLocomotiveBasic(LocomotiveLine(10, {0xC9})).warning,
              "the program ends without its end mark");
}

// ---- Text and hex ----

TEST(TextViewTest, CpmTextEndsAtItsMarkWithUnixLineEnds) {
    const Bytes data = Of("one\r\ntwo\r\n\x1A" "garbage after the mark");
    EXPECT_TRUE(LooksLikeText(data));
    EXPECT_EQ(CpmText(data, {}), "one\ntwo\n");
    EXPECT_EQ(CpmText(data, {false, false}), "one\r\ntwo\r\n");
    // WordStar marks the last letter of each word with bit 7.
    const Bytes wordstar = {'H', 'e', 'l', 'l', 'o' | 0x80, ' ', 'y', 'o', 'u' | 0x80, '\r', '\n' | 0x80};
    EXPECT_TRUE(LooksLikeText(wordstar));
    EXPECT_EQ(CpmText(wordstar, {true, true}), "Hello you\n");
    EXPECT_FALSE(LooksLikeText(Bytes{0xF3, 0x21, 0x00, 0x40}));
    // Without an end mark, the last record's padding is no part of the text.
    Bytes padded = Of("no mark\n");
    padded.resize(128, 0x00);
    EXPECT_TRUE(LooksLikeText(padded));
    EXPECT_EQ(CpmText(padded, {}), "no mark\n");
    padded.resize(256, 0xE5);
    EXPECT_FALSE(LooksLikeText(padded)); // a whole record of 0xE5 is data
    EXPECT_FALSE(LooksLikeText(Bytes{0x1A, 'a'}));
}

TEST(TextViewTest, HexDumpIsWhatXxdWrites) {
    if (!HaveProgram("xxd"))
        GTEST_SKIP() << "xxd is not installed";
    TempDir dir;
    for (const std::size_t size : {std::size_t{0}, std::size_t{5}, std::size_t{16}, std::size_t{300}}) {
        const Bytes data = PatternBytes(size, static_cast<unsigned>(size));
        WriteFile(dir / "data", data);
        EXPECT_EQ(HexDump(data), RunCommand("xxd " + Quote(dir / "data")).out) << size << " bytes";
    }
    EXPECT_EQ(HexDump(Of("AB"), 0x80), "00000080: 4142                                     AB\n");
}

// ---- Screens ----

std::array<int, 3> Pixel(const Picture& picture, unsigned x, unsigned y) {
    const std::uint8_t* p = picture.rgb.data() + (std::size_t{y} * picture.width + x) * 3;
    return {p[0], p[1], p[2]};
}

TEST(ScreensTest, SpectrumScreenThroughPng) {
    Bytes screen(kSpectrumScreenSize, 0);
    // Top-left pixel: line 0, byte 0, bit 7. Bottom-right: line 191 lies
    // at (0xC0 << 5 | 7 << 8 | 0x38 << 2) = 0x17E0, byte 31, bit 0.
    screen[0] = 0x80;
    screen[0x17E0 + 31] = 0x01;
    // Line 9 (second character row, second pixel line) starts at 0x120.
    screen[0x120 + 1] = 0xFF;
    // Attributes: cell (0,0) INK 2 PAPER 5; cell (31,23) BRIGHT INK 6
    // PAPER 1; cell (1,1) INK 4 PAPER 0 FLASH (its first phase).
    screen[6144] = 0x2A;
    screen[6144 + 23 * 32 + 31] = 0x4E;
    screen[6144 + 32 + 1] = 0x84;
    std::string error;
    const Picture picture = DecodePng(EncodePng(*SpectrumScreen(screen), error));
    ASSERT_EQ(picture.width, 256u);
    ASSERT_EQ(picture.height, 192u);
    EXPECT_EQ(Pixel(picture, 0, 0), (std::array<int, 3>{0xD7, 0, 0}));       // red INK
    EXPECT_EQ(Pixel(picture, 1, 0), (std::array<int, 3>{0, 0xD7, 0xD7}));    // cyan PAPER
    EXPECT_EQ(Pixel(picture, 255, 191), (std::array<int, 3>{0xFF, 0xFF, 0})); // bright yellow
    EXPECT_EQ(Pixel(picture, 254, 191), (std::array<int, 3>{0, 0, 0xFF}));   // bright blue
    EXPECT_EQ(Pixel(picture, 8, 9), (std::array<int, 3>{0, 0xD7, 0}));       // green INK
    EXPECT_EQ(Pixel(picture, 8, 8), (std::array<int, 3>{0, 0, 0}));          // black PAPER
    EXPECT_EQ(Pixel(picture, 100, 100), (std::array<int, 3>{0, 0, 0}));      // INK 0 PAPER 0
    // A bitmap alone is black on white.
    const Picture bitmap = *SpectrumScreen(Bytes(screen.begin(), screen.begin() + kSpectrumBitmapSize));
    EXPECT_EQ(Pixel(bitmap, 0, 0), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(Pixel(bitmap, 1, 0), (std::array<int, 3>{0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(SpectrumScreen(Bytes(6913)));
}

TEST(ScreensTest, CpcScreenInEachMode) {
    Bytes screen(kCpcScreenSize, 0);
    // Line 0 byte 0; line 199 = (199 % 8) * 2048 + (199 / 8) * 80, its last byte.
    screen[0] = 0x88;                   // mode 1: pixel 0 pen 3; mode 2: pixels 0 and 4 on
    screen[7 * 2048 + 24 * 80 + 79] = 0x01; // mode 1: last pixel pen 2
    screen[2048] = 0xAA;                // line 1; mode 0: pixel 0 pen 15, pixel 1 pen 0
    const auto ink = [](unsigned firmware) {
        static constexpr int kLevel[] = {0, 0x80, 0xFF};
        return std::array<int, 3>{kLevel[(firmware / 3) % 3], kLevel[firmware / 9], kLevel[firmware % 3]};
    };
    std::string error;
    const Picture mode1 = DecodePng(EncodePng(*CpcScreen(screen, 1), error));
    ASSERT_EQ(mode1.width, 320u);
    ASSERT_EQ(mode1.height, 200u);
    EXPECT_EQ(Pixel(mode1, 0, 0), ink(6));    // pen 3: bright red
    EXPECT_EQ(Pixel(mode1, 1, 0), ink(1));    // pen 0: blue
    EXPECT_EQ(Pixel(mode1, 319, 199), ink(20)); // pen 2: bright cyan
    EXPECT_EQ(ink(24), (std::array<int, 3>{0xFF, 0xFF, 0}));
    const Picture mode2 = *CpcScreen(screen, 2);
    ASSERT_EQ(mode2.width, 640u);
    EXPECT_EQ(Pixel(mode2, 0, 0), ink(24));
    EXPECT_EQ(Pixel(mode2, 4, 0), ink(24));
    EXPECT_EQ(Pixel(mode2, 1, 0), ink(1));
    const Picture mode0 = *CpcScreen(screen, 0);
    ASSERT_EQ(mode0.width, 320u);
    EXPECT_EQ(Pixel(mode0, 0, 1), ink(16)); // pen 15 (flashing 16/11): its first ink
    EXPECT_EQ(Pixel(mode0, 1, 1), ink(16)); // drawn twice across
    EXPECT_EQ(Pixel(mode0, 2, 1), ink(1));
    EXPECT_FALSE(CpcScreen(screen, 3));
    EXPECT_FALSE(CpcScreen(Bytes(16383), 1));
    const Picture large = Enlarge(mode1, 3);
    ASSERT_EQ(large.width, 960u);
    EXPECT_EQ(Pixel(large, 2, 2), ink(6));
    EXPECT_EQ(Pixel(large, 3, 0), ink(1));
}

TEST(FileKindTest, ToldFromTheHeaderElseFromTheBytes) {
    FileHeader plus3;
    plus3.fileType = FileHeader::kPlus3Code;
    plus3.dataLength = 6912;
    EXPECT_STREQ(FileKindName(KindOfFile(plus3, {}, 7040)), "SCREEN$");
    plus3.dataLength = 100;
    EXPECT_STREQ(FileKindName(KindOfFile(plus3, {}, 256)), "CODE");
    plus3.fileType = FileHeader::kPlus3Characters;
    EXPECT_STREQ(FileKindName(KindOfFile(plus3, {}, 256)), "array");
    FileHeader amsdos;
    amsdos.kind = FileHeader::Kind::Amsdos;
    amsdos.fileType = 1;
    EXPECT_STREQ(FileKindName(KindOfFile(amsdos, {}, 256)), "protected BASIC");
    amsdos.fileType = 0;
    EXPECT_STREQ(FileKindName(KindOfFile(amsdos, {}, 256)), "Locomotive BASIC");
    EXPECT_STREQ(FileKindName(KindOfFile(std::nullopt, Of("hello\r\n\x1A"), 128)), "text");
    EXPECT_STREQ(FileKindName(KindOfFile(std::nullopt, Bytes{0xC3, 0, 1}, 128)), "binary");
    EXPECT_STREQ(FileKindName(KindOfFile(std::nullopt, Bytes(512, 0), 6912)), "SCREEN$");
}

} // namespace
