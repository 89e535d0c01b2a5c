#include "DskWriter.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

DskWriter::DskWriter(unsigned cylinders, std::uint8_t firstId)
    : m_FirstId(firstId), m_Tracks(cylinders) {
    for (DskTrack& track : m_Tracks)
        for (unsigned s = 0; s < 9; ++s)
            track.sectors.push_back(
                {static_cast<std::uint8_t>(firstId + s), 2, 0, 0, std::vector<std::uint8_t>(512, 0xE5)});
}

std::vector<std::uint8_t>& DskWriter::Sector(unsigned cylinder, std::uint8_t id) {
    for (DskSector& sector : m_Tracks.at(cylinder).sectors)
        if (sector.id == id)
            return sector.data;
    throw std::out_of_range("no such sector");
}

std::vector<std::uint8_t>& DskWriter::Logical(unsigned reserved, unsigned logical) {
    return Sector(reserved + logical / 9, static_cast<std::uint8_t>(m_FirstId + logical % 9));
}

void DskWriter::PutEntry(unsigned reserved, unsigned index, const void* entry32) {
    std::memcpy(Logical(reserved, index / 16).data() + (index % 16) * 32, entry32, 32);
}

void DskWriter::SetBootBytes(std::initializer_list<std::uint8_t> bytes) {
    std::vector<std::uint8_t>& boot = Sector(0, m_FirstId);
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        boot[i++] = b;
}

void DskWriter::FiveSectorsOf1024From(unsigned first) {
    for (unsigned c = first; c < m_Tracks.size(); ++c) {
        auto& sectors = m_Tracks[c].sectors;
        sectors.resize(5);
        for (std::uint8_t k = 0; k < 5; ++k) {
            sectors[k].id = static_cast<std::uint8_t>(k + 1);
            sectors[k].sizeCode = 3;
            sectors[k].data.assign(1024, static_cast<std::uint8_t>('0' + c % 10));
        }
    }
}

std::vector<std::uint8_t> DskWriter::Bytes() const {
    std::vector<std::uint8_t> out(256, 0);
    const char* magic = "EXTENDED CPC DSK File\r\nDisk-Info\r\n";
    std::memcpy(out.data(), magic, std::strlen(magic));
    std::memcpy(out.data() + 0x22, "TARNLIGHT-TEST", 14);
    out[0x30] = static_cast<std::uint8_t>(m_Tracks.size());
    out[0x31] = 1;
    for (std::size_t t = 0; t < m_Tracks.size(); ++t) {
        const DskTrack& track = m_Tracks[t];
        std::vector<std::uint8_t> block(256, 0);
        std::memcpy(block.data(), "Track-Info\r\n", 12);
        block[0x10] = static_cast<std::uint8_t>(t);
        block[0x14] = 2;
        block[0x15] = static_cast<std::uint8_t>(track.sectors.size());
        block[0x16] = 0x4E;
        block[0x17] = 0xE5;
        for (std::size_t s = 0; s < track.sectors.size(); ++s) {
            const DskSector& sector = track.sectors[s];
            std::uint8_t* info = block.data() + 0x18 + 8 * s;
            info[0] = static_cast<std::uint8_t>(t);
            info[2] = sector.id;
            info[3] = sector.sizeCode;
            info[4] = sector.st1;
            info[5] = sector.st2;
            info[6] = static_cast<std::uint8_t>(sector.data.size() & 0xFF);
            info[7] = static_cast<std::uint8_t>(sector.data.size() >> 8);
            block.insert(block.end(), sector.data.begin(), sector.data.end());
        }
        block.resize((block.size() + 255) / 256 * 256, 0);
        out[0x34 + t] = static_cast<std::uint8_t>(block.size() / 256);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

void DskWriter::Save(const std::string& path) const {
    const std::vector<std::uint8_t> bytes = Bytes();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
