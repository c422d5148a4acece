#include "app/program_win.h"

#include "app/dpi_win.h"
#include "app/main_window_win.h"
#include "app/restart_win.h"
#include "store/registry_win.h"
#include "store/user_root_win.h"

#include <commctrl.h>

#include <string>

namespace kestrin
{
void LimitDllSearchToSystem()
{
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto set = kernel32 ? reinterpret_cast<SetDirectories>(reinterpret_cast<void (*)()>(
                                    GetProcAddress(kernel32, "SetDefaultDllDirectories")))
                              : nullptr;
    if (set) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int RunProgram(HINSTANCE instance, int showCommand)
{
    dpi::EnableAwareness();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // Opened once, for the whole run: the signed-in user's hive, whatever account this process runs as.
    const SessionUserRoot user = OpenSessionUserRoot();
    if (user.refused)
    {
        MessageBoxW(nullptr, WrongAccountMessage(user.processAccount, user.sessionAccount).c_str(),
                    std::wstring(kCaption).c_str(), MB_OK | MB_ICONERROR);
        return 1;
    }
    Win32Registry registry(user.root.Get());
    ShellRestartQuestion restart;
    MainWindow window(registry, restart);
    window.OnEnded = [] { PostQuitMessage(0); };
    if (!window.Create(instance, showCommand))
    {
        const DWORD error = GetLastError();
        std::wstring text = L"Windows Kestrin could not open its window.";
        if (error != ERROR_SUCCESS) text += L"\r\n\r\n" + SystemMessageText(error);
        MessageBoxW(nullptr, text.c_str(), L"Windows Kestrin", MB_OK | MB_ICONERROR);
        return 1;
    }
    restart.SetOwner(window.Handle());

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
    {
        if (!window.PreTranslate(message))
        {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

} // namespace kestrin
