#include "TextView.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint8_t kEndOfText = 0x1A;

// The text before CP/M's end mark; without one, before the filler that
// pads the last 128-byte record (zeros, or 0xE5 as the disk was formatted).
std::span<const std::uint8_t> UpToEndOfText(std::span<const std::uint8_t> data) {
    const auto end = std::find(data.begin(), data.end(), kEndOfText);
    std::size_t length = static_cast<std::size_t>(end - data.begin());
    if (end == data.end()) {
        const std::size_t lastRecord = length - std::min<std::size_t>(length, 127);
        while (length > lastRecord && (data[length - 1] == 0x00 || data[length - 1] == 0xE5))
            --length;
    }
    return data.first(length);
}

bool TextByte(std::uint8_t c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

} // namespace

bool LooksLikeText(std::span<const std::uint8_t> data) {
    const auto text = UpToEndOfText(data);
    if (text.empty())
        return false;
    return std::all_of(text.begin(), text.end(), [](std::uint8_t c) {
        const std::uint8_t low = c & 0x7F;
        return TextByte(c) || (c >= 0x80 && ((low >= 'A' && low <= 'Z') || (low >= 'a' && low <= 'z') ||
                                             low == ' ' || low == '\r' || low == '\n'));
    });
}

std::string CpmText(std::span<const std::uint8_t> data, const TextOptions& options) {
    const auto text = UpToEndOfText(data);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint8_t c = options.clearBit7 ? text[i] & 0x7F : text[i];
        if (options.crlfToLf && c == '\r' && i + 1 < text.size() &&
            (options.clearBit7 ? text[i + 1] & 0x7F : text[i + 1]) == '\n')
            continue;
        out += static_cast<char>(c);
    }
    return out;
}

std::string HexDump(std::span<const std::uint8_t> data, std::uint64_t firstOffset) {
    std::string out;
    out.reserve(data.size() / 16 * 68 + 68);
    char field[24];
    for (std::size_t line = 0; line < data.size(); line += 16) {
        const std::size_t count = std::min<std::size_t>(16, data.size() - line);
        std::snprintf(field, sizeof field, "%08llx: ",
                      static_cast<unsigned long long>(firstOffset + line));
        out += field;
        for (std::size_t i = 0; i < 16; ++i) {
            if (i < count) {
                std::snprintf(field, sizeof field, "%02x", data[line + i]);
                out += field;
            } else {
                out += "  ";
            }
            if (i % 2 == 1)
                out += ' ';
        }
        out += ' ';
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t c = data[line + i];
            out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
        }
        out += '\n';
    }
    return out;
}
