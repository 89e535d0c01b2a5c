#pragma once
// Running a read-only command over a collection of images on every core.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CCliOwner;

// What the visit of one image adds to the walk's totals; the walk sums
// them over every image, wherever it was visited.
struct WalkTally {
    // Bit i: pattern i matched a file (patterns past the 64th count as matched).
    std::uint64_t patternsMatched = 0;
    std::uint32_t filesDone = 0;
    std::uint32_t filesFailed = 0;
    std::uint32_t filesUnreadable = 0;
    std::uint32_t filesClashing = 0;
    std::uint32_t filesKept = 0;
    std::uint32_t filesSkipped = 0; // get --locoscript: no documents
    std::uint32_t filesPartial = 0; // get --locoscript: documents written in part
    std::uint32_t imagesUnread = 0;

    void Add(const WalkTally& other) {
        patternsMatched |= other.patternsMatched;
        filesDone += other.filesDone;
        filesFailed += other.filesFailed;
        filesUnreadable += other.filesUnreadable;
        filesClashing += other.filesClashing;
        filesKept += other.filesKept;
        filesSkipped += other.filesSkipped;
        filesPartial += other.filesPartial;
        imagesUnread += other.imagesUnread;
    }
};

// Prints one image's part of the output; `lead` goes before its first line
// on standard output, and `printed` tells whether it wrote any. Returns the
// image's exit status.
using ImageVisitor = std::function<int(const std::string& path, const char* lead, bool& printed,
                                       WalkTally& tally)>;

// Visits every image, the output in the order of `images` whatever the
// number of workers, `separator` between the standard-output parts of two
// images that printed any. Returns the highest status; `totals`, when
// given, receives the sum of the tallies. `jobs` 0 means one worker per
// core. Every image of a walk is visited in a worker process, never in this
// one: an image on which a worker dies (the disk library failing on it) is
// reported as such and the walk goes on with the others.
int WalkImages(const std::vector<std::string>& images, unsigned jobs, const char* separator,
               const ImageVisitor& visit, WalkTally* totals = nullptr);

// The message for an image whose worker died.
constexpr const char* kWorkerDied = "the disk library failed on this image";
