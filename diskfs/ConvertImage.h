#pragma once
// An image written in another container: read whole, written beside its
// target, read back and compared sector by sector and file by file, and
// given the target's name only when they agree. The input is never changed.

#include "Containers.h"
#include "DiskLibraryTable.h"

#include <cstddef>
#include <string>

struct ConvertRequest {
    std::string input, output;
    // The container to write; null: the one the output's extension asks for.
    const ContainerType* target = nullptr;
    // An existing output is replaced (else refused, never touched).
    bool replace = false;
};

struct ConvertResult {
    std::string inputContainer; // as the listings name it
    const ContainerType* target = nullptr;
    std::size_t tracks = 0, sectors = 0;
    // A double-stepped dump is written as the disk it holds: its cylinders
    // before and after.
    unsigned dumpCylinders = 0, cylinders = 0;
    // What a raw dump loses (its sector ids), when the target is raw.
    std::string rawNote;
};

// Why a conversion failed: the path it concerns and the cause; `usage` when
// the request itself is at fault (no container named or told).
struct ConvertRefusal {
    std::string subject;
    std::string cause;
    bool usage = false;
};

bool ConvertImage(const DiskLibraryTable& table, const ConvertRequest& request,
                  ConvertResult& result, ConvertRefusal& refusal);
