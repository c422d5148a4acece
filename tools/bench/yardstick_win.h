#pragma once

// What both start-up yardsticks share: a top-level window of Kestrin's client size (300 x 253 at 96 DPI)
// that ends the program when it goes. They must not link the program's own code.
#include <windows.h>

namespace kestrin::bench
{

inline LRESULT CALLBACK YardstickProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
    {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

inline HWND CreateYardstickWindow(HINSTANCE instance, const wchar_t* className, const wchar_t* caption,
                                  DWORD style, DWORD exStyle)
{
    SetProcessDPIAware();
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = YardstickProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    RegisterClassExW(&windowClass);
    RECT frame{0, 0, 300, 253};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    return CreateWindowExW(exStyle, className, caption, style, CW_USEDEFAULT, CW_USEDEFAULT,
                           frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance,
                           nullptr);
}

} // namespace kestrin::bench
