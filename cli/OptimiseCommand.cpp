// optimise: every file's blocks in one run, the directory compact.

#include "Commands.h"
#include "Session.h"

#include <cstdio>
#include <memory>

namespace {

// "2-4, 9"
std::string RunsText(const std::vector<std::uint32_t>& blocks) {
    std::string text;
    for (const BlockRun& run : RunsOf(blocks)) {
        text += text.empty() ? "" : ", ";
        text += std::to_string(run.first);
        if (run.count > 1)
            text += "-" + std::to_string(run.first + run.count - 1);
    }
    return text.empty() ? "no blocks" : text;
}

std::size_t BlocksMoved(const OptimisePlan& plan) {
    std::size_t moved = 0;
    for (const OptimisePlan::Move& move : plan.files)
        for (std::size_t i = 0; i < move.from.size(); ++i)
            moved += move.from[i] != move.to[i] ? 1 : 0;
    return moved;
}

void PrintSummary(const std::string& image, const OptimisePlan& plan, bool dryRun) {
    if (!plan.Changes()) {
        std::printf("%s: already contiguous, nothing to do\n", Printable(image).c_str());
        return;
    }
    std::printf("%s: %zu files, %u in more than one run before, %u after; %zu blocks %s, %u "
                "directory entries %s\n",
                Printable(image).c_str(), plan.files.size(), plan.FragmentedBefore(),
                plan.FragmentedAfter(), BlocksMoved(plan), dryRun ? "would move" : "moved",
                plan.entriesMoved, dryRun ? "would move" : "moved");
}

} // namespace

int RunOptimise(CCliOwner& owner, const std::string& image, bool dryRun) {
    OptimisePlan plan;
    if (dryRun) {
        if (!OpenImage(owner, image) && !owner.Image().IsMapped())
            return kExitFailed;
        if (!Attempt(owner, image, [&](CDiskImage& disk) { return disk.OptimiseDisk(plan, true); }))
            return kExitFailed;
        for (const OptimisePlan::Move& move : plan.files) {
            const std::string from = RunsText(move.from), to = RunsText(move.to);
            std::printf("  %-16s %s%s\n", Printable(move.file.Shown()).c_str(), from.c_str(),
                        from == to ? " (stays)" : (" -> " + to).c_str());
        }
        PrintSummary(image, plan, true);
        return kExitOk;
    }
    if (!OpenImage(owner, image, true))
        return FinishChanges(owner, kExitFailed);
    if (!Attempt(owner, image, [&](CDiskImage& disk) { return disk.OptimiseDisk(plan, false); }))
        return FinishChanges(owner, kExitFailed);
    const int status = FinishChanges(owner, kExitOk);
    if (status == kExitOk)
        PrintSummary(image, plan, false);
    return status;
}

Verb OptimiseVerb() {
    return {
        "optimise", "Make every file one run of blocks",
        [](CLI::App& cmd, std::vector<char*>&) -> VerbRun {
            auto image = std::make_shared<std::string>();
            auto dryRun = std::make_shared<bool>(false);
            cmd.add_option("IMAGE", *image, "Image file")->required();
            cmd.add_flag("-n,--dry-run", *dryRun,
                         "Print each file's blocks before and after; change nothing");
            cmd.footer("Moves every file's blocks into one run, the files in directory order from "
                       "the first block after the directory, and the directory's entries to its "
                       "top (the label first, each file's password record and stamps with it). "
                       "Files, names, attributes and stamps are unchanged, and so are the disk's "
                       "sector ids and interleave; the whole disk is saved at once, so an "
                       "interrupted optimise leaves the old disk. A disk that cannot be written "
                       "(a track of its own format, a damaged directory, a block named by two "
                       "files) is refused, saying why. What was erased from the disk cannot be "
                       "recovered afterwards.\n\nExamples:\n"
                       "  tarnlight-cli optimise --dry-run work.dsk\n"
                       "  tarnlight-cli optimise work.dsk");
            return
                [image, dryRun](CCliOwner& owner) { return RunOptimise(owner, *image, *dryRun); };
        },
        "optimize"};
}
