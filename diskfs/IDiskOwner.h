#pragma once
// What the file system needs from whoever owns it: the library's entry
// points. The window, the command line and the tests each provide one; what
// an operation tells the user comes back as notices (FailReason.h).

#include "DiskLibraryTable.h"
#include "FailReason.h"

class IDiskOwner {
public:
    virtual ~IDiskOwner() = default;
    virtual const DiskLibraryTable& LibraryTable() const = 0;
};
