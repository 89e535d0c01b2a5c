#include "FileHeader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kPlus3Signature[] = "PLUS3DOS";

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void PutWord(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint8_t Plus3Checksum(const std::uint8_t* header) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < 127; ++i)
        sum += header[i];
    return static_cast<std::uint8_t>(sum);
}

std::uint16_t AmsdosChecksum(const std::uint8_t* header) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < 67; ++i)
        sum += header[i];
    return static_cast<std::uint16_t>(sum);
}

} // namespace

namespace {

// A checksum alone is no proof: 67 zero bytes sum to the zero word after
// them (a SCREEN$ whose top third is black). The fields must be what AMSDOS
// writes: a name and type of printable characters (bit 7 is an attribute;
// the user byte before them is left alone, which some tools fill with the
// name's first letter), a file type of its own (bit 0 protected, bits 1-3 BASIC,
// binary, screen or ASCII, bits 4-7 the version, 0 or 1).
bool AmsdosFieldsPlausible(const std::uint8_t* data) {
    for (int i = 1; i <= 11; ++i) {
        const std::uint8_t c = data[i] & 0x7F;
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    const std::uint8_t type = data[18];
    return (type & 0x0E) <= 0x06 && (type >> 4) <= 1;
}

} // namespace

std::optional<FileHeader> ParseFileHeader(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderSize)
        return std::nullopt;
    if (std::all_of(data, data + kHeaderSize, [](std::uint8_t b) { return b == 0; }))
        return std::nullopt;
    FileHeader header;
    if (std::memcmp(data, kPlus3Signature, 8) == 0 && data[8] == 0x1A &&
        Plus3Checksum(data) == data[127]) {
        const std::uint32_t length = data[11] | data[12] << 8 | data[13] << 16 |
                                     static_cast<std::uint32_t>(data[14]) << 24;
        if (length < kHeaderSize || length > size)
            return std::nullopt;
        header.kind = FileHeader::Kind::Plus3Dos;
        header.fileType = data[15];
        header.dataLength = length - kHeaderSize;
        header.param1 = Word(data + 18);
        header.param2 = Word(data + 20);
        return header;
    }
    if (AmsdosChecksum(data) == Word(data + 67) && AmsdosFieldsPlausible(data)) {
        const std::uint32_t length = data[64] | data[65] << 8 | data[66] << 16;
        if (length + kHeaderSize > size)
            return std::nullopt;
        header.kind = FileHeader::Kind::Amsdos;
        header.fileType = data[18];
        header.dataLength = length;
        header.load = Word(data + 21);
        header.entry = Word(data + 26);
        return header;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> MakePlus3Header(std::uint8_t fileType, std::uint32_t dataLength,
                                          std::uint16_t param1, std::uint16_t param2) {
    std::vector<std::uint8_t> header(kHeaderSize, 0);
    std::memcpy(header.data(), kPlus3Signature, 8);
    header[8] = 0x1A;
    header[9] = 1;
    header[10] = 0;
    const std::uint32_t length = dataLength + kHeaderSize;
    for (int i = 0; i < 4; ++i)
        header[11 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    header[15] = fileType;
    PutWord(&header[16], dataLength);
    PutWord(&header[18], param1);
    PutWord(&header[20], param2);
    header[127] = Plus3Checksum(header.data());
    return header;
}

std::vector<std::uint8_t> MakeAmsdosHeader(std::uint8_t user, const std::uint8_t* name,
                                           const std::uint8_t* type, std::uint8_t fileType,
                                           std::uint32_t dataLength, std::uint16_t load,
                                           std::uint16_t entry) {
    std::vector<std::uint8_t> header(kHeaderSize, 0);
    header[0] = user;
    std::memcpy(&header[1], name, 8);
    std::memcpy(&header[9], type, 3);
    header[18] = fileType;
    PutWord(&header[21], load);
    header[23] = 0xFF;
    PutWord(&header[24], dataLength);
    PutWord(&header[26], entry);
    header[64] = static_cast<std::uint8_t>(dataLength);
    header[65] = static_cast<std::uint8_t>(dataLength >> 8);
    header[66] = static_cast<std::uint8_t>(dataLength >> 16);
    PutWord(&header[67], AmsdosChecksum(header.data()));
    return header;
}

std::string HeaderTypeName(const FileHeader& header) {
    if (header.kind == FileHeader::Kind::Plus3Dos) {
        switch (header.fileType) {
        case FileHeader::kPlus3Program:
            return "basic";
        case FileHeader::kPlus3Numbers:
            return "numbers";
        case FileHeader::kPlus3Characters:
            return "characters";
        case FileHeader::kPlus3Code:
            return "code";
        }
    } else {
        switch (header.fileType) {
        case 0:
            return "basic";
        case 1:
            return "protected";
        case 2:
            return "binary";
        }
    }
    return "type " + std::to_string(header.fileType);
}

std::string DescribeHeader(const FileHeader& header) {
    char text[64];
    if (header.kind == FileHeader::Kind::Plus3Dos) {
        switch (header.fileType) {
        case FileHeader::kPlus3Program:
            if (header.param1 < FileHeader::kNoAutostart)
                std::snprintf(text, sizeof text, "BASIC LINE %u", unsigned{header.param1});
            else
                std::snprintf(text, sizeof text, "BASIC");
            return text;
        case FileHeader::kPlus3Code:
            std::snprintf(text, sizeof text, "CODE %u,%lu", unsigned{header.param1},
                          static_cast<unsigned long>(header.dataLength));
            return text;
        case FileHeader::kPlus3Numbers:
            return "NUMBERS";
        case FileHeader::kPlus3Characters:
            return "CHARS";
        }
        return "+3DOS " + std::to_string(header.fileType);
    }
    if ((header.fileType & 0x0E) == FileHeader::kAmsdosBinary) {
        std::snprintf(text, sizeof text, "BIN &%04X,&%04X", unsigned{header.load},
                      unsigned{header.entry});
        return text;
    }
    if ((header.fileType & 0x0E) == FileHeader::kAmsdosBasic)
        return header.fileType & 1 ? "BASIC (protected)" : "BASIC";
    return "AMSDOS " + std::to_string(header.fileType);
}

namespace {

bool ParseAddress(const std::string& text, std::uint16_t& value) {
    if (text.empty())
        return false;
    int base = 10;
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
        base = 16;
        digits = digits.substr(2);
    } else if (digits[0] == '&' || digits[0] == '$') {
        base = 16;
        digits = digits.substr(1);
    }
    if (digits.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(digits.c_str(), &end, base);
    if (*end != 0 || errno != 0 || number > 0xFFFF || digits[0] == '-' || digits[0] == '+')
        return false;
    value = static_cast<std::uint16_t>(number);
    return true;
}

} // namespace

bool HeaderRequest::IsBasic() const {
    return fileType == (kind == FileHeader::Kind::Amsdos ? FileHeader::kAmsdosBasic
                                                         : FileHeader::kPlus3Program);
}

std::optional<HeaderRequest> ParseHeaderRequest(FileHeader::Kind kind, const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    HeaderRequest request;
    request.kind = kind;
    const std::string& what = parts[0];
    if (kind == FileHeader::Kind::Plus3Dos) {
        if (what == "code" && parts.size() == 2 && ParseAddress(parts[1], request.param1)) {
            request.fileType = FileHeader::kPlus3Code;
            request.param2 = 32768;
            return request;
        }
        if (what == "basic" && parts.size() <= 2) {
            request.fileType = FileHeader::kPlus3Program;
            request.param1 = FileHeader::kNoAutostart;
            if (parts.size() == 2 && parts[1].size() > 1 && parts[1][0] == '@') {
                request.startLabel = parts[1].substr(1);
                return request;
            }
            if (parts.size() == 2 &&
                (!ParseAddress(parts[1], request.param1) || request.param1 > 9999))
                return std::nullopt;
            return request;
        }
        return std::nullopt;
    }
    if (what == "bin" && (parts.size() == 2 || parts.size() == 3) &&
        ParseAddress(parts[1], request.load)) {
        request.fileType = FileHeader::kAmsdosBinary;
        request.entry = request.load;
        if (parts.size() == 3 && !ParseAddress(parts[2], request.entry))
            return std::nullopt;
        return request;
    }
    if (what == "basic" && parts.size() == 1) {
        // Where AMSDOS loads a BASIC program.
        request.fileType = FileHeader::kAmsdosBasic;
        request.load = 0x0170;
        return request;
    }
    return std::nullopt;
}

bool AddRequestedHeader(const HeaderRequest& request, std::uint8_t user, const std::uint8_t* name,
                        const std::uint8_t* type, bool madeHere, std::vector<std::uint8_t>& data,
                        std::string& cause) {
    if (const auto present = ParseFileHeader(data.data(), data.size());
        !madeHere && present && present->kind == request.kind)
        return true;
    if (data.size() > 0xFFFF) {
        cause = "too long for a header: its fields hold at most 65535 bytes of data";
        return false;
    }
    const auto length = static_cast<std::uint32_t>(data.size());
    std::vector<std::uint8_t> header;
    if (request.kind == FileHeader::Kind::Plus3Dos) {
        // A program's parameter 2 is its length without variables; a code
        // file's is 32768.
        const std::uint16_t param2 = request.fileType == FileHeader::kPlus3Program
                                         ? static_cast<std::uint16_t>(length)
                                         : request.param2;
        header = MakePlus3Header(request.fileType, length, request.param1, param2);
    } else {
        header = MakeAmsdosHeader(user, name, type, request.fileType, length, request.load,
                                  request.entry);
    }
    data.insert(data.begin(), header.begin(), header.end());
    return true;
}
