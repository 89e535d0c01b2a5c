#pragma once
// Spectrum tapes built byte by byte, as the ROM saves them, for the tests.

#include <cstdint>
#include <string>
#include <vector>

// A TAP block: its length, then flag, data and the XOR checksum.
inline void AddBlock(std::vector<std::uint8_t>& tap, std::uint8_t flag,
                     const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> block{flag};
    block.insert(block.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (std::uint8_t b : block)
        sum ^= b;
    block.push_back(sum);
    tap.push_back(static_cast<std::uint8_t>(block.size()));
    tap.push_back(static_cast<std::uint8_t>(block.size() >> 8));
    tap.insert(tap.end(), block.begin(), block.end());
}

inline void AddFile(std::vector<std::uint8_t>& tap, std::uint8_t type, const std::string& name,
                    const std::vector<std::uint8_t>& data, std::uint16_t param1,
                    std::uint16_t param2) {
    std::vector<std::uint8_t> header(17, ' ');
    header[0] = type;
    std::copy(name.begin(), name.end(), header.begin() + 1);
    const auto length = static_cast<std::uint16_t>(data.size());
    for (const auto& [at, value] :
         {std::pair{11, length}, std::pair{13, param1}, std::pair{15, param2}}) {
        header[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
        header[static_cast<std::size_t>(at) + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    AddBlock(tap, 0x00, header);
    AddBlock(tap, 0xFF, data);
}
