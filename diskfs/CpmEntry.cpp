#include "CpmEntry.h"
#include "CpmName.h"

#include <algorithm>

CpmEntry CpmEntry::Decode(const std::uint8_t* raw, unsigned slotCount) {
    CpmEntry e;
    e.user = raw[0];
    for (std::size_t i = 0; i < kNameLen; ++i) {
        e.name[i] = raw[1 + i] & 0x7F;
        if (raw[1 + i] & 0x80)
            e.nameBits = static_cast<std::uint8_t>(e.nameBits | (1u << i));
    }
    for (std::size_t i = 0; i < kTypeLen; ++i)
        e.type[i] = raw[9 + i] & 0x7F;
    e.readOnly = (raw[9] & 0x80) != 0;
    e.system = (raw[10] & 0x80) != 0;
    e.archive = (raw[11] & 0x80) != 0;
    e.ex = raw[12];
    e.s1 = raw[13];
    e.s2 = raw[14];
    e.rc = raw[15];
    e.slotCount = slotCount == 8 ? 8 : 16;
    for (unsigned k = 0; k < e.slotCount; ++k)
        e.blocks[k] = RawBlock(raw, k, e.slotCount);
    return e;
}

std::uint16_t CpmEntry::RawBlock(const std::uint8_t* raw, unsigned slot, unsigned slotCount) {
    return slotCount == 8 ? static_cast<std::uint16_t>(raw[16 + 2 * slot] | raw[17 + 2 * slot] << 8)
                          : raw[16 + slot];
}

void CpmEntry::SetRawBlock(std::uint8_t* raw, unsigned slot, unsigned slotCount,
                           std::uint16_t block) {
    if (slotCount == 8) {
        raw[16 + 2 * slot] = static_cast<std::uint8_t>(block & 0xFF);
        raw[17 + 2 * slot] = static_cast<std::uint8_t>(block >> 8);
    } else {
        raw[16 + slot] = static_cast<std::uint8_t>(block);
    }
}

bool CpmEntry::RawSameFile(const std::uint8_t* raw, const FileId& file) {
    if (raw[0] != file.user)
        return false;
    for (std::size_t k = 0; k < kNameLen; ++k)
        if ((raw[1 + k] & 0x7F) != file.name[k])
            return false;
    for (std::size_t k = 0; k < kTypeLen; ++k)
        if ((raw[1 + kNameLen + k] & 0x7F) != file.type[k])
            return false;
    return true;
}

unsigned CpmEntry::BlockCount() const {
    unsigned count = 0;
    for (unsigned k = 0; k < slotCount; ++k)
        count += blocks[k] != 0 ? 1 : 0;
    return count;
}

void CpmEntry::Encode(std::uint8_t* raw) const {
    raw[0] = user;
    for (std::size_t i = 0; i < kNameLen; ++i)
        raw[1 + i] = static_cast<std::uint8_t>(name[i] | ((nameBits >> i) & 1u) << 7);
    for (std::size_t i = 0; i < kTypeLen; ++i)
        raw[9 + i] = type[i];
    raw[9] = static_cast<std::uint8_t>(raw[9] | (readOnly ? 0x80 : 0));
    raw[10] = static_cast<std::uint8_t>(raw[10] | (system ? 0x80 : 0));
    raw[11] = static_cast<std::uint8_t>(raw[11] | (archive ? 0x80 : 0));
    raw[12] = ex;
    raw[13] = s1;
    raw[14] = s2;
    raw[15] = rc;
    for (unsigned k = 0; k < 16; ++k)
        raw[16 + k] = 0;
    for (unsigned k = 0; k < slotCount; ++k)
        SetRawBlock(raw, k, slotCount, blocks[k]);
}

bool CpmEntry::NameIsValid() const {
    return std::all_of(name.begin(), name.end(), IsNameByte) &&
           std::all_of(type.begin(), type.end(), IsNameByte);
}

bool CpmEntry::IsLocoScriptGroup() const {
    constexpr std::uint8_t kGroupExtent = 0x20, kLastGroup = 7;
    const bool groupType =
        (type[0] & 0x7F) == 'G' && (type[1] & 0x7F) == 'R' && (type[2] & 0x7F) == 'P';
    return user <= kLastGroup && groupType && ex == kGroupExtent && s2 == 0 && rc == 0 &&
           BlockCount() == 0;
}
