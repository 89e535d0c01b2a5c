#include "Containers.h"
#include "DiskLibrary.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <unistd.h>

const std::vector<ContainerType>& ContainerTypes() {
    static const std::vector<ContainerType> kTypes = {
        {"dsk", nullptr, "CPCEMU standard", ".dsk"},
        {"edsk", nullptr, "CPCEMU extended", ".dsk"},
        {"raw", nullptr, "raw sector dump", ".raw .img"},
        {"imd", "imd", "ImageDisk", ".imd"},
        {"ldbs", "ldbs", "LDBS", ".ldbs"},
        {"copyqm", "qm", "CopyQM", ".cqm"},
        {"tele", "tele", "TeleDisk", ".td0"},
        {"ydsk", "ydsk", "YAZE", ".ydsk"},
        {"qrst", "qrst", "QRST", ".qrst"},
    };
    return kTypes;
}

const ContainerType* ContainerNamed(const std::string& type) {
    for (const ContainerType& target : ContainerTypes())
        if (type == target.type)
            return &target;
    return nullptr;
}

std::string LowerExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

const ContainerType* ContainerOfName(const std::string& path, const std::string& inputContainer) {
    const std::string ext = LowerExtension(path);
    if (ext == ".dsk")
        return ContainerNamed(inputContainer == "CPCEMU standard" ? "dsk" : "edsk");
    for (const ContainerType& type : ContainerTypes()) {
        std::istringstream extensions(type.extensions);
        for (std::string extension; extensions >> extension;)
            if (ext == extension)
                return &type;
    }
    return nullptr;
}

std::string ContainerProblem(const SectorImage& disk, const ContainerType& target) {
    const std::string type = target.type;
    if (type != "edsk") {
        if (const std::string problem = OddSectorProblem(disk); !problem.empty())
            return problem + ": only an extended .dsk keeps it (--to edsk)";
    }
    if (target.driver != nullptr) {
        if (const std::string problem = RepeatedIdProblem(disk); !problem.empty())
            return problem + ": " + target.name + " cannot keep them apart (a .dsk can)";
    }
    // (A raw dump keeps no ids at all; its note says so.)
    if (type == "copyqm" || type == "ydsk" || type == "qrst") {
        if (const std::string problem = MisplacedIdProblem(disk); !problem.empty())
            return problem + ": " + target.name +
                   " keeps no such ids (--to imd, ldbs, tele or edsk can)";
    }
    if (type == "dsk" || type == "raw") {
        if (const std::string problem = StandardImageProblem(disk); !problem.empty())
            return problem + ": a " + (type == "dsk" ? "standard .dsk" : "raw dump") +
                   " cannot hold it (--to edsk can)";
    }
    return {};
}

namespace {

unsigned FirstSectorId(const SectorImage& disk) {
    unsigned lowest = 1;
    if (!disk.tracks.empty() && !disk.tracks.front().sectors.empty()) {
        lowest = 0xFF;
        for (const ImageSector& sector : disk.tracks.front().sectors)
            lowest = std::min<unsigned>(lowest, sector.id);
    }
    return lowest;
}

} // namespace

bool RawDumpKeepsIds(const SectorImage& disk) {
    return FirstSectorId(disk) == 1;
}

std::string RawDumpNote(const SectorImage& disk) {
    const unsigned first = FirstSectorId(disk);
    const std::string misplaced = MisplacedIdProblem(disk);
    if (first == 1 && misplaced.empty())
        return {};
    std::string note = "a raw dump keeps no sector ids";
    if (first != 1) {
        char id[8];
        std::snprintf(id, sizeof id, "0x%02X", first);
        const std::string format = first == 0xC1   ? ", the CPC data format"
                                   : first == 0x41 ? ", the CPC system format"
                                                   : "";
        note += std::string(" (this disk's run from ") + id + format +
                "): whatever reads it back must be told its format";
    }
    if (!misplaced.empty())
        note += (first != 1 ? "; " : ": ") + misplaced + ", which read back say the track's own";
    return note;
}

bool WriteAndCompare(const SectorImage& disk, const ContainerType& target, int fd,
                     const std::string& path, std::string& difference, std::string& cause) {
    const std::string type = target.type;
    if (target.driver != nullptr && !WriteImageWithLibrary(disk, target.driver, fd, cause))
        return false;
    if (target.driver == nullptr) {
        const std::vector<std::uint8_t> bytes = type == "dsk"    ? StandardImageBytes(disk)
                                                : type == "edsk" ? ExtendedImageBytes(disk)
                                                                 : RawImageBytes(disk);
        if (bytes.empty()) {
            cause = "a track does not fit that container";
            return false;
        }
        if (::pwrite(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
            cause = std::strerror(errno);
            return false;
        }
        // A raw dump says nothing of its sectors' ids and sizes: its bytes
        // are compared (and its files by the caller).
        if (type == "raw") {
            std::vector<std::uint8_t> back(bytes.size() + 1);
            const ssize_t got = ::pread(fd, back.data(), back.size(), 0);
            back.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
            difference = back == bytes ? "" : "its bytes read back differ";
            return true;
        }
    }
    // Read back as any image is, then compared with what was read.
    std::string container, readCause;
    const auto made = ReadImageSectors(path, container, readCause);
    difference = made ? FirstDifference(disk, *made, true) : "it cannot be read back: " + readCause;
    return true;
}
