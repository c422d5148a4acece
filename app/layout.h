#pragma once

#include <cstdint>

namespace kestrin::layout
{

// The window's geometry in twips (1/1440 inch), turned into pixels at the window's current DPI.
struct TwipsRect
{
    int left;
    int top;
    int width;
    int height;
};

inline constexpr int kClientWidth = 4500;
inline constexpr int kClientHeight = 3795;
inline constexpr TwipsRect kExit{2280, 3120, 1515, 375}; // Command2
inline constexpr TwipsRect kApply{600, 3120, 1515, 375}; // Command1
inline constexpr TwipsRect kTree{0, 120, 4455, 2895};    // TreeView1
inline constexpr int kTreeIndent = 567;                  // 1000 HIMETRIC
inline constexpr int kButtonFontHundredthsOfPoint = 825; // "Tahoma" 8.25 pt
inline constexpr int kButtonFontWeight = 700;
// The tree's labels: the dialog font ("MS Shell Dlg 2", which every Windows, and Wine, maps to Tahoma) at
// 8 pt, scaled to the DPI, named by the face it stands for. The desktop's message font (Segoe UI 9 pt on
// Windows 10 and 11) is too wide for the longest labels.
inline constexpr int kTreeFontHundredthsOfPoint = 800;
inline constexpr wchar_t kTreeFontFace[] = L"Tahoma";

// Rounds to the nearest pixel, as MulDiv does (every length here is positive).
constexpr int TwipsToPixels(int twips, int dpi)
{
    return static_cast<int>((static_cast<std::int64_t>(twips) * dpi + 720) / 1440);
}

// The tree's pictures are drawn at these sizes; a window takes the largest not above 16 px scaled to its
// DPI (16 at 96, 20 at 120, 24 at 144, 32 at 192), so a picture is never stretched.
inline constexpr int kPictureSizes[] = {16, 20, 24, 32, 40, 48};
constexpr int PictureSize(int dpi)
{
    const int scaled = 16 * dpi / 96;
    int chosen = kPictureSizes[0];
    for (const int size : kPictureSizes)
        if (size <= scaled) chosen = size;
    return chosen;
}

// A font height in pixels (negative: the character height) for a size in hundredths of a point.
constexpr int FontHeight(int hundredthsOfPoint, int dpi)
{
    const std::int64_t product = static_cast<std::int64_t>(hundredthsOfPoint) * dpi;
    return -static_cast<int>((product + 3600) / 7200);
}

} // namespace kestrin::layout
