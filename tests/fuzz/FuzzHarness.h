#pragma once
// Shared by the fuzz targets: a scratch folder inside a sandbox folder, and
// the checks that extraction stayed inside the scratch folder.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

inline void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// /dev/shm/tarnlight-fuzz-XXXX/{scratch,inputs}: extraction goes to scratch;
// nothing may appear in the sandbox beside the two folders.
class Sandbox {
public:
    Sandbox() {
        const std::filesystem::path base =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::string pattern = (base / "tarnlight-fuzz-XXXXXX").string();
        Check(mkdtemp(pattern.data()) != nullptr, "mkdtemp");
        root = pattern;
        scratch = root / "scratch";
        inputs = root / "inputs";
        std::filesystem::create_directory(scratch);
        std::filesystem::create_directory(inputs);
    }
    ~Sandbox() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    // Extraction created only plain files, and only inside the scratch folder.
    void CheckAndClear() const {
        for (const auto& entry : std::filesystem::directory_iterator(root))
            Check(entry.path() == scratch || entry.path() == inputs,
                  "file created outside the scratch folder");
        for (const auto& entry : std::filesystem::directory_iterator(scratch)) {
            Check(entry.is_regular_file() && !entry.is_symlink(), "extraction made a non-file");
            Check(entry.path().filename().string().rfind(".tarnlight-", 0) != 0,
                  "a temporary file was left behind");
        }
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(scratch, ec))
            std::filesystem::remove(entry.path(), ec);
    }
    std::filesystem::path root;
    std::filesystem::path scratch; // extraction target
    std::filesystem::path inputs;  // host files to import, images to open
};

} // namespace fuzz
