#include "Tape.h"

#include "FileHeader.h"
#include "SharedLibrary.h"
#include "SinclairBasic.h"

#include <libspectrum.h>

#include <algorithm>
#include <cstdio>

namespace {

// libspectrum is loaded when a tape is first read: it brings a dozen
// libraries that no other command needs at start-up.
struct SpectrumLibrary {
    decltype(&libspectrum_init) init = nullptr;
    decltype(&libspectrum_tape_alloc) alloc = nullptr;
    decltype(&libspectrum_tape_free) free = nullptr;
    decltype(&libspectrum_tape_read) read = nullptr;
    decltype(&libspectrum_tape_iterator_init) first = nullptr;
    decltype(&libspectrum_tape_iterator_next) next = nullptr;
    decltype(&libspectrum_tape_block_type) type = nullptr;
    decltype(&libspectrum_tape_block_data) data = nullptr;
    decltype(&libspectrum_tape_block_data_length) length = nullptr;
    decltype(&libspectrum_tape_block_alloc) blockAlloc = nullptr;
    decltype(&libspectrum_tape_block_set_data) setData = nullptr;
    decltype(&libspectrum_tape_block_set_data_length) setLength = nullptr;
    decltype(&libspectrum_tape_block_set_pause) setPause = nullptr;
    decltype(&libspectrum_tape_append_block) append = nullptr;
    decltype(&libspectrum_tape_write) write = nullptr;
    decltype(&libspectrum_malloc) malloc = nullptr;
    decltype(&libspectrum_free) release = nullptr;
    bool loaded = false;
};

const SpectrumLibrary& Library() {
    static const SpectrumLibrary library = [] {
        SpectrumLibrary lib;
        void* module = OpenLibrary("libspectrum.so.8");
        if (module == nullptr)
            return lib;
        auto find = [module](auto& entry, const char* name) {
            return BindEntry(module, entry, name);
        };
        lib.loaded =
            find(lib.init, "libspectrum_init") && find(lib.alloc, "libspectrum_tape_alloc") &&
            find(lib.free, "libspectrum_tape_free") && find(lib.read, "libspectrum_tape_read") &&
            find(lib.first, "libspectrum_tape_iterator_init") &&
            find(lib.next, "libspectrum_tape_iterator_next") &&
            find(lib.type, "libspectrum_tape_block_type") &&
            find(lib.data, "libspectrum_tape_block_data") &&
            find(lib.length, "libspectrum_tape_block_data_length") &&
            find(lib.blockAlloc, "libspectrum_tape_block_alloc") &&
            find(lib.setData, "libspectrum_tape_block_set_data") &&
            find(lib.setLength, "libspectrum_tape_block_set_data_length") &&
            find(lib.setPause, "libspectrum_tape_block_set_pause") &&
            find(lib.append, "libspectrum_tape_append_block") &&
            find(lib.write, "libspectrum_tape_write") && find(lib.malloc, "libspectrum_malloc") &&
            find(lib.release, "libspectrum_free") && lib.init() == LIBSPECTRUM_ERROR_NONE;
        return lib;
    }();
    return library;
}

constexpr std::uint8_t kHeaderFlag = 0x00, kDataFlag = 0xFF;
constexpr std::size_t kHeaderBlockSize = 19; // flag, 17 bytes, checksum

bool ChecksumRight(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t sum = 0;
    for (std::uint8_t b : bytes)
        sum ^= b;
    return sum == 0;
}

// A ROM header block, its checksum right or not.
bool IsHeader(const TapeBlock& block) {
    return block.standard && block.bytes.size() == kHeaderBlockSize &&
           block.bytes[0] == kHeaderFlag && block.bytes[1] <= 3;
}

std::uint16_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// A new, empty tape; nullptr, with `error`, when libspectrum is not there.
libspectrum_tape* NewTape(std::string& error) {
    const SpectrumLibrary& lib = Library();
    libspectrum_tape* tape = lib.loaded ? lib.alloc() : nullptr;
    if (tape == nullptr)
        error = lib.loaded ? "out of memory" : "libspectrum (libspectrum.so.8) cannot be loaded";
    return tape;
}

} // namespace

bool ReadTapeBlocks(std::span<const std::uint8_t> file, const std::string& name,
                    std::vector<TapeBlock>& blocks, std::string& error) {
    libspectrum_tape* tape = NewTape(error);
    if (tape == nullptr)
        return false;
    const SpectrumLibrary& lib = Library();
    if (lib.read(tape, file.data(), file.size(), LIBSPECTRUM_ID_UNKNOWN, name.c_str()) !=
        LIBSPECTRUM_ERROR_NONE) {
        lib.free(tape);
        error = "not a tape libspectrum can read";
        return false;
    }
    libspectrum_tape_iterator it;
    for (libspectrum_tape_block* block = lib.first(&it, tape); block != nullptr;
         block = lib.next(&it)) {
        TapeBlock entry;
        entry.standard = lib.type(block) == LIBSPECTRUM_TAPE_BLOCK_ROM;
        if (entry.standard) {
            const libspectrum_byte* bytes = lib.data(block);
            entry.bytes.assign(bytes, bytes + lib.length(block));
        }
        blocks.push_back(std::move(entry));
    }
    lib.free(tape);
    return true;
}

bool WriteTapeBlocks(const std::vector<TapeBlock>& blocks, bool tzx,
                     std::vector<std::uint8_t>& file, std::string& error) {
    libspectrum_tape* tape = NewTape(error);
    if (tape == nullptr)
        return false;
    const SpectrumLibrary& lib = Library();
    for (const TapeBlock& block : blocks) {
        // The tape owns its blocks and their data, from its own allocator.
        libspectrum_tape_block* rom = lib.blockAlloc(LIBSPECTRUM_TAPE_BLOCK_ROM);
        auto* data = static_cast<libspectrum_byte*>(
            lib.malloc(std::max<std::size_t>(block.bytes.size(), 1)));
        std::copy(block.bytes.begin(), block.bytes.end(), data);
        lib.setData(rom, data);
        lib.setLength(rom, block.bytes.size());
        // The ROM's pause after each block, as SAVE leaves it.
        lib.setPause(rom, 1000);
        lib.append(tape, rom);
    }
    libspectrum_byte* bytes = nullptr;
    std::size_t length = 0;
    const bool written =
        lib.write(&bytes, &length, tape, tzx ? LIBSPECTRUM_ID_TAPE_TZX : LIBSPECTRUM_ID_TAPE_TAP) ==
        LIBSPECTRUM_ERROR_NONE;
    if (written)
        file.assign(bytes, bytes + length);
    else
        error = "libspectrum could not write the tape";
    lib.release(bytes);
    lib.free(tape);
    return written;
}

std::vector<TapeBlock> BlocksOfTapeFile(const TapeFile& file) {
    auto withChecksum = [](std::vector<std::uint8_t> bytes) {
        std::uint8_t sum = 0;
        for (std::uint8_t b : bytes)
            sum ^= b;
        bytes.push_back(sum);
        return TapeBlock{true, std::move(bytes)};
    };
    std::vector<std::uint8_t> header(18, ' ');
    header[0] = kHeaderFlag;
    header[1] = file.type;
    for (std::size_t i = 0; i < 10 && i < file.name.size(); ++i)
        header[2 + i] = static_cast<std::uint8_t>(file.name[i]);
    const auto length = static_cast<std::uint16_t>(file.data.size());
    for (const auto& [at, value] :
         {std::pair{12, length}, std::pair{14, file.param1}, std::pair{16, file.param2}}) {
        header[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
        header[static_cast<std::size_t>(at) + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    std::vector<std::uint8_t> data(1 + file.data.size());
    data[0] = kDataFlag;
    std::copy(file.data.begin(), file.data.end(), data.begin() + 1);
    return {withChecksum(std::move(header)), withChecksum(std::move(data))};
}

TapeContents SplitTape(const std::vector<TapeBlock>& blocks) {
    TapeContents contents;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const TapeBlock& block = blocks[i];
        // Numbered from 0, as tzxlist numbers them.
        const std::size_t number = i;
        if (IsHeader(block) && i + 1 < blocks.size() && blocks[i + 1].standard &&
            blocks[i + 1].bytes.size() >= 2 && blocks[i + 1].bytes[0] == kDataFlag) {
            const std::uint8_t* h = block.bytes.data() + 1;
            TapeFile file;
            file.type = h[0];
            file.name.assign(reinterpret_cast<const char*>(h + 1), 10);
            file.param1 = Word(h + 13);
            file.param2 = Word(h + 15);
            const std::vector<std::uint8_t>& data = blocks[i + 1].bytes;
            // The data block holds what the header announces (a tape may
            // carry fewer bytes: then what it holds).
            const std::size_t length = std::min<std::size_t>(Word(h + 11), data.size() - 2);
            file.data.assign(data.begin() + 1, data.begin() + 1 + static_cast<long>(length));
            file.block = number;
            if (!ChecksumRight(block.bytes))
                file.failedChecksums.push_back(number);
            if (!ChecksumRight(data))
                file.failedChecksums.push_back(number + 1);
            contents.files.push_back(std::move(file));
            ++i;
            continue;
        }
        TapeLeftover leftover;
        leftover.block = number;
        if (!block.standard) {
            leftover.description = "a turbo or custom block";
        } else if (block.bytes.size() < 2) {
            leftover.description = "an empty block";
        } else {
            leftover.checksumFailed = !ChecksumRight(block.bytes);
            leftover.description = std::to_string(block.bytes.size() - 2) +
                                   (IsHeader(block) ? " bytes of a header with no data after it"
                                                    : " bytes with no header");
            leftover.data.assign(block.bytes.begin() + 1, block.bytes.end() - 1);
        }
        contents.leftovers.push_back(std::move(leftover));
    }
    return contents;
}

std::string TapeTypeName(std::uint8_t type) {
    static const char* const kNames[] = {"program", "number array", "character array", "CODE"};
    return type <= 3 ? kNames[type] : "type " + std::to_string(type);
}

std::string DescribeTapeFile(const TapeFile& file) {
    std::string name = file.name;
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    const std::string shown = "\"" + SpectrumTextShown(name) + "\" ";
    if (file.type == 0)
        return shown +
               (file.param1 < 32768 ? "program LINE " + std::to_string(file.param1) : "program");
    if (file.type == 3)
        return shown + "CODE " + std::to_string(file.param1) + "," +
               std::to_string(file.data.size());
    return shown + TapeTypeName(file.type);
}

std::vector<std::uint8_t> Plus3FileOfTape(const TapeFile& file) {
    std::vector<std::uint8_t> bytes = MakePlus3Header(
        file.type, static_cast<std::uint32_t>(file.data.size()), file.param1, file.param2);
    bytes.insert(bytes.end(), file.data.begin(), file.data.end());
    return bytes;
}

namespace {

constexpr std::size_t kMaxBase = 8;

bool IsTaken(const std::vector<std::string>& taken, const std::string& name) {
    return std::find(taken.begin(), taken.end(), name) != taken.end();
}

} // namespace

std::string DiskNameForTapeFile(const TapeFile& file, std::size_t number,
                                const std::vector<std::string>& taken) {
    std::string base, ext;
    bool inType = false;
    for (char c : file.name) {
        if (c == '.' && !inType) {
            inType = true;
            continue;
        }
        const char upper = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        if ((upper >= 'A' && upper <= 'Z') || (upper >= '0' && upper <= '9'))
            (inType ? ext : base) += upper;
    }
    base = base.substr(0, 8);
    ext = ext.substr(0, 3);
    if (base.empty()) {
        char numbered[16];
        std::snprintf(numbered, sizeof numbered, "FILE%02zu", number % 10000);
        base = numbered;
    }
    if (ext.empty())
        ext = file.type == 0 ? "BAS" : file.type == 3 ? "BIN" : "DAT";
    std::string name = base + "." + ext;
    // A clash: a number in the name's last places (GAM1, ..., GA10, ...).
    for (unsigned n = 1; IsTaken(taken, name); ++n) {
        const std::string digits = std::to_string(n);
        const std::size_t keep = base.size() > digits.size() ? base.size() - digits.size() : 1;
        name = base.substr(0, std::min(keep, kMaxBase - digits.size())) + digits + "." + ext;
    }
    return name;
}

std::string DiskNameForBlock(std::size_t block, const std::vector<std::string>& taken) {
    const std::string number = block < 10 ? "0" + std::to_string(block) : std::to_string(block);
    const std::string base = number.size() <= 3 ? "BLOCK" + number : "BLK" + number.substr(0, 5);
    std::string name = base + ".BIN";
    // A clash (another tape's block of that number, or a file already
    // there): a letter after the number (A to Z, then AA, AB...).
    for (std::size_t n = 1; IsTaken(taken, name); ++n) {
        std::string letters;
        for (std::size_t k = n; k > 0; k = (k - 1) / 26)
            letters.insert(letters.begin(), static_cast<char>('A' + (k - 1) % 26));
        const std::size_t keep = letters.size() < kMaxBase ? kMaxBase - letters.size() : 0;
        name = base.substr(0, std::min(base.size(), keep)) + letters.substr(0, kMaxBase) + ".BIN";
    }
    return name;
}
