#pragma once
// get's extraction of an image's files into host folders, shared by one
// image and a collection (-r).

#include "Commands.h"
#include "Session.h"

#include <functional>
#include <string>
#include <vector>

struct ExtractCounts {
    unsigned done = 0;
    unsigned failed = 0;
    // Of those failed: the disk could not be read, or another user's file
    // took the host name.
    unsigned unreadable = 0;
    unsigned clashing = 0;
    // Existing host files left alone (-n).
    unsigned kept = 0;
    // --locoscript: files that are no documents, and documents written
    // only in part (a warning said why).
    unsigned skipped = 0;
    unsigned partial = 0;
};

// Cuts a file's data as get was asked to: to the length its header gives
// (the header taken off), or for a file without one to CP/M 3's byte count
// of the last record.
void CutData(std::vector<std::uint8_t>& data, bool stripHeader, bool exact,
             std::uint8_t lastRecordBytes);

// Extracts the rows into the folders `folderFor` gives (made as needed;
// with --locoscript, the documents among them as text into their groups'
// folders inside those):
// each file written whole before it takes its name, the files named in
// batches after one sync of their data. Errors name the image (`image`, when
// given) and the file.
ExtractCounts ExtractRows(CCliOwner& owner, const std::string& image,
                          const std::vector<FileEntry>& rows, const GetOptions& options,
                          const std::function<std::string(const FileEntry&)>& folderFor);
