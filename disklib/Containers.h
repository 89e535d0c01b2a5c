#pragma once
// The containers an image can be written in, and what each can hold.

#include "SectorImage.h"

#include <string>
#include <vector>

struct ContainerType {
    const char* type;   // as the command line names it: "edsk"
    const char* driver; // LibDsk's type; nullptr for the containers written here
    const char* name;   // as the listings name it: "CPCEMU extended"
    const char* extensions = ""; // a file's name ends so: ".raw .img"
};

// A path's extension as a container is told by it: ".dsk", lower-cased.
std::string LowerExtension(const std::string& path);
// Every container, in the order the command line lists them.
const std::vector<ContainerType>& ContainerTypes();
// The container of that type ("edsk"); null for none.
const ContainerType* ContainerNamed(const std::string& type);
// The container a file name's extension asks for (".imd"); .dsk keeps a
// CPCEMU input's kind. Null when the extension does not say.
const ContainerType* ContainerOfName(const std::string& path, const std::string& inputContainer);
// Why the disk cannot be written in the container, naming the track and
// what can hold it; "" when it can.
std::string ContainerProblem(const SectorImage& disk, const ContainerType& target);
// A raw dump keeps no sector ids: read back, its sectors are numbered from
// 1. Whether the disk's first track is numbered so (its files then list the
// same from the dump), and what to say of a dump of one that is not ("" for
// one that is): the id it ran from, and that a reader needs the format;
// also a track whose ids name another cylinder, which the dump forgets.
bool RawDumpKeepsIds(const SectorImage& disk);
std::string RawDumpNote(const SectorImage& disk);
// Writes the disk in the container into `fd`, reads it back through `path`
// and compares: `difference` says how the two differ ("" when they do not).
// False, with the cause, when it could not be written.
bool WriteAndCompare(const SectorImage& disk, const ContainerType& target, int fd,
                     const std::string& path, std::string& difference, std::string& cause);
