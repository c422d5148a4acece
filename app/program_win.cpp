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
namespace
{

// Finds the signed-in user's hive on a thread of its own while the window is being made: where the
// desktop has no shell window the lookup loads wtsapi32 and asks for the account's SID, and making the
// first window of a process takes longer than either. The program is built with -fno-threadsafe-statics:
// the lookup must touch no function-local static that the window code also uses (the store has none).
class UserRootLookup
{
public:
    UserRootLookup() : m_thread(CreateThread(nullptr, 0, Run, this, 0, nullptr))
    {
        if (!m_thread) m_root = OpenSessionUserRoot();
    }
    ~UserRootLookup() { Wait(); }
    UserRootLookup(const UserRootLookup&) = delete;
    UserRootLookup& operator=(const UserRootLookup&) = delete;

    UserRoot Take()
    {
        Wait();
        return std::move(m_root);
    }

private:
    static DWORD WINAPI Run(void* self)
    {
        static_cast<UserRootLookup*>(self)->m_root = OpenSessionUserRoot();
        return 0;
    }
    void Wait()
    {
        if (m_thread) WaitForSingleObject(m_thread.Get(), INFINITE);
        m_thread.Reset();
    }

    UserRoot m_root; // before the thread that fills it
    UniqueHthread m_thread;
};

} // namespace

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
    // It is known before the registry is first read, when the window loads its tree.
    UserRootLookup lookup;
    UserRoot root;
    Win32Registry registry;
    ShellRestartQuestion restart;
    MainWindow window(registry, restart);
    window.OnEnded = [] { PostQuitMessage(0); };
    const bool opened = window.Open(instance);
    const DWORD error = GetLastError();
    root = lookup.Take();
    registry.SetUserRoot(root.Get());
    if (!opened)
    {
        std::wstring text = L"Windows Kestrin could not open its window.";
        if (error != ERROR_SUCCESS) text += L"\r\n\r\n" + SystemMessageText(error);
        MessageBoxW(nullptr, text.c_str(), L"Windows Kestrin", MB_OK | MB_ICONERROR);
        return 1;
    }
    window.LoadAndShow(showCommand);
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
