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
constexpr UINT kResyncItem = WM_APP + 1;
constexpr UINT kKeepStateImages = WM_APP + 2;

// Control image list positions are the tree's image indices less one.
int ControlImage(int image)
{
    return image > 0 ? image - 1 : I_IMAGENONE;
}

// The check-box state an entry carries for screen readers and automation (1 empty, 2 ticked; a tree
// with TVS_CHECKBOXES reports 2 as checked). Categories carry none.
UINT CheckState(int image)
{
    switch (image)
    {
    case ImageTicked:
        return INDEXTOSTATEIMAGEMASK(2);
    case ImageUnticked:
        return INDEXTOSTATEIMAGEMASK(1);
    default:
        return 0;
    }
}

// The class's icons, drawn for the system DPI, which a window on the main monitor usually has. Set when
// the class is registered; the class lives as long as the process, and so do they.
WindowIcons g_classIcons;

} // namespace

MainWindow::MainWindow(Registry& registry, RestartQuestion& restart) : m_form(registry, restart, *this)
{
    m_form.TreeView1.SetObserver(this);
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
    m_form.TreeView1.SetObserver(nullptr);
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
    windowClass.hIcon = g_classIcons.big.Get();
    windowClass.hIconSm = g_classIcons.small.Get();
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

HTREEITEM MainWindow::ItemOf(const Node& node) const
{
    const auto it = m_items.find(&node);
    return it == m_items.end() ? nullptr : it->second.handle;
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        self->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
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
        for (const HWND child : {m_tree, m_apply, m_exit})
            if (child) SendMessageW(child, message, wParam, lParam);
        PostMessageW(m_window, kKeepStateImages, 0, 0);
        return 0;
    case WM_THEMECHANGED:
        PostMessageW(m_window, kKeepStateImages, 0, 0);
        return DefWindowProcW(m_window, message, wParam, lParam);
    case kKeepStateImages:
        if (m_tree) KeepOwnStateImages();
        return 0;
    case kResyncItem:
        if (m_tree) ResyncItem(reinterpret_cast<HTREEITEM>(lParam));
        return 0;
    case WM_DESTROY:
        return 0;
    case WM_NCDESTROY:
    {
        const HWND window = m_window;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        m_window = m_exit = m_apply = m_tree = nullptr;
        m_items.clear();
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
    const auto child =
        [this](const wchar_t* windowClass, const wchar_t* text, DWORD style, DWORD exStyle, int id)
    {
        return CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0,
                               0, 0, m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_instance,
                               nullptr);
    };
    m_exit = child(WC_BUTTONW, L"Exit", BS_PUSHBUTTON, 0, kExitId);
    m_apply = child(WC_BUTTONW, L"Apply", BS_PUSHBUTTON, 0, kApplyId);
    m_tree = child(WC_TREEVIEWW, L"", TVS_HASLINES | TVS_LINESATROOT | TVS_HASBUTTONS | TVS_SHOWSELALWAYS,
                   WS_EX_CLIENTEDGE, kTreeId);

    // A tree with check boxes makes its proxies for screen readers and automation report each entry's
    // check state (see CheckState). The style goes on after creation, as the control asks.
    SetWindowLongPtrW(m_tree, GWL_STYLE, GetWindowLongPtrW(m_tree, GWL_STYLE) | TVS_CHECKBOXES);
    UseOwnStateImages();
    CreateImages();
    TreeView_SetImageList(m_tree, m_images.Get(), TVSIL_NORMAL);
    CreateFonts();
    Layout();
}

// The control draws a state picture left of an item's picture and keeps room for both, so the boxes
// themselves as state pictures would push every entry's label one picture to the right. The state
// pictures have no width instead (an image list cannot be made that narrow, only resized to it): the
// check state is there for the proxies while the boxes stay the pictures they always were, where they
// always were. Should the resizing be refused, the pictures are one transparent pixel wide. The list the
// control made for itself is not destroyed with it, so it goes here; without a list of its own the
// control makes one again, and resets every check state.
void MainWindow::UseOwnStateImages()
{
    constexpr int kImages = 3; // none, empty, ticked
    UniqueHimagelist states(ImageList_Create(1, 1, ILC_COLOR24 | ILC_MASK, kImages, 0));
    if (!states) return;
    if (!ImageList_SetIconSize(states.Get(), 0, 1) || !ImageList_SetImageCount(states.Get(), kImages))
    {
        ImageList_SetIconSize(states.Get(), 1, 1);
        constexpr WORD kTransparentRow = 0xFFFF; // monochrome rows are padded to 16 bits
        const UniqueHbitmap colour(CreateBitmap(1, 1, 1, 32, nullptr));
        const UniqueHbitmap mask(CreateBitmap(1, 1, 1, 1, &kTransparentRow));
        for (int image = 0; image < kImages; ++image)
            ImageList_Add(states.Get(), colour.Get(), mask.Get());
    }
    UniqueHimagelist(TreeView_SetImageList(m_tree, states.Get(), TVSIL_STATE));
    m_stateImages = std::move(states);
}

// A tree with check boxes may make its own boxes again for a new theme, colours or DPI, after the window
// has seen the change: the program's own list goes back in, and every check state is set again.
void MainWindow::KeepOwnStateImages()
{
    if (TreeView_GetImageList(m_tree, TVSIL_STATE) == m_stateImages.Get()) return;
    UniqueHimagelist(TreeView_SetImageList(m_tree, m_stateImages.Get(), TVSIL_STATE));
    for (const auto& [node, item] : m_items)
        ShowNode(*node);
}

void MainWindow::LoadIcons()
{
    // Sized for the window's DPI; the window does not own what it is given, so the old icons go only
    // after the new ones are in place.
    WindowIcons icons = WindowIcons::Load(m_instance, m_dpi);
    SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons.big.Get()));
    SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icons.small.Get()));
    m_icons = std::move(icons);
}

void MainWindow::CreateFonts()
{
    UniqueHfont buttonFont(
        CreateFontW(layout::FontHeight(layout::kButtonFontHundredthsOfPoint, static_cast<int>(m_dpi)), 0, 0,
                    0, layout::kButtonFontWeight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                    CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
    // The tree has no font of its own: it takes the desktop's message font, not the raw system font a
    // control would otherwise show.
    const NONCLIENTMETRICSW metrics = dpi::NonClientMetrics(m_dpi);
    UniqueHfont treeFont(CreateFontIndirectW(&metrics.lfMessageFont));

    // Controls do not own their fonts: the old ones go only once nothing uses them.
    SendMessageW(m_exit, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont.Get()), TRUE);
    SendMessageW(m_apply, WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont.Get()), TRUE);
    SendMessageW(m_tree, WM_SETFONT, reinterpret_cast<WPARAM>(treeFont.Get()), TRUE);
    m_buttonFont = std::move(buttonFont);
    m_treeFont = std::move(treeFont);
}

void MainWindow::CreateImages()
{
    // Each picture carries its own mask: the light grey box edges must stay opaque, so a mask colour
    // could not be used to cut them out.
    constexpr std::array<std::pair<int, int>, 4> pictures{{{IDB_TICKED, IDB_TICKED_MASK},
                                                           {IDB_UNTICKED, IDB_UNTICKED_MASK},
                                                           {IDB_FOLDER_CLOSED, IDB_FOLDER_CLOSED_MASK},
                                                           {IDB_FOLDER_OPEN, IDB_FOLDER_OPEN_MASK}}};
    // Drawn for the size the window's DPI calls for, never stretched.
    const int size = layout::PictureSize(static_cast<int>(m_dpi));
    m_images.Reset(
        ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, static_cast<int>(pictures.size()), 0));
    if (!m_images) return;
    ImageList_SetBkColor(m_images.Get(), CLR_NONE);
    const auto load = [this, size](int picture)
    {
        return UniqueHbitmap(
            static_cast<HBITMAP>(LoadImageW(m_instance, MAKEINTRESOURCEW(PictureResourceId(size, picture)),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    };
    for (const auto& [picture, mask] : pictures)
    {
        const UniqueHbitmap colour = load(picture);
        const UniqueHbitmap maskBits = load(mask);
        ImageList_Add(m_images.Get(), colour.Get(), maskBits.Get());
    }
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
    if (header.hwndFrom != m_tree) return 0;
    switch (header.code)
    {
    case NM_CLICK:
    {
        // NM_CLICK comes before the selection moves, so find the node under the mouse. Only a click on
        // a node's label or picture counts, not on its expand button or the empty space beside it.
        const DWORD position = GetMessagePos();
        TVHITTESTINFO hit{};
        hit.pt = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
        ScreenToClient(m_tree, &hit.pt);
        const HTREEITEM item = TreeView_HitTest(m_tree, &hit);
        if (item && (hit.flags & TVHT_ONITEM)) RaiseNodeClick(item);
        if (item) PostMessageW(m_window, kResyncItem, 0, reinterpret_cast<LPARAM>(item));
        return 0;
    }
    case TVN_KEYDOWN:
    {
        const auto& key = reinterpret_cast<const NMTVKEYDOWN&>(header);
        if (key.wVKey != VK_SPACE) return 0;
        if (const HTREEITEM item = TreeView_GetSelection(m_tree))
        {
            RaiseNodeClick(item);
            PostMessageW(m_window, kResyncItem, 0, reinterpret_cast<LPARAM>(item));
        }
        return 1; // keep Space out of incremental search
    }
    case TVN_ITEMEXPANDEDW:
    {
        const auto& expanded = reinterpret_cast<const NMTREEVIEWW&>(header);
        if (const auto* node = reinterpret_cast<const Node*>(expanded.itemNew.lParam))
            UpdateItem(*node, expanded.action == TVE_EXPAND);
        return 0;
    }
    case TVN_ITEMCHANGINGW:
    {
        // The nodes are the only record of the choices: the control's own check-box handling (a click
        // on a box, Space) must not change a state on its own; clicks and Space reach the nodes above.
        // Windows asks first. Wine does not, and its own change is put right once it has made it
        // (kResyncItem).
        const auto& change = reinterpret_cast<const NMTVITEMCHANGE&>(header);
        return !m_updatingItem && ((change.uStateNew ^ change.uStateOld) & TVIS_STATEIMAGEMASK);
    }
    case TVN_BEGINLABELEDITW:
        return TRUE; // labels are not editable: a category's text is its registry key
    default:
        return 0;
    }
}

// The node an item shows, or none.
Node* MainWindow::NodeOf(HTREEITEM item) const
{
    TVITEMW data{};
    data.mask = TVIF_PARAM | TVIF_HANDLE;
    data.hItem = item;
    return TreeView_GetItem(m_tree, &data) ? reinterpret_cast<Node*>(data.lParam) : nullptr;
}

void MainWindow::RaiseNodeClick(HTREEITEM item)
{
    Node* const node = NodeOf(item);
    if (node && m_form.TreeView1.NodeClick) m_form.TreeView1.NodeClick(*node);
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

void MainWindow::OnDpiChanged(UINT dpiValue, const RECT& suggested)
{
    m_dpi = dpiValue;
    SetWindowPos(m_window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LoadIcons();
    CreateFonts();
    ReplaceImages();
    Layout();
    PostMessageW(m_window, kKeepStateImages, 0, 0);
}

// The tree is given the new list before the old one goes.
void MainWindow::ReplaceImages()
{
    UniqueHimagelist old = std::move(m_images);
    CreateImages();
    TreeView_SetImageList(m_tree, m_images.Get(), TVSIL_NORMAL);
    old.Reset();
}

// The control shows the expanded picture of an expanded category, and the selected picture of a
// selected node: it must be the node's own picture, or a selected "off" entry would look ticked.
void MainWindow::UpdateItem(const Node& node, bool expanded)
{
    const auto it = m_items.find(&node);
    if (it == m_items.end()) return;
    TVITEMEXW item = ItemFor(node, expanded);
    item.mask |= TVIF_HANDLE;
    item.hItem = it->second.handle;
    it->second.image = node.Image();
    it->second.expandedImage = node.ExpandedImage();
    m_updatingItem = true;
    SendMessageW(m_tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    m_updatingItem = false;
}

TVITEMEXW MainWindow::ItemFor(const Node& node, bool expanded)
{
    const int shown = expanded && node.ExpandedImage() ? *node.ExpandedImage() : node.Image();
    TVITEMEXW item{};
    item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
    item.iImage = ControlImage(node.Image());
    item.iSelectedImage = ControlImage(shown);
    item.state = CheckState(node.Image());
    item.stateMask = TVIS_STATEIMAGEMASK;
    if (node.ExpandedImage())
    {
        item.mask |= TVIF_EXPANDEDIMAGE;
        item.iExpandedImage = ControlImage(*node.ExpandedImage());
    }
    return item;
}

void MainWindow::NodeAdded(const Node& node)
{
    TVINSERTSTRUCTW insert{};
    insert.hParent = node.Parent() ? ItemOf(*node.Parent()) : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.itemex = ItemFor(node, false); // a new node is never expanded
    insert.itemex.mask |= TVIF_TEXT | TVIF_PARAM;
    insert.itemex.pszText = const_cast<wchar_t*>(node.Text().c_str());
    insert.itemex.lParam = reinterpret_cast<LPARAM>(&node);
    m_updatingItem = true;
    const auto item = reinterpret_cast<HTREEITEM>(
        SendMessageW(m_tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    m_updatingItem = false;
    if (!item) return;
    m_items[&node] = {item, node.Image(), node.ExpandedImage()};
    // A tree with check boxes may give a new item the empty box whatever it was asked for: a category
    // has its "none" set again.
    if (!CheckState(node.Image())) UpdateItem(node, false);
}

// Shows the item's node again, after the control's own handling of a click or a key may have changed it.
void MainWindow::ResyncItem(HTREEITEM item)
{
    if (const Node* node = NodeOf(item)) ShowNode(*node);
}

// Loading sets each category's expanded picture again for every one of its entries: the control is told
// only what it does not show yet.
void MainWindow::NodeChanged(const Node& node)
{
    const auto it = m_items.find(&node);
    if (it == m_items.end()) return;
    if (it->second.image == node.Image() && it->second.expandedImage == node.ExpandedImage()) return;
    ShowNode(node);
}

void MainWindow::ShowNode(const Node& node)
{
    const HTREEITEM item = ItemOf(node);
    if (!item) return;
    const bool expanded = (TreeView_GetItemState(m_tree, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    UpdateItem(node, expanded);
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
