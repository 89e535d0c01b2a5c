#pragma once
// Helpers for tests that use real files and real programs: a scratch folder,
// running a command, and an owner that loads the real LibDsk.

#include "CDiskImage.h"
#include "DiskLibrary.h"
#include "IDiskOwner.h"

#include <filesystem>
#include <sys/types.h>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_Path; }
    std::string operator/(const std::string& name) const { return (m_Path / name).string(); }

private:
    std::filesystem::path m_Path;
};

struct CommandResult {
    int status = -1;
    std::string out;
};
// Runs a shell command; standard output is captured, standard error too when
// `withStderr` is set.
CommandResult RunCommand(const std::string& command, bool withStderr = false);
bool HaveProgram(const std::string& name);
std::string Quote(const std::string& text);

void WriteFile(const std::string& path, const std::vector<unsigned char>& data);
std::vector<unsigned char> ReadFile(const std::string& path);
// Deterministic bytes that differ per seed.
std::vector<unsigned char> PatternBytes(std::size_t size, unsigned seed);

// Waits for a process: its exit status, -1 when it was killed.
int WaitFor(pid_t pid);
// Starts `program` with these arguments, output discarded.
pid_t SpawnQuiet(const std::string& program, const std::vector<std::string>& args);

#ifdef TARNLIGHT_CLI
// A command line running the tarnlight-cli under test with these arguments.
inline std::string Cli(const std::string& args) { return Quote(TARNLIGHT_CLI) + " " + args; }
// The tarnlight-cli under test started with these arguments, output discarded.
inline pid_t SpawnCli(const std::vector<std::string>& args) { return SpawnQuiet(TARNLIGHT_CLI, args); }
#endif

// Where the real-world images live; empty when they are not there.
std::string CorpusDir();

class LibDskOwner : public IDiskOwner {
public:
    LibDskOwner() { m_Library.Load(); }
    bool Loaded() const { return m_Library.IsLoaded(); }
    const DiskLibraryTable& LibraryTable() const override { return m_Library.Table(); }

  private:
    CDiskLibrary m_Library;
};
