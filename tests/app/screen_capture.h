// Pixels of the screen as the user sees them, for checks on colours and for PNG artefacts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace apptest {

class ScreenImage {
public:
    // Copies `area` (screen coordinates) from the screen. False when nothing could be copied.
    bool capture(const RECT& area);
    int width() const { return columns; }
    int height() const { return rows; }
    // COLORREF of a pixel (red in the low byte).
    COLORREF at(int column, int row) const;
    // Pixels of exactly this colour inside the rectangle (image coordinates, right/bottom excluded).
    int count(COLORREF colour, const RECT& part) const;
    int count(COLORREF colour) const;
    bool sameAs(const ScreenImage& other) const
    {
        return columns == other.columns && rows == other.rows && pixels == other.pixels;
    }
    // Writes an uncompressed PNG; false on a write failure.
    bool savePng(const std::string& path) const;

private:
    int columns = 0;
    int rows = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB, top row first
};

// The folder for screenshots: env PELLWICK_ARTIFACTS, else the build tree's artifacts folder;
// created when missing. Ends with a backslash.
std::string artifactsFolder();

// Keeps `area` of the screen (screen coordinates), with a little of what surrounds it, as a
// picture for the documentation: artifactsFolder()\screenshots\<name>.png. Taken once the
// screen has settled there: two copies in a row alike and not all black.
// scripts/update-screenshots.sh copies them into docs/screenshots.
bool savePicture(const std::string& name, const RECT& area);

} // namespace apptest
