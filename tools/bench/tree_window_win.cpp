// The second yardstick for start-up time: the least Kestrin's window can cost. The same window (size and
// styles), comctl32 v6 through the same kind of manifest, a tree view filled with 4 root items and 36
// child items (text only) and two push buttons, shown; no pictures, icons, fonts or registry. It calls
// Win32 only, so it carries no C++ runtime (it is linked as C: see CMakeLists.txt).
//
// Built a second time with KESTRIN_BENCH_PADDED, it also holds a block of constant data that makes its
// image as large as kestrin.exe's: the same window, with the cost of a larger image and nothing else.
#include "tools/bench/yardstick_win.h"

#include <windows.h>

#include <commctrl.h>

#ifdef KESTRIN_BENCH_PADDED
// Generated from kestrin.exe's size (padding.cmake); part of the image, mapped with it.
extern const unsigned char kYardstickPadding[];
#define KESTRIN_BENCH_CAPTION L"Kestrin Bench Padded Tree"
#else
#define KESTRIN_BENCH_CAPTION L"Kestrin Bench Tree"
#endif

namespace
{

HTREEITEM Insert(HWND tree, HTREEITEM parent, wchar_t* text)
{
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = text;
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
#ifdef KESTRIN_BENCH_PADDED
    // One read, so that no linker drops the block; it touches a single page of it.
    static_cast<void>(*static_cast<const volatile unsigned char*>(kYardstickPadding));
#endif
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HWND window = kestrin::bench::CreateYardstickWindow(
        instance, L"KestrinBenchTree", KESTRIN_BENCH_CAPTION,
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT);
    if (!window) return 1;
    CreateWindowExW(0, WC_BUTTONW, L"Exit", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 152, 208, 101,
                    25, window, nullptr, instance, nullptr);
    CreateWindowExW(0, WC_BUTTONW, L"Apply", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | WS_DISABLED,
                    40, 208, 101, 25, window, nullptr, instance, nullptr);
    const HWND tree = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                                      WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS |
                                          TVS_SHOWSELALWAYS,
                                      0, 8, 297, 193, window, nullptr, instance, nullptr);
    const int counts[] = {15, 6, 13, 2};
    wchar_t text[32];
    for (int category = 0; category < 4; ++category)
    {
        wsprintfW(text, L"Category %d", category + 1);
        const HTREEITEM parent = Insert(tree, TVI_ROOT, text);
        for (int entry = 0; entry < counts[category]; ++entry)
        {
            wsprintfW(text, L"Restriction number %d", entry + 1);
            Insert(tree, parent, text);
        }
    }
    ShowWindow(window, showCommand);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (!IsDialogMessageW(window, &message))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}
