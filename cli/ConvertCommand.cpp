// convert: an image into another container, written whole beside its target,
// read back and compared sector by sector and file by file before it takes
// the target's name.

#include "Commands.h"
#include "Containers.h"
#include "DiskLibrary.h"
#include "FileList.h"
#include "HostFile.h"
#include "PartitionStore.h"
#include "SafeFile.h"
#include "SectorImage.h"
#include "Session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// OUT may be written: a regular file (or nothing) that is not IN, and
// replaced only with --force. False, reported, otherwise.
bool OutputAllowed(const ConvertOptions& options, const FileIdentity& inputVersion) {
    const std::string& out = options.output;
    std::string cause;
    // An image is read back from its file: a device or a pipe cannot be.
    const std::optional<HostOutput> output = CheckHostOutput(out, &inputVersion, cause);
    if (!output || *output == HostOutput::Stream) {
        Report(out, output ? "not a regular file: an image is written to a file" : cause);
        return false;
    }
    struct stat existing {};
    if (lstat(out.c_str(), &existing) == 0 && !options.force) {
        Report(out, "exists: give --force to replace it");
        return false;
    }
    return true;
}

// Writes OUT beside its name, compares it with IN and names it when they
// agree; false, reported, otherwise.
bool WriteConverted(CCliOwner& owner, const ConvertOptions& options, const SectorImage& disk,
                    const ContainerType& target, const FileIdentity& inputVersion) {
    const std::string& in = options.input;
    const std::string& out = options.output;
    std::string cause, difference;
    CPendingFile pending;
    if (!pending.Create(out, 0666, cause) ||
        !WriteAndCompare(disk, target, pending.Descriptor(), pending.Path(), difference, cause)) {
        Report(out, cause);
        return false;
    }
    // (A raw dump of a disk whose ids do not run from 1 reads back with
    // other ids: its bytes are compared, in each track's id order.)
    if (difference.empty() && (std::string(target.type) != "raw" || RawDumpKeepsIds(disk))) {
        const auto before = FileListOf(owner.LibraryTable(), in);
        const auto after = FileListOf(owner.LibraryTable(), pending.Path());
        if (before && (!after || *after != *before))
            difference = "its files do not list as the original's";
    }
    if (ChangedSince(in, inputVersion)) {
        Report(in, "changed by another program while it was converted: nothing written");
        return false;
    }
    if (!difference.empty()) {
        Report(out, "not written: the converted image differs from " + in + ": " + difference);
        return false;
    }
    const auto commit =
        options.force ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace;
    if (!pending.Finish(commit, cause)) {
        Report(out, pending.TargetExisted() ? "exists: give --force to replace it" : cause);
        return false;
    }
    return true;
}

} // namespace

int RunConvert(CCliOwner& owner, const ConvertOptions& options) {
    const std::string& in = options.input;
    const std::string& out = options.output;
    // The version of IN converted: another program's change while it is
    // read and compared makes the comparison meaningless.
    FileIdentity inputVersion;
    IdentityOfFile(in, inputVersion);
    if (!OutputAllowed(options, inputVersion))
        return kExitFailed;
    std::string container, cause;
    // A hard disk's partitions are volumes, not floppies: their files are
    // taken out with get.
    std::string host, partition;
    if (IsHardDiskFile(in) || SplitPartitionPath(in, IsHardDiskFile, host, partition)) {
        Report(in, "a hard-disk image or partition is not converted into a floppy container; "
                   "take its files out with get");
        return kExitFailed;
    }
    auto disk = ReadImageSectors(in, container, cause);
    if (!disk) {
        Report(in, cause.empty() ? "not a disk image" : cause);
        return kExitFailed;
    }
    // A 40-track disk dumped on an 80-track drive becomes the 40-track
    // image it is (when its second readings add nothing).
    const unsigned dumpCylinders = disk->cylinders;
    if (auto single = SingleSteppedCopy(*disk))
        disk = std::move(single);
    const ContainerType* target =
        options.to.empty() ? ContainerOfName(out, container) : ContainerNamed(options.to);
    if (target == nullptr) {
        Report(out, "give the type with --to (dsk, edsk, raw, imd, ldbs, copyqm, tele, ydsk, "
                    "qrst): the name's extension does not say it");
        return kExitUsage;
    }
    if (const std::string problem = ContainerProblem(*disk, *target); !problem.empty()) {
        Report(in, problem);
        return kExitFailed;
    }
    if (!WriteConverted(owner, options, *disk, *target, inputVersion))
        return kExitFailed;
    std::size_t sectors = 0;
    for (const ImageTrack& track : disk->tracks)
        sectors += track.sectors.size();
    std::printf("%s (%s) \u2192 %s (%s): %zu tracks, %zu sectors, compared\n",
                Printable(in).c_str(), container.c_str(), Printable(out).c_str(), target->name,
                disk->tracks.size(), sectors);
    if (disk->cylinders != dumpCylinders)
        std::fprintf(stderr,
                     "NOTE: %s: a double-stepped dump: its %u cylinders written as the %u "
                     "of the disk\n",
                     Printable(in).c_str(), dumpCylinders, disk->cylinders);
    if (const std::string note = RawDumpNote(*disk);
        std::string(target->type) == "raw" && !note.empty())
        std::fprintf(stderr, "NOTE: %s: %s\n", Printable(out).c_str(), note.c_str());
    return kExitOk;
}

Verb ConvertVerb() {
    return {
        "convert", "Write an image in another container, checked sector by sector",
        [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
            auto convert = std::make_shared<ConvertOptions>();
            std::vector<std::string> types;
            for (const ContainerType& type : ContainerTypes())
                types.push_back(type.type);
            cmd.add_option("IN", convert->input, "Image to convert (never changed)")->required();
            cmd.add_option("OUT", convert->output, "Image to write")->required();
            cmd.add_option("--to", convert->to,
                           "Container: dsk (standard), edsk (extended), raw, imd, ldbs, "
                           "copyqm, tele, ydsk, qrst; without it, from OUT's extension (.dsk "
                           "keeps a CPCEMU input's kind, .raw/.img, .imd, .ldbs, .cqm, .td0, "
                           ".ydsk, .qrst)")
                ->check(CLI::IsMember(types));
            cmd.add_flag("--force", convert->force, "Replace OUT when it exists");
            cmd.footer("OUT is written whole beside its name, read back and compared with IN "
                       "sector by sector (ids, sizes, data) and file by file; it takes its "
                       "name only when they agree. A disk a container cannot hold (a standard "
                       ".dsk or a raw dump with tracks of mixed sizes) is refused, naming the "
                       "track.\n\nExamples:\n"
                       "  tarnlight-cli convert game.dsk game-extended.dsk --to edsk\n"
                       "  tarnlight-cli convert archive.imd game.dsk\n"
                       "  tarnlight-cli convert game.dsk game.raw");
            return [convert](CCliOwner& owner) { return RunConvert(owner, *convert); };
        }};
}
