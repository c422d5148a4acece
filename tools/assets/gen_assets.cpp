// Draws Kestrin's tree bitmaps and application icon.
//
//   gen_assets <outdir>
//
// The output depends on nothing but this file and zlib at a fixed compression level (no clock, no
// locale), so the copies committed in app/res can be compared byte for byte with a fresh run.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

namespace
{

struct Rgb
{
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

struct Pt
{
    double x, y;
};

struct Ink
{
    char key;
    Rgb rgb;
};

struct BladeInks
{
    Rgb fill, curl, edge;
};

// What every picture is made of.
namespace art
{
// Tick boxes: a sunken square on pixels 2..13, black top and left, light grey bottom and right.
constexpr int kBoxFirst = 2;
constexpr int kBoxLast = 13;
constexpr Rgb kBoxDark{0, 0, 0};
constexpr Rgb kBoxLight{192, 192, 192};

// The tick, over the box interior (pixels 3..12): 'd' dark green, 'b' bright green.
constexpr std::array<Ink, 2> kTickInks{{{'d', {0, 128, 0}}, {'b', {0, 255, 0}}}};
// clang-format off
constexpr std::array<std::string_view, 10> kTick{
    "..........",
    "........b.",
    ".......bd.",
    "......bdd.",
    ".b...bdd..",
    ".db.bdd...",
    ".ddbdd....",
    "..ddd.....",
    "...d......",
    "..........",
};
// clang-format on

// Folders: 'k' outline, 'h' highlight, 'y' body, 's' shade, 't' back panel, 'i' inside.
constexpr std::array<Ink, 6> kFolderInks{{
    {'k', {122, 84, 12}},
    {'h', {255, 242, 170}},
    {'y', {250, 210, 80}},
    {'s', {226, 168, 40}},
    {'t', {236, 184, 56}},
    {'i', {200, 140, 28}},
}};
// clang-format off
constexpr std::array<std::string_view, 16> kFolderClosed{
    "................",
    "................",
    ".kkkkk..........",
    "khhhhhk.........",
    "khtttthkkkkkkkk.",
    "khtttttttttttttk",
    "kkkkkkkkkkkkkkkk",
    "khhhhhhhhhhhhhsk",
    "khyyyyyyyyyyyysk",
    "khyyyyyyyyyyyysk",
    "khyyyyyyyyyyyysk",
    "khyyyyyyyyyyyysk",
    "khyyyyyyyyyyyysk",
    "kssssssssssssssk",
    ".kkkkkkkkkkkkkk.",
    "................",
};
constexpr std::array<std::string_view, 16> kFolderOpen{
    "................",
    "................",
    ".kkkkk..........",
    "khhhhhk.........",
    "khtttthkkkkkkk..",
    "khiiiiiiiiiiiik.",
    "khiiiiiiiiiiiik.",
    "khikkkkkkkkkkkkk",
    "kiikhhhhhhhhhhsk",
    "kikhyyyyyyyyysk.",
    "kikhyyyyyyyyysk.",
    "kkhyyyyyyyyysk..",
    "kkhyyyyyyyyysk..",
    "ksssssssssssk...",
    ".kkkkkkkkkkk....",
    "................",
};
// clang-format on

// Pinwheel, in units of the wheel radius with y pointing down. Described is the top-left blade of a
// paper windmill: the flat half runs from the centre up the cut to the tip and along the outer edge to
// the fold; past the fold the paper curls back round to the centre. The other blades are quarter turns
// of it, clockwise.
constexpr Pt kBladeTip{0.0, -1.0};
constexpr Pt kBladeFold{-0.5, -0.5};
constexpr std::array<Pt, 2> kBladeCurl{{{-0.85, -0.15}, {-0.55, 0.12}}};
constexpr std::array<BladeInks, 4> kBlades{{
    {{220, 30, 30}, {242, 92, 82}, {120, 10, 10}},    // red, top left
    {{30, 170, 60}, {96, 206, 112}, {10, 86, 28}},    // green, top right
    {{30, 80, 220}, {92, 136, 240}, {12, 36, 120}},   // blue, bottom right
    {{245, 200, 20}, {252, 226, 110}, {150, 110, 0}}, // yellow, bottom left
}};
constexpr Rgb kHubFill{236, 236, 236};
constexpr Rgb kHubEdge{70, 70, 70};
constexpr double kHubRadius = 0.15;
constexpr double kWheelRadius = 0.47;   // of the frame width
constexpr double kEdgeWidth = 1.0 / 36; // of the frame width, but never thinner than kMinEdge pixels
constexpr double kMinEdge = 0.85;
constexpr int kCurveSteps = 32;
constexpr int kSupersample = 8;
constexpr std::array<int, 6> kIconSizes{16, 20, 24, 32, 48, 256};
} // namespace art

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, unsigned v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xff));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xff));
}

void put32(Bytes& out, std::uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// The standard 16-colour palette, in its usual order.
// clang-format off
constexpr std::array<Rgb, 16> kVgaPalette{{
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
    {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
    {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
}};
// clang-format on
constexpr std::array<Rgb, 2> kMaskPalette{{{0, 0, 0}, {255, 255, 255}}};

// The tree's pictures are drawn at each of these sizes; the program takes the one for its DPI.
constexpr std::array<int, 6> kPictureSizes{16, 20, 24, 32, 40, 48};

// A square picture with an on/off mask; transparent pixels stay black so that the image list's
// AND-then-OR drawing leaves the background untouched.
struct Cell
{
    explicit Cell(int side)
        : size(side), rgb(static_cast<std::size_t>(side * side)),
          opaque(static_cast<std::size_t>(side * side))
    {
    }

    int size;
    std::vector<Rgb> rgb;
    std::vector<bool> opaque;

    Rgb at(int x, int y) const { return rgb[static_cast<std::size_t>(y * size + x)]; }
    bool isOpaque(int x, int y) const { return opaque[static_cast<std::size_t>(y * size + x)]; }
    void set(int x, int y, Rgb c)
    {
        if (x < 0 || y < 0 || x >= size || y >= size) throw std::logic_error("pixel outside the cell");
        rgb[static_cast<std::size_t>(y * size + x)] = c;
        opaque[static_cast<std::size_t>(y * size + x)] = true;
    }
};

template <std::size_t N> Rgb inkFor(const std::array<Ink, N>& inks, char key)
{
    for (const Ink& ink : inks)
        if (ink.key == key) return ink.rgb;
    throw std::logic_error(std::string("no ink for '") + key + "'");
}

template <std::size_t N, std::size_t R>
void paint(Cell& cell, int left, int top, const std::array<Ink, N>& inks,
           const std::array<std::string_view, R>& rows)
{
    for (int y = 0; y < static_cast<int>(R); ++y)
        for (int x = 0; x < static_cast<int>(rows[y].size()); ++x)
            if (rows[y][x] != '.') cell.set(left + x, top + y, inkFor(inks, rows[y][x]));
}

// Where the box sits in a cell of that size: on pixels 2..13 at 16 px, the same margin scaled elsewhere.
int boxFirst(int size)
{
    return (2 * size + 8) / 16;
}

// The tick drawn for a larger box: a stroke along two legs, dark green, with a bright green rim on its
// upper-left side as the 16 px tick has. In units of the box interior, y down.
void drawTick(Cell& cell, int first, int last)
{
    const double left = first + 1, span = last - first - 1; // the interior
    const std::array<Pt, 3> legs{{{0.12, 0.52}, {0.36, 0.80}, {0.86, 0.16}}};
    const double half = 0.11 * span;
    auto distance = [&](double x, double y)
    {
        double best = 1e9;
        for (std::size_t i = 0; i + 1 < legs.size(); ++i)
        {
            const Pt a{left + legs[i].x * span, left + legs[i].y * span};
            const Pt b{left + legs[i + 1].x * span, left + legs[i + 1].y * span};
            const double dx = b.x - a.x, dy = b.y - a.y;
            const double t = std::clamp(((x - a.x) * dx + (y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
            const double ex = x - (a.x + t * dx), ey = y - (a.y + t * dy);
            best = std::min(best, ex * ex + ey * ey);
        }
        return best;
    };
    const int inner0 = first + 1, inner1 = last - 1;
    auto dark = [&](int x, int y)
    {
        return x >= inner0 && x <= inner1 && y >= inner0 && y <= inner1 &&
               distance(x + 0.5, y + 0.5) <= half * half;
    };
    for (int y = inner0; y <= inner1; ++y)
        for (int x = inner0; x <= inner1; ++x)
        {
            if (dark(x, y))
                cell.set(x, y, inkFor(art::kTickInks, 'd'));
            else if (dark(x + 1, y + 1) || dark(x, y + 1))
                cell.set(x, y, inkFor(art::kTickInks, 'b'));
        }
}

Cell tickBox(int size, bool ticked)
{
    Cell cell(size);
    const int first = boxFirst(size), last = size - 1 - first;
    for (int i = first; i <= last; ++i)
    {
        // One pixel wide at every size. The grey sides own both of their end pixels, which gives the
        // corners the usual sunken look.
        cell.set(i, last, art::kBoxLight);
        cell.set(last, i, art::kBoxLight);
        if (i < last)
        {
            cell.set(i, first, art::kBoxDark);
            cell.set(first, i, art::kBoxDark);
        }
    }
    if (!ticked) return cell;
    if (size == 16)
        paint(cell, first + 1, first + 1, art::kTickInks, art::kTick); // drawn by hand
    else
        drawTick(cell, first, last);
    return cell;
}

// The 16 px folder redrawn for a larger cell: its outlines, highlight and shade rows and columns stay
// one pixel; the margins, the tab, the back panel and the body take the extra pixels, spread evenly.
// (The open folder's slanted front steps by whole pixels.)
constexpr std::array<bool, 16> kFolderRowGrows{true, true, false, true, false, true,  false, false,
                                               true, true, true,  true, true,  false, false, true};
constexpr std::array<bool, 16> kFolderColumnGrows{false, false, true, true, true, true, false, true,
                                                  true,  true,  true, true, true, true, false, false};

// The art row or column each pixel of the larger cell shows.
std::vector<int> spread(int size, const std::array<bool, 16>& grows)
{
    const int growing = static_cast<int>(std::count(grows.begin(), grows.end(), true));
    const int extra = size - 16;
    std::vector<int> source;
    int seen = 0;
    for (int i = 0; i < 16; ++i)
    {
        int width = 1;
        if (grows[static_cast<std::size_t>(i)])
        {
            width += extra * (seen + 1) / growing - extra * seen / growing;
            ++seen;
        }
        source.insert(source.end(), static_cast<std::size_t>(width), i);
    }
    return source;
}

Cell folder(int size, const std::array<std::string_view, 16>& rows)
{
    Cell cell(size);
    const auto rowOf = spread(size, kFolderRowGrows);
    const auto columnOf = spread(size, kFolderColumnGrows);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
        {
            const char key = rows[static_cast<std::size_t>(rowOf[static_cast<std::size_t>(y)])]
                                 [static_cast<std::size_t>(columnOf[static_cast<std::size_t>(x)])];
            if (key != '.') cell.set(x, y, inkFor(art::kFolderInks, key));
        }
    return cell;
}

Bytes infoHeader(int width, int height, int bpp, std::uint32_t imageBytes, std::uint32_t colours)
{
    Bytes out;
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(width));
    put32(out, static_cast<std::uint32_t>(height)); // positive: rows run bottom-up
    put16(out, 1);
    put16(out, static_cast<unsigned>(bpp));
    put32(out, 0); // BI_RGB
    put32(out, imageBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, colours);
    put32(out, 0);
    return out;
}

int rowBytes(int width, int bpp)
{
    return (width * bpp + 31) / 32 * 4;
}

// Bottom-up rows; `value(x, y)` is a palette index below 24 bpp, else 0xRRGGBB (y counts from the top).
Bytes pixelRows(int width, int height, int bpp, const std::function<std::uint32_t(int, int)>& value)
{
    Bytes out;
    for (int y = height - 1; y >= 0; --y)
    {
        Bytes row(static_cast<std::size_t>(rowBytes(width, bpp)), 0);
        for (int x = 0; x < width; ++x)
        {
            std::uint32_t v = value(x, y);
            if (bpp >= 24)
                for (int i = 0; i < bpp / 8; ++i)
                    row[static_cast<std::size_t>(x * bpp / 8 + i)] = static_cast<std::uint8_t>(v >> (8 * i));
            else
            {
                int bit = x * bpp;
                row[static_cast<std::size_t>(bit / 8)] |= static_cast<std::uint8_t>(v << (8 - bpp - bit % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

template <std::size_t N>
Bytes bmpFile(int size, int bpp, const std::array<Rgb, N>& palette,
              const std::function<std::uint32_t(int, int)>& value)
{
    Bytes pixels = pixelRows(size, size, bpp, value);
    Bytes info = infoHeader(size, size, bpp, static_cast<std::uint32_t>(pixels.size()), N);
    std::uint32_t offset = static_cast<std::uint32_t>(14 + info.size() + 4 * N);
    Bytes out{'B', 'M'};
    put32(out, offset + static_cast<std::uint32_t>(pixels.size()));
    put32(out, 0);
    put32(out, offset);
    out.insert(out.end(), info.begin(), info.end());
    for (const Rgb& c : palette)
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

Bytes vgaBitmap(const Cell& cell)
{
    return bmpFile(cell.size, 4, kVgaPalette,
                   [&](int x, int y)
                   {
                       auto it = std::find(kVgaPalette.begin(), kVgaPalette.end(), cell.at(x, y));
                       if (it == kVgaPalette.end())
                           throw std::logic_error("colour outside the 16-colour palette");
                       return static_cast<std::uint32_t>(it - kVgaPalette.begin());
                   });
}

Bytes trueColourBitmap(const Cell& cell)
{
    return bmpFile(cell.size, 24, std::array<Rgb, 0>{},
                   [&](int x, int y)
                   {
                       Rgb c = cell.at(x, y);
                       return static_cast<std::uint32_t>(c.r << 16 | c.g << 8 | c.b);
                   });
}

// A folder above 16 px: its seven colours (the inks and the black of transparent pixels) in a 16-colour
// picture of its own palette, a sixth of the size of a true-colour one, the same pixels once loaded.
Bytes folderBitmap(const Cell& cell)
{
    if (cell.size == 16) return trueColourBitmap(cell);
    std::array<Rgb, 16> palette{};
    for (std::size_t i = 0; i < art::kFolderInks.size(); ++i)
        palette[i + 1] = art::kFolderInks[i].rgb;
    return bmpFile(cell.size, 4, palette,
                   [&](int x, int y)
                   {
                       const auto it = std::find(
                           palette.begin(), palette.begin() + 1 + art::kFolderInks.size(), cell.at(x, y));
                       if (it == palette.begin() + 1 + art::kFolderInks.size())
                           throw std::logic_error("colour outside the folder's palette");
                       return static_cast<std::uint32_t>(it - palette.begin());
                   });
}

Bytes maskBitmap(const Cell& cell)
{
    return bmpFile(cell.size, 1, kMaskPalette, [&](int x, int y) { return cell.isOpaque(x, y) ? 0u : 1u; });
}

using Polygon = std::vector<Pt>;

// Turns a point by quarter turns, clockwise as seen on screen (y down).
Pt turn(Pt p, int quarters)
{
    for (int i = 0; i < quarters; ++i)
        p = {-p.y, p.x};
    return p;
}

// The flat half of a blade: the centre, the tip and the fold.
Polygon flatHalf()
{
    return {{0, 0}, art::kBladeTip, art::kBladeFold};
}

// The whole blade: the flat half, then the curl from the fold back to the centre.
Polygon bladeShape()
{
    Polygon poly = flatHalf();
    const Pt a = art::kBladeFold, b = art::kBladeCurl[0], c = art::kBladeCurl[1];
    for (int i = 1; i < art::kCurveSteps; ++i)
    {
        double t = static_cast<double>(i) / art::kCurveSteps, s = 1 - t;
        double wa = s * s * s, wb = 3 * s * s * t, wc = 3 * s * t * t; // the end point is the origin
        poly.push_back({wa * a.x + wb * b.x + wc * c.x, wa * a.y + wb * b.y + wc * c.y});
    }
    return poly;
}

bool inside(const Polygon& poly, Pt p)
{
    bool in = false;
    for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
    {
        const Pt &a = poly[i], &b = poly[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y)) in = !in;
    }
    return in;
}

bool nearEdge(const Polygon& poly, Pt p, double width)
{
    for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
    {
        const Pt &a = poly[i], &b = poly[j];
        double dx = b.x - a.x, dy = b.y - a.y;
        double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
        if (ex * ex + ey * ey < width * width) return true;
    }
    return false;
}

struct Rgba
{
    std::uint8_t r, g, b, a;
};

std::vector<Rgba> pinwheel(int size)
{
    const double radius = art::kWheelRadius * size, centre = size / 2.0;
    const double edge = std::max(art::kMinEdge, art::kEdgeWidth * size);
    auto toPixels = [&](Polygon poly, int quarters)
    {
        for (Pt& p : poly)
        {
            p = turn(p, quarters);
            p = {centre + p.x * radius, centre + p.y * radius};
        }
        return poly;
    };
    std::array<Polygon, 4> blades, flats;
    for (int k = 0; k < 4; ++k)
    {
        blades[k] = toPixels(bladeShape(), k);
        flats[k] = toPixels(flatHalf(), k);
    }
    const double hub = art::kHubRadius * radius;

    // Whatever lies under one sample; nullptr for background.
    auto sample = [&](Pt p) -> const Rgb*
    {
        double dx = p.x - centre, dy = p.y - centre, d2 = dx * dx + dy * dy;
        if (d2 < hub * hub) return d2 > (hub - edge) * (hub - edge) ? &art::kHubEdge : &art::kHubFill;
        for (int k = 0; k < 4; ++k)
            if (inside(blades[k], p))
            {
                const BladeInks& ink = art::kBlades[k];
                return nearEdge(blades[k], p, edge) ? &ink.edge : inside(flats[k], p) ? &ink.fill : &ink.curl;
            }
        return nullptr;
    };

    const int n = art::kSupersample;
    std::vector<Rgba> out(static_cast<std::size_t>(size * size));
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
        {
            unsigned count = 0, r = 0, g = 0, b = 0;
            for (int sy = 0; sy < n; ++sy)
                for (int sx = 0; sx < n; ++sx)
                    if (const Rgb* c = sample({x + (sx + 0.5) / n, y + (sy + 0.5) / n}))
                    {
                        ++count;
                        r += c->r;
                        g += c->g;
                        b += c->b;
                    }
            if (count == 0) continue;
            auto avg = [&](unsigned sum) { return static_cast<std::uint8_t>((sum + count / 2) / count); };
            unsigned total = static_cast<unsigned>(n * n);
            out[static_cast<std::size_t>(y * size + x)] = {
                avg(r), avg(g), avg(b), static_cast<std::uint8_t>((count * 255 + total / 2) / total)};
        }
    return out;
}

void putBig32(Bytes& out, std::uint32_t v)
{
    out.insert(out.end(), {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                           static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}

void pngChunk(Bytes& out, const char (&type)[5], const Bytes& data)
{
    putBig32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    const auto crc = crc32(0, out.data() + start, static_cast<uInt>(out.size() - start));
    putBig32(out, static_cast<std::uint32_t>(crc));
}

// An icon frame as PNG: 8-bit RGBA, no filtering, no ancillary chunks.
Bytes pngImage(int size, const std::vector<Rgba>& px)
{
    Bytes raw;
    for (int y = 0; y < size; ++y)
    {
        raw.push_back(0); // filter: none
        for (int x = 0; x < size; ++x)
        {
            const Rgba& c = px[static_cast<std::size_t>(y * size + x)];
            raw.insert(raw.end(), {c.r, c.g, c.b, c.a});
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        throw std::runtime_error("zlib could not compress the icon");
    packed.resize(packedSize);

    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header;
    putBig32(header, static_cast<std::uint32_t>(size));
    putBig32(header, static_cast<std::uint32_t>(size));
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8 bits, RGBA, deflate, no filter variants, no interlace
    pngChunk(png, "IHDR", header);
    pngChunk(png, "IDAT", packed);
    pngChunk(png, "IEND", {});
    return png;
}

// Every frame as PNG, which Windows reads since Vista: a third of the size of the same frames as bitmaps
// with AND masks, and a tenth at 256 px.
Bytes iconFile()
{
    Bytes dir, images;
    put16(dir, 0);
    put16(dir, 1); // icon
    put16(dir, static_cast<unsigned>(art::kIconSizes.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * art::kIconSizes.size());
    for (int size : art::kIconSizes)
    {
        const Bytes image = pngImage(size, pinwheel(size));
        const auto side = static_cast<std::uint8_t>(size >= 256 ? 0 : size); // 0 stands for 256
        dir.insert(dir.end(), {side, side, 0, 0});
        put16(dir, 1);
        put16(dir, 32);
        put32(dir, static_cast<std::uint32_t>(image.size()));
        put32(dir, offset);
        offset += static_cast<std::uint32_t>(image.size());
        images.insert(images.end(), image.begin(), image.end());
    }
    dir.insert(dir.end(), images.begin(), images.end());
    return dir;
}

void save(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: gen_assets <outdir>\n");
        return 2;
    }
    try
    {
        const std::filesystem::path dir = argv[1];
        std::filesystem::create_directories(dir);
        // Resource ids are size * 100 + n, n counting the pictures and their masks in image list order.
        std::string script =
            "// Written by tools/assets/gen_assets: the tree's pictures at every size, as\n"
            "// resource size * 100 + n (1 ticked, 3 empty, 5 closed folder, 7 open folder;\n"
            "// each followed by its mask).\n";
        for (const int size : kPictureSizes)
        {
            const std::string tail = "_" + std::to_string(size) + ".bmp";
            const Cell ticked = tickBox(size, true), unticked = tickBox(size, false);
            const Cell closed = folder(size, art::kFolderClosed), open = folder(size, art::kFolderOpen);
            const std::array<std::pair<std::string, Bytes>, 8> files{{
                {"ticked" + tail, vgaBitmap(ticked)},
                {"ticked_mask" + tail, maskBitmap(ticked)},
                {"unticked" + tail, vgaBitmap(unticked)},
                {"unticked_mask" + tail, maskBitmap(unticked)},
                {"folder_closed" + tail, folderBitmap(closed)},
                {"folder_closed_mask" + tail, maskBitmap(closed)},
                {"folder_open" + tail, folderBitmap(open)},
                {"folder_open_mask" + tail, maskBitmap(open)},
            }};
            for (std::size_t n = 0; n < files.size(); ++n)
            {
                save(dir / files[n].first, files[n].second);
                script += std::to_string(size * 100 + static_cast<int>(n) + 1) + " BITMAP \"res/" +
                          files[n].first + "\"\n";
            }
        }
        save(dir / "pictures.rc", Bytes(script.begin(), script.end()));
        save(dir / "kestrin.ico", iconFile());
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "gen_assets: %s\n", e.what());
        return 1;
    }
    return 0;
}
