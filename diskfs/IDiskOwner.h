#pragma once
// What the file system needs from whoever owns it: the library entry points
// and a way to show a message to the user. The window, the command line and
// the tests each provide one.

#include "DiskLibraryTable.h"

#include <string>

// Warning: something is wrong with the image, but the command goes on;
// Information: a notice, nothing failed.
enum class MessageIcon { None, Error, Warning, Information };

class IDiskOwner {
public:
    virtual ~IDiskOwner() = default;
    virtual const DiskLibraryTable& LibraryTable() const = 0;
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             MessageIcon icon) = 0;
};
