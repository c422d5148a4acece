// Checks the committed tree bitmaps and icon by reading the files themselves, so a change in the
// generator that breaks what the tree and the shell expect shows up here.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<std::uint8_t>;

struct Rgb
{
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c)
{
    return os << '(' << c.r << ',' << c.g << ',' << c.b << ')';
}

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kLightGrey{192, 192, 192};
constexpr Rgb kDarkGreen{0, 128, 0};
constexpr Rgb kBrightGreen{0, 255, 0};

// Every picture is drawn at each of these sizes.
constexpr std::array<int, 6> kSizes{16, 20, 24, 32, 40, 48};

// The box's top row and left column (2 at 16 px, the margin scaled), and its bottom row and right column.
int BoxFirst(int size)
{
    return (2 * size + 8) / 16;
}
int BoxLast(int size)
{
    return size - 1 - BoxFirst(size);
}

std::string Picture(const std::string& base, int size)
{
    return base + "_" + std::to_string(size) + ".bmp";
}

Bytes readAsset(const std::string& name)
{
    std::ifstream in(std::string(KESTRIN_ASSET_DIR) + "/" + name, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + name);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t le16(const Bytes& f, std::size_t at)
{
    return static_cast<std::uint32_t>(f.at(at) | f.at(at + 1) << 8);
}

std::uint32_t le32(const Bytes& f, std::size_t at)
{
    return le16(f, at) | le16(f, at + 2) << 16;
}

std::int32_t sle32(const Bytes& f, std::size_t at)
{
    return static_cast<std::int32_t>(le32(f, at));
}

int stride(int width, int bpp)
{
    return (width * bpp + 31) / 32 * 4;
}

// A BITMAPINFOHEADER image inside a file: header, palette, rows bottom-up.
struct Dib
{
    const Bytes* file = nullptr;
    std::uint32_t headerSize = 0, compression = 0;
    int width = 0, height = 0, planes = 0, bpp = 0;
    std::vector<Rgb> palette;
    std::size_t bits = 0; // offset of the first (bottom) row

    // Raw value of pixel (x, y), y from the top, in an image `rows` tall whose rows start at `start`.
    std::uint32_t value(int x, int y, int rows, int depth, std::size_t start) const
    {
        if (x < 0 || y < 0 || x >= width || y >= rows) throw std::out_of_range("pixel outside the image");
        std::size_t row = start + static_cast<std::size_t>((rows - 1 - y) * stride(width, depth));
        if (depth == 32) return le32(*file, row + static_cast<std::size_t>(x) * 4);
        if (depth == 24)
        {
            std::size_t p = row + static_cast<std::size_t>(x) * 3;
            return static_cast<std::uint32_t>(file->at(p) | file->at(p + 1) << 8 | file->at(p + 2) << 16);
        }
        int bit = x * depth;
        return (file->at(row + static_cast<std::size_t>(bit / 8)) >> (8 - depth - bit % 8)) &
               ((1u << depth) - 1);
    }
};

Dib readDib(const Bytes& f, std::size_t at)
{
    Dib d;
    d.file = &f;
    d.headerSize = le32(f, at);
    d.width = sle32(f, at + 4);
    d.height = sle32(f, at + 8);
    d.planes = static_cast<int>(le16(f, at + 12));
    d.bpp = static_cast<int>(le16(f, at + 14));
    d.compression = le32(f, at + 16);
    std::uint32_t used = le32(f, at + 32);
    std::uint32_t colours = d.bpp <= 8 ? (used != 0 ? used : 1u << d.bpp) : used;
    std::size_t pal = at + d.headerSize;
    for (std::uint32_t i = 0; i < colours; ++i)
        d.palette.push_back({f.at(pal + 4 * i + 2), f.at(pal + 4 * i + 1), f.at(pal + 4 * i)});
    d.bits = pal + 4 * colours;
    return d;
}

// One of the tree bitmaps.
struct Bitmap
{
    Bytes file;
    Dib dib; // points into file, hence no copies

    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    explicit Bitmap(const std::string& name) : file(readAsset(name))
    {
        if (file.size() < 54 || file[0] != 'B' || file[1] != 'M')
            throw std::runtime_error(name + " is not a BMP file");
        if (le32(file, 2) != file.size()) throw std::runtime_error(name + ": file size field is wrong");
        dib = readDib(file, 14);
        if (le32(file, 10) != dib.bits)
            throw std::runtime_error(name + ": pixel offset does not follow the palette");
        if (dib.height <= 0 ||
            dib.bits + static_cast<std::size_t>(stride(dib.width, dib.bpp) * dib.height) > file.size())
            throw std::runtime_error(name + ": pixel rows missing");
    }

    Rgb rgb(int x, int y) const
    {
        std::uint32_t v = dib.value(x, y, dib.height, dib.bpp, dib.bits);
        if (dib.bpp <= 8) return dib.palette.at(v);
        return {static_cast<int>(v >> 16 & 0xff), static_cast<int>(v >> 8 & 0xff),
                static_cast<int>(v & 0xff)};
    }

    // For a mask: black keeps the image, white lets the background through.
    bool opaque(int x, int y) const { return rgb(x, y) == kBlack; }
};

bool onBoxEdge(int size, int x, int y)
{
    const int first = BoxFirst(size), last = BoxLast(size);
    bool within = x >= first && x <= last && y >= first && y <= last;
    return within && (x == first || x == last || y == first || y == last);
}

bool inBoxInterior(int size, int x, int y)
{
    return x > BoxFirst(size) && x < BoxLast(size) && y > BoxFirst(size) && y < BoxLast(size);
}

bool isTickGreen(const Rgb& c)
{
    return c == kDarkGreen || c == kBrightGreen;
}

bool isGreenish(const Rgb& c)
{
    return c.g > c.r && c.g > c.b;
}

bool isYellow(const Rgb& c)
{
    return c.r >= 180 && c.g >= 130 && c.b + 60 <= c.g;
}

TEST(TreeBitmaps, HaveTheExpectedFormatsAtEverySize)
{
    // Folders are true colour at 16 px; above, their seven colours go in a 16-colour palette of their own.
    constexpr int kFolder = 0;
    const std::array<std::pair<const char*, int>, 8> files{{{"ticked", 4},
                                                            {"unticked", 4},
                                                            {"ticked_mask", 1},
                                                            {"unticked_mask", 1},
                                                            {"folder_closed", kFolder},
                                                            {"folder_open", kFolder},
                                                            {"folder_closed_mask", 1},
                                                            {"folder_open_mask", 1}}};
    const std::vector<Rgb> vga{{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                               {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                               {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                               {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    for (const int size : kSizes)
        for (const auto& [base, depth] : files)
        {
            const int bpp = depth != kFolder ? depth : size == 16 ? 24 : 4;
            const std::string name = Picture(base, size);
            SCOPED_TRACE(name);
            Bitmap bmp(name);
            EXPECT_EQ(bmp.dib.headerSize, 40u);
            EXPECT_EQ(bmp.dib.width, size);
            EXPECT_EQ(bmp.dib.height, size); // positive, so bottom-up
            EXPECT_EQ(bmp.dib.planes, 1);
            EXPECT_EQ(bmp.dib.bpp, bpp);
            EXPECT_EQ(bmp.dib.compression, 0u); // BI_RGB
            EXPECT_EQ(bmp.file.size(), bmp.dib.bits + static_cast<std::size_t>(stride(size, bpp) * size));
            if (depth == kFolder && bpp == 4)
            {
                EXPECT_EQ(bmp.dib.palette.size(), 16u);
                EXPECT_EQ(bmp.dib.palette.at(0), kBlack) << "transparent pixels are black";
                continue;
            }
            const std::vector<Rgb> palette = bpp == 4   ? vga
                                             : bpp == 1 ? std::vector<Rgb>{kBlack, kWhite}
                                                        : std::vector<Rgb>{};
            EXPECT_EQ(bmp.dib.palette, palette);
        }
}

// At every size the box's edges are one pixel wide: the mask test below allows nothing else around them.
TEST(TickBoxes, EdgesAreBlackTopLeftAndGreyBottomRight)
{
    for (const int size : kSizes)
        for (const char* base : {"ticked", "unticked"})
        {
            SCOPED_TRACE(Picture(base, size));
            Bitmap image(Picture(base, size)), mask(Picture(std::string(base) + "_mask", size));
            const int first = BoxFirst(size), last = BoxLast(size);
            for (int i = first; i <= last; ++i)
            {
                SCOPED_TRACE(i);
                // The grey sides own both their end pixels: the top right and bottom left corners are grey.
                Rgb topLeft = i == last ? kLightGrey : kBlack;
                EXPECT_EQ(image.rgb(i, first), topLeft);
                EXPECT_EQ(image.rgb(first, i), topLeft);
                EXPECT_EQ(image.rgb(i, last), kLightGrey);
                EXPECT_EQ(image.rgb(last, i), kLightGrey);
                EXPECT_TRUE(mask.opaque(i, first) && mask.opaque(first, i));
                EXPECT_TRUE(mask.opaque(i, last) && mask.opaque(last, i));
            }
        }
}

TEST(TickBoxes, MaskIsOpaqueExactlyOnTheEdgesAndTheTick)
{
    for (const int size : kSizes)
        for (bool ticked : {true, false})
        {
            std::string base = ticked ? "ticked" : "unticked";
            SCOPED_TRACE(Picture(base, size));
            Bitmap image(Picture(base, size)), mask(Picture(base + "_mask", size));
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                {
                    bool tick = ticked && inBoxInterior(size, x, y) && isTickGreen(image.rgb(x, y));
                    EXPECT_EQ(mask.opaque(x, y), onBoxEdge(size, x, y) || tick)
                        << "at (" << x << ',' << y << ')';
                }
        }
}

TEST(TickBoxes, TickIsDarkAndBrightGreenInsideTheBox)
{
    for (const int size : kSizes)
    {
        SCOPED_TRACE(size);
        Bitmap ticked(Picture("ticked", size)), tickedMask(Picture("ticked_mask", size));
        Bitmap unticked(Picture("unticked", size));
        int dark = 0, bright = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
            {
                SCOPED_TRACE(testing::Message() << "at (" << x << ',' << y << ')');
                Rgb c = ticked.rgb(x, y);
                dark += c == kDarkGreen;
                bright += c == kBrightGreen;
                if (tickedMask.opaque(x, y) && !onBoxEdge(size, x, y))
                {
                    EXPECT_TRUE(inBoxInterior(size, x, y));
                    EXPECT_TRUE(isTickGreen(c)) << c;
                }
                EXPECT_FALSE(isGreenish(unticked.rgb(x, y))) << unticked.rgb(x, y);
            }
        EXPECT_GT(dark, bright) << "a dark tick with bright highlights";
        EXPECT_GT(bright, 0);
        EXPECT_GE((dark + bright) * 16 * 16, 12 * size * size) << "the tick should be more than a speck";
    }
}

TEST(TreeBitmaps, ColourIsBlackWhereverTheMaskIsTransparent)
{
    for (const int size : kSizes)
        for (const char* base : {"ticked", "unticked", "folder_closed", "folder_open"})
        {
            SCOPED_TRACE(Picture(base, size));
            Bitmap image(Picture(base, size)), mask(Picture(std::string(base) + "_mask", size));
            int transparent = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if (!mask.opaque(x, y))
                    {
                        ++transparent;
                        EXPECT_EQ(mask.rgb(x, y), kWhite);
                        EXPECT_EQ(image.rgb(x, y), kBlack) << "at (" << x << ',' << y << ')';
                    }
            EXPECT_GT(transparent, 0);
        }
}

TEST(Folders, AreMostlyYellowAndOpenDiffersFromClosed)
{
    for (const int size : kSizes)
    {
        SCOPED_TRACE(size);
        Bitmap closed(Picture("folder_closed", size)), closedMask(Picture("folder_closed_mask", size));
        Bitmap open(Picture("folder_open", size)), openMask(Picture("folder_open_mask", size));
        auto check = [size](const Bitmap& image, const Bitmap& mask)
        {
            EXPECT_EQ(image.dib.bpp, size == 16 ? 24 : 4);
            int opaque = 0, yellow = 0;
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    if (mask.opaque(x, y))
                    {
                        ++opaque;
                        yellow += isYellow(image.rgb(x, y));
                    }
            EXPECT_GE(opaque * 256, 100 * size * size) << "a folder fills most of the cell";
            EXPECT_GT(yellow * 10, opaque * 6) << yellow << " of " << opaque << " opaque pixels are yellow";
            EXPECT_FALSE(mask.opaque(0, 0)) << "and is transparent around it";
            EXPECT_FALSE(mask.opaque(size - 1, size - 1)) << "and is transparent around it";
        };
        {
            SCOPED_TRACE("closed");
            check(closed, closedMask);
        }
        {
            SCOPED_TRACE("open");
            check(open, openMask);
        }
        int differing = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                differing +=
                    closed.rgb(x, y) != open.rgb(x, y) || closedMask.opaque(x, y) != openMask.opaque(x, y);
        EXPECT_GE(differing * 16, 16 * size);
    }
}

std::uint32_t be32(const Bytes& f, std::size_t at)
{
    return static_cast<std::uint32_t>(f.at(at)) << 24 | static_cast<std::uint32_t>(f.at(at + 1)) << 16 |
           static_cast<std::uint32_t>(f.at(at + 2)) << 8 | f.at(at + 3);
}

// One image of the icon, with its directory entry, decoded to 0xAARRGGBB pixels, top row first.
struct IconFrame
{
    int dirWidth, dirHeight, dirPlanes, dirBpp;
    std::uint32_t bytes, offset;
    bool png = false;
    Dib dib;          // bitmap frames
    int pngDepth = 0; // PNG frames: bit depth and colour type
    int pngColour = 0;
    int side = 0;
    std::vector<std::uint32_t> pixels;

    int size() const { return side; }
    std::uint32_t bgra(int x, int y) const { return pixels.at(static_cast<std::size_t>(y * side + x)); }
    int alpha(int x, int y) const { return static_cast<int>(bgra(x, y) >> 24); }
    Rgb rgb(int x, int y) const
    {
        std::uint32_t v = bgra(x, y);
        return {static_cast<int>(v >> 16 & 0xff), static_cast<int>(v >> 8 & 0xff),
                static_cast<int>(v & 0xff)};
    }

    // 8-bit RGBA without row filters, as the generator writes it; anything else fails the tests.
    void DecodePng(const Bytes& file)
    {
        png = true;
        std::size_t at = offset + 8;
        Bytes packed;
        for (;;)
        {
            const std::uint32_t length = be32(file, at);
            const std::string type(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                   file.begin() + static_cast<std::ptrdiff_t>(at + 8));
            const std::size_t data = at + 8;
            if (type == "IHDR")
            {
                side = static_cast<int>(be32(file, data));
                pngDepth = file.at(data + 8);
                pngColour = file.at(data + 9);
            }
            if (type == "IDAT")
                packed.insert(packed.end(), file.begin() + static_cast<std::ptrdiff_t>(data),
                              file.begin() + static_cast<std::ptrdiff_t>(data + length));
            const auto crc = crc32(0, file.data() + at + 4, length + 4);
            if (crc != be32(file, data + length))
                throw std::runtime_error("PNG chunk " + type + " has a bad CRC");
            at = data + length + 4;
            if (type == "IEND") break;
        }
        Bytes raw(static_cast<std::size_t>(side) * (1 + 4 * static_cast<std::size_t>(side)));
        uLongf rawSize = static_cast<uLongf>(raw.size());
        if (uncompress(raw.data(), &rawSize, packed.data(), static_cast<uLong>(packed.size())) != Z_OK ||
            rawSize != raw.size())
            throw std::runtime_error("the PNG data does not inflate to the image");
        for (int y = 0; y < side; ++y)
        {
            const std::size_t row = static_cast<std::size_t>(y) * (1 + 4 * static_cast<std::size_t>(side));
            if (raw[row] != 0) throw std::runtime_error("a PNG row uses a filter");
            for (int x = 0; x < side; ++x)
            {
                const std::uint8_t* p = &raw[row + 1 + 4 * static_cast<std::size_t>(x)];
                pixels.push_back(static_cast<std::uint32_t>(p[3]) << 24 |
                                 static_cast<std::uint32_t>(p[0]) << 16 |
                                 static_cast<std::uint32_t>(p[1]) << 8 | p[2]);
            }
        }
    }
};

struct Icon
{
    Bytes file = readAsset("kestrin.ico");
    int type = 0;
    std::vector<IconFrame> frames;

    Icon(const Icon&) = delete;
    Icon& operator=(const Icon&) = delete;

    Icon()
    {
        type = static_cast<int>(le16(file, 2));
        int count = static_cast<int>(le16(file, 4));
        for (int i = 0; i < count; ++i)
        {
            std::size_t e = 6 + 16 * static_cast<std::size_t>(i);
            IconFrame f{file.at(e),
                        file.at(e + 1),
                        static_cast<int>(le16(file, e + 4)),
                        static_cast<int>(le16(file, e + 6)),
                        le32(file, e + 8),
                        le32(file, e + 12)};
            if (std::size_t{f.offset} + f.bytes > file.size())
                throw std::runtime_error("icon image runs past the end of the file");
            static constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
            if (std::equal(std::begin(kPngSignature), std::end(kPngSignature),
                           file.begin() + static_cast<std::ptrdiff_t>(f.offset)))
                f.DecodePng(file);
            else
                throw std::runtime_error("an icon frame is not a PNG");
            frames.push_back(std::move(f));
        }
    }
};

enum class Hue
{
    None,
    Red,
    Green,
    Blue,
    Yellow
};

// Which blade colour a pixel belongs to; shaded and outlined parts count with their blade.
Hue hueOf(const Rgb& c)
{
    if (c.r * 2 > c.b * 3 && c.g * 2 > c.b * 3 && c.g * 10 > c.r * 6) return Hue::Yellow;
    if (c.r * 10 > c.g * 18 && c.r * 10 > c.b * 18) return Hue::Red;
    if (c.g * 10 > c.r * 13 && c.g * 10 > c.b * 13) return Hue::Green;
    if (c.b * 10 > c.r * 13 && c.b * 10 > c.g * 13) return Hue::Blue;
    return Hue::None;
}

// Every frame a PNG (Windows reads them since Vista): as bitmaps they would be most of the program.
TEST(AppIcon, HasSixRgbaPngFrames)
{
    Icon icon;
    EXPECT_EQ(icon.type, 1);
    EXPECT_LT(icon.file.size(), 16u * 1024u);
    std::vector<int> sizes;
    for (const IconFrame& f : icon.frames)
    {
        int size = f.size();
        SCOPED_TRACE(size);
        sizes.push_back(size);
        EXPECT_EQ(f.dirWidth, size == 256 ? 0 : size);
        EXPECT_EQ(f.dirHeight, f.dirWidth);
        EXPECT_EQ(f.dirPlanes, 1);
        EXPECT_EQ(f.dirBpp, 32);
        EXPECT_TRUE(f.png);
        EXPECT_EQ(f.pngDepth, 8);
        EXPECT_EQ(f.pngColour, 6) << "RGBA";
        int clear = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                clear += f.alpha(x, y) == 0;
        EXPECT_GT(clear, 0);
        EXPECT_LT(clear, size * size);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 48, 256}));
}

TEST(AppIcon, IsAFourColourPinwheelOnClearCorners)
{
    Icon icon;
    ASSERT_FALSE(icon.frames.empty());
    bool saw32 = false;
    for (const IconFrame& f : icon.frames)
    {
        int size = f.size(), last = size - 1;
        saw32 = saw32 || size == 32;
        SCOPED_TRACE(size);
        EXPECT_EQ(f.alpha(0, 0), 0);
        EXPECT_EQ(f.alpha(last, 0), 0);
        EXPECT_EQ(f.alpha(0, last), 0);
        EXPECT_EQ(f.alpha(last, last), 0);

        // counts[quadrant][hue], quadrants in reading order.
        std::array<std::array<int, 5>, 4> counts{};
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                if (f.alpha(x, y) >= 128)
                    ++counts[(y >= size / 2) * 2 + (x >= size / 2)][static_cast<int>(hueOf(f.rgb(x, y)))];
        std::vector<int> winners;
        for (const auto& quadrant : counts)
        {
            std::array<int, 4> blades{quadrant[1], quadrant[2], quadrant[3], quadrant[4]};
            auto best = std::max_element(blades.begin(), blades.end());
            int runnerUp = 0;
            for (auto it = blades.begin(); it != blades.end(); ++it)
                if (it != best) runnerUp = std::max(runnerUp, *it);
            EXPECT_GT(*best, 2 * runnerUp) << "no colour dominates a quadrant";
            EXPECT_GE(*best * 8, size * size / 4) << "a quadrant is mostly empty";
            winners.push_back(static_cast<int>(best - blades.begin()));
        }
        std::sort(winners.begin(), winners.end());
        EXPECT_EQ(winners, (std::vector<int>{0, 1, 2, 3})) << "each quadrant should hold a different blade";
    }
    EXPECT_TRUE(saw32);
}

} // namespace
