// The real window under Wine (or Windows), driven with real input: its geometry at the display's DPI,
// its frame, fonts, focus and keys, and the tree control mirroring the logic's tree.
#include "app/dpi_win.h"
#include "app/layout.h"
#include "app/main_window_win.h"
#include "app/program_win.h"
#include "app/resource.h"
#include "app/restart_win.h"
#include "app/tree_control_win.h"
#include "store/memory_registry.h"
#include "store/module1.h"
#include "store/registry_win.h"
#include "tests/registry_under_test.h"
#include "tests/window_fakes.h"

#include "version.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace kestrin
{
namespace
{

using testing::ScriptedRestart;

COLORREF restoreTo[2]{}; // the system colours a test changed, to be set back

RECT ChildRect(HWND child)
{
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ExpectRect(HWND control, layout::TwipsRect twips, int dpi)
{
    const RECT rect = ChildRect(control);
    EXPECT_EQ(rect.left, layout::TwipsToPixels(twips.left, dpi));
    EXPECT_EQ(rect.top, layout::TwipsToPixels(twips.top, dpi));
    EXPECT_EQ(rect.right - rect.left, layout::TwipsToPixels(twips.width, dpi));
    EXPECT_EQ(rect.bottom - rect.top, layout::TwipsToPixels(twips.height, dpi));
}

void ExpectCentredOnItsWorkArea(HWND window)
{
    RECT frame{};
    GetWindowRect(window, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_NEAR(frame.left - monitor.rcWork.left, monitor.rcWork.right - frame.right, 1);
    EXPECT_NEAR(frame.top - monitor.rcWork.top, monitor.rcWork.bottom - frame.bottom, 1);
}

LOGFONTW FontOf(HFONT font)
{
    LOGFONTW logFont{};
    GetObjectW(font, sizeof logFont, &logFont);
    return logFont;
}

// Who holds the foreground: the window's class and its process's image name, for a test that finds it is
// not its own window.
std::wstring ForegroundHolder()
{
    const HWND holder = GetForegroundWindow();
    if (!holder) return L"no window";
    wchar_t className[128]{};
    GetClassNameW(holder, className, static_cast<int>(std::size(className)));
    DWORD processId = 0;
    GetWindowThreadProcessId(holder, &processId);
    std::wstring image = L"an unknown process";
    if (const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId))
    {
        wchar_t path[MAX_PATH]{};
        DWORD length = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, path, &length)) image.assign(path, length);
        CloseHandle(process);
    }
    return L"a window of class \"" + std::wstring(className) + L"\" of " + image + L" (process " +
           std::to_wstring(processId) + L")";
}

// Real input goes to the foreground window, and Windows gives the foreground to a process only on the
// conditions SetForegroundWindow's documentation lists: on a CI runner its own console holds it, and a
// plain request is refused. The ways UI test harnesses take it, in turn: the plain request; then with
// this thread's input attached to the holder's (not a hung one's, whose activation would block); then
// after an input event of this process's own (an empty mouse event, which moves and presses nothing):
// Windows lets the source of the last input take the foreground, though the documentation speaks only of
// the process that received it. The caller checks the outcome either way.
bool TakeForeground(HWND window)
{
    const auto holds = [window] { return GetForegroundWindow() == window; };
    if (holds() || (SetForegroundWindow(window) && holds())) return true;

    const DWORD ours = GetCurrentThreadId();
    const HWND holder = GetForegroundWindow();
    const DWORD theirs = holder && !IsHungAppWindow(holder) ? GetWindowThreadProcessId(holder, nullptr) : 0;
    const bool attached = theirs && theirs != ours && AttachThreadInput(ours, theirs, TRUE);
    BringWindowToTop(window);
    SetForegroundWindow(window);
    if (attached) AttachThreadInput(ours, theirs, FALSE);
    if (holds()) return true;

    INPUT nothing{};
    nothing.type = INPUT_MOUSE;
    SendInput(1, &nothing, sizeof nothing);
    SetForegroundWindow(window);
    return holds();
}

class RealWindow : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dpi::EnableAwareness();
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
    }

    void SetUp() override
    {
        registry.PutDword(Module1::PolicyKeyPath(L"Explorer"), L"NoRun", 1);
        window = std::make_unique<MainWindow>(registry, restart);
        window->OnEnded = [this] { ++ended; };
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), SW_SHOWNORMAL));
        ASSERT_TRUE(TakeForeground(window->Handle()))
            << "the test's window could not take the foreground, so its keys and clicks would go elsewhere; "
               "it is held by "
            << ForegroundHolder();
        Pump();
        registry.ClearCalls();
    }

    void TearDown() override { window.reset(); }

    // Runs the message loop the way the program does, for a while.
    void Pump(std::chrono::milliseconds duration = std::chrono::milliseconds(150))
    {
        const auto until = std::chrono::steady_clock::now() + duration;
        do
        {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            {
                if (!window->PreTranslate(message))
                {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while (std::chrono::steady_clock::now() < until);
    }

    // Input travels through the display server and back, which can take a while on a busy machine:
    // pump until what the input should do has happened, or give up after a few seconds.
    template <typename Condition> bool PumpUntil(Condition done)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done())
        {
            if (std::chrono::steady_clock::now() > until) return false;
            Pump(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Keys and clicks go where the foreground is: input sent anywhere else says so, not only what it missed.
    void ExpectInputGoesHere()
    {
        if (GetForegroundWindow() != window->Handle())
            ADD_FAILURE() << "input sent while " << ForegroundHolder() << " holds the foreground";
    }

    void Key(WORD key, bool shift = false)
    {
        ExpectInputGoesHere();
        std::vector<INPUT> inputs;
        const auto push = [&inputs](WORD vk, bool up)
        {
            INPUT input{};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = vk;
            input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
            inputs.push_back(input);
        };
        if (shift) push(VK_SHIFT, false);
        push(key, false);
        push(key, true);
        if (shift) push(VK_SHIFT, true);
        SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
        Pump();
    }

    void ClickAt(HWND control, POINT client)
    {
        ExpectInputGoesHere();
        ClientToScreen(control, &client);
        SetCursorPos(client.x, client.y);
        Pump(std::chrono::milliseconds(50));
        INPUT inputs[2]{};
        inputs[0].type = inputs[1].type = INPUT_MOUSE;
        inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, inputs, sizeof(INPUT));
        Pump(std::chrono::milliseconds(300)); // past the double-click time, so clicks stay single
    }

    void ClickCentre(HWND control)
    {
        RECT rect{};
        GetClientRect(control, &rect);
        ClickAt(control, Centre(rect));
    }

    RECT LabelRect(const Node& node)
    {
        RECT rect{};
        TreeView_GetItemRect(window->Tree(), window->ItemOf(node), &rect, TRUE);
        return rect;
    }

    TVITEMEXW ItemData(const Node& node)
    {
        TVITEMEXW item{};
        item.mask =
            TVIF_HANDLE | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_EXPANDEDIMAGE | TVIF_TEXT | TVIF_STATE;
        item.hItem = window->ItemOf(node);
        item.pszText = m_text;
        item.cchTextMax = static_cast<int>(std::size(m_text));
        SendMessageW(window->Tree(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        return item;
    }

    // What screen readers and automation are told: every entry carries the check state of its picture
    // (1 empty, 2 ticked), no category carries one.
    void ExpectCheckStatesMatchTheNodes()
    {
        for (const auto& node : window->Form().TreeView1.Nodes())
        {
            const UINT expected = !node->Parent() ? 0 : node->Image() == ImageTicked ? 2 : 1;
            EXPECT_EQ(ItemData(*node).state & TVIS_STATEIMAGEMASK, INDEXTOSTATEIMAGEMASK(expected))
                << node->Text();
        }
    }

    // With all four categories expanded, every label fits beside the vertical scroll bar: each label's
    // text, measured in the tree's own font, ends inside the tree's client area (the control draws it 2 px
    // right of where its item rectangle starts). Under Wine a control's scroll bar keeps the width of the
    // session's DPI, so the one Windows shows at the window's DPI is reckoned with; at the session's DPI
    // there is also no horizontal scroll bar.
    void ExpectEveryLabelFits()
    {
        const HWND tree = window->Tree();
        for (std::size_t c = 0; c < 4; ++c)
            TreeView_Expand(tree, window->ItemOf(Category(c)), TVE_EXPAND);
        SendMessageW(tree, WM_VSCROLL, SB_TOP, 0);
        Pump(std::chrono::milliseconds(50));
        SCROLLBARINFO bar{};
        bar.cbSize = sizeof bar;
        ASSERT_TRUE(GetScrollBarInfo(tree, OBJID_VSCROLL, &bar));
        ASSERT_FALSE(bar.rgstate[0] & STATE_SYSTEM_INVISIBLE) << "40 rows need a vertical scroll bar";
        RECT client{};
        GetClientRect(tree, &client);
        const int available = client.right + (bar.rcScrollBar.right - bar.rcScrollBar.left) -
                              dpi::SystemMetric(SM_CXVSCROLL, window->Dpi());
        if (window->Dpi() == dpi::ForWindow(nullptr))
        {
            ASSERT_TRUE(GetScrollBarInfo(tree, OBJID_HSCROLL, &bar));
            EXPECT_TRUE(bar.rgstate[0] & STATE_SYSTEM_INVISIBLE) << "a horizontal scroll bar";
        }
        const int categoryLeft = LabelRect(Category(0)).left;
        const int entryLeft = LabelRect(Entry(L"NoRun")).left;
        const HDC dc = GetDC(tree);
        const HGDIOBJ before =
            SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(tree, WM_GETFONT, 0, 0)));
        for (const auto& node : window->Form().TreeView1.Nodes())
        {
            SIZE extent{};
            GetTextExtentPoint32W(dc, node->Text().c_str(), static_cast<int>(node->Text().size()), &extent);
            const int end = (node->Parent() ? entryLeft : categoryLeft) + 2 + extent.cx;
            EXPECT_LE(end, available) << node->Text();
        }
        SelectObject(dc, before);
        ReleaseDC(tree, dc);
        for (std::size_t c = 0; c < 4; ++c)
            TreeView_Expand(tree, window->ItemOf(Category(c)), TVE_COLLAPSE);
    }

    // Where the first category's and the first entry's labels stand in a tree like the window's without
    // state pictures: the same styles but the check boxes, the same font, pictures and indent.
    std::pair<int, int> LabelLeftsWithoutStatePictures()
    {
        const HWND tree = window->Tree();
        const HWND plain = CreateWindowExW(
            static_cast<DWORD>(GetWindowLongPtrW(tree, GWL_EXSTYLE)), WC_TREEVIEWW, L"",
            static_cast<DWORD>(GetWindowLongPtrW(tree, GWL_STYLE)) & ~static_cast<DWORD>(TVS_CHECKBOXES), 0,
            0, 200, 200, window->Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
        if (!plain) return {INT_MIN, INT_MIN};
        SendMessageW(plain, WM_SETFONT, static_cast<WPARAM>(SendMessageW(tree, WM_GETFONT, 0, 0)), FALSE);
        TreeView_SetImageList(plain, window->Images(), TVSIL_NORMAL); // a tree never destroys this list
        TreeView_SetIndent(plain, TreeView_GetIndent(tree));
        TVINSERTSTRUCTW insert{};
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
        insert.hParent = TVI_ROOT;
        insert.item.pszText = const_cast<wchar_t*>(L"Explorer");
        insert.item.iImage = insert.item.iSelectedImage = ItemData(Category(0)).iImage;
        const HTREEITEM category = TreeView_InsertItem(plain, &insert);
        insert.hParent = category;
        insert.item.pszText = const_cast<wchar_t*>(L"Hide Run Menu");
        insert.item.iImage = insert.item.iSelectedImage = ItemData(Entry(L"NoRun")).iImage;
        const HTREEITEM entry = TreeView_InsertItem(plain, &insert);
        TreeView_Expand(plain, category, TVE_EXPAND);
        RECT categoryLabel{INT_MIN};
        RECT entryLabel{INT_MIN};
        TreeView_GetItemRect(plain, category, &categoryLabel, TRUE);
        TreeView_GetItemRect(plain, entry, &entryLabel, TRUE);
        DestroyWindow(plain);
        return {categoryLabel.left, entryLabel.left};
    }

    static POINT Centre(const RECT& rect)
    {
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    // A check state set as UI Automation's Toggle sets it: TVM_SETITEM from another thread (the proxy's
    // process), while this thread runs its message loop. Returns the tree's answer.
    LRESULT SetCheckStateFromAnotherThread(const Node& node, int checkState)
    {
        TVITEMW item{};
        item.mask = TVIF_HANDLE | TVIF_STATE;
        item.hItem = window->ItemOf(node);
        item.stateMask = TVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(checkState);
        LRESULT result = -1;
        bool done = false;
        std::thread proxy(
            [&]
            {
                result = SendMessageW(window->Tree(), TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
                done = true;
            });
        PumpUntil([&] { return done; });
        proxy.join();
        Pump();
        return result;
    }

    Node& Entry(const wchar_t* key) { return *window->Form().TreeView1.FindByKey(key); }
    Node& Category(std::size_t index)
    {
        std::size_t seen = 0;
        for (const auto& node : window->Form().TreeView1.Nodes())
            if (!node->Parent() && seen++ == index) return *node;
        throw std::out_of_range("no such category");
    }

    MemoryRegistry registry;
    ScriptedRestart restart;
    std::unique_ptr<MainWindow> window;
    int ended = 0;
    wchar_t m_text[256]{};
};

TEST_F(RealWindow, Geometry_MatchesTheTwipsLayoutAtTheDisplaysDpi)
{
    const int dpi = static_cast<int>(window->Dpi());
    if (const char* expected = std::getenv("KESTRIN_WINE_DPI"))
    {
        ASSERT_EQ(dpi, std::atoi(expected)) << "the display's DPI did not reach the window";
    }

    RECT client{};
    GetClientRect(window->Handle(), &client);
    EXPECT_EQ(client.right, layout::TwipsToPixels(4500, dpi));
    EXPECT_EQ(client.bottom, layout::TwipsToPixels(3795, dpi));
    ExpectRect(window->ExitButton(), {2280, 3120, 1515, 375}, dpi);
    ExpectRect(window->ApplyButton(), {600, 3120, 1515, 375}, dpi);
    ExpectRect(window->Tree(), {0, 120, 4455, 2895}, dpi);
    EXPECT_EQ(TreeView_GetIndent(window->Tree()), static_cast<UINT>(layout::TwipsToPixels(567, dpi)));

    if (dpi == 96)
    {
        EXPECT_EQ(client.right, 300);
        EXPECT_EQ(client.bottom, 253);
        const RECT exit = ChildRect(window->ExitButton());
        EXPECT_EQ(exit.left, 152);
        EXPECT_EQ(exit.top, 208);
    }
    if (dpi == 144)
    {
        EXPECT_EQ(client.right, 450);
        EXPECT_EQ(client.bottom, 380);
    }
}

TEST_F(RealWindow, Frame_IsAFixedDialogCentredOnTheWorkAreaWithoutTaskbarButton)
{
    const HWND hwnd = window->Handle();
    wchar_t caption[64]{};
    GetWindowTextW(hwnd, caption, 64);
    EXPECT_STREQ(caption, L"Windows Kestrin");

    const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    EXPECT_EQ(style & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_FALSE(exStyle & (WS_EX_APPWINDOW | WS_EX_TOOLWINDOW));
    const HWND owner = GetWindow(hwnd, GW_OWNER);
    ASSERT_NE(owner, nullptr) << "an unowned window gets a taskbar button";
    EXPECT_FALSE(IsWindowVisible(owner));

    const HMENU menu = GetSystemMenu(hwnd, FALSE);
    EXPECT_EQ(GetMenuState(menu, SC_SIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_NE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));

    ExpectCentredOnItsWorkArea(hwnd);

    // The caption's icons, drawn for the window's DPI: its own, or else its class's.
    for (const auto& [which, fallback, metric] :
         {std::tuple{ICON_BIG, GCLP_HICON, SM_CXICON}, std::tuple{ICON_SMALL, GCLP_HICONSM, SM_CXSMICON}})
    {
        auto icon = reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, which, 0));
        if (!icon) icon = reinterpret_cast<HICON>(GetClassLongPtrW(hwnd, fallback));
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        const UniqueHbitmap colour(info.hbmColor);
        const UniqueHbitmap mask(info.hbmMask);
        BITMAP bits{};
        GetObjectW(colour.Get(), sizeof bits, &bits);
        EXPECT_EQ(bits.bmWidth, dpi::SystemMetric(metric, window->Dpi()));
    }
}

// Wine never moves a window to a monitor of another DPI, so the messages Windows sends then are sent here.
TEST_F(RealWindow, DpiChanges_LayOutFontsIconsAndPicturesAgainFromTheTwipsTable)
{
    const HWND hwnd = window->Handle();
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_EXSTYLE));
    const auto iconWidth = [](HICON icon)
    {
        ICONINFO info{};
        if (!GetIconInfo(icon, &info)) return 0;
        const UniqueHbitmap colour(info.hbmColor);
        const UniqueHbitmap mask(info.hbmMask);
        BITMAP bits{};
        GetObjectW(colour ? colour.Get() : mask.Get(), sizeof bits, &bits);
        return static_cast<int>(bits.bmWidth);
    };
    for (const UINT dpiValue : {144u, 120u, 192u, 96u, 144u, 96u})
    {
        SCOPED_TRACE(dpiValue);
        const int dpi = static_cast<int>(dpiValue);
        const HFONT oldButtonFont = window->ButtonFont();
        const HFONT oldTreeFont = window->TreeFont();
        const auto oldBig = reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0));

        // First Windows asks for the size at the new DPI, then moves the window to what it was told.
        SIZE size{};
        ASSERT_TRUE(
            SendMessageW(hwnd, 0x02E4 /* WM_GETDPISCALEDSIZE */, dpiValue, reinterpret_cast<LPARAM>(&size)));
        const RECT wanted = dpi::WindowRectForClient(
            {layout::TwipsToPixels(4500, dpi), layout::TwipsToPixels(3795, dpi)}, style, exStyle, dpiValue);
        EXPECT_EQ(size.cx, wanted.right - wanted.left);
        EXPECT_EQ(size.cy, wanted.bottom - wanted.top);
        // Windows before 10 1703 never asks, and suggests the old frame scaled, caption and all: another
        // size. The window goes where it is told, at the layout's size.
        RECT before{};
        GetWindowRect(hwnd, &before);
        RECT suggested{before.left + 11, before.top + 7, before.left + 11 + size.cx + 13,
                       before.top + 7 + size.cy + 9};
        SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpiValue, dpiValue),
                     reinterpret_cast<LPARAM>(&suggested));
        Pump();

        EXPECT_EQ(window->Dpi(), dpiValue);
        RECT frame{};
        GetWindowRect(hwnd, &frame);
        EXPECT_EQ(frame.left, suggested.left);
        EXPECT_EQ(frame.top, suggested.top);
        EXPECT_EQ(frame.right - frame.left, size.cx);
        EXPECT_EQ(frame.bottom - frame.top, size.cy);
        ExpectRect(window->ExitButton(), {2280, 3120, 1515, 375}, dpi);
        ExpectRect(window->ApplyButton(), {600, 3120, 1515, 375}, dpi);
        ExpectRect(window->Tree(), {0, 120, 4455, 2895}, dpi);
        EXPECT_EQ(TreeView_GetIndent(window->Tree()), static_cast<UINT>(layout::TwipsToPixels(567, dpi)));

        EXPECT_EQ(
            FontOf(reinterpret_cast<HFONT>(SendMessageW(window->ExitButton(), WM_GETFONT, 0, 0))).lfHeight,
            -MulDiv(825, dpi, 7200));
        EXPECT_EQ(FontOf(reinterpret_cast<HFONT>(SendMessageW(window->Tree(), WM_GETFONT, 0, 0))).lfHeight,
                  -MulDiv(800, dpi, 7200));
        ExpectEveryLabelFits();
        const auto bigIcon = reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0));
        EXPECT_EQ(iconWidth(bigIcon), dpi::SystemMetric(SM_CXICON, dpiValue));
        const auto smallIcon = reinterpret_cast<HICON>(SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0));
        EXPECT_EQ(iconWidth(smallIcon), dpi::SystemMetric(SM_CXSMICON, dpiValue));
        EXPECT_EQ(TreeView_GetImageList(window->Tree(), TVSIL_NORMAL), window->Images());
        EXPECT_EQ(ImageList_GetImageCount(window->Images()), 4);
        int pictureWidth = 0;
        int pictureHeight = 0;
        ImageList_GetIconSize(window->Images(), &pictureWidth, &pictureHeight);
        EXPECT_EQ(pictureWidth, layout::PictureSize(dpi));

        // What was replaced is gone, and nothing that is in use went with it.
        for (const HFONT old : {oldButtonFont, oldTreeFont})
        {
            const bool inUse = old == window->ButtonFont() || old == window->TreeFont();
            EXPECT_TRUE(inUse || GetObjectType(old) == 0) << "an old font was not deleted";
        }
        const bool iconInUse = oldBig == bigIcon || oldBig == smallIcon;
        EXPECT_TRUE(iconInUse || iconWidth(oldBig) == 0) << "the old icon was not destroyed";
    }
    EXPECT_TRUE(registry.Calls().empty());
}

TEST_F(RealWindow, Fonts_ButtonsAreTahomaBoldAndTheTreeTheDialogFont)
{
    const int dpi = static_cast<int>(window->Dpi());
    for (const HWND button : {window->ExitButton(), window->ApplyButton()})
    {
        const LOGFONTW font = FontOf(reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
        EXPECT_STREQ(font.lfFaceName, L"Tahoma");
        EXPECT_EQ(font.lfWeight, 700);
        EXPECT_EQ(font.lfHeight, -MulDiv(825, dpi, 7200));
    }
    const auto treeFont = reinterpret_cast<HFONT>(SendMessageW(window->Tree(), WM_GETFONT, 0, 0));
    EXPECT_STREQ(FontOf(treeFont).lfFaceName, L"Tahoma");
    EXPECT_EQ(FontOf(treeFont).lfHeight, -MulDiv(800, dpi, 7200));
    EXPECT_EQ(FontOf(treeFont).lfWeight, FW_NORMAL);
    // The dialog font, Tahoma, on Windows and under Wine alike.
    const HDC dc = GetDC(window->Tree());
    const HGDIOBJ before = SelectObject(dc, treeFont);
    std::vector<unsigned char> metrics(GetOutlineTextMetricsW(dc, 0, nullptr));
    ASSERT_FALSE(metrics.empty());
    auto* outline = reinterpret_cast<OUTLINETEXTMETRICW*>(metrics.data());
    GetOutlineTextMetricsW(dc, static_cast<UINT>(metrics.size()), outline);
    SelectObject(dc, before);
    ReleaseDC(window->Tree(), dc);
    EXPECT_STREQ(reinterpret_cast<const wchar_t*>(metrics.data() +
                                                  reinterpret_cast<std::uintptr_t>(outline->otmpFamilyName)),
                 L"Tahoma");
    ExpectEveryLabelFits();

    wchar_t text[16]{};
    GetWindowTextW(window->ExitButton(), text, 16);
    EXPECT_STREQ(text, L"Exit");
    GetWindowTextW(window->ApplyButton(), text, 16);
    EXPECT_STREQ(text, L"Apply");
}

TEST_F(RealWindow, Focus_StartsOnExitAndTabSkipsTheDisabledApply)
{
    EXPECT_FALSE(IsWindowEnabled(window->ApplyButton()));
    EXPECT_TRUE(IsWindowEnabled(window->ExitButton()));
    EXPECT_EQ(GetFocus(), window->ExitButton());
    Key(VK_TAB);
    EXPECT_TRUE(PumpUntil([&] { return GetFocus() == window->Tree(); }));
    Key(VK_TAB, true);
    EXPECT_TRUE(PumpUntil([&] { return GetFocus() == window->ExitButton(); }));
}

// The dialog manager makes a button the default when Tab brings the focus to it; here neither ever is.
TEST_F(RealWindow, EnterAndEscape_PressNeitherButtonHoweverTheFocusGotThere)
{
    window->Form().TreeView1.NodeClick(Entry(L"NoFind")); // so "Apply" is enabled and has work to do
    registry.ClearCalls();
    const auto pressBoth = [&](HWND focus, const char* how)
    {
        ASSERT_TRUE(PumpUntil([&] { return GetFocus() == focus; })) << how;
        Key(VK_RETURN);
        Key(VK_ESCAPE);
        Pump(std::chrono::milliseconds(300));
        EXPECT_TRUE(IsWindow(window->Handle())) << how;
        EXPECT_EQ(restart.asked, 0) << how;
        for (const HWND button : {window->ExitButton(), window->ApplyButton()})
            EXPECT_NE(GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON) << how;
    };
    pressBoth(window->ExitButton(), "at start");
    Key(VK_TAB);
    pressBoth(window->ApplyButton(), "Tab to Apply");
    Key(VK_TAB);
    pressBoth(window->Tree(), "Tab to the tree");
    Key(VK_TAB, true);
    pressBoth(window->ApplyButton(), "Shift+Tab from the tree to Apply");
    Key(VK_TAB, true);
    pressBoth(window->ExitButton(), "Shift+Tab back to Exit");
    EXPECT_EQ(ended, 0);
    EXPECT_TRUE(registry.Calls().empty());

    // Space still presses the focused button.
    Key(VK_TAB);
    ASSERT_TRUE(PumpUntil([&] { return GetFocus() == window->ApplyButton(); }));
    Key(VK_SPACE);
    EXPECT_TRUE(PumpUntil([&] { return restart.asked == 1; }));
}

// A broadcast waits for each slow window on the desktop in turn; the restart question must not.
TEST_F(RealWindow, Apply_WithSlowWindowsOnTheDesktop_AsksAtOnce)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    std::wstring slow(path, length);
    slow = slow.substr(0, slow.find_last_of(L'\\') + 1) + L"kestrin_slow_windows.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(slow.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    const auto stop = [&process]
    {
        TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, 5000);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    };
    if (!PumpUntil([] { return FindWindowW(L"KestrinSlowWindow", nullptr) != nullptr; }))
    {
        stop();
        FAIL() << "the slow windows did not appear";
    }
    Pump(std::chrono::milliseconds(200));

    window->Form().TreeView1.NodeClick(Entry(L"NoRealMode"));
    const auto pressed = std::chrono::steady_clock::now();
    ClickCentre(window->ApplyButton());
    const bool asked = PumpUntil([&] { return restart.asked == 1; });
    stop();
    ASSERT_TRUE(asked);
    EXPECT_LT(restart.askedAt - pressed, std::chrono::seconds(1));
    EXPECT_TRUE(registry.GetValue(Module1::PolicyKeyPath(L"Dos"), L"NoRealMode"));
}

TEST_F(RealWindow, Tree_MirrorsTheNodesWithTheirOwnSelectedAndExpandedPictures)
{
    EXPECT_EQ(TreeView_GetCount(window->Tree()), 40u);
    const Node& explorer = Category(0);
    auto item = ItemData(explorer);
    EXPECT_STREQ(item.pszText, L"Explorer");
    EXPECT_EQ(item.iImage, 2);
    EXPECT_EQ(item.iExpandedImage, 3);
    EXPECT_FALSE(item.state & TVIS_EXPANDED) << "categories start collapsed";

    item = ItemData(Entry(L"NoRun"));
    EXPECT_STREQ(item.pszText, L"Hide Run Menu");
    EXPECT_EQ(item.iImage, 0);
    EXPECT_EQ(item.iSelectedImage, 0);
    item = ItemData(Entry(L"NoDrives"));
    EXPECT_STREQ(item.pszText, L"Hide Drives from  Desktop");
    EXPECT_EQ(item.iImage, 1);
    EXPECT_EQ(item.iSelectedImage, 1) << "a selected off entry must not draw as ticked";

    // Check states for the accessibility proxies, whose state pictures have no width where the system
    // takes that, else one transparent pixel (StateImages below): every label stands where it would
    // without them, or that one pixel further right.
    EXPECT_TRUE(GetWindowLongPtrW(window->Tree(), GWL_STYLE) & TVS_CHECKBOXES);
    const HIMAGELIST states = TreeView_GetImageList(window->Tree(), TVSIL_STATE);
    int stateWidth = 0;
    int stateHeight = 0;
    ASSERT_TRUE(ImageList_GetIconSize(states, &stateWidth, &stateHeight));
    EXPECT_LE(stateWidth, 1);
    EXPECT_EQ(ImageList_GetImageCount(states), 3);
    Pump(); // the control would reset every check state here if it had no state list of ours
    ExpectCheckStatesMatchTheNodes();

    // New system colours reach the tree only through its window. Should the tree then make its own boxes
    // again (resetting the check states), the program's state list goes back in and the states with it.
    static int colourChanges = 0;
    const SUBCLASSPROC counter = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                    DWORD_PTR) -> LRESULT
    {
        colourChanges += message == WM_SYSCOLORCHANGE;
        return DefSubclassProc(hwnd, message, wParam, lParam);
    };
    ASSERT_TRUE(SetWindowSubclass(window->Tree(), counter, 1, 0));
    TreeView_SetImageList(window->Tree(), ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 3, 0),
                          TVSIL_STATE);
    TVITEMW reset{};
    reset.mask = TVIF_HANDLE | TVIF_STATE;
    reset.hItem = window->ItemOf(Entry(L"NoRun"));
    reset.state = INDEXTOSTATEIMAGEMASK(1);
    reset.stateMask = TVIS_STATEIMAGEMASK;
    TreeView_SetItem(window->Tree(), &reset);
    SendMessageW(window->Handle(), WM_SYSCOLORCHANGE, 0, 0);
    Pump();
    RemoveWindowSubclass(window->Tree(), counter, 1);
    EXPECT_EQ(colourChanges, 1);
    EXPECT_EQ(TreeView_GetImageList(window->Tree(), TVSIL_STATE), states);
    ExpectCheckStatesMatchTheNodes();

    const auto [categoryLeft, entryLeft] = LabelLeftsWithoutStatePictures();
    TreeView_Expand(window->Tree(), window->ItemOf(explorer), TVE_EXPAND);
    for (const auto& [label, plain] : {std::pair{LabelRect(explorer).left, categoryLeft},
                                       std::pair{LabelRect(Entry(L"NoRun")).left, entryLeft}})
    {
        EXPECT_GE(label, plain);
        EXPECT_LE(label, plain + std::min(stateWidth, 1));
    }
    TreeView_Expand(window->Tree(), window->ItemOf(explorer), TVE_COLLAPSE);

    // Expanded and collapsed as a user does it, with the arrow keys on the selected category.
    TreeView_SelectItem(window->Tree(), window->ItemOf(explorer));
    SetFocus(window->Tree());
    Key(VK_RIGHT);
    EXPECT_TRUE(PumpUntil([&] { return ItemData(explorer).state & TVIS_EXPANDED; }));
    item = ItemData(explorer);
    EXPECT_TRUE(item.state & TVIS_EXPANDED);
    EXPECT_EQ(item.iSelectedImage, 3) << "selected and expanded shows the open folder";
    EXPECT_EQ(explorer.Image(), ImageFolderClosed);
    Key(VK_LEFT);
    EXPECT_TRUE(PumpUntil([&] { return !(ItemData(explorer).state & TVIS_EXPANDED); }));
    item = ItemData(explorer);
    EXPECT_FALSE(item.state & TVIS_EXPANDED);
    EXPECT_EQ(item.iSelectedImage, 2);
    EXPECT_TRUE(registry.Calls().empty());

    // The pictures drawn for the window's DPI: 16 px at 96, 24 px at 144.
    const HIMAGELIST images = window->Images();
    EXPECT_EQ(ImageList_GetImageCount(images), 4);
    int width = 0;
    int height = 0;
    ImageList_GetIconSize(images, &width, &height);
    const int size = layout::PictureSize(static_cast<int>(window->Dpi()));
    EXPECT_EQ(size, window->Dpi() == 144 ? 24 : window->Dpi() == 96 ? 16 : size);
    EXPECT_EQ(width, size);
    EXPECT_EQ(height, size);
}

// The boxes as they are on screen: drawn for the DPI (12 px at 96, 18 px at 144), one ticked, one empty.
TEST_F(RealWindow, Pictures_OnScreenAreTheBoxesDrawnForTheDpi)
{
    TreeView_Expand(window->Tree(), window->ItemOf(Category(0)), TVE_EXPAND);
    Pump();
    const int size = layout::PictureSize(static_cast<int>(window->Dpi()));
    const int first = (2 * size + 8) / 16; // the box's margin in its picture
    const HDC screen = GetDC(window->Tree());
    for (const auto& [key, ticked] : {std::pair{L"NoRun", true}, std::pair{L"NoFind", false}})
    {
        SCOPED_TRACE(ticked ? "ticked" : "empty");
        RECT row{};
        TreeView_GetItemRect(window->Tree(), window->ItemOf(Entry(key)), &row, FALSE);
        RECT label = LabelRect(Entry(key));
        int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1, green = 0;
        for (int y = row.top; y < row.bottom; ++y)
            for (int x = 0; x < label.left; ++x)
            {
                const COLORREF c = GetPixel(screen, x, y);
                if (c == RGB(0, 0, 0))
                {
                    left = std::min(left, x);
                    top = std::min(top, y);
                }
                if (c == RGB(192, 192, 192))
                {
                    right = std::max(right, x);
                    bottom = std::max(bottom, y);
                }
                green += c == RGB(0, 128, 0);
            }
        EXPECT_EQ(right - left + 1, size - 2 * first);
        EXPECT_EQ(bottom - top + 1, size - 2 * first);
        EXPECT_EQ(green > 0, ticked);
    }
    ReleaseDC(window->Tree(), screen);
}

// In high contrast the boxes are drawn in the system's colours, rebuilt when high contrast or the colours
// change. Wine cannot turn high contrast on, so the window is told it is on; the colours are set for real.
TEST_F(RealWindow, HighContrast_DrawsBothBoxesInTheSystemsColours)
{
    const int elements[] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
    const COLORREF saved[] = {GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_WINDOWTEXT)};
    const std::unique_ptr<const int, void (*)(const int*)> restore(
        elements,
        [](const int*)
        {
            // The colours belong to the whole Wine session: they go back however the test ends.
            const int what[] = {COLOR_WINDOW, COLOR_WINDOWTEXT};
            SetSysColors(2, what, restoreTo);
        });
    std::copy(std::begin(saved), std::end(saved), restoreTo);
    bool highContrast = false;
    window->TreeSide().HighContrast = [&highContrast] { return highContrast; };
    TreeView_Expand(window->Tree(), window->ItemOf(Category(0)), TVE_EXPAND);
    Pump();

    const int size = layout::PictureSize(static_cast<int>(window->Dpi()));
    const int box = (14 * size + 8) / 16 - (2 * size + 8) / 16;
    // Where the colour `edge` is drawn left of an entry's label: its extent, and whether it is also inside.
    const auto boxIn = [&](const wchar_t* key, COLORREF edge)
    {
        const HDC screen = GetDC(window->Tree());
        RECT row{};
        TreeView_GetItemRect(window->Tree(), window->ItemOf(Entry(key)), &row, FALSE);
        const RECT label = LabelRect(Entry(key));
        int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1, grey = 0;
        for (int y = row.top; y < row.bottom; ++y)
            for (int x = label.left - size - 4; x < label.left; ++x)
            {
                const COLORREF c = GetPixel(screen, x, y);
                grey += c == RGB(192, 192, 192);
                if (c != edge) continue;
                left = std::min(left, x), top = std::min(top, y);
                right = std::max(right, x), bottom = std::max(bottom, y);
            }
        int inside = 0;
        for (int y = top + 2; right >= 0 && y < bottom - 1; ++y)
            for (int x = left + 2; x < right - 1; ++x)
                inside += GetPixel(screen, x, y) == edge;
        ReleaseDC(window->Tree(), screen);
        return std::tuple{right - left + 1, bottom - top + 1, inside > 0, grey};
    };

    const COLORREF first[] = {RGB(0, 0, 0), RGB(255, 255, 0)};
    ASSERT_TRUE(SetSysColors(2, elements, first));
    SendMessageW(window->Handle(), WM_SYSCOLORCHANGE, 0, 0);
    Pump();
    EXPECT_GT(std::get<3>(boxIn(L"NoFind", RGB(255, 255, 0))), 0)
        << "outside high contrast: the own pictures";

    highContrast = true;
    SendMessageW(window->Handle(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    Pump();
    EXPECT_EQ(boxIn(L"NoRun", RGB(255, 255, 0)), std::tuple(box, box, true, 0)) << "ticked, black theme";
    EXPECT_EQ(boxIn(L"NoFind", RGB(255, 255, 0)), std::tuple(box, box, false, 0)) << "empty, black theme";

    const COLORREF second[] = {RGB(255, 255, 255), RGB(0, 0, 0)};
    ASSERT_TRUE(SetSysColors(2, elements, second));
    SendMessageW(window->Handle(), WM_SYSCOLORCHANGE, 0, 0);
    Pump();
    EXPECT_EQ(boxIn(L"NoRun", RGB(0, 0, 0)), std::tuple(box, box, true, 0)) << "ticked, white theme";
    EXPECT_EQ(boxIn(L"NoFind", RGB(0, 0, 0)), std::tuple(box, box, false, 0)) << "empty, white theme";
    ExpectCheckStatesMatchTheNodes();
}

TEST_F(RealWindow, MouseAndSpace_ToggleOnlyWhenANodeIsHit)
{
    Node& explorer = Category(0);
    TreeView_Expand(window->Tree(), window->ItemOf(explorer), TVE_EXPAND);
    Pump();
    Node& noFind = Entry(L"NoFind");
    const RECT label = LabelRect(noFind);

    // Right of the label: not a click on the node.
    ClickAt(window->Tree(), {label.right + 20, (label.top + label.bottom) / 2});
    EXPECT_EQ(noFind.Image(), ImageUnticked);
    EXPECT_FALSE(IsWindowEnabled(window->ApplyButton()));

    // On the label, then on the picture left of it.
    ClickAt(window->Tree(), Centre(label));
    EXPECT_TRUE(PumpUntil([&] { return noFind.Image() == ImageTicked; }));
    EXPECT_EQ(ItemData(noFind).iImage, 0);
    EXPECT_EQ(ItemData(noFind).iSelectedImage, 0);
    EXPECT_TRUE(IsWindowEnabled(window->ApplyButton()));
    ClickAt(window->Tree(), {label.left - 8, (label.top + label.bottom) / 2});
    EXPECT_TRUE(PumpUntil([&] { return noFind.Image() == ImageUnticked; }));
    EXPECT_EQ(ItemData(noFind).iImage, 1);

    // Categories have no expand button (the root has no lines): a double click on one expands or
    // collapses it, and changes no restriction.
    const RECT categoryLabel = LabelRect(explorer);
    TVHITTESTINFO hit{};
    hit.pt = {categoryLabel.left - 8, (categoryLabel.top + categoryLabel.bottom) / 2};
    TreeView_HitTest(window->Tree(), &hit);
    ASSERT_TRUE(hit.flags & TVHT_ONITEMICON) << "layout changed: the folder is not where expected";
    POINT screen = hit.pt;
    ClientToScreen(window->Tree(), &screen);
    SetCursorPos(screen.x, screen.y);
    Pump(std::chrono::milliseconds(50));
    INPUT clicks[4]{};
    for (int i = 0; i < 4; ++i)
    {
        clicks[i].type = INPUT_MOUSE;
        clicks[i].mi.dwFlags = i % 2 ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
    }
    ExpectInputGoesHere();
    SendInput(4, clicks, sizeof(INPUT));
    PumpUntil(
        [&]
        {
            return !(TreeView_GetItemState(window->Tree(), window->ItemOf(explorer), TVIS_EXPANDED) &
                     TVIS_EXPANDED);
        });
    EXPECT_FALSE(TreeView_GetItemState(window->Tree(), window->ItemOf(explorer), TVIS_EXPANDED) &
                 TVIS_EXPANDED);
    EXPECT_EQ(noFind.Image(), ImageUnticked);
    EXPECT_EQ(explorer.Image(), ImageFolderClosed);

    // A click posted at one entry (as automation's proxy clicks) while the cursor rests on another: the
    // entry where the button went down toggles, and only it.
    TreeView_Expand(window->Tree(), window->ItemOf(explorer), TVE_EXPAND);
    Pump();
    Node& noSetFolders = Entry(L"NoSetFolders");
    POINT cursor = Centre(LabelRect(Entry(L"NoRun")));
    ClientToScreen(window->Tree(), &cursor);
    SetCursorPos(cursor.x, cursor.y);
    Pump(std::chrono::milliseconds(50));
    const POINT target = Centre(LabelRect(noSetFolders));
    const LPARAM at = MAKELPARAM(target.x, target.y);
    PostMessageW(window->Tree(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(window->Tree(), WM_LBUTTONUP, 0, at);
    EXPECT_TRUE(PumpUntil([&] { return noSetFolders.Image() == ImageTicked; }));
    EXPECT_EQ(Entry(L"NoRun").Image(), ImageTicked) << "the entry under the cursor toggled";
    EXPECT_EQ(noFind.Image(), ImageUnticked);

    // Space on the selected node, after moving with the arrow keys.
    TreeView_SelectItem(window->Tree(), window->ItemOf(explorer));
    SetFocus(window->Tree());
    Pump();
    Key(VK_DOWN);
    Key(VK_DOWN);
    EXPECT_EQ(noFind.Image(), ImageUnticked) << "arrow keys only move";
    Key(VK_SPACE);
    EXPECT_TRUE(PumpUntil([&] { return noFind.Image() == ImageTicked; }));
    Pump();
    EXPECT_EQ(noFind.Image(), ImageTicked) << "one Space, one toggle";
    ExpectCheckStatesMatchTheNodes();

    EXPECT_TRUE(registry.Calls().empty());
}

// What Windows' tree (comctl32 6) does and Wine 8's does not: before TVM_SETITEM changes an item's state it
// asks its parent (TVN_ITEMCHANGING), and tells it afterwards (TVN_ITEMCHANGED). Its own check-box
// handling of a click or Space asks the same way, while it handles the input. This stands in for the
// control, above the program's own handling of the tree: a message from another thread goes straight on
// to that handling, which sees it before the control does, as on Windows.
struct WindowsTreeNotifications
{
    static LRESULT CALLBACK Proc(HWND tree, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
    {
        const auto* item = reinterpret_cast<const TVITEMW*>(lParam);
        if (message != TVM_SETITEMW || InSendMessage() || !(item->mask & TVIF_STATE) ||
            !(item->stateMask & TVIS_STATEIMAGEMASK))
            return DefSubclassProc(tree, message, wParam, lParam);
        NMTVITEMCHANGE change{};
        change.hdr = {tree, static_cast<UINT_PTR>(GetDlgCtrlID(tree)), TVN_ITEMCHANGINGW};
        change.uChanged = TVIF_STATE;
        change.hItem = item->hItem;
        change.uStateOld = TreeView_GetItemState(tree, item->hItem, TVIS_STATEIMAGEMASK);
        change.uStateNew = item->state & TVIS_STATEIMAGEMASK;
        if (change.uStateOld != change.uStateNew &&
            SendMessageW(GetParent(tree), WM_NOTIFY, change.hdr.idFrom, reinterpret_cast<LPARAM>(&change)))
            return FALSE;
        const LRESULT result = DefSubclassProc(tree, message, wParam, lParam);
        change.hdr.code = TVN_ITEMCHANGEDW;
        if (change.uStateOld != change.uStateNew)
            SendMessageW(GetParent(tree), WM_NOTIFY, change.hdr.idFrom, reinterpret_cast<LPARAM>(&change));
        return result;
    }
    // Space and clicks on a check-box tree: the tree flips the state itself, from within its handling.
    static LRESULT CALLBACK OwnToggle(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                      DWORD_PTR)
    {
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        const bool space = message == WM_NOTIFY && header->code == TVN_KEYDOWN &&
                           reinterpret_cast<const NMTVKEYDOWN*>(lParam)->wVKey == VK_SPACE;
        if (space || (message == WM_NOTIFY && header->code == NM_CLICK))
        {
            TVITEMW flip{};
            flip.mask = TVIF_HANDLE | TVIF_STATE;
            TVHITTESTINFO hit{};
            const DWORD position = GetMessagePos();
            hit.pt = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
            ScreenToClient(header->hwndFrom, &hit.pt);
            flip.hItem =
                space ? TreeView_GetSelection(header->hwndFrom) : TreeView_HitTest(header->hwndFrom, &hit);
            flip.stateMask = TVIS_STATEIMAGEMASK;
            flip.state = TreeView_GetItemState(header->hwndFrom, flip.hItem, TVIS_STATEIMAGEMASK) ^
                         INDEXTOSTATEIMAGEMASK(3); // 1 <-> 2
            ++echoes;
            echoesRefused += !TreeView_SetItem(header->hwndFrom, &flip);
        }
        return result;
    }
    static inline int echoes = 0;
    static inline int echoesRefused = 0;
};

// UI Automation's Toggle, voice control's too, sends TVM_SETITEM from another thread (out of process, from
// the proxy): a flipped box counts as a click on that restriction. The tree's own echo of a click or
// Space is refused, so those still count once.
TEST_F(RealWindow, AutomationToggle_CountsAsAClick_ClickAndSpaceStillCountOnce)
{
    const HWND tree = window->Tree();
    WindowsTreeNotifications::echoes = WindowsTreeNotifications::echoesRefused = 0;
    ASSERT_TRUE(SetWindowSubclass(tree, WindowsTreeNotifications::Proc, 7, 0));
    ASSERT_TRUE(SetWindowSubclass(window->Handle(), WindowsTreeNotifications::OwnToggle, 7, 0));
    TreeView_Expand(tree, window->ItemOf(Category(0)), TVE_EXPAND);
    Pump();
    Node& noRun = Entry(L"NoRun");
    ASSERT_EQ(noRun.Image(), ImageTicked);
    EXPECT_TRUE(SetCheckStateFromAnotherThread(noRun, 1)) << "the toggle is taken, not refused";
    EXPECT_EQ(noRun.Image(), ImageUnticked);
    EXPECT_TRUE(IsWindowEnabled(window->ApplyButton()));
    EXPECT_EQ(ItemData(noRun).iImage, 1) << "the box picture follows the node";
    ExpectCheckStatesMatchTheNodes();
    EXPECT_TRUE(SetCheckStateFromAnotherThread(noRun, 2));
    EXPECT_EQ(noRun.Image(), ImageTicked);
    EXPECT_EQ(ItemData(noRun).iImage, 0);
    ExpectCheckStatesMatchTheNodes();

    // Categories have no box to toggle.
    EXPECT_FALSE(SetCheckStateFromAnotherThread(Category(0), 2));
    EXPECT_EQ(Category(0).Image(), ImageFolderClosed);
    ExpectCheckStatesMatchTheNodes();

    // A click and Space, each echoed by the tree's own check-box handling: one toggle each.
    Node& noFind = Entry(L"NoFind");
    const RECT label = LabelRect(noFind);
    ClickAt(tree, Centre(label));
    EXPECT_TRUE(PumpUntil([&] { return noFind.Image() == ImageTicked; }));
    SetFocus(tree);
    Key(VK_SPACE);
    EXPECT_TRUE(PumpUntil([&] { return noFind.Image() == ImageUnticked; }));
    Pump();
    EXPECT_EQ(noFind.Image(), ImageUnticked) << "one click and one Space, two toggles";
    EXPECT_EQ(WindowsTreeNotifications::echoes, 2);
    EXPECT_EQ(WindowsTreeNotifications::echoesRefused, 2);
    ExpectCheckStatesMatchTheNodes();
    RemoveWindowSubclass(window->Handle(), WindowsTreeNotifications::OwnToggle, 7);
    RemoveWindowSubclass(tree, WindowsTreeNotifications::Proc, 7);
    EXPECT_TRUE(registry.Calls().empty());
}

// Screen readers hear of every box ticked or emptied, however it happened, and of nothing else. Windows'
// tree raises the same event for its items' selection, focus and expansion: those happen before counting.
TEST_F(RealWindow, EveryToggle_RaisesOneStateChangeEvent_ACategoryNone)
{
    static std::vector<std::pair<HWND, LONG>> events;
    const HWND tree = window->Tree();
    Node& explorer = Category(0);
    Node& noFind = Entry(L"NoFind");
    TreeView_Expand(tree, window->ItemOf(explorer), TVE_EXPAND);
    const auto hook = SetWinEventHook(
        EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_STATECHANGE, nullptr,
        [](HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD)
        {
            if (object == OBJID_CLIENT) events.emplace_back(hwnd, child);
        },
        GetCurrentProcessId(), GetCurrentThreadId(), WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    const auto select = [&](const Node& node)
    {
        SetFocus(tree);
        TreeView_SelectItem(tree, window->ItemOf(node));
        Pump();
        events.clear();
    };
    // The events since the last count about the node's item: named by the control's accessibility id for
    // it, or, where the control gives none, the tree's own.
    const auto about = [&](const Node& node)
    {
        Pump();
        const auto id = static_cast<LONG>(TreeView_MapHTREEITEMToAccID(tree, window->ItemOf(node)));
        const auto count =
            std::count(events.begin(), events.end(), std::pair{tree, id ? id : LONG{CHILDID_SELF}});
        events.clear();
        return count;
    };
    select(explorer);
    ClickAt(tree, Centre(LabelRect(explorer)));
    EXPECT_EQ(about(explorer), 0) << "a click on a category";
    select(noFind);
    ClickAt(tree, Centre(LabelRect(noFind)));
    ASSERT_TRUE(PumpUntil([&] { return noFind.Image() == ImageTicked; }));
    EXPECT_EQ(about(noFind), 1) << "a click";
    Key(VK_SPACE);
    ASSERT_TRUE(PumpUntil([&] { return noFind.Image() == ImageUnticked; }));
    EXPECT_EQ(about(noFind), 1) << "Space";
    SetCheckStateFromAnotherThread(noFind, 2);
    EXPECT_EQ(noFind.Image(), ImageTicked);
    EXPECT_EQ(about(noFind), 1) << "automation's Toggle";
    UnhookWinEvent(hook);
}

// The control never hears of the check-box style, not even along with another style change: it makes no
// check boxes of its own and resets no check state.
TEST_F(RealWindow, AnotherStyleChange_LeavesTheStateListAndCheckStates)
{
    const HWND tree = window->Tree();
    const LONG_PTR style = GetWindowLongPtrW(tree, GWL_STYLE);
    for (const LONG_PTR changed : {style & ~TVS_SHOWSELALWAYS, style})
    {
        SetWindowLongPtrW(tree, GWL_STYLE, changed);
        EXPECT_EQ(TreeView_GetImageList(tree, TVSIL_STATE), window->TreeSide().StateImages());
        ExpectCheckStatesMatchTheNodes();
    }
    EXPECT_TRUE(GetWindowLongPtrW(tree, GWL_STYLE) & TVS_CHECKBOXES);
}

// Windows builds check boxes of its own when it paints a check-box tree whose state list is gone, and
// resets every state: that may happen after a theme, colour or DPI change, past the posted check.
TEST_F(RealWindow, StateListGoneBeforeAPaint_IsPutBackWhenTheTreePaints)
{
    const HIMAGELIST own = TreeView_GetImageList(window->Tree(), TVSIL_STATE);
    for (const bool replaced : {false, true})
    {
        SCOPED_TRACE(replaced ? "replaced by the control's own" : "removed");
        TreeView_SetImageList(window->Tree(),
                              replaced ? ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 3, 0) : nullptr,
                              TVSIL_STATE);
        for (const auto& node : window->Form().TreeView1.Nodes())
            TreeView_SetItemState(window->Tree(), window->ItemOf(*node), INDEXTOSTATEIMAGEMASK(1),
                                  TVIS_STATEIMAGEMASK);
        RedrawWindow(window->Tree(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); // paints now
        EXPECT_EQ(TreeView_GetImageList(window->Tree(), TVSIL_STATE), own);
        ExpectCheckStatesMatchTheNodes();
    }
}

TEST_F(RealWindow, ApplyAndExitButtons_WriteThenAskThenEnd)
{
    ClickCentre(window->ApplyButton());
    EXPECT_EQ(restart.asked, 0) << "a disabled Apply must not run";

    window->Form().TreeView1.NodeClick(Entry(L"NoRealMode"));
    ClickCentre(window->ApplyButton());
    EXPECT_TRUE(PumpUntil([&] { return restart.asked == 1; }));
    ExpectCheckStatesMatchTheNodes();
    EXPECT_EQ(restart.lastFlags, 2);
    EXPECT_TRUE(registry.GetValue(Module1::PolicyKeyPath(L"Dos"), L"NoRealMode"));
    EXPECT_FALSE(IsWindowEnabled(window->ApplyButton()));
    EXPECT_NE(GetFocus(), window->ApplyButton());
    EXPECT_TRUE(IsWindow(window->Handle())) << "declining keeps the window";

    registry.ClearCalls();
    ClickCentre(window->ExitButton());
    EXPECT_TRUE(PumpUntil([&] { return ended == 1; }));
    EXPECT_EQ(window->Handle(), nullptr);
    EXPECT_TRUE(registry.Calls().empty());
}

TEST_F(RealWindow, CloseBox_EndsWithoutWriting)
{
    window->Form().TreeView1.NodeClick(Entry(L"NoFind"));
    registry.ClearCalls();
    SendMessageW(window->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(registry.Calls().empty());
}

// What the program does before it makes its window, and its message loop until nothing is waiting.
void PrepareAsTheProgramDoes()
{
    dpi::EnableAwareness();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
}

void DispatchWaitingMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

// The state list is read back, not taken on trust: some systems say they resized it when they did not.
TEST(StateImages, NoWidthWhereTheSystemTakesIt_ElseOneTransparentPixel)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    const auto width = [](HIMAGELIST list)
    {
        int cx = -1;
        int cy = -1;
        ImageList_GetIconSize(list, &cx, &cy);
        return cx;
    };
    // Whether this system takes a list of no width (Wine does; Windows' documentation does not say),
    // asked of a list of the test's own: where it does, the program's list has no width.
    const UniqueHimagelist asked(ImageList_Create(1, 1, ILC_COLOR24 | ILC_MASK, 3, 0));
    const bool takesNoWidth = ImageList_SetIconSize(asked.Get(), 0, 1) &&
                              ImageList_SetImageCount(asked.Get(), 3) && width(asked.Get()) == 0 &&
                              ImageList_GetImageCount(asked.Get()) == 3;
    std::printf("note: this system %s\n", takesNoWidth ? "takes a state list of no width"
                                                       : "refuses a state list of no width: one pixel wide");
    const UniqueHimagelist taken = TreeControl::MakeStateImages();
    EXPECT_EQ(width(taken.Get()), takesNoWidth ? 0 : 1);
    EXPECT_EQ(ImageList_GetImageCount(taken.Get()), 3);

    const TreeControl::ResizeImageList lying = [](HIMAGELIST, int, int) -> BOOL { return TRUE; };
    const TreeControl::ResizeImageList refusing = [](HIMAGELIST, int, int) -> BOOL { return FALSE; };
    for (const auto resize : {lying, refusing})
    {
        const UniqueHimagelist fallback = TreeControl::MakeStateImages(resize);
        EXPECT_EQ(width(fallback.Get()), 1);
        ASSERT_EQ(ImageList_GetImageCount(fallback.Get()), 3);
        // Transparent: drawn on white, each leaves it white.
        const HDC screen = GetDC(nullptr);
        const HDC dc = CreateCompatibleDC(screen);
        const UniqueHbitmap canvas(CreateCompatibleBitmap(screen, 1, 1));
        ReleaseDC(nullptr, screen);
        const HGDIOBJ before = SelectObject(dc, canvas.Get());
        for (int image = 0; image < 3; ++image)
        {
            SetPixel(dc, 0, 0, RGB(255, 255, 255));
            ImageList_Draw(fallback.Get(), image, dc, 0, 0, ILD_NORMAL);
            EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 255, 255)) << image;
        }
        SelectObject(dc, before);
        DeleteDC(dc);
    }
}

bool ShutdownPrivilegeEnabled()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    const bool read = size && GetTokenInformation(token, TokenPrivileges, buffer.data(), size, &size);
    CloseHandle(token);
    LUID shutdown{};
    if (!read || !LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown)) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i)
    {
        const auto& privilege = privileges->Privileges[i];
        if (privilege.Luid.LowPart == shutdown.LowPart && privilege.Luid.HighPart == shutdown.HighPart)
            return (privilege.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
}

// The restart dialog restarts the computer only for a process holding the shutdown privilege, enabled.
TEST(Restart, TheShutdownPrivilegeIsEnabledWhenTheQuestionIsAsked)
{
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES off{1, {}};
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &off.Privileges[0].Luid);
    off.Privileges[0].Attributes = 0;
    AdjustTokenPrivileges(token, FALSE, &off, 0, nullptr, nullptr);
    const bool held = GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    if (!held) GTEST_SKIP() << "this account does not hold the shutdown privilege";
    ASSERT_FALSE(ShutdownPrivilegeEnabled());

    // The question is answered "No" as soon as it shows, after a look at the token.
    int looked = 0;
    bool enabledWhenAsked = false;
    const DWORD thread = GetCurrentThreadId();
    std::thread user(
        [&]
        {
            for (int i = 0; i < 400 && !looked; ++i, Sleep(25))
            {
                HWND dialog = nullptr;
                EnumThreadWindows(
                    thread,
                    [](HWND candidate, LPARAM context) -> BOOL
                    {
                        wchar_t name[16]{};
                        GetClassNameW(candidate, name, 16);
                        if (!IsWindowVisible(candidate) || std::wstring(name) != L"#32770") return TRUE;
                        *reinterpret_cast<HWND*>(context) = candidate;
                        return FALSE;
                    },
                    reinterpret_cast<LPARAM>(&dialog));
                if (dialog)
                {
                    enabledWhenAsked = ShutdownPrivilegeEnabled();
                    ++looked;
                    PostMessageW(dialog, WM_COMMAND, IDNO, 0);
                }
            }
        });
    ShellRestartQuestion question;
    const auto answer = question.Ask(RestartPrompt(), kEwxReboot);
    user.join();
    ASSERT_EQ(looked, 1) << "the question never showed";
    EXPECT_TRUE(enabledWhenAsked);
    EXPECT_EQ(answer, RestartQuestion::Answer::Decline);
}

// The tree's name is given through the accessibility runtime (which Wine has only in part) when a client
// first asks for the tree (WM_GETOBJECT, which Windows sends for a screen reader or UI Automation), with
// COM started for it once on the window's thread: the window works either way. The window may be
// destroyed within a call from another process, so COM is stopped only after the message loop, when the
// window's object goes: every start of the program's is matched by a stop.
TEST(AccessibleName, ComStartsOnTheWindowsThreadForTheNameAndStopsWithTheWindow)
{
    PrepareAsTheProgramDoes();
    const auto apartment = []
    {
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        const HRESULT result = CoGetApartmentType(&type, &qualifier);
        return std::pair{result, SUCCEEDED(result) ? static_cast<int>(type) : -1};
    };
    const auto before = apartment();
    static int starts = 0;
    static int stops = 0;
    static const TreeControl::ComCalls system = TreeControl::SystemCom();
    {
        MemoryRegistry registry;
        ScriptedRestart restart;
        MainWindow window(registry, restart);
        window.TreeSide().Com = {[](void* reserved, DWORD model)
                                 {
                                     ++starts;
                                     return system.initialise(reserved, model);
                                 },
                                 []
                                 {
                                     ++stops;
                                     system.uninitialise();
                                 }};
        ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE));
        DispatchWaitingMessages();
        SendMessageW(window.Tree(), WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
        SendMessageW(window.Tree(), WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
        const auto during = apartment();
        EXPECT_EQ(during.first, S_OK);
        EXPECT_TRUE(during.second == APTTYPE_STA || during.second == APTTYPE_MAINSTA)
            << "the window's thread is not in the single-threaded apartment the name needs";
        EXPECT_EQ(TreeView_GetCount(window.Tree()), 40u);
        EXPECT_EQ(starts, 1) << "COM is started once, however often a client asks";
        DestroyWindow(window.Handle()); // as "Exit" does
        DispatchWaitingMessages();
        EXPECT_EQ(stops, 0) << "COM was stopped inside the window's destruction";
    }
    EXPECT_EQ(stops, 1) << "COM was left running on the thread";
    // The thread's apartment itself may stay: the input method (Wine's) or the text services (Windows')
    // start COM on a UI thread for their own use and keep it. That is theirs, not the program's.
    if (apartment() != before)
        std::printf("note: COM stays on this thread after the window, started by a system component\n");
}

// A fixed dialog opens normal, whatever it is started with: maximized it would fill the screen with its
// controls in a corner, minimized it would have no taskbar button to come back from.
TEST(ShowCommands, EveryShowCommand_OpensNormalCentredAtItsOwnSize)
{
    PrepareAsTheProgramDoes();
    for (const int command : {SW_SHOWMAXIMIZED, SW_MAXIMIZE, SW_SHOWMINIMIZED, SW_MINIMIZE,
                              SW_SHOWMINNOACTIVE, SW_HIDE, SW_SHOWDEFAULT})
    {
        SCOPED_TRACE(command);
        MemoryRegistry registry;
        ScriptedRestart restart;
        MainWindow window(registry, restart);
        ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr), command));
        DispatchWaitingMessages();

        const HWND hwnd = window.Handle();
        EXPECT_TRUE(IsWindowVisible(hwnd));
        EXPECT_FALSE(IsIconic(hwnd));
        EXPECT_FALSE(IsZoomed(hwnd));
        const int dpi = static_cast<int>(window.Dpi());
        RECT client{};
        GetClientRect(hwnd, &client);
        EXPECT_EQ(client.right, layout::TwipsToPixels(layout::kClientWidth, dpi));
        EXPECT_EQ(client.bottom, layout::TwipsToPixels(layout::kClientHeight, dpi));
        ExpectCentredOnItsWorkArea(hwnd);
    }
}

TEST(StartUp, OnceTheDllSearchIsLimited_ADllBesideTheProgramIsNotLoaded)
{
    const HMODULE before = LoadLibraryW(L"kestrin_planted.dll");
    ASSERT_NE(before, nullptr) << "the planted DLL beside the tests must load while nothing stops it";
    FreeLibrary(before);

    LimitDllSearchToSystem();
    EXPECT_EQ(LoadLibraryW(L"kestrin_planted.dll"), nullptr);
    const HMODULE system = LoadLibraryW(L"version.dll");
    EXPECT_NE(system, nullptr) << "the system directory is still searched";
    if (system) FreeLibrary(system);
}

// A window class of that name that refuses to be created stands for whatever keeps the window from opening.
TEST(StartUp, WhenTheWindowCannotBeOpened_ABoxTitledWindowsKestrinSaysSo)
{
    WNDCLASSEXW refusing{};
    refusing.cbSize = sizeof refusing;
    refusing.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT
    { return message == WM_NCCREATE ? FALSE : DefWindowProcW(hwnd, message, wParam, lParam); };
    refusing.hInstance = GetModuleHandleW(nullptr);
    refusing.lpszClassName = L"KestrinMainWindow";
    ASSERT_TRUE(RegisterClassExW(&refusing));

    std::wstring said;
    std::thread watcher(
        [&said]
        {
            for (int i = 0; i < 400; ++i)
            {
                if (const HWND box = FindWindowW(L"#32770", L"Windows Kestrin"))
                {
                    wchar_t text[512]{};
                    GetDlgItemTextW(box, 0xFFFF, text, 512); // the message box's text
                    said = text;
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                    return;
                }
                Sleep(50);
            }
        });
    const int exitCode = RunProgram(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    watcher.join();
    EXPECT_NE(exitCode, 0);
    EXPECT_NE(said.find(L"Windows Kestrin could not open its window."), std::wstring::npos) << "no box";
}

constexpr char kRefusingToWritePolicies[] =
    "refusing to change this machine's policies; set KESTRIN_TEST_WRITE_POLICIES=1 to allow";

// Takes the four policy keys away, for the tests that run the window on the real registry.
void ClearPolicyKeys(testing::RegistryUnderTest& under)
{
    for (const auto* category : {L"Explorer", L"Network", L"System", L"Dos"})
        under.DeleteTree(Module1::PolicyKeyPath(category));
}

// The program as it starts: it finds the signed-in user's hive, reads the restrictions from it and makes
// the window. The window shows what the registry holds, with icons for the system DPI.
TEST(StartUp, TheProgram_ShowsTheRegistrysStatesWithTheClassIconsForTheSystemDpi)
{
    if (!testing::MayWritePolicyKeys()) GTEST_SKIP() << kRefusingToWritePolicies;
    dpi::EnableAwareness();
    auto under = testing::MakeRegistryUnderTest();
    ClearPolicyKeys(*under);
    // The first and the next to last entries on, and a REG_DWORD 0, which is off.
    under->PutDword(Module1::PolicyKeyPath(L"Explorer"), L"NoRun", 1);
    under->PutDword(Module1::PolicyKeyPath(L"Dos"), L"Disabled", 1);
    under->PutDword(Module1::PolicyKeyPath(L"Network"), L"NoNetSetup", 0);
    const UINT systemDpi = dpi::ForWindow(nullptr);
    const int bigSize = dpi::SystemMetric(SM_CXICON, systemDpi);
    const int smallSize = dpi::SystemMetric(SM_CXSMICON, systemDpi);

    std::vector<std::pair<std::wstring, UINT>> shown; // each entry's text and check state
    std::vector<int> iconSizes;
    std::thread watcher(
        [&]
        {
            HWND window = nullptr;
            HWND tree = nullptr;
            for (int i = 0; i < 400 && !tree; ++i, Sleep(25))
            {
                window = FindWindowW(L"KestrinMainWindow", L"Windows Kestrin");
                const HWND candidate =
                    window ? FindWindowExW(window, nullptr, WC_TREEVIEWW, nullptr) : nullptr;
                if (IsWindowVisible(window) && candidate && TreeView_GetCount(candidate) == 40)
                    tree = candidate;
            }
            if (!tree) return;
            for (const int which : {GCLP_HICON, GCLP_HICONSM})
            {
                ICONINFO info{};
                if (!GetIconInfo(reinterpret_cast<HICON>(GetClassLongPtrW(window, which)), &info)) continue;
                const UniqueHbitmap colour(info.hbmColor);
                const UniqueHbitmap mask(info.hbmMask);
                BITMAP bits{};
                GetObjectW(colour.Get(), sizeof bits, &bits);
                iconSizes.push_back(bits.bmWidth);
            }
            for (HTREEITEM category = TreeView_GetRoot(tree); category;
                 category = TreeView_GetNextSibling(tree, category))
            {
                for (HTREEITEM entry = TreeView_GetChild(tree, category); entry;
                     entry = TreeView_GetNextSibling(tree, entry))
                {
                    wchar_t text[128]{};
                    TVITEMW item{};
                    item.mask = TVIF_TEXT | TVIF_STATE;
                    item.hItem = entry;
                    item.stateMask = TVIS_STATEIMAGEMASK;
                    item.pszText = text;
                    item.cchTextMax = 128;
                    TreeView_GetItem(tree, &item);
                    shown.emplace_back(text, (item.state & TVIS_STATEIMAGEMASK) >> 12);
                }
            }
            PostMessageW(window, WM_CLOSE, 0, 0);
        });
    const int exitCode = RunProgram(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE);
    watcher.join();
    ClearPolicyKeys(*under);

    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(iconSizes, (std::vector<int>{bigSize, smallSize}));
    ASSERT_EQ(shown.size(), 36u) << "the window did not show its 36 entries";
    for (const auto& [text, state] : shown)
    {
        const bool on = text == L"Hide Run Menu" || text == L"Disable MS-DOS prompt";
        EXPECT_EQ(state, on ? 2u : 1u) << "\"" << text << "\"";
    }
}

// kestrin.exe's own resources, as Explorer and the loader see them: the program is loaded as a data file.
std::wstring ProgramPath(std::string path = KESTRIN_EXE)
{
    if (!path.empty() && path.front() == '/') // built on Linux: Wine maps the Unix root to drive Z:
    {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    // The compilers are given UTF-8 sources and strings (MSVC with /utf-8).
    std::wstring wide(path.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
        CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

// A program's embedded manifest (RT_MANIFEST 1, the one CreateProcess reads), or nothing.
std::string ManifestOf(HMODULE program)
{
    const HRSRC manifest = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)); // RT_MANIFEST
    if (!manifest) return {};
    return {static_cast<const char*>(LockResource(LoadResource(program, manifest))),
            SizeofResource(program, manifest)};
}

// What a manifest asks of DPI awareness on Windows 10 1607 and later: the dpiAwareness element in its
// namespace, whose first entry the system understands is the one taken.
std::string DpiAwarenessIn(const std::string& manifest)
{
    const std::string open =
        R"(<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">)";
    const std::size_t start = manifest.find(open);
    if (start == std::string::npos) return {};
    const std::size_t end = manifest.find("</dpiAwareness>", start);
    if (end == std::string::npos) return {};
    return manifest.substr(start + open.size(), end - start - open.size());
}

bool DeclaresPerMonitorV2(const std::string& manifest)
{
    return DpiAwarenessIn(manifest).rfind("PerMonitorV2", 0) == 0;
}

// kestrin.exe's size budget is its toolchain's (KESTRIN_SIZE_BUDGET, from tests/CMakeLists.txt): where a
// toolchain has none, the size is reported and not held.
constexpr unsigned long kSizeBudget = KESTRIN_SIZE_BUDGET;

// The bytes of a signature appended to a program (its certificate table, data directory 4 of a PE32+
// image), which a release adds and the budget does not count.
unsigned long SignatureBytes(const std::wstring& path)
{
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    std::vector<unsigned char> head(4096);
    DWORD read = 0;
    const bool ok = ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &read, nullptr);
    CloseHandle(file);
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS64 nt{};
    if (!ok || read < sizeof dos) return 0;
    std::memcpy(&dos, head.data(), sizeof dos);
    if (dos.e_lfanew < 0 || static_cast<std::size_t>(dos.e_lfanew) + sizeof nt > read) return 0;
    std::memcpy(&nt, head.data() + dos.e_lfanew, sizeof nt);
    if (nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) return 0;
    return nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size;
}

TEST(Resources, TheProgramCarriesVersionManifestIconAndTheFourPictures)
{
    const std::wstring path = ProgramPath();
    WIN32_FILE_ATTRIBUTE_DATA file{};
    ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &file));
    EXPECT_EQ(file.nFileSizeHigh, 0u);
    const unsigned long signature = SignatureBytes(path);
    const unsigned long unsignedBytes =
        file.nFileSizeLow - std::min<unsigned long>(signature, file.nFileSizeLow);
    RecordProperty("kestrin_exe_bytes", std::to_string(unsignedBytes));
    std::printf("kestrin.exe: %lu bytes (and %lu of signature), budget %s\n", unsignedBytes, signature,
                kSizeBudget ? std::to_string(kSizeBudget).c_str() : "none for this toolchain");
    if (kSizeBudget)
    {
        EXPECT_LE(unsignedBytes, kSizeBudget) << "kestrin.exe has outgrown its size budget";
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(size, 0u) << "no version information in kestrin.exe";
    std::vector<unsigned char> version(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, version.data()));
    for (const auto& [name, expected] :
         {std::pair{L"ProductName", L"Windows Kestrin"}, std::pair{L"OriginalFilename", L"kestrin.exe"},
          std::pair{L"FileVersion", L"" KESTRIN_VERSION_STRING},
          std::pair{L"LegalCopyright", L"Copyright (c) 2026 the Kestrin authors (MIT License)"}})
    {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(VerQueryValueW(version.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
        EXPECT_STREQ(value, expected);
    }

    const HMODULE program =
        LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program, nullptr);
    const std::string text = ManifestOf(program);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_TRUE(DeclaresPerMonitorV2(text)) << text;
    EXPECT_NE(text.find("highestAvailable"), std::string::npos);
    EXPECT_NE(
        text.find(R"(name="Kestrin" version=")" KESTRIN_VERSION_STRING R"(.0" processorArchitecture="*")"),
        std::string::npos)
        << text;

    for (const int iconSize : {16, 32, 48, 256})
    {
        const UniqueHicon icon(
            static_cast<HICON>(LoadImageW(program, MAKEINTRESOURCEW(1), IMAGE_ICON, iconSize, iconSize, 0)));
        ASSERT_TRUE(icon) << iconSize;
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon.Get(), &info));
        const UniqueHbitmap colour(info.hbmColor);
        const UniqueHbitmap mask(info.hbmMask);
        BITMAP bits{};
        GetObjectW(colour.Get(), sizeof bits, &bits);
        EXPECT_EQ(bits.bmWidth, iconSize);
    }
    for (const int pictureSize : layout::kPictureSizes)
        for (int picture = IDB_TICKED; picture <= IDB_FOLDER_OPEN_MASK; ++picture)
        {
            const int id = PictureResourceId(pictureSize, picture);
            const UniqueHbitmap loaded(
                static_cast<HBITMAP>(LoadImageW(program, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0)));
            BITMAP info{};
            ASSERT_TRUE(loaded) << id;
            GetObjectW(loaded.Get(), sizeof info, &info);
            EXPECT_EQ(info.bmWidth, pictureSize) << id;
            EXPECT_EQ(info.bmHeight, pictureSize) << id;
        }
    FreeLibrary(program);
}

// Every program that measures or drives windows declares per-monitor v2 awareness as kestrin.exe does: one
// that declares none is given scaled coordinates above 96 DPI (Windows, and Wine from 10 on), so the probe
// would click beside a button and the benchmark time a window of another size. So does this test program,
// which carries kestrin.exe's resources.
TEST(Resources, EveryProgramThatMeasuresWindowsDeclaresPerMonitorV2Awareness)
{
    EXPECT_TRUE(DeclaresPerMonitorV2(ManifestOf(GetModuleHandleW(nullptr)))) << "kestrin_window_tests.exe";
    const std::string programs = KESTRIN_WINDOW_PROGRAMS;
    int checked = 0;
    for (std::size_t start = 0; start <= programs.size(); ++checked)
    {
        const std::size_t end = std::min(programs.find('|', start), programs.size());
        const std::string built = programs.substr(start, end - start);
        start = end + 1;
        const HMODULE program = LoadLibraryExW(ProgramPath(built).c_str(), nullptr,
                                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(program, nullptr) << built;
        const std::string manifest = ManifestOf(program);
        FreeLibrary(program);
        EXPECT_TRUE(DeclaresPerMonitorV2(manifest)) << built << ":\n" << manifest;
    }
    EXPECT_GE(checked, 4); // the benchmark and its three yardsticks at least
}

// Handles of every kind a load and "Apply" use: registry keys (counted in the system handle table,
// since GetProcessHandleCount answers 0 under Wine), GDI objects and windows.
TEST(Handles, RepeatedLoadClickApplyCycles_LeaveNothingBehind)
{
    if (!testing::MayWritePolicyKeys()) GTEST_SKIP() << kRefusingToWritePolicies;
    dpi::EnableAwareness();
    auto under = testing::MakeRegistryUnderTest();
    ClearPolicyKeys(*under);

    Win32Registry registry;
    ScriptedRestart restart;
    const auto cycle = [&]
    {
        MainWindow window(registry, restart);
        ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr), SW_SHOWNOACTIVATE));
        for (const auto* key : {L"NoRun", L"NoNetSetup", L"NoDispCPL", L"Disabled"})
            window.Form().TreeView1.NodeClick(*window.Form().TreeView1.FindByKey(key));
        window.Form().Command1.Click();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    };
    // The first cycle loads libraries and registers the window class; system components (themes, the input
    // method, icon caches) make some objects of their own only when first needed and keep them. So the
    // counts are taken after a warm-up round, and must not grow over a second round as long.
    constexpr int kRound = 10;
    for (int i = 0; i < 1 + kRound; ++i)
        cycle();
    const int before = restart.asked;
    const auto handles = under->HandleCount();
    const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    const DWORD user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    for (int i = 0; i < kRound; ++i)
        cycle();

    EXPECT_EQ(restart.asked, before + kRound) << "every cycle must have applied";
    ASSERT_TRUE(handles.has_value());
    EXPECT_EQ(under->HandleCount(), handles);
    // Wine answers 0 for these; Windows counts them.
    if (gdi != 0 || user != 0)
    {
        EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdi);
        EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS), user);
    }
    else
    {
        std::printf("note: GDI and USER object counts are not available on this system\n");
    }
    // Every second cycle switched the four back off, so the last (the 21st) leaves them on.
    EXPECT_EQ(under->GetValue(Module1::PolicyKeyPath(L"Dos"), L"Disabled"),
              (MemoryRegistry::Value{kRegDword, {1, 0, 0, 0}}));
    ClearPolicyKeys(*under);
}

} // namespace
} // namespace kestrin
