#include "app/main_window_win.h"

#include "app/dpi_win.h"
#include "app/layout.h"
#include "app/resource.h"

#include <array>

namespace kestrin
{
namespace
{

constexpr wchar_t kWindowClass[] = L"KestrinMainWindow";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
// WM_GETDPISCALEDSIZE, sent by Windows 10 1703 and later; the headers hide it from a Windows 7 build.
constexpr UINT kGetDpiScaledSize = 0x02E4;

// The class's icons, drawn for the system DPI, which a window on the main monitor usually has. Set when
// the class is registered; the class lives as long as the process, and so do they.
WindowIcons g_classIcons;

} // namespace

MainWindow::MainWindow(Registry& registry, RestartQuestion& restart)
    : m_form(registry, restart, *this), m_treeControl(m_form.TreeView1)
{
    m_form.Command1.OnEnabledChanged = [this](bool enabled)
    {
        if (!m_apply) return;
        // A disabled control cannot keep the focus: hand it on as the Tab key would.
        if (!enabled && GetFocus() == m_apply) SetFocus(m_tree);
        EnableWindow(m_apply, enabled);
    };
}

MainWindow::~MainWindow()
{
    if (m_window) DestroyWindow(m_window);
    // A broadcast still on its way is let finish, so no running program misses it; the window is gone by
    // now, so the wait is nobody's. SendMessageTimeout gives each slow window 2 s: bounded all the same.
    WaitForBroadcasts(10000);
}

WindowIcons WindowIcons::Load(HINSTANCE instance, UINT dpiValue)
{
    const auto load = [instance, dpiValue](int metric)
    {
        const int size = dpi::SystemMetric(metric, dpiValue);
        return UniqueHicon(static_cast<HICON>(
            LoadImageW(instance, MAKEINTRESOURCEW(IDI_KESTRIN), IMAGE_ICON, size, size, 0)));
    };
    return {dpiValue, load(SM_CXICON), load(SM_CXSMICON)};
}

// The class carries the icons for the system DPI, so a window at that DPI needs no WM_SETICON (under Wine
// each one rewrites the icon of the X11 window, a few milliseconds of start-up).
bool MainWindow::RegisterWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, kWindowClass, &existing)) return true;
    g_classIcons = WindowIcons::Load(instance, dpi::ForWindow(nullptr));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = g_classIcons.bigIcon.Get();
    windowClass.hIconSm = g_classIcons.smallIcon.Get();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExW(&windowClass) != 0;
}

bool MainWindow::Create(HINSTANCE instance, int /*showCommand: always opens normal*/)
{
    m_instance = instance;

    if (!RegisterWindowClass(instance)) return false;

    m_owner.Reset(
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr));
    // Made where it will show, as far as can be known before it exists: on the main monitor, at the
    // system's DPI.
    const RECT frame =
        CentredFrame(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), dpi::ForWindow(nullptr));
    if (!CreateWindowExW(kExStyle, kWindowClass, std::wstring(kCaption).c_str(), kStyle, frame.left,
                         frame.top, frame.right - frame.left, frame.bottom - frame.top, m_owner.Get(),
                         nullptr, instance, this))
        return false;
    // Filled while the tree does not redraw: it works out its layout and scroll bars once, not per item.
    SendMessageW(m_tree, WM_SETREDRAW, FALSE, 0);
    m_form.Form_Load();
    SendMessageW(m_tree, WM_SETREDRAW, TRUE, 0);
    ShowNormalCentred();
    // "Apply" starts disabled, so the first enabled control in tab order is "Exit".
    SetFocus(m_exit);
    m_lastFocus = m_exit;
    return true;
}

// The frame at its own size for the DPI, centred on the monitor's work area.
RECT MainWindow::CentredFrame(HMONITOR monitor, UINT dpiValue) const
{
    const SIZE size = FrameSizeAt(dpiValue);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(monitor, &info);
    const RECT& work = info.rcWork;
    const LONG left = work.left + (work.right - work.left - size.cx) / 2;
    const LONG top = work.top + (work.bottom - work.top - size.cy) / 2;
    return {left, top, left + size.cx, top + size.cy};
}

void MainWindow::ShowNormalCentred()
{
    // Size for the DPI of the monitor the window is on, centred on that monitor's work area. The window
    // was made there already unless its monitor's DPI is not the system's.
    const RECT target = CentredFrame(MonitorFromWindow(m_window, MONITOR_DEFAULTTOPRIMARY), m_dpi);
    const auto place = [&](UINT flags)
    {
        RECT now{};
        GetWindowRect(m_window, &now);
        if (!EqualRect(&now, &target))
            SetWindowPos(m_window, nullptr, target.left, target.top, target.right - target.left,
                         target.bottom - target.top, SWP_NOZORDER | flags);
    };
    place(SWP_NOACTIVATE);

    // On Windows the first ShowWindow of a process takes the starter's show command (STARTUPINFO) in
    // place of SW_SHOWNORMAL: a shortcut set to "Maximized" or `start /max` would still maximize it.
    ShowWindow(m_window, SW_SHOWNORMAL);
    if (IsIconic(m_window) || IsZoomed(m_window) || !IsWindowVisible(m_window))
    {
        ShowWindow(m_window, SW_RESTORE);
        ShowWindow(m_window, SW_SHOWNORMAL);
        place(0);
    }
}

bool MainWindow::PreTranslate(MSG& message)
{
    if (!m_window) return false;
    const bool key =
        message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR;
    if (key && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE) &&
        (message.hwnd == m_window || IsChild(m_window, message.hwnd)))
        return true; // neither key does anything here
    const bool handled = IsDialogMessageW(m_window, &message);
    KeepButtonsPlain();
    return handled;
}

// The dialog manager makes a push button the default one (BS_DEFPUSHBUTTON) when Tab brings the focus
// to it, after which Enter presses it and it wears the default button's heavy frame. Neither button
// is ever the default here.
void MainWindow::KeepButtonsPlain()
{
    for (const HWND button : {m_exit, m_apply})
    {
        if (button && (GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            SendMessageW(button, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    }
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        self->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        // Windows 10 before 1703 scales the caption and frame for a per-monitor window only when asked.
        dpi::EnableNonClientScaling(window);
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_COMMAND:
        if (lParam) OnCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY:
        return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_ACTIVATE:
        OnActivate(LOWORD(wParam) != WA_INACTIVE);
        return 0;
    case DM_GETDEFID:
        return 0; // no default button
    case kGetDpiScaledSize:
    {
        // Sized from the twips layout at the new DPI, not by scaling the old frame: rounding and the
        // caption's own size do not scale linearly.
        *reinterpret_cast<SIZE*>(lParam) = FrameSizeAt(static_cast<UINT>(wParam));
        return TRUE;
    }
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_SYSCOLORCHANGE:
        // Common controls hear of new system colours only from their top-level window.
        for (const HWND child : {m_apply, m_exit})
            if (child) SendMessageW(child, message, wParam, lParam);
        if (m_tree) m_treeControl.SystemColoursChanged(wParam, lParam);
        return 0;
    case WM_THEMECHANGED:
        if (m_tree) m_treeControl.AppearanceChanged();
        return DefWindowProcW(m_window, message, wParam, lParam);
    case WM_SETTINGCHANGE:
        if (m_tree && wParam == SPI_SETHIGHCONTRAST) m_treeControl.AppearanceChanged();
        return DefWindowProcW(m_window, message, wParam, lParam);
    case WM_DESTROY:
        return 0;
    case WM_NCDESTROY:
    {
        const HWND window = m_window;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        m_window = m_exit = m_apply = m_tree = nullptr;
        if (OnEnded) OnEnded();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(m_window, message, wParam, lParam);
    }
}

void MainWindow::OnCreate()
{
    m_dpi = dpi::ForWindow(m_window);

    // Remove what a fixed dialog frame cannot do from the system menu.
    if (const HMENU menu = GetSystemMenu(m_window, FALSE))
    {
        for (const UINT command : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
            DeleteMenu(menu, command, MF_BYCOMMAND);
    }

    if (m_dpi != g_classIcons.dpi) LoadIcons();

    // Created in tab order: "Exit", "Apply", the tree.
    const auto child = [this](const wchar_t* windowClass, const wchar_t* text, DWORD style, int id)
    {
        return CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 0, 0,
                               m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance,
                               nullptr);
    };
    m_exit = child(WC_BUTTONW, L"Exit", BS_PUSHBUTTON, kExitId);
    m_apply = child(WC_BUTTONW, L"Apply", BS_PUSHBUTTON, kApplyId);
    if (m_treeControl.Create(m_window, m_instance, kTreeId, m_dpi)) m_tree = m_treeControl.Handle();
    CreateFonts();
    Layout();
}

void MainWindow::LoadIcons()
{
    // Sized for the window's DPI; the window does not own what it is given, so the old icons go only
    // after the new ones are in place.
    WindowIcons icons = WindowIcons::Load(m_instance, m_dpi);
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.bigIcon.Get()));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.smallIcon.Get()));
    m_icons = std::move(icons);
}

void MainWindow::CreateFonts()
{
    UniqueHfont buttonFont(
        CreateFontW(layout::FontHeight(layout::kButtonFontHundredthsOfPoint, static_cast<int>(m_dpi)), 0, 0,
                    0, layout::kButtonFontWeight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
    // Controls do not own their fonts: the old one goes only once nothing uses it.
    SendMessageW(m_exit, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont.Get()), TRUE);
    SendMessageW(m_apply, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont.Get()), TRUE);
    m_buttonFont = std::move(buttonFont);
}

SIZE MainWindow::ClientSize(UINT dpiValue) const
{
    return {layout::TwipsToPixels(layout::kClientWidth, static_cast<int>(dpiValue)),
            layout::TwipsToPixels(layout::kClientHeight, static_cast<int>(dpiValue))};
}

// The frame around the twips layout at that DPI.
SIZE MainWindow::FrameSizeAt(UINT dpiValue) const
{
    const RECT frame = dpi::WindowRectForClient(ClientSize(dpiValue), kStyle, kExStyle, dpiValue);
    return {frame.right - frame.left, frame.bottom - frame.top};
}

void MainWindow::Place(HWND control, const layout::TwipsRect& twips) const
{
    const int dpiValue = static_cast<int>(m_dpi);
    MoveWindow(control, layout::TwipsToPixels(twips.left, dpiValue),
               layout::TwipsToPixels(twips.top, dpiValue), layout::TwipsToPixels(twips.width, dpiValue),
               layout::TwipsToPixels(twips.height, dpiValue), TRUE);
}

void MainWindow::Layout()
{
    using layout::kApply, layout::kExit, layout::kTree;
    Place(m_exit, kExit);
    Place(m_apply, kApply);
    Place(m_tree, kTree);
    TreeView_SetIndent(m_tree, layout::TwipsToPixels(layout::kTreeIndent, static_cast<int>(m_dpi)));
}

void MainWindow::OnCommand(int id, int code)
{
    if (code != BN_CLICKED) return;
    if (id == kApplyId)
        m_form.Command1.Click();
    else if (id == kExitId)
        m_form.Command2.Click();
}

LRESULT MainWindow::OnNotify(const NMHDR& header)
{
    return header.hwndFrom == m_tree && m_tree ? m_treeControl.OnNotify(header) : 0;
}

void MainWindow::OnActivate(bool active)
{
    // Keep the focus where the user left it when the window is switched away from and back.
    if (!active)
    {
        const HWND focus = GetFocus();
        if (focus && IsChild(m_window, focus)) m_lastFocus = focus;
    }
    else if (m_lastFocus && IsWindowEnabled(m_lastFocus))
    {
        SetFocus(m_lastFocus);
    }
    else
    {
        SetFocus(m_exit);
    }
}

// Windows suggests a rectangle for the new DPI. Where it asked for the size first (WM_GETDPISCALEDSIZE,
// Windows 10 1703 and later) that is the layout's frame; earlier systems scale the old frame, caption and
// all, which misses the twips layout by a few pixels. So the suggested place is kept and the size is the
// layout's.
void MainWindow::OnDpiChanged(UINT dpiValue, const RECT& suggested)
{
    m_dpi = dpiValue;
    const SIZE frame = FrameSizeAt(dpiValue);
    SetWindowPos(m_window, nullptr, suggested.left, suggested.top, frame.cx, frame.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    LoadIcons();
    CreateFonts();
    if (m_tree) m_treeControl.SetDpi(dpiValue);
    Layout();
}

void MainWindow::ShowError(const std::wstring& text)
{
    MessageBoxW(m_window, text.c_str(), std::wstring(kCaption).c_str(), MB_OK | MB_ICONERROR);
}

std::wstring MainWindow::StatusText(Status status)
{
    return SystemMessageText(static_cast<DWORD>(status));
}

std::wstring SystemMessageText(DWORD status)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, status, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    if (text.empty())
    {
        std::wstring digits;
        do
            digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + status % 10));
        while ((status /= 10) != 0);
        text = L"Error " + digits + L".";
    }
    return text;
}

void MainWindow::NotifyPolicyChanged()
{
    // As the system's own policy engine does, so the shell re-reads what needs no restart. The broadcast
    // waits for each slow window in turn (up to 2 s each): it goes from a thread of its own, and the
    // restart question follows at once. The string is a literal, so the thread needs nothing of ours.
    const auto broadcast = [](void*) -> DWORD
    {
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Policy"),
                            SMTO_ABORTIFHUNG, 2000, nullptr);
        return 0;
    };
    std::erase_if(m_broadcasts, [](const UniqueHthread& thread)
                  { return WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0; });
    if (UniqueHthread thread(CreateThread(nullptr, 0, broadcast, nullptr, 0, nullptr)); thread)
        m_broadcasts.push_back(std::move(thread));
    else
        broadcast(nullptr); // no thread to be had: better late than not at all
}

void MainWindow::WaitForBroadcasts(DWORD milliseconds)
{
    // The broadcast also reaches this thread's own windows (the hidden owner, the input method's): they
    // are answered while waiting, or every one of them would hold the broadcast for its full timeout.
    const DWORD start = GetTickCount();
    for (const auto& thread : m_broadcasts)
    {
        for (;;)
        {
            const DWORD spent = GetTickCount() - start;
            const HANDLE handle = thread.Get();
            const DWORD woken = MsgWaitForMultipleObjects(
                1, &handle, FALSE, spent < milliseconds ? milliseconds - spent : 0, QS_SENDMESSAGE);
            if (woken != WAIT_OBJECT_0 + 1) break; // finished, or out of time
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    m_broadcasts.clear();
}

void MainWindow::EndProgram()
{
    if (m_window) DestroyWindow(m_window);
}

} // namespace kestrin
