#pragma once
// Host files for the file operations. A written file is built unnamed in the
// target's folder and takes the target's name only when it is complete and
// synced (see SafeFile.h), so a failed or interrupted copy leaves nothing
// behind and never touches an existing file of that name.

#include "SafeFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CHostFileWriter {
public:
    CHostFileWriter() = default;
    ~CHostFileWriter();
    CHostFileWriter(const CHostFileWriter&) = delete;
    CHostFileWriter& operator=(const CHostFileWriter&) = delete;

    bool Open(const std::string& target);
    // Buffered: the data reaches the file in large writes.
    bool Write(const std::uint8_t* data, std::size_t size);
    // Gives the file the target's name, replacing any file there (a file
    // replaced passes on its permission bits) or, without `replace`, never
    // replacing one: then `existed` tells why it failed.
    bool Commit(bool replace = true, bool* existed = nullptr);
    // Removes the temporary file; nothing of the copy remains.
    void Abandon();

private:
    bool Flush();

    CPendingFile m_File;
    std::string m_strTarget;
    std::vector<std::uint8_t> m_Buffer;
};

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
