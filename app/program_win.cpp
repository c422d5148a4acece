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

// Loads the window's icons, finds the signed-in user's hive and reads the restrictions from it, on a
// thread of its own while the first window is being made: that takes longer than all three together
// (where the desktop has no shell window the lookup loads wtsapi32 and asks for the account's SID). The
// program is built with -fno-threadsafe-statics: this thread must touch no function-local static that
// the window code also uses. The store and the table have none, and the icon sizes are worked out
// before the thread starts.
class StartupReader final : public ClassIconSource
{
public:
    StartupReader(HINSTANCE instance, const WindowIcons::Sizes& iconSizes)
        : m_instance(instance), m_iconSizes(iconSizes),
          m_thread(CreateThread(nullptr, 0, Run, this, 0, nullptr))
    {
        if (!m_thread) Run(this);
    }
    ~StartupReader() { Wait(); }
    StartupReader(const StartupReader&) = delete;
    StartupReader& operator=(const StartupReader&) = delete;

    // Each is taken once the thread has ended.
    WindowIcons TakeIcons() override
    {
        Wait();
        return std::move(m_icons);
    }
    UserRoot TakeRoot()
    {
        Wait();
        return std::move(m_root);
    }
    PolicyStates TakeStates()
    {
        Wait();
        return m_states;
    }

private:
    static DWORD WINAPI Run(void* context)
    {
        auto& self = *static_cast<StartupReader*>(context);
        self.m_icons = WindowIcons::Load(self.m_instance, self.m_iconSizes);
        self.m_root = OpenSessionUserRoot();
        Win32Registry registry;
        registry.SetUserRoot(self.m_root.Get());
        self.m_states = ReadPolicyStates(registry);
        return 0;
    }
    void Wait()
    {
        if (m_thread) WaitForSingleObject(m_thread.Get(), INFINITE);
        m_thread.Reset();
    }

    // All before the thread that fills them.
    HINSTANCE m_instance;
    WindowIcons::Sizes m_iconSizes;
    WindowIcons m_icons;
    UserRoot m_root;
    PolicyStates m_states;
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
    // It, the states the tree shows and the class's icons come from the start-up thread.
    StartupReader reader(instance, WindowIcons::SizesAt(dpi::ForWindow(nullptr)));
    UserRoot root;
    Win32Registry registry;
    ShellRestartQuestion restart;
    MainWindow window(registry, restart);
    window.OnEnded = [] { PostQuitMessage(0); };
    const bool opened = window.Open(instance, &reader);
    const DWORD error = GetLastError();
    root = reader.TakeRoot();
    registry.SetUserRoot(root.Get());
    if (!opened)
    {
        std::wstring text = L"Windows Kestrin could not open its window.";
        if (error != ERROR_SUCCESS) text += L"\r\n\r\n" + SystemMessageText(error);
        MessageBoxW(nullptr, text.c_str(), L"Windows Kestrin", MB_OK | MB_ICONERROR);
        return 1;
    }
    window.LoadAndShow(showCommand, reader.TakeStates());
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
