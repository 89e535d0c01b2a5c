#pragma once
// Host files for the file operations. A written file is built unnamed in the
// target's folder and takes the target's name only when it is complete and
// synced (see SafeFile.h), so a failed or interrupted copy leaves nothing
// behind and never touches an existing file of that name.

#include "SafeFile.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

// What a named host output is, by the one rule every command that writes a
// host file follows. A name that holds nothing yet, or a regular file, takes
// a new file written whole beside it (File). A FIFO or a character device is
// written to as it is, as `cat > OUT` would, and never replaced (Stream). A
// folder, a block device or a socket is refused, and so is `source`, the
// image the command reads (by identity: a link to it is refused too).
enum class HostOutput { File, Stream };
std::optional<HostOutput> CheckHostOutput(const std::string& path, const FileIdentity* source,
                                          std::string& cause);

// Writes `bytes` under `path` by that rule: whole or not at all, replacing a
// regular file. False with `cause`; `warning` says what a write that took
// place could not do (sync the folder).
bool WriteHostFile(const std::string& path, std::span<const std::uint8_t> bytes,
                   const FileIdentity* source, std::string& cause, std::string& warning);

// What became of one file that CommitTogether named.
struct CommitOutcome {
    bool named = false;
    bool existed = false;
    std::string cause;
};

class CHostFileWriter {
public:
    CHostFileWriter() = default;
    ~CHostFileWriter();
    CHostFileWriter(const CHostFileWriter&) = delete;
    CHostFileWriter& operator=(const CHostFileWriter&) = delete;

    // Opens a new file for `target`, which CheckHostOutput must allow
    // (`source` is the image being read); Cause() says why not.
    bool Open(const std::string& target, const FileIdentity* source = nullptr);
    const std::string& Cause() const { return m_strCause; }
    // Buffered: the data reaches the file in large writes.
    bool Write(const std::uint8_t* data, std::size_t size);
    // Gives the file the target's name, replacing any file there (a file
    // replaced passes on its permission bits) or, without `replace`, never
    // replacing one: then `existed` tells why it failed.
    bool Commit(bool replace = true, bool* existed = nullptr);
    // All data written out (no name yet): the file waits for CommitTogether.
    bool Complete();
    // What a Commit that took place could not do (sync the folder).
    const std::string& Warning() const { return m_File.Warning(); }
    // The modification time the file will have.
    void SetModified(std::time_t moment) { m_Modified = moment; }
    const std::string& Target() const { return m_strTarget; }
    // Removes the temporary file; nothing of the copy remains.
    void Abandon();

private:
    friend std::vector<CommitOutcome> CommitTogether(std::vector<CHostFileWriter*>& files, bool replace);
    bool Flush();
    bool IsOpen() const;
    // A FIFO or device target: the data, kept whole, is written to it when
    // the file would take its name.
    bool WriteStream(bool replace, bool& existed, std::string& cause);

    CPendingFile m_File;
    bool m_bStream = false;
    std::string m_strCause;
    std::string m_strTarget;
    std::vector<std::uint8_t> m_Buffer;
    std::optional<std::time_t> m_Modified;
};

// Names files that are complete (CHostFileWriter::Complete), their data
// synced together first (one sync of the file system rather than one per
// file: the data is as safe before its name as with Commit, at a fraction
// of the cost) and each folder once afterwards. For each file: whether it
// took its name, and if not, whether a file of that name existed (without
// `replace` it is left alone) and the cause.
std::vector<CommitOutcome> CommitTogether(std::vector<CHostFileWriter*>& files, bool replace);

class CHostFileReader {
public:
    CHostFileReader() = default;
    ~CHostFileReader();
    CHostFileReader(const CHostFileReader&) = delete;
    CHostFileReader& operator=(const CHostFileReader&) = delete;

    // Opens a regular file for reading; folders and devices are refused,
    // and Cause() says why.
    bool Open(const std::string& path);
    const std::string& Cause() const { return m_strCause; }
    std::uint64_t Size() const { return m_Size; }
    // Reads until `size` bytes or the end of the file; -1 on a read error.
    long Read(std::uint8_t* data, std::size_t size);

private:
    int m_Fd = -1;
    std::uint64_t m_Size = 0;
    std::string m_strCause;
};

// The most data read from a host file to store on a disk: more than CP/M's
// largest disk holds.
constexpr std::uint32_t kMaxDiskFileBytes = 32 * 1024 * 1024;

// Reads a host file whole, or standard input for "-"; false with the cause
// when it cannot be read, or (`tooLong` the cause) holds more than `limit`
// bytes, refused before it is read where the size is known.
bool ReadHostFile(const std::string& path, std::uint64_t limit, const std::string& tooLong,
                  std::vector<std::uint8_t>& data, std::string& cause);
