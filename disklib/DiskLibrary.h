#pragma once
// Loads the LibDsk shared object at run time and resolves its entry points by
// name into a DiskLibraryTable. Nothing links against LibDsk directly, so a
// machine without it still starts and reports the missing library.

#include "DiskLibraryTable.h"
#include "SectorImage.h"

#include <optional>
#include <string>
#include <vector>

class CDiskLibrary {
public:
    static constexpr const char* kMissingMessage = "Cannot find libdsk.so.4!";

    CDiskLibrary() = default;
    ~CDiskLibrary();
    CDiskLibrary(const CDiskLibrary&) = delete;
    CDiskLibrary& operator=(const CDiskLibrary&) = delete;

    static std::vector<std::string> DefaultNames() { return {"libdsk.so.4", "libdsk.so"}; }

    // Tries each file name in turn; does nothing when already loaded.
    bool Load(const std::vector<std::string>& names = DefaultNames());
    void Unload();
    bool IsLoaded() const { return m_hModule != nullptr; }
    const DiskLibraryTable& Table() const { return m_Table; }

private:
    void* m_hModule = nullptr;
    DiskLibraryTable m_Table;
};

// Any image Tarnlight opens, as its sectors: CPCEMU containers read here
// (after the container check), raw dumps and other containers by LibDsk in a
// child process. `container` names what it came in. Needs a loaded library.
std::optional<SectorImage> ReadImageSectors(const std::string& path, std::string& container,
                                            std::string& cause);
// Writes the disk into the open file `fd` as LibDsk's type `driver` ("imd",
// "ldbs", "qm", "tele"), LibDsk working in a child process.
bool WriteImageWithLibrary(const SectorImage& disk, const char* driver, int fd, std::string& cause);
