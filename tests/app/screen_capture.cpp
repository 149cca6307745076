#include "tests/app/screen_capture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/support/dovecot_fixture.h"
#include "tests/support/poll_until.h"

namespace apptest {

namespace {

uint32_t crcTable[256];

void buildCrcTable()
{
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        crcTable[n] = c;
    }
}

uint32_t crc32(const unsigned char* data, size_t length, uint32_t crc = 0xFFFFFFFFu)
{
    for (size_t i = 0; i < length; ++i)
        crc = crcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

void appendBigEndian(std::vector<unsigned char>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(value >> shift));
}

void appendChunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data)
{
    appendBigEndian(out, static_cast<uint32_t>(data.size()));
    std::vector<unsigned char> typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    appendBigEndian(out, crc32(typed.data(), typed.size()) ^ 0xFFFFFFFFu);
}

// zlib stream of stored (uncompressed) deflate blocks.
std::vector<unsigned char> storedZlib(const std::vector<unsigned char>& raw)
{
    const size_t maxBlock = 65535;
    std::vector<unsigned char> out = {0x78, 0x01};
    size_t offset = 0;
    do {
        size_t length = raw.size() - offset < maxBlock ? raw.size() - offset : maxBlock;
        bool last = offset + length == raw.size();
        out.push_back(last ? 1 : 0);
        out.push_back(static_cast<unsigned char>(length & 0xFF));
        out.push_back(static_cast<unsigned char>(length >> 8));
        out.push_back(static_cast<unsigned char>(~length & 0xFF));
        out.push_back(static_cast<unsigned char>((~length >> 8) & 0xFF));
        out.insert(out.end(), raw.begin() + static_cast<long>(offset),
                   raw.begin() + static_cast<long>(offset + length));
        offset += length;
    } while (offset < raw.size());
    uint32_t a = 1, b = 0;
    for (unsigned char byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    appendBigEndian(out, (b << 16) | a);
    return out;
}

} // namespace

bool ScreenImage::capture(const RECT& area)
{
    columns = area.right - area.left;
    rows = area.bottom - area.top;
    pixels.clear();
    if (columns <= 0 || rows <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = columns;
    info.bmiHeader.biHeight = -rows; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap && bits) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, columns, rows, screen, area.left, area.top, SRCCOPY) != FALSE;
        GdiFlush();
        const uint32_t* source = static_cast<const uint32_t*>(bits);
        pixels.assign(source, source + static_cast<size_t>(columns) * rows);
        SelectObject(memory, previous);
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return copied;
}

COLORREF ScreenImage::at(int column, int row) const
{
    uint32_t value = pixels[static_cast<size_t>(row) * columns + column];
    return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

int ScreenImage::count(COLORREF colour, const RECT& part) const
{
    int found = 0;
    for (int row = part.top; row < part.bottom && row < rows; ++row) {
        for (int column = part.left; column < part.right && column < columns; ++column) {
            if (row >= 0 && column >= 0 && at(column, row) == colour)
                ++found;
        }
    }
    return found;
}

int ScreenImage::count(COLORREF colour) const
{
    RECT whole = {0, 0, columns, rows};
    return count(colour, whole);
}

bool ScreenImage::savePng(const std::string& path) const
{
    if (crcTable[1] == 0)
        buildCrcTable();
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(rows) * (1 + 3 * columns));
    for (int row = 0; row < rows; ++row) {
        raw.push_back(0); // filter: none
        for (int column = 0; column < columns; ++column) {
            COLORREF pixel = at(column, row);
            raw.push_back(GetRValue(pixel));
            raw.push_back(GetGValue(pixel));
            raw.push_back(GetBValue(pixel));
        }
    }
    std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<unsigned char> header;
    appendBigEndian(header, static_cast<uint32_t>(columns));
    appendBigEndian(header, static_cast<uint32_t>(rows));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", storedZlib(raw));
    appendChunk(png, "IEND", {});
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool written = fwrite(png.data(), 1, png.size(), file) == png.size();
    return fclose(file) == 0 && written;
}

std::string artifactsFolder()
{
    const char* chosen = getenv("PELLWICK_ARTIFACTS");
    std::string folder = chosen && *chosen ? testbench::unixPathForPlatform(chosen)
                                           : testbench::unixPathForPlatform(PELLWICK_ARTIFACTS_DIR);
    CreateDirectoryA(folder.c_str(), nullptr);
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

bool savePicture(const std::string& name, const RECT& area)
{
    const int margin = 12;
    RECT framed = area;
    InflateRect(&framed, margin, margin);
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&framed, &framed, &screen);
    std::string folder = artifactsFolder() + "screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    // Under Wine a copy of the screen sometimes comes back all black while a dialog is open,
    // and the display may still be catching up with what was just painted: nothing tells when
    // it has, so copies are taken until two in a row agree. Should the screen never settle,
    // the last copy that is not all black is kept.
    const int settleMs = 5000;
    ScreenImage kept; // the last copy that was not all black
    bool shown = false;
    testbench::pollUntil(
        [&] {
            ScreenImage image;
            if (!image.capture(framed) || image.count(RGB(0, 0, 0)) == image.width() * image.height())
                return false;
            bool settled = shown && image.sameAs(kept);
            kept = image;
            shown = true;
            return settled;
        },
        settleMs);
    return shown && kept.savePng(folder + "\\" + name + ".png");
}

} // namespace apptest
