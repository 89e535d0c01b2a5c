#pragma once
// How a catalogue is shown to a person, shared by the window and the command
// line: the shown name and type, the size column and the three space figures.

#include "DiskStructs.h"

#include <cstdint>
#include <string>

class CDiskImage;

// Clears every row.
void ClearCatalogue(Catalogue& rows);

// Number of rows the last listing filled.
std::size_t CatalogueLength(const Catalogue& rows);

// The field's bytes with bit 7 cleared, padding kept.
std::string ShownField(const std::uint8_t* bytes, std::size_t width);
// As ShownField, with trailing spaces removed.
std::string TrimmedField(const std::uint8_t* bytes, std::size_t width);
// "NAME.TYP", or "NAME" when the type is blank; padding removed.
std::string ShownFileName(const FileEntry& row);

// "%lu KB" from 1024 bytes up, else "%lu Bytes".
std::string FormatSize(std::uint32_t bytes);

struct SpaceFigures {
    std::string used;
    std::string maximum;
    std::string free;
};
// Each figure is cut to whole KB. The free space is what can really be
// allocated (see CDiskImage::GetFreeSpace), not capacity less use.
SpaceFigures ComputeSpaceFigures(std::uint32_t used, std::uint32_t capacity, std::uint32_t free);
