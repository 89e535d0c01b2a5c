#pragma once
// Running a read-only command over a collection of images on every core.

#include <functional>
#include <string>
#include <vector>

class CCliOwner;

// Prints one image's part of the output; `lead` goes before its first line
// on standard output, and `printed` tells whether it wrote any. Returns the
// image's exit status.
using ImageVisitor =
    std::function<int(const std::string& path, const char* lead, bool& printed)>;

// Visits every image, the output in the order of `images` whatever the
// number of workers, `separator` between the standard-output parts of two
// images that printed any. Returns the highest status. `jobs` 0 means one
// worker per core; a handful of images is visited in this process.
int WalkImages(CCliOwner& owner, const std::vector<std::string>& images, unsigned jobs,
               const char* separator, const ImageVisitor& visit);
