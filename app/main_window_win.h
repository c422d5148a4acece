#pragma once

#include "app/handles_win.h"
#include "app/kestrin.h"
#include "app/layout.h"
#include "app/tree_control_win.h"

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <vector>

namespace kestrin
{

// Control identifiers. Dialog navigation turns Enter and Escape into IDOK (1) and IDCANCEL (2) when no
// button is the default: no control uses those, so neither key presses a button.
inline constexpr int kExitId = 101;
inline constexpr int kApplyId = 102;
inline constexpr int kTreeId = 103;

// The window's icon at the two sizes the system uses at one DPI (SM_CXICON and SM_CXSMICON).
struct WindowIcons
{
    static WindowIcons Load(HINSTANCE instance, UINT dpi);

    UINT dpi = USER_DEFAULT_SCREEN_DPI;
    UniqueHicon bigIcon;
    UniqueHicon smallIcon;
};

// The main window: shows the kestrin logic in a real window. It only translates messages into the
// logic's events and the logic's state into the controls. The frame, its layout and DPI, the buttons,
// the keys and the "policies changed" broadcast are here; the tree control's side is TreeControl.
class MainWindow final : private WindowHost
{
public:
    MainWindow(Registry& registry, RestartQuestion& restart);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window and its controls, loads the tree and shows the window centred, normal and at its
    // own size: a fixed dialog has no use for a maximized or minimized start, whatever it is started with.
    bool Create(HINSTANCE instance, int showCommand);
    // Dialog keyboard handling (Tab, Shift+Tab, Space on buttons) for a message from the loop. Enter and
    // Escape are taken away here: neither button is the default or the cancel button.
    bool PreTranslate(MSG& message);
    // Waits, up to `milliseconds`, for "policies changed" broadcasts still on their way.
    void WaitForBroadcasts(DWORD milliseconds);

    HWND Handle() const { return m_window; }
    HWND Tree() const { return m_tree; }
    HWND ApplyButton() const { return m_apply; }
    HWND ExitButton() const { return m_exit; }
    HIMAGELIST Images() const { return m_treeControl.Images(); }
    HFONT ButtonFont() const { return m_buttonFont.Get(); }
    HFONT TreeFont() const { return m_treeControl.Font(); }
    HTREEITEM ItemOf(const Node& node) const { return m_treeControl.ItemOf(node); }
    TreeControl& TreeSide() { return m_treeControl; }
    UINT Dpi() const { return m_dpi; }
    kestrin& Form() { return m_form; }

    // Called once the window has gone, however it went.
    std::function<void()> OnEnded;

private:
    static bool RegisterWindowClass(HINSTANCE instance);
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCreate();
    void OnCommand(int id, int code);
    LRESULT OnNotify(const NMHDR& header);
    void OnDpiChanged(UINT dpi, const RECT& suggested);
    SIZE FrameSizeAt(UINT dpi) const;
    void OnActivate(bool active);

    void LoadIcons();
    void CreateFonts();
    void Layout();
    SIZE ClientSize(UINT dpi) const;
    void Place(HWND control, const layout::TwipsRect& twips) const;
    void KeepButtonsPlain();
    void ShowNormalCentred();
    RECT CentredFrame(HMONITOR monitor, UINT dpi) const;

    // WindowHost
    void ShowError(const std::wstring& text) override;
    std::wstring StatusText(Status status) override;
    void NotifyPolicyChanged() override;
    void EndProgram() override;

    kestrin m_form;
    TreeControl m_treeControl;
    HINSTANCE m_instance = nullptr;
    UniqueHwnd m_owner; // hidden: an owned window gets no taskbar button
    HWND m_window = nullptr;
    HWND m_exit = nullptr;
    HWND m_apply = nullptr;
    HWND m_tree = nullptr;
    HWND m_lastFocus = nullptr;
    UINT m_dpi = USER_DEFAULT_SCREEN_DPI;
    UniqueHfont m_buttonFont;
    WindowIcons m_icons; // when the window's DPI is not the class's
    std::vector<UniqueHthread> m_broadcasts;
};

// The system's wording for a status, e.g. "Access is denied.", or "Error <n>." where it has none.
std::wstring SystemMessageText(DWORD status);

} // namespace kestrin
