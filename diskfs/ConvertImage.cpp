#include "ConvertImage.h"

#include "DiskLibrary.h"
#include "FileList.h"
#include "HostFile.h"
#include "PartitionStore.h"
#include "SafeFile.h"
#include "SectorImage.h"

#include <sys/stat.h>

namespace {

bool Refuse(ConvertRefusal& refusal, const std::string& subject, const std::string& cause,
            bool usage = false) {
    refusal = {subject, cause, usage};
    return false;
}

// The output may be written: a regular file (or nothing) that is not the
// input, and replaced only when asked.
bool OutputAllowed(const ConvertRequest& request, const FileIdentity& inputVersion,
                   ConvertRefusal& refusal) {
    const std::string& out = request.output;
    std::string cause;
    // An image is read back from its file: a device or a pipe cannot be.
    const std::optional<HostOutput> output = CheckHostOutput(out, &inputVersion, cause);
    if (!output || *output == HostOutput::Stream)
        return Refuse(refusal, out,
                      output ? "not a regular file: an image is written to a file" : cause);
    struct stat existing {};
    if (lstat(out.c_str(), &existing) == 0 && !request.replace)
        return Refuse(refusal, out, "exists: give --force to replace it");
    return true;
}

// Writes the output beside its name, compares it with the input and names
// it when they agree.
bool WriteConverted(const DiskLibraryTable& table, const ConvertRequest& request,
                    const SectorImage& disk, const ContainerType& target,
                    const FileIdentity& inputVersion, ConvertRefusal& refusal) {
    const std::string& in = request.input;
    const std::string& out = request.output;
    std::string cause, difference;
    CPendingFile pending;
    if (!pending.Create(out, 0666, cause) ||
        !WriteAndCompare(disk, target, pending.Descriptor(), pending.Path(), difference, cause))
        return Refuse(refusal, out, cause);
    // (A raw dump of a disk whose ids do not run from 1 reads back with
    // other ids: its bytes are compared, in each track's id order.)
    if (difference.empty() && (std::string(target.type) != "raw" || RawDumpKeepsIds(disk))) {
        const auto before = FileListOf(table, in);
        const auto after = FileListOf(table, pending.Path());
        if (before && (!after || *after != *before))
            difference = "its files do not list as the original's";
    }
    if (ChangedSince(in, inputVersion))
        return Refuse(refusal, in,
                      "changed by another program while it was converted: nothing written");
    if (!difference.empty())
        return Refuse(refusal, out,
                      "not written: the converted image differs from " + in + ": " + difference);
    const auto commit =
        request.replace ? CPendingFile::Commit::Replace : CPendingFile::Commit::NoReplace;
    if (!pending.Finish(commit, cause))
        return Refuse(refusal, out,
                      pending.TargetExisted() ? "exists: give --force to replace it" : cause);
    return true;
}

} // namespace

bool ConvertImage(const DiskLibraryTable& table, const ConvertRequest& request,
                  ConvertResult& result, ConvertRefusal& refusal) {
    const std::string& in = request.input;
    const std::string& out = request.output;
    // The version of the input converted: another program's change while it
    // is read and compared makes the comparison meaningless.
    FileIdentity inputVersion;
    IdentityOfFile(in, inputVersion);
    if (!OutputAllowed(request, inputVersion, refusal))
        return false;
    // A hard disk's partitions are volumes, not floppies: their files are
    // taken out with get.
    std::string host, partition, cause;
    if (IsHardDiskFile(in) || SplitPartitionPath(in, IsHardDiskFile, host, partition))
        return Refuse(refusal, in,
                      "a hard-disk image or partition is not converted into a floppy "
                      "container; take its files out with get");
    auto disk = ReadImageSectors(in, result.inputContainer, cause);
    if (!disk)
        return Refuse(refusal, in, cause.empty() ? "not a disk image" : cause);
    // A 40-track disk dumped on an 80-track drive becomes the 40-track
    // image it is (when its second readings add nothing).
    result.dumpCylinders = disk->cylinders;
    if (auto single = SingleSteppedCopy(*disk))
        disk = std::move(single);
    result.cylinders = disk->cylinders;
    result.target =
        request.target != nullptr ? request.target : ContainerOfName(out, result.inputContainer);
    if (result.target == nullptr)
        return Refuse(refusal, out,
                      "give the type with --to (dsk, edsk, raw, imd, ldbs, copyqm, tele, ydsk, "
                      "qrst): the name's extension does not say it",
                      true);
    if (const std::string problem = ContainerProblem(*disk, *result.target); !problem.empty())
        return Refuse(refusal, in, problem);
    if (!WriteConverted(table, request, *disk, *result.target, inputVersion, refusal))
        return false;
    result.tracks = disk->tracks.size();
    result.sectors = 0;
    for (const ImageTrack& track : disk->tracks)
        result.sectors += track.sectors.size();
    if (std::string(result.target->type) == "raw")
        result.rawNote = RawDumpNote(*disk);
    return true;
}
