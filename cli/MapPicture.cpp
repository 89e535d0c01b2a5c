#include "MapPicture.h"

#include "MapFont.h"

#include <algorithm>
#include <array>
#include <cmath>

char MapFileSymbol(std::size_t index) {
    static constexpr char kSymbols[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    return kSymbols[index % (sizeof kSymbols - 1)];
}

const MapUseLegend kMapUseLegend[7] = {
    {SectorUse::Boot, '$', "boot sector"},
    {SectorUse::Reserved, '=', "reserved track"},
    {SectorUse::Directory, '#', "directory"},
    {SectorUse::Free, '.', "free"},
    {SectorUse::Unused, '-', "in no whole block"},
    {SectorUse::Shared, '+', "a block named by two files"},
    {SectorUse::Other, '?', "not the file system's"},
};

char MapSymbol(const MapSector& sector) {
    if (sector.use == SectorUse::File && !sector.files.empty())
        return MapFileSymbol(sector.files.front());
    for (const MapUseLegend& part : kMapUseLegend)
        if (part.use == sector.use)
            return part.symbol;
    return '?';
}

MapShown ShownOnMap(const DiskMap& map) {
    MapShown shown;
    for (const MapTrack& track : map.tracks)
        for (const MapSector& sector : track.sectors) {
            shown.uses[static_cast<unsigned>(sector.use)] = true;
            shown.marks = shown.marks || MapMark(sector) != ' ';
        }
    return shown;
}

char MapMark(const MapSector& sector) {
    if (sector.unreadable)
        return '!';
    if (sector.weak)
        return '~';
    if (sector.errorStatus)
        return '*';
    if (sector.deleted)
        return '\'';
    return ' ';
}

namespace {

using Rgb = std::array<std::uint8_t, 3>;

constexpr unsigned kMargin = kMapMargin, kCellWidth = kMapCellWidth, kCellHeight = kMapCellHeight,
                   kPitchX = kMapPitchX, kLabelWidth = kMapLabelWidth;

Rgb ColourOfUse(SectorUse use) {
    switch (use) {
    case SectorUse::Boot:
        return {150, 30, 30};
    case SectorUse::Reserved:
        return {210, 140, 140};
    case SectorUse::Directory:
        return {40, 50, 150};
    case SectorUse::Shared:
        return {255, 0, 0};
    case SectorUse::Free:
        return {235, 235, 235};
    case SectorUse::Unused:
        return {190, 190, 190};
    case SectorUse::File:
    case SectorUse::Other:
        break;
    }
    return {90, 90, 90};
}

// Files in hues a golden angle apart, so that neighbours in the directory
// differ.
Rgb ColourOfFile(std::size_t index) {
    const double hue = std::fmod(static_cast<double>(index) * 137.508 + 30.0, 360.0) / 60.0;
    const double saturation = index / 26 % 2 == 0 ? 0.55 : 0.35, value = 0.92;
    const double chroma = value * saturation;
    const double x = chroma * (1 - std::fabs(std::fmod(hue, 2.0) - 1));
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(hue)) {
    case 0:
        r = chroma, g = x;
        break;
    case 1:
        r = x, g = chroma;
        break;
    case 2:
        g = chroma, b = x;
        break;
    case 3:
        g = x, b = chroma;
        break;
    case 4:
        r = x, b = chroma;
        break;
    default:
        r = chroma, b = x;
        break;
    }
    const double m = value - chroma;
    const auto level = [m](double v) {
        return static_cast<std::uint8_t>(std::lround((v + m) * 255));
    };
    return {level(r), level(g), level(b)};
}

Rgb ColourOf(const MapSector& sector) {
    if (sector.use == SectorUse::File && !sector.files.empty())
        return ColourOfFile(sector.files.front());
    return ColourOfUse(sector.use);
}

Rgb InkOn(const Rgb& paper) {
    const unsigned light = (paper[0] * 299u + paper[1] * 587u + paper[2] * 114u) / 1000u;
    return light > 140 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
}

class Canvas {
  public:
    Canvas(unsigned width, unsigned height) {
        m_Picture.width = width;
        m_Picture.height = height;
        m_Picture.rgb.assign(std::size_t{width} * height * 3, 255);
    }
    void Fill(unsigned x, unsigned y, unsigned w, unsigned h, const Rgb& colour) {
        for (unsigned row = y; row < y + h && row < m_Picture.height; ++row)
            for (unsigned col = x; col < x + w && col < m_Picture.width; ++col)
                Put(col, row, colour);
    }
    void Text(unsigned x, unsigned y, const std::string& text, const Rgb& ink) {
        for (const char c : text) {
            const char shown = c >= kFirstGlyph && c <= kLastGlyph ? c : '?';
            const std::uint8_t* glyph = kGlyphs[shown - kFirstGlyph];
            for (unsigned row = 0; row < kGlyphHeight; ++row)
                for (unsigned col = 0; col < kGlyphWidth; ++col)
                    if (glyph[row] >> (kGlyphWidth - 1 - col) & 1)
                        Put(x + col, y + row, ink);
            x += kGlyphWidth;
        }
    }
    Picture Take() { return std::move(m_Picture); }

  private:
    void Put(unsigned x, unsigned y, const Rgb& colour) {
        if (x >= m_Picture.width || y >= m_Picture.height)
            return;
        std::uint8_t* pixel = &m_Picture.rgb[(std::size_t{y} * m_Picture.width + x) * 3];
        std::copy(colour.begin(), colour.end(), pixel);
    }
    Picture m_Picture;
};

struct LegendLine {
    Rgb paper;
    char symbol;
    std::string text;
};

std::vector<LegendLine> Legend(const DiskMap& map, const std::vector<std::string>& names) {
    const MapShown shown = ShownOnMap(map);
    std::vector<LegendLine> lines;
    for (const auto& [use, symbol, text] : kMapUseLegend)
        if (shown.uses[static_cast<unsigned>(use)])
            lines.push_back({ColourOfUse(use), symbol, text});
    for (std::size_t i = 0; i < map.files.size(); ++i) {
        const MapFile& file = map.files[i];
        const std::size_t runs = file.fragments.size();
        lines.push_back({ColourOfFile(i), MapFileSymbol(i),
                         (i < names.size() ? names[i] : std::string()) + "  " +
                             std::to_string(file.blocks.size()) +
                             (file.blocks.size() == 1 ? " block, " : " blocks, ") +
                             std::to_string(runs) + (runs == 1 ? " run" : " runs")});
    }
    if (shown.marks)
        lines.push_back({{255, 255, 255},
                         ' ',
                         "marks: ! cannot be read  ~ weak copies  * error status  ' deleted data"});
    return lines;
}

std::string TrackLabel(const MapTrack& track) {
    return std::to_string(track.cylinder) + ":" + std::to_string(track.head);
}

} // namespace

Picture DrawDiskMap(const DiskMap& map, const std::string& title,
                    const std::vector<std::string>& names) {
    std::size_t widest = 0, note = 0;
    for (const MapTrack& track : map.tracks) {
        widest = std::max(widest, track.sectors.size());
        if (track.ownFormat || !track.formatted)
            note = std::max(note, track.description.size());
    }
    const std::vector<LegendLine> legend = Legend(map, names);
    std::size_t legendText = title.size();
    for (const LegendLine& line : legend)
        legendText = std::max(legendText, line.text.size() + 3);
    const unsigned gridWidth =
        kLabelWidth + static_cast<unsigned>(widest) * kPitchX +
        (note != 0 ? kGlyphWidth + static_cast<unsigned>(note) * kGlyphWidth : 0);
    const unsigned width =
        2 * kMargin + std::max(gridWidth, static_cast<unsigned>(legendText) * kGlyphWidth);
    const unsigned height = MapSwatchCorner(map.tracks.size(), legend.size()).y + kMargin;

    Canvas canvas(width, height);
    const Rgb black{0, 0, 0};
    canvas.Text(kMargin, kMargin, title, black);
    for (std::size_t t = 0; t < map.tracks.size(); ++t) {
        const MapTrack& track = map.tracks[t];
        const unsigned y = MapCellCorner(t, 0).y;
        canvas.Text(kMargin, y + 1, TrackLabel(track), black);
        unsigned x = MapCellCorner(t, 0).x;
        for (const MapSector& sector : track.sectors) {
            const Rgb paper = ColourOf(sector);
            canvas.Fill(x, y, kCellWidth, kCellHeight, paper);
            const char symbol = MapSymbol(sector), mark = MapMark(sector);
            const Rgb ink = InkOn(paper);
            canvas.Text(x + 1, y + 1, std::string(1, symbol), ink);
            if (mark != ' ')
                canvas.Text(x + 1 + kGlyphWidth, y + 1, std::string(1, mark), ink);
            x += kPitchX;
        }
        if (track.ownFormat || !track.formatted)
            canvas.Text(kMargin + kLabelWidth + static_cast<unsigned>(widest) * kPitchX +
                            kGlyphWidth,
                        y + 1, track.description, black);
    }
    for (std::size_t i = 0; i < legend.size(); ++i) {
        const LegendLine& line = legend[i];
        const unsigned y = MapSwatchCorner(map.tracks.size(), i).y;
        if (line.symbol != ' ') {
            canvas.Fill(kMargin, y, kCellWidth, kCellHeight, line.paper);
            canvas.Text(kMargin + 1, y + 1, std::string(1, line.symbol), InkOn(line.paper));
        }
        canvas.Text(kMargin + kPitchX + 4, y + 1, line.text, black);
    }
    return canvas.Take();
}
