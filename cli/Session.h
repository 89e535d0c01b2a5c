#pragma once
// What every command does around the core: finding the images of a
// collection, opening an image (for reading, or locked for a change),
// attempting one operation and reporting its refusal, and ending a change
// with its one save.

#include "CliOwner.h"
#include "Names.h"

#include <string>
#include <vector>

// The images a command walks: folders expanded into the ".dsk" files they
// hold (all levels with `recursive`), each folder's files in sorted order;
// other arguments stay as given. A folder that cannot be read, or that holds
// no image, is reported and makes `failed` true; the others are still found.
struct ImageSet {
    std::vector<std::string> images;
    // Each image's path below the folder it was found in (or its own name),
    // without the extension: where get -r puts its files.
    std::vector<std::string> relative;
    bool anyFolder = false;
    bool failed = false;
};
ImageSet CollectImages(const std::vector<std::string>& paths, bool recursive);
// The catalogue rows that match any of the patterns (all without one);
// bit i of `matched` is set when pattern i matched one.
std::vector<FileEntry> Filtered(const Catalogue& rows, const std::vector<FilePattern>& patterns,
                                std::uint64_t* matched = nullptr);
// Reports each pattern that matched no file ("no file matches PATTERN");
// true when there was one.
bool ReportUnmatched(const std::vector<std::string>& patterns, std::uint64_t matched);
// Runs one operation of the core and says what it told; when it fails,
// reports the reason unless it told an error of its own. Returns whether it
// succeeded.
template <typename Operation>
bool Attempt(CCliOwner& owner, const std::string& subject, Operation&& operation,
             const char* existsHint = nullptr, const char* then = "") {
    owner.SayNotices();
    const bool succeeded = operation(owner.Image());
    const bool told = owner.SayNotices().has_value();
    if (succeeded)
        return true;
    if (!told) {
        const Status& status = owner.Image().LastStatus();
        std::string text = status.Text();
        if (status.reason == FailReason::FileExists && existsHint != nullptr)
            text += existsHint;
        Report(subject, text + then);
    }
    return false;
}

// Opens an image of a walk for reading its files (OpenImage): false when it
// cannot be read at all, its error object printed with `json`. `status`
// says whether it opened whole.
bool OpenForListing(CCliOwner& owner, const std::string& path, bool json, int& status);

// A PNG picture written whole under `output` ("-": standard output), or not
// at all; never over the image. False, reported, when it cannot be written.
bool WritePicture(const std::string& output, const std::vector<std::uint8_t>& png,
                  const FileIdentity& image);

// Ends the command's update, which is one change: when it succeeded (or
// with `keepGoing`, whatever succeeded), every change it made is saved at
// once; when it failed, nothing is saved and the image file stays as it was,
// as it does when the save fails (reported).
// `dropped` is said (naming the image) when a failure drops what succeeded.
int FinishChanges(CCliOwner& owner, int status, bool keepGoing = false,
                  const char* dropped = nullptr);
