// Three hidden top-level windows that answer their messages only every 1.5 s, as a busy program on the
// desktop does; a broadcast waits for each of them in turn. Ends after a minute, or when killed.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"KestrinSlowWindow";
    if (!RegisterClassExW(&windowClass)) return 1;
    for (int i = 0; i < 3; ++i)
    {
        if (!CreateWindowExW(0, L"KestrinSlowWindow", L"slow", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                             nullptr, instance, nullptr))
            return 1;
    }
    for (int round = 0; round < 40; ++round)
    {
        Sleep(1500);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    return 0;
}
