#include "app/dpi_win.h"
#include "app/main_window_win.h"
#include "app/restart_win.h"
#include "store/registry_win.h"
#include "store/user_root_win.h"

#include <windows.h>

#include <commctrl.h>

#include <iterator>
#include <string>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    kestrin::dpi::EnableAwareness();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    // Opened once, for the whole run: the signed-in user's hive, whatever account this process runs as.
    const kestrin::UserRoot root = kestrin::OpenSessionUserRoot();
    kestrin::Win32Registry registry(root.Get());
    kestrin::ShellRestartQuestion restart;
    kestrin::MainWindow window(registry, restart);
    window.OnEnded = [] { PostQuitMessage(0); };
    if (!window.Create(instance, showCommand)) return 1;
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
