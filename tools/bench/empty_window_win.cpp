// The yardstick for start-up time: a program that only shows an empty window of the same client size
// as Kestrin's, started the same way.
#include "tools/bench/yardstick_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    const HWND window =
        kestrin::bench::CreateYardstickWindow(instance, L"KestrinBenchEmpty", L"Kestrin Bench Empty",
                                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME);
    if (!window) return 1;
    ShowWindow(window, showCommand);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
