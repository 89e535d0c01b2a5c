// Fuzz target: the input as the contents of a file, through every decoder
// (BASIC listings, text, hex, screens, the file's kind). None may crash or
// read past the input, and what each writes is bounded by the input's size.

#include "BasicText.h"
#include "FileHeader.h"
#include "FileKind.h"
#include "LocoScript.h"
#include "LocomotiveBasic.h"
#include "Png.h"
#include "Screens.h"
#include "SinclairBasic.h"
#include "Tape.h"
#include "TextView.h"
#include "fuzz/FuzzHarness.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the input's bytes, so that the sanitizers see any read past them.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const std::span<const std::uint8_t> input(bytes);
    // No token or escape is written as more than 16 characters per byte.
    const std::size_t bound = 16 * size + 64;

    const Listing sinclair = ListSinclairBasic(input);
    fuzz::Check(sinclair.text.size() <= bound, "a +3 listing longer than its bound");
    const std::uint16_t load = size >= 2 ? static_cast<std::uint16_t>(data[0] | data[1] << 8) : 0x170;
    const Listing locomotive = ListLocomotiveBasic(input, load);
    fuzz::Check(locomotive.text.size() <= bound, "a Locomotive listing longer than its bound");

    // The input as BASIC text: what is made lists without a warning, and a
    // Locomotive listing can be made into a program again (not always the
    // same: a real such as 2. lists as 2).
    const std::string_view source(reinterpret_cast<const char*>(data), size);
    const TokenizedProgram plus3Program = TokenizeSinclairBasic(source);
    fuzz::Check(!plus3Program.error || plus3Program.program.empty(), "a refused text made bytes");
    if (!plus3Program.error)
        fuzz::Check(ListSinclairBasic(plus3Program.program).warning.empty(),
                    "a +3 program that does not list");
    const TokenizedProgram cpcProgram = TokenizeLocomotiveBasic(source);
    fuzz::Check(!cpcProgram.error || cpcProgram.program.empty(), "a refused text made bytes");
    if (!cpcProgram.error) {
        fuzz::Check(cpcProgram.program.size() <= 8 * size + 2,
                    "a Locomotive program longer than its bound");
        const Listing listed = ListLocomotiveBasic(cpcProgram.program);
        fuzz::Check(listed.warning.empty(), "a Locomotive program that does not list");
        const TokenizedProgram again = TokenizeLocomotiveBasic(listed.text);
        fuzz::Check(!again.error && ListLocomotiveBasic(again.program).warning.empty(),
                    "a Locomotive listing that does not make a program again");
    }

    // The input as a LocoScript document, and with a header made right for
    // it (LocoScript 1, its checksum), so that its chunks are walked. No
    // byte becomes more than 6 (a character escaped, an unknown one's mark,
    // a line's end).
    for (const bool madeRight : {false, true}) {
        std::vector<std::uint8_t> document = bytes;
        if (madeRight && document.size() >= 128) {
            document[0] = 'J', document[1] = 'O', document[2] = 'Y', document[3] = 1,
            document[4] = 1;
            std::uint8_t sum = 0;
            for (std::size_t i = 0; i < 127; ++i)
                sum = static_cast<std::uint8_t>(sum + document[i]);
            document[127] = sum;
        }
        for (const auto style : {LocoScriptStyle::Text, LocoScriptStyle::Markdown}) {
            const LocoScriptText converted = LocoScriptToText(document, style);
            fuzz::Check(converted.text.size() <= 6 * size + 512,
                        "LocoScript text longer than its bound");
            fuzz::Check(!madeRight || size < 128 || ReadLocoScriptHeader(document).has_value(),
                        "a header made right not read");
        }
        fuzz::Check(LocoScriptRuns(document).size() <= 4 * size,
                    "LocoScript runs longer than the file");
    }

    const bool text = LooksLikeText(input);
    fuzz::Check(CpmText(input, {true, true}).size() <= size, "text longer than the file");
    fuzz::Check(CpmText(input, {false, false}).size() <= size, "raw text longer than the file");
    const std::string hex = HexDump(input.first(std::min<std::size_t>(size, 4096)), size);
    fuzz::Check(hex.size() <= (std::min<std::size_t>(size, 4096) / 16 + 1) * 80, "hex longer than its bound");

    // The input as the blocks of a TAP file: the files told apart and named.
    std::vector<TapeBlock> blocks;
    for (std::size_t at = 0; size - at >= 2;) {
        const std::size_t length = std::min<std::size_t>(data[at] | data[at + 1] << 8, size - at - 2);
        TapeBlock block;
        block.standard = length != 1;
        block.bytes.assign(data + at + 2, data + at + 2 + length);
        blocks.push_back(std::move(block));
        at += 2 + length;
    }
    const TapeContents tape = SplitTape(blocks);
    std::vector<std::string> taken;
    for (const TapeFile& file : tape.files) {
        const std::string name = DiskNameForTapeFile(file, taken.size(), taken);
        fuzz::Check(!name.empty() && name.size() <= 12, "a tape file's name longer than 8.3");
        fuzz::Check(std::find(taken.begin(), taken.end(), name) == taken.end(), "a tape name given twice");
        taken.push_back(name);
    }
    for (const TapeLeftover& leftover : tape.leftovers) {
        const std::string name = DiskNameForBlock(leftover.block, taken);
        fuzz::Check(name.size() <= 12, "a block's name longer than 8.3");
        fuzz::Check(std::find(taken.begin(), taken.end(), name) == taken.end(), "a block name given twice");
        taken.push_back(name);
    }

    const auto header = ParseFileHeader(data, size);
    const FileKind kind = KindOfFile(header, input, size);
    fuzz::Check(!(kind == FileKind::Text && header), "a file with a header taken for text");
    fuzz::Check(header || kind != FileKind::Text || text, "text that does not look like text");

    // Screens from inputs of their sizes: the input repeated to the size
    // (for one input in 32: drawing them is slow next to the rest).
    if (size > 0 && (data[0] & 0x1F) == 0) {
        for (const std::size_t screenSize : {kSpectrumScreenSize, kCpcScreenSize}) {
            std::vector<std::uint8_t> screen(screenSize);
            for (std::size_t i = 0; i < screenSize; ++i)
                screen[i] = data[i % size];
            const auto spectrum = SpectrumScreen(screen);
            const auto cpc = CpcScreen(screen, data[0] >> 6);
            if (!spectrum && !cpc) {
                fuzz::Check(screenSize == kCpcScreenSize && (data[0] >> 6) == 3,
                            "a screen of its size not drawn");
                continue;
            }
            const Picture& picture = spectrum ? *spectrum : *cpc;
            fuzz::Check(picture.rgb.size() == std::size_t{picture.width} * picture.height * 3,
                        "a picture of the wrong size");
            std::string error;
            if (spectrum)
                fuzz::Check(!EncodePng(Enlarge(picture, 1 + (data[0] >> 7)), error).empty(), "no PNG");
        }
    }
    return 0;
}
