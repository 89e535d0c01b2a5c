#pragma once
// The disk map in the forms tarnlight-cli gives it: the text grid (one row
// per track, one cell per sector) and the same grid as a picture, each with
// its legend. One symbol and one colour per file, in directory order.

#include "DiskMap.h"
#include "Screens.h"

#include <string>
#include <vector>

// The symbol of file `index`: A-Z, a-z, 0-9, then again from A.
char MapFileSymbol(std::size_t index);
// The symbol of a sector in the text grid and the picture, and the mark
// after it ('!' cannot be read, '~' weak copies, '*' error status, '\''
// deleted data; ' ' none).
char MapSymbol(const MapSector& sector);
char MapMark(const MapSector& sector);

// Where the picture puts its cells: the top-left pixel of the cell of track
// row `row`, column `column`, and of the swatch of legend line `line` (after
// `rows` track rows). Each cell and swatch is kMapCellWidth x kMapCellHeight
// pixels of its colour, the symbol drawn from one pixel in.
constexpr unsigned kMapMargin = 8, kMapCellWidth = 14, kMapCellHeight = 12, kMapPitchX = 16,
                   kMapPitchY = 14, kMapLabelWidth = 36;
constexpr unsigned kMapGridTop = kMapMargin + kMapPitchY + 4;
struct MapPoint {
    unsigned x, y;
};
constexpr MapPoint MapCellCorner(std::size_t row, std::size_t column) {
    return {kMapMargin + kMapLabelWidth + static_cast<unsigned>(column) * kMapPitchX,
            kMapGridTop + static_cast<unsigned>(row) * kMapPitchY};
}
constexpr MapPoint MapSwatchCorner(std::size_t rows, std::size_t line) {
    return {kMapMargin, kMapGridTop + static_cast<unsigned>(rows) * kMapPitchY + 8 +
                            static_cast<unsigned>(line) * kMapPitchY};
}

// The parts other than files, in the order legends name them, each with
// its symbol and words ('$', "boot sector"); and which of them the map
// shows, and whether any sector has a mark.
struct MapUseLegend {
    SectorUse use;
    char symbol;
    const char* text;
};
extern const MapUseLegend kMapUseLegend[7];
struct MapShown {
    bool uses[8] = {};
    bool marks = false;
};
MapShown ShownOnMap(const DiskMap& map);

// `title` heads the picture; `names` are the files' names as shown.
Picture DrawDiskMap(const DiskMap& map, const std::string& title,
                    const std::vector<std::string>& names);
