#pragma once
// One function per tarnlight-cli command. Each returns the exit status:
// 0 success, 1 when an operation failed (or, for check, damage was found).

#include "BasicText.h"
#include "CDiskImage.h"
#include "FileHeader.h"
#include "Verb.h"

#include <optional>
#include <span>
#include <string>
#include <vector>

class CCliOwner;

struct LsOptions {
    std::vector<std::string> paths;
    std::vector<std::string> patterns;
    bool json = false;
    bool recursive = false;
    bool longFormat = false;
    unsigned jobs = 0; // 0: one worker per core
};
int RunLs(CCliOwner& owner, const LsOptions& options);

struct FindOptions {
    std::string pattern;
    std::vector<std::string> paths;
    bool json = false;
    bool recursive = false;
    unsigned jobs = 0;
};
int RunFind(CCliOwner& owner, const FindOptions& options);

struct CheckOptions {
    std::vector<std::string> paths;
    bool json = false;
    bool recursive = false;
    unsigned jobs = 0;
};
int RunCheck(CCliOwner& owner, const CheckOptions& options);

int RunInfo(CCliOwner& owner, const std::string& image, bool json);

struct MapOptions {
    std::string image;
    std::string png; // "-": standard output
    bool json = false;
};
int RunMap(CCliOwner& owner, const MapOptions& options);
int RunOptimise(CCliOwner& owner, const std::string& image, bool dryRun);

struct GetOptions {
    std::string image;
    std::string folder; // "-": standard output; with -r the output folder
    std::vector<std::string> paths; // -r: images and folders
    std::vector<std::string> patterns;
    bool recursive = false;
    bool byUser = false;
    unsigned jobs = 0;
    bool padded = false;
    bool noClobber = false;
    bool stripHeader = false;
    bool exact = false;
    // "text" or "markdown": only LocoScript documents, converted, each into
    // the folder of its group.
    std::string locoscript;
};
int RunGet(CCliOwner& owner, const GetOptions& options);
// get -r: every image of a collection into a folder of its own.
int RunGetRecursive(CCliOwner& owner, const GetOptions& options);

struct PutOptions {
    std::string image;
    std::vector<std::string> files; // "-": standard input
    int user = -1;                  // -1: not given
    std::string as;
    bool replace = false;
    bool keepName = false;
    bool force = false; // --replace a read-only file
    std::optional<HeaderRequest> header;
    bool tokenize = false; // the files are BASIC text, for a basic header
    std::optional<LabelNumbering> labels; // +3 text without line numbers
    bool keepGoing = false; // store what can be when a file cannot be
};
int RunPut(CCliOwner& owner, const PutOptions& options);
int RunRm(CCliOwner& owner, const std::string& image, const std::vector<std::string>& patterns,
          bool force, bool keepGoing);
int RunMv(CCliOwner& owner, const std::string& image, const std::string& from,
          const std::string& to, bool force);
// Refuses (reports, false) to change read-only files without `force`.
bool WritableOrForced(const std::string& image, const std::vector<FileEntry>& rows, bool force);
int RunAttr(CCliOwner& owner, const std::string& image, const std::vector<std::string>& patterns,
            unsigned set, unsigned clear, bool keepGoing);
int RunNew(CCliOwner& owner, const std::string& image, const DiskFormat& format, bool force);
int RunFormats(bool json);
int RunBootRead(CCliOwner& owner, const std::string& image, const std::string& file);
int RunBootWrite(CCliOwner& owner, const std::string& image, const std::string& file,
                 bool force, BootMachine bootable = BootMachine::None);

// Opens the image and reads its catalogue, as the window does after an open.
// Returns false (the message already shown) when the image could not be opened
// fully; the image may still be open for reading. With `forChange` the
// image is loaded for a change (see CDiskImage::Transaction); FinishChanges
// commits it.
bool OpenImage(CCliOwner& owner, const std::string& image, bool forChange = false);

// One file of an image, read whole, with the header it starts with.
struct NamedFile {
    FileEntry row{};
    std::vector<std::uint8_t> data;
    std::optional<FileHeader> header;
};
// Opens the image and reads the one file NAME ([USER:]NAME, wildcards
// allowed if they match one file); false, reported, otherwise.
bool ReadNamedFile(CCliOwner& owner, const std::string& image, const std::string& name,
                   NamedFile& file);
// The data after the file's header, at the length the header gives; the
// whole file when it has none.
std::span<const std::uint8_t> DataAfterHeader(const NamedFile& file);

struct CatOptions {
    enum class View { Chosen, Basic, LocoScript, Text, Hex, Raw };
    std::string image;
    std::string name;
    View view = View::Chosen;
    bool stripHeader = false;
    bool escapes = false; // a +3 listing the tokenizer reads back to the same bytes
    bool markdown = false; // a LocoScript document as Markdown
};
int RunCat(CCliOwner& owner, const CatOptions& options);

struct TapeInOptions {
    std::string image;
    std::vector<std::string> tapes;
    int user = 0;
    bool headerless = false; // blocks without a header stored as BLOCKnn.BIN
    bool keepGoing = false;  // store what can be when a file cannot be
    bool force = false;      // store files whose blocks fail their checksums
};
int RunTapeIn(CCliOwner& owner, const TapeInOptions& options);

struct TapeOutOptions {
    std::string image;
    std::string tape; // .tap or .tzx
    std::vector<std::string> patterns;
};
int RunTapeOut(CCliOwner& owner, const TapeOutOptions& options);

struct ConvertOptions {
    std::string input, output;
    std::string to; // empty: from the output's extension
    bool force = false;
};
int RunConvert(CCliOwner& owner, const ConvertOptions& options);

struct ScreenOptions {
    std::string image;
    std::string name;
    std::string output; // "-": standard output
    unsigned mode = 1;  // CPC screens
    bool modeGiven = false;
    std::string palette; // CPC screens: a palette file, "auto", or "" (power-on inks)
    unsigned scale = 1;
};
int RunScreen(CCliOwner& owner, const ScreenOptions& options);
