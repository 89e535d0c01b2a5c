#pragma once
// One function per tarnlight-cli command. Each returns the exit status:
// 0 success, 1 when an operation failed.

#include <string>
#include <vector>

class CCliOwner;

enum ExitStatus { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct LsOptions {
    std::vector<std::string> paths;
    bool json = false;
    bool recursive = false;
};
int RunLs(CCliOwner& owner, const LsOptions& options);

int RunInfo(CCliOwner& owner, const std::string& image);

struct GetOptions {
    std::string image;
    std::string folder;
    std::vector<std::string> patterns;
    bool trim = false;
};
int RunGet(CCliOwner& owner, const GetOptions& options);
int RunPut(CCliOwner& owner, const std::string& image, const std::vector<std::string>& files);
int RunRm(CCliOwner& owner, const std::string& image, const std::vector<std::string>& patterns);
int RunNew(CCliOwner& owner, const std::string& image, bool force);
int RunBootRead(CCliOwner& owner, const std::string& image, const std::string& file);
int RunBootWrite(CCliOwner& owner, const std::string& image, const std::string& file,
                 bool force);

// Opens the image and reads its catalogue, as the window does after an open.
// Returns false (the message already shown) when the image could not be opened
// fully; the image may still be open for reading. With `forChange` an update
// is begun first (see CDiskImage::BeginUpdate); the caller ends it.
bool OpenImage(CCliOwner& owner, const std::string& image, bool forChange = false);
