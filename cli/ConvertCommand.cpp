// convert: an image into another container, written whole beside its target,
// read back and compared sector by sector and file by file before it takes
// the target's name.

#include "CatalogueView.h"
#include "Commands.h"
#include "DiskLibrary.h"
#include "HostFile.h"
#include "SafeFile.h"
#include "SectorImage.h"
#include "Session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Target {
    const char* type;    // as --to names it
    const char* driver;  // LibDsk's type; nullptr for the containers written here
    const char* name;    // as the listings name it
};
constexpr Target kTargets[] = {
    {"dsk", nullptr, "CPCEMU standard"}, {"edsk", nullptr, "CPCEMU extended"},
    {"raw", nullptr, "raw sector dump"}, {"imd", "imd", "ImageDisk"},
    {"ldbs", "ldbs", "LDBS"},            {"copyqm", "qm", "CopyQM"},
    {"tele", "tele", "TeleDisk"},        {"ydsk", "ydsk", "YAZE"},
    {"qrst", "qrst", "QRST"},
};

const Target* TargetNamed(const std::string& type) {
    for (const Target& target : kTargets)
        if (type == target.type)
            return &target;
    return nullptr;
}

// The type an output's extension asks for; .dsk keeps a CPCEMU input's kind.
const Target* TargetOfName(const std::string& path, const std::string& inputContainer) {
    const std::string ext = LowerExtension(path);
    if (ext == ".dsk")
        return TargetNamed(inputContainer == "CPCEMU standard" ? "dsk" : "edsk");
    if (ext == ".raw" || ext == ".img")
        return TargetNamed("raw");
    if (ext == ".imd")
        return TargetNamed("imd");
    if (ext == ".ldbs")
        return TargetNamed("ldbs");
    if (ext == ".cqm")
        return TargetNamed("copyqm");
    if (ext == ".td0")
        return TargetNamed("tele");
    if (ext == ".ydsk" || ext == ".qrst")
        return TargetNamed(ext.substr(1));
    return nullptr;
}

// The files of an image as lines, read by an image of its own whose
// messages are kept, not shown: a disk without a CP/M file system converts
// all the same. Empty when it does not open.
class QuietOwner : public IDiskOwner {
public:
    explicit QuietOwner(const DiskLibraryTable& table) : m_Table(table) {}
    const DiskLibraryTable& LibraryTable() const override { return m_Table; }
    void ShowMessage(const std::string&, const std::string&, MessageIcon) override {}

private:
    const DiskLibraryTable& m_Table;
};

std::optional<std::vector<std::string>> FilesOf(const DiskLibraryTable& table, const std::string& path) {
    QuietOwner owner(table);
    CDiskImage image(&owner);
    if (!image.LoadImage(path))
        return std::nullopt;
    Catalogue rows;
    ClearCatalogue(rows);
    image.ReadCatalogue(rows);
    std::vector<std::string> files;
    for (std::size_t i = 0; i < CatalogueLength(rows); ++i) {
        const FileEntry& row = rows[i];
        files.push_back(FileId::Of(row).Shown() + " " +
                        std::to_string(row.size) + (row.readOnly ? " r" : "") +
                        (row.system ? " s" : "") + (row.archive ? " a" : ""));
    }
    return files;
}

} // namespace

int RunConvert(CCliOwner& owner, const ConvertOptions& options) {
    const std::string& in = options.input;
    const std::string& out = options.output;
    // The version of IN converted: another program's change while it is
    // read and compared makes the comparison meaningless.
    FileIdentity inputVersion;
    IdentityOfFile(in, inputVersion);
    std::string cause;
    // An image is read back from its file: a device or a pipe cannot be.
    const std::optional<HostOutput> output = CheckHostOutput(out, &inputVersion, cause);
    if (!output || *output == HostOutput::Stream) {
        Report(out, output ? "not a regular file: an image is written to a file" : cause);
        return kExitFailed;
    }
    struct stat existing {};
    if (lstat(out.c_str(), &existing) == 0 && !options.force) {
        Report(out, "exists: give --force to replace it");
        return kExitFailed;
    }
    std::string container;
    const auto disk = ReadImageSectors(in, container, cause);
    if (!disk) {
        Report(in, cause.empty() ? "not a disk image" : cause);
        return kExitFailed;
    }
    const Target* target = options.to.empty() ? TargetOfName(out, container) : TargetNamed(options.to);
    if (target == nullptr) {
        Report(out, "give the type with --to (dsk, edsk, raw, imd, ldbs, copyqm, tele, ydsk, qrst): the "
                    "name's extension does not say it");
        return kExitUsage;
    }
    const std::string type = target->type;
    if (type != "edsk") {
        if (const std::string problem = OddSectorProblem(*disk); !problem.empty()) {
            Report(in, problem + ": only an extended .dsk keeps it (--to edsk)");
            return kExitFailed;
        }
    }
    if (target->driver != nullptr) {
        if (const std::string problem = RepeatedIdProblem(*disk); !problem.empty()) {
            Report(in, problem + ": " + target->name + " cannot keep them apart (a .dsk can)");
            return kExitFailed;
        }
    }
    if (type == "dsk" || type == "raw") {
        if (const std::string problem = StandardImageProblem(*disk); !problem.empty()) {
            Report(in, problem + ": a " + (type == "dsk" ? "standard .dsk" : "raw dump") +
                           " cannot hold it (--to edsk can)");
            return kExitFailed;
        }
    }

    CPendingFile pending;
    if (!pending.Create(out, 0666, cause)) {
        Report(out, cause);
        return kExitFailed;
    }
    bool written = false;
    // What a container written here holds, made once: written, and for a
    // raw dump also what its bytes are compared with.
    const std::vector<std::uint8_t> bytes = target->driver != nullptr ? std::vector<std::uint8_t>{}
                                            : type == "dsk"           ? StandardImageBytes(*disk)
                                            : type == "edsk"          ? ExtendedImageBytes(*disk)
                                                                      : RawImageBytes(*disk);
    if (target->driver != nullptr) {
        written = WriteImageWithLibrary(*disk, target->driver, pending.Descriptor(), cause);
    } else {
        if (bytes.empty()) {
            cause = "a track does not fit that container";
        } else {
            written = ::pwrite(pending.Descriptor(), bytes.data(), bytes.size(), 0) ==
                      static_cast<ssize_t>(bytes.size());
            if (!written)
                cause = std::strerror(errno);
        }
    }
    if (!written) {
        Report(out, cause);
        return kExitFailed;
    }
    // Read back as any image is, then compared with what was read. A raw
    // dump says nothing of its sectors' ids and sizes: its bytes are
    // compared, and its files below.
    std::string difference;
    if (type == "raw") {
        std::vector<std::uint8_t> back(bytes.size() + 1);
        const ssize_t got = ::pread(pending.Descriptor(), back.data(), back.size(), 0);
        back.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
        if (back != bytes)
            difference = "its bytes read back differ";
    } else {
        std::string madeContainer;
        const auto made = ReadImageSectors(pending.Path(), madeContainer, cause);
        difference = made ? FirstDifference(*disk, *made, true) : "it cannot be read back: " + cause;
    }
    if (difference.empty()) {
        const auto before = FilesOf(owner.LibraryTable(), in);
        const auto after = FilesOf(owner.LibraryTable(), pending.Path());
        if (before && (!after || *after != *before))
            difference = "its files do not list as the original's";
    }
    if (ChangedSince(in, inputVersion)) {
        Report(in, "changed by another program while it was converted: nothing written");
        return kExitFailed;
    }
    if (!difference.empty()) {
        Report(out, "not written: the converted image differs from " + in + ": " + difference);
        return kExitFailed;
    }
    if (!pending.Finish(options.force ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace,
                        cause)) {
        Report(out, pending.TargetExisted() ? "exists: give --force to replace it" : cause);
        return kExitFailed;
    }
    std::size_t sectors = 0;
    for (const ImageTrack& track : disk->tracks)
        sectors += track.sectors.size();
    std::printf("%s (%s) → %s (%s): %zu tracks, %zu sectors, compared\n", Printable(in).c_str(),
                container.c_str(), Printable(out).c_str(), target->name, disk->tracks.size(), sectors);
    return kExitOk;
}
