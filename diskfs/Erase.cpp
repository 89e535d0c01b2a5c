// Removing, renaming and setting the attributes of a file: the volume's
// changes, each inside an update of the image.

#include "CDiskImage.h"

int CDiskImage::EraseFile(const FileEntry& row) {
    return About(FileId::Of(row), ChangeVolume([&] { return m_Volume.Erase(FileId::Of(row)); }));
}

int CDiskImage::RenameFile(const FileEntry& row, const FileId& to) {
    return About(FileId::Of(row),
                 ChangeVolume([&] { return m_Volume.Rename(FileId::Of(row), to); }));
}

int CDiskImage::SetAttributes(const FileEntry& row, unsigned set, unsigned clear) {
    return About(FileId::Of(row),
                 ChangeVolume([&] { return m_Volume.SetAttributes(FileId::Of(row), set, clear); }));
}
