// Writes the one-bit title logo: five bold geometric capitals drawn as
// horizontal white bars on black.
//
//   make_logo <logo.bin> [preview.png]
//
// The opening scene moves the logo as three blocks (columns 0-109, 110-379
// and 380-495), so each block holds whole letters: one, three and one.
// Every letter is built from strokes of one weight (stems and arms alike)
// on a common height, then cut into stripes that run across all letters.
#include "one_bit_picture.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int logoWidth = 496;
constexpr int logoHeight = 143;
constexpr int blockEdges[] = {0, 110, 380, logoWidth};

constexpr double capHeight = 118;  // 20 bars of 4 rows with gaps of 2, less the last gap
constexpr int capTop = 12;         // margins of 12 and 13 rows
constexpr int barRows = 4;
constexpr int stripePeriod = 6;
constexpr double stroke = 22;      // one bar period short of four bars, so arms hold whole bars
constexpr int samplesPerAxis = 4;  // supersampled coverage for clean diagonals

// A stroke between two horizontal lines whose left edge runs from (xTop,
// yTop) to (xBottom, yBottom), with the horizontal width that gives the
// stroke weight across its slant.
struct Slant {
    double xTop, yTop, xBottom, yBottom, width;

    bool contains(double x, double y) const
    {
        if (y < std::min(yTop, yBottom) || y > std::max(yTop, yBottom))
            return false;
        const double left = xTop + (xBottom - xTop) * (y - yTop) / (yBottom - yTop);
        return x >= left && x <= left + width;
    }
};

// The horizontal width of a slanted stroke of the common weight whose
// centre line runs dx = span - share x width across dy (the run itself
// depends on the width, so it is found by iteration).
double slantWidth(double span, double share, double dy)
{
    double width = stroke;
    for (int i = 0; i < 20; ++i) {
        const double dx = span - share * width;
        width = stroke * std::sqrt(1 + (dx / dy) * (dx / dy));
    }
    return width;
}

bool inRect(double x, double y, double x0, double y0, double x1, double y1)
{
    return x >= x0 && x <= x1 && y >= y0 && y <= y1;
}

// A vertical stadium (two half circles joined by straight sides).
bool inStadium(double x, double y, double cx, double top, double bottom, double radius)
{
    const double cy = std::clamp(y, top + radius, bottom - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

using Shape = bool (*)(double x, double y, double width);

bool letterN(double x, double y, double w)
{
    const double h = capHeight;
    const double sw = slantWidth(w, 1, h);
    return inRect(x, y, 0, 0, stroke, h) || inRect(x, y, w - stroke, 0, w, h) ||
           Slant{0, 0, w - sw, h, sw}.contains(x, y);
}

bool letterO(double x, double y, double w)
{
    const double r = w / 2;
    return inStadium(x, y, r, 0, capHeight, r) && !inStadium(x, y, r, stroke, capHeight - stroke, r - stroke);
}

bool letterR(double x, double y, double w)
{
    const double h = capHeight;
    const double bowl = 64;  // bowl height: two arms of whole bars and a counter between them
    const double r = bowl / 2;
    const bool outer = y >= 0 && y <= bowl && x >= 0 && (x <= w - r || inStadium(x, y, w - r, 0, bowl, r));
    const bool counter = y > stroke && y < bowl - stroke && x > stroke &&
                         (x <= w - r || inStadium(x, y, w - r, stroke, bowl - stroke, r - stroke));
    const double legTop = bowl - stroke;
    const double legLeft = stroke + 8;
    const double sw = slantWidth(w - legLeft, 1, h - legTop);
    return inRect(x, y, 0, 0, stroke, h) || (outer && !counter) ||
           Slant{legLeft, legTop, w - sw, h, sw}.contains(x, y);
}

bool letterM(double x, double y, double w)
{
    const double h = capHeight;
    const double vertex = 88;  // where the two diagonals meet
    const double sw = slantWidth(w / 2, 0.5, vertex);
    return inRect(x, y, 0, 0, stroke, h) || inRect(x, y, w - stroke, 0, w, h) ||
           Slant{0, 0, w / 2 - sw / 2, vertex, sw}.contains(x, y) ||
           Slant{w - sw, 0, w / 2 - sw / 2, vertex, sw}.contains(x, y);
}

bool letterA(double x, double y, double w)
{
    const double h = capHeight;
    const double sw = slantWidth(w / 2, 0.5, h);
    const Slant left{w / 2 - sw / 2, 0, 0, h, sw};
    const Slant right{w / 2 - sw / 2, 0, w - sw, h, sw};
    const double barTop = 72;  // a whole number of stripe periods from the top
    if (left.contains(x, y) || right.contains(x, y))
        return true;
    if (y < barTop || y > barTop + stroke)
        return false;
    const double outerLeft = left.xTop + (left.xBottom - left.xTop) * y / h;
    const double outerRight = right.xTop + (right.xBottom - right.xTop) * y / h + sw;
    return x >= outerLeft && x <= outerRight;
}

struct Letter {
    Shape shape;
    int width;
};

// Left block, middle block, right block.
const std::vector<std::vector<Letter>> blocks = {
    {{letterN, 90}},
    {{letterO, 76}, {letterR, 72}, {letterM, 90}},
    {{letterA, 108}},
};
constexpr int letterGap = 12;  // between the letters of the middle block

bool isBarRow(int y)
{
    const int row = y - capTop;
    return row >= 0 && row < capHeight && row % stripePeriod < barRows;
}

void drawLetter(OneBitPicture& picture, const Letter& letter, int left)
{
    for (int y = 0; y < picture.height; ++y) {
        if (!isBarRow(y))
            continue;
        for (int x = 0; x < letter.width; ++x) {
            int covered = 0;
            for (int sy = 0; sy < samplesPerAxis; ++sy)
                for (int sx = 0; sx < samplesPerAxis; ++sx)
                    covered += letter.shape(x + (sx + 0.5) / samplesPerAxis,
                                            y - capTop + (sy + 0.5) / samplesPerAxis, letter.width);
            if (covered * 2 >= samplesPerAxis * samplesPerAxis)
                picture.put(left + x, y, true);
        }
    }
}

OneBitPicture buildLogo()
{
    OneBitPicture picture(logoWidth, logoHeight);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        int groupWidth = letterGap * static_cast<int>(blocks[b].size() - 1);
        for (const Letter& letter : blocks[b])
            groupWidth += letter.width;
        int x = blockEdges[b] + (blockEdges[b + 1] - blockEdges[b] - groupWidth) / 2;
        for (const Letter& letter : blocks[b]) {
            drawLetter(picture, letter, x);
            x += letter.width + letterGap;
        }
    }
    return picture;
}

// The logo as the opening scene assembles it: blocks at x = 70, 180 and 459
// of the 640-pixel frame, above the logo itself, both doubled in size.
bool writePreview(const std::string& path, const OneBitPicture& logo)
{
    constexpr int scale = 2;
    constexpr int frameWidth = 640;
    constexpr int placed[] = {70, 180, 459};
    GreyPicture preview(frameWidth * scale, (logo.height * 2 + 8) * scale);
    for (int y = 0; y < logo.height; ++y)
        for (int x = 0; x < logo.width; ++x) {
            const int block = x < blockEdges[1] ? 0 : x < blockEdges[2] ? 1 : 2;
            const int fx = placed[block] + x - blockEdges[block];
            const std::uint8_t grey = logo.get(x, y) ? 255 : (x == blockEdges[1] || x == blockEdges[2]) ? 60 : 0;
            for (int sy = 0; sy < scale; ++sy)
                for (int sx = 0; sx < scale; ++sx) {
                    preview.at(fx * scale + sx, y * scale + sy) = logo.get(x, y) ? 255 : 0;
                    preview.at(x * scale + sx, (y + logo.height + 8) * scale + sy) = grey;
                }
        }
    return writePng(path, preview);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s <logo.bin> [preview.png]\n", argv[0]);
        return 1;
    }
    const OneBitPicture logo = buildLogo();
    if (!writeBytes(argv[1], logo.pack()))
        return 1;
    if (argc == 3 && !writePreview(argv[2], logo))
        return 1;
    return 0;
}
