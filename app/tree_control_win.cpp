#include "app/tree_control_win.h"

#include "app/layout.h"
#include "app/resource.h"

// The accessibility GUIDs are defined here, so the program links no GUID library for them.
#include <initguid.h>

#include <oleacc.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <utility>

namespace kestrin
{
namespace
{

// Messages the tree's side posts to the control, handled on their way in (see SubclassProc).
constexpr UINT kResyncItem = WM_APP + 1;
constexpr UINT kKeepStateImages = WM_APP + 2;
constexpr UINT kNameChanged = WM_APP + 3;

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

TVITEMEXW ItemFor(const Node& node, bool expanded)
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

// A box for high contrast, at the picture size: its edges (pixels 2 to 13 of 16, scaled) in the
// window-text colour on the window colour, with the tick in the window-text colour. Outside the box the
// picture is transparent.
std::pair<UniqueHbitmap, UniqueHbitmap> HighContrastBox(int size, bool ticked)
{
    const HDC screen = GetDC(nullptr);
    UniqueHbitmap colour(CreateCompatibleBitmap(screen, size, size));
    UniqueHbitmap mask(CreateBitmap(size, size, 1, 1, nullptr));
    const HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (!colour || !mask || !dc)
    {
        if (dc) DeleteDC(dc);
        return {};
    }
    const auto scaled = [size](int sixteenths) { return (sixteenths * size + 8) / 16; };
    const RECT box{scaled(2), scaled(2), scaled(14), scaled(14)};
    const RECT all{0, 0, size, size};
    const HGDIOBJ before = SelectObject(dc, mask.Get());
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))); // transparent
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))); // opaque

    SelectObject(dc, colour.Get());
    FillRect(dc, &all, GetSysColorBrush(COLOR_WINDOW));
    const HBRUSH text = GetSysColorBrush(COLOR_WINDOWTEXT);
    const int edge = std::max(1, size / 16);
    for (int i = 0; i < edge; ++i)
    {
        const RECT ring{box.left + i, box.top + i, box.right - i, box.bottom - i};
        FrameRect(dc, &ring, text);
    }
    if (ticked)
    {
        const UniqueHpen pen(CreatePen(PS_SOLID, std::max(2, size / 8), GetSysColor(COLOR_WINDOWTEXT)));
        const HGDIOBJ oldPen = SelectObject(dc, pen.Get());
        const POINT tick[] = {{scaled(5), scaled(8)}, {scaled(7), scaled(10)}, {scaled(11), scaled(5)}};
        Polyline(dc, tick, 3);
        SelectObject(dc, oldPen);
    }
    SelectObject(dc, before);
    DeleteDC(dc);
    return {std::move(colour), std::move(mask)};
}

using CoCreateInstanceFunction = HRESULT(WINAPI*)(REFCLSID, IUnknown*, DWORD, REFIID, void**);

// ole32, loaded the first time it is needed and kept for the process's life: COM keeps data of each
// thread that used it, and unloading it under that data is not safe. Only the window's thread calls this.
HMODULE Ole32()
{
    static const HMODULE ole32 = LoadSystemLibrary(L"ole32.dll");
    return ole32;
}

} // namespace

bool SystemHighContrast()
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

TreeControl::TreeControl(TreeView& model) : m_model(model)
{
    m_model.SetObserver(this);
}

TreeControl::~TreeControl()
{
    m_model.SetObserver(nullptr);
    if (m_tree) DestroyWindow(m_tree);
    if (m_comInitialised && Com.uninitialise) Com.uninitialise();
}

TreeControl::ComCalls TreeControl::SystemCom()
{
    // Found when the first window is made, but ole32 is loaded only when a client first asks for a name.
    using Initialise = decltype(ComCalls::initialise);
    using Uninitialise = decltype(ComCalls::uninitialise);
    return {[](void* reserved, DWORD model)
            {
                const auto initialise = Export<Initialise>(Ole32(), "CoInitializeEx");
                return initialise ? initialise(reserved, model) : E_NOTIMPL;
            },
            []
            {
                if (const auto uninitialise = Export<Uninitialise>(Ole32(), "CoUninitialize")) uninitialise();
            }};
}

bool TreeControl::Create(HWND parent, HINSTANCE instance, int id, UINT dpiValue)
{
    m_instance = instance;
    m_dpi = dpiValue;
    m_tree = CreateWindowExW(
        WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_SHOWSELALWAYS, 0, 0, 0, 0,
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (!m_tree) return false;
    // The program's handling goes in front of the control's procedure. It finds this object in the window's
    // user data, which the control leaves to the program: comctl32's SetWindowSubclass would look its data
    // up as a window property on every message, which under Wine is a round trip to the server each time.
    SetWindowLongPtrW(m_tree, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_controlProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(m_tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TreeControl::SubclassProc)));

    // A tree with check boxes makes its proxies for screen readers and automation report each entry's
    // check state (see CheckState): they read the style from the window. The control itself is not told
    // (see HandleMessage), so it draws no check boxes of its own, which the program's list would replace
    // at once, and neither toggles nor resets a check state by itself.
    SetWindowLongPtrW(m_tree, GWL_STYLE, GetWindowLongPtrW(m_tree, GWL_STYLE) | TVS_CHECKBOXES);
    m_stateImages = MakeStateImages();
    // A list the control made for itself all the same is not destroyed with it, so it goes here.
    UniqueHimagelist(TreeView_SetImageList(m_tree, m_stateImages.Get(), TVSIL_STATE));
    CreateImages();
    TreeView_SetImageList(m_tree, m_images.Get(), TVSIL_NORMAL);
    MakeFont();
    return true;
}

// The control draws a state picture left of an item's picture and keeps room for both, so the boxes
// themselves as state pictures would push every entry's label one picture to the right. The state
// pictures have no width instead (an image list cannot be made that narrow, only resized to it): the
// check state is there for the proxies while the boxes stay the pictures they always were, where they
// always were. Some systems say they resized the list when they did not, so the size is read back.
// Without a list of its own the control makes one again, and resets every check state.
UniqueHimagelist TreeControl::MakeStateImages(ResizeImageList resize)
{
    constexpr int kImages = 3; // none, empty, ticked
    UniqueHimagelist states(ImageList_Create(1, 1, ILC_COLOR24 | ILC_MASK, kImages, 0));
    if (!states) return states;
    int width = -1;
    int height = -1;
    if (resize(states.Get(), 0, 1) && ImageList_SetImageCount(states.Get(), kImages) &&
        ImageList_GetIconSize(states.Get(), &width, &height) && width == 0 &&
        ImageList_GetImageCount(states.Get()) == kImages)
        return states;

    // One transparent pixel each, then: every label stands one pixel further right.
    states.Reset(ImageList_Create(1, 1, ILC_COLOR24 | ILC_MASK, kImages, 0));
    if (!states) return states;
    constexpr WORD kTransparentRow = 0xFFFF; // monochrome rows are padded to 16 bits
    const UniqueHbitmap colour(CreateBitmap(1, 1, 1, 32, nullptr));
    const UniqueHbitmap mask(CreateBitmap(1, 1, 1, 1, &kTransparentRow));
    for (int image = 0; image < kImages; ++image)
        ImageList_Add(states.Get(), colour.Get(), mask.Get());
    return states;
}

// A tree with check boxes may make its own boxes again for a new theme, colours or DPI: the program's
// own list goes back in, and every check state is set again.
void TreeControl::KeepOwnStateImages()
{
    if (!m_tree || TreeView_GetImageList(m_tree, TVSIL_STATE) == m_stateImages.Get()) return;
    UniqueHimagelist(TreeView_SetImageList(m_tree, m_stateImages.Get(), TVSIL_STATE));
    for (const auto& [node, item] : m_items)
        ShowNode(*node);
}

// The dialog font, scaled to the DPI: with the categories at the left edge (no lines or buttons at the
// root, so a restriction starts one indent in) every label fits beside the vertical scroll bar.
void TreeControl::MakeFont()
{
    UniqueHfont font(
        CreateFontW(layout::FontHeight(layout::kTreeFontHundredthsOfPoint, static_cast<int>(m_dpi)), 0, 0, 0,
                    FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                    DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, layout::kTreeFontFace));
    // The control does not own its font: the old one goes only once the new one is in.
    SendMessageW(m_tree, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    m_font = std::move(font);
}

void TreeControl::CreateImages()
{
    // Each picture carries its own mask: the light grey box edges must stay opaque, so a mask colour
    // could not be used to cut them out.
    constexpr std::array<std::pair<int, int>, 4> pictures{{{IDB_TICKED, IDB_TICKED_MASK},
                                                           {IDB_UNTICKED, IDB_UNTICKED_MASK},
                                                           {IDB_FOLDER_CLOSED, IDB_FOLDER_CLOSED_MASK},
                                                           {IDB_FOLDER_OPEN, IDB_FOLDER_OPEN_MASK}}};
    // Drawn for the size the window's DPI calls for, never stretched.
    const int size = layout::PictureSize(static_cast<int>(m_dpi));
    UniqueHimagelist images(
        ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, static_cast<int>(pictures.size()), 0));
    if (!images) return;
    ImageList_SetBkColor(images.Get(), CLR_NONE);
    const auto load = [this, size](int picture)
    {
        return UniqueHbitmap(
            static_cast<HBITMAP>(LoadImageW(m_instance, MAKEINTRESOURCEW(PictureResourceId(size, picture)),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    };
    // In high contrast the boxes are drawn in the system's colours: the pictures' grey edges would all but
    // vanish on a black or white window.
    const bool highContrast = HighContrast && HighContrast();
    for (const auto& [picture, mask] : pictures)
    {
        if (highContrast && (picture == IDB_TICKED || picture == IDB_UNTICKED))
        {
            const auto [colour, maskBits] = HighContrastBox(size, picture == IDB_TICKED);
            if (colour && ImageList_Add(images.Get(), colour.Get(), maskBits.Get()) >= 0) continue;
        }
        const UniqueHbitmap colour = load(picture);
        const UniqueHbitmap maskBits = load(mask);
        ImageList_Add(images.Get(), colour.Get(), maskBits.Get());
    }
    // The tree is given the new list before the old one goes.
    if (m_images) TreeView_SetImageList(m_tree, images.Get(), TVSIL_NORMAL);
    m_images = std::move(images);
}

void TreeControl::SetDpi(UINT dpiValue)
{
    m_dpi = dpiValue;
    MakeFont();
    CreateImages();
    PostMessageW(m_tree, kKeepStateImages, 0, 0);
}

void TreeControl::SystemColoursChanged(WPARAM wParam, LPARAM lParam)
{
    SendMessageW(m_tree, WM_SYSCOLORCHANGE, wParam, lParam);
    AppearanceChanged();
}

void TreeControl::AppearanceChanged()
{
    CreateImages();
    PostMessageW(m_tree, kKeepStateImages, 0, 0);
}

HTREEITEM TreeControl::ItemOf(const Node& node) const
{
    const auto it = m_items.find(&node);
    return it == m_items.end() ? nullptr : it->second.handle;
}

LRESULT CALLBACK TreeControl::SubclassProc(HWND tree, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* const control = reinterpret_cast<TreeControl*>(GetWindowLongPtrW(tree, GWLP_USERDATA));
    if (!control)
        return DefWindowProcW(tree, message, wParam, lParam); // not reached: set before the procedure
    if (message != WM_NCDESTROY) return control->HandleMessage(message, wParam, lParam);

    control->ForgetAccessibleName();
    const WNDPROC controlProc = std::exchange(control->m_controlProc, nullptr);
    // Put back only while nobody has subclassed the tree above this procedure: theirs stays in front.
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(tree, GWLP_WNDPROC)) == &TreeControl::SubclassProc)
        SetWindowLongPtrW(tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(controlProc));
    SetWindowLongPtrW(tree, GWLP_USERDATA, 0);
    control->m_tree = nullptr;
    control->m_items.clear();
    return CallWindowProcW(controlProc, tree, message, wParam, lParam);
}

LRESULT TreeControl::CallControl(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcW(m_controlProc, m_tree, message, wParam, lParam);
}

LRESULT TreeControl::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case kResyncItem:
        ResyncItem(reinterpret_cast<HTREEITEM>(lParam));
        return 0;
    case kKeepStateImages:
        KeepOwnStateImages();
        return 0;
    case kNameChanged:
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, m_tree, OBJID_CLIENT, CHILDID_SELF);
        return 0;
    case WM_STYLECHANGING:
    case WM_STYLECHANGED:
    {
        // The control is told of every style change but the check-box bit's: making its own boxes costs
        // 2.5 to 6 ms of start-up under Wine, for a list the program replaces at once, and a later change
        // of another bit would otherwise bring the bit along.
        if (static_cast<int>(wParam) != GWL_STYLE) return CallControl(message, wParam, lParam);
        auto& change = *reinterpret_cast<STYLESTRUCT*>(lParam);
        STYLESTRUCT told{change.styleOld & ~TVS_CHECKBOXES, change.styleNew & ~TVS_CHECKBOXES};
        const LRESULT result = CallControl(message, wParam, reinterpret_cast<LPARAM>(&told));
        // Before the change the control may amend the new style.
        if (message == WM_STYLECHANGING) change.styleNew = told.styleNew | (change.styleNew & TVS_CHECKBOXES);
        return result;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    {
        // The control sends NM_CLICK from within its handling of the press, after its drag-detect loop:
        // by then the cursor may be elsewhere, and a click posted by automation is not where the cursor is.
        // A press that ends in a drag or a double click sends none, so the point goes with the press.
        m_pressedAt = POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const LRESULT result = CallControl(message, wParam, lParam);
        m_pressedAt.reset();
        return result;
    }
    case WM_GETOBJECT:
        // An accessibility client (a screen reader, UI Automation) asks for the tree before it reads
        // anything of it: the name is given then, so a start with none running loads no COM.
        NameForAccessibility();
        return CallControl(message, wParam, lParam);
    case TVM_SETITEMW:
    case TVM_SETITEMA:
        if (const auto handled = SetItemFromOutside(message, wParam, lParam)) return *handled;
        return CallControl(message, wParam, lParam);
    default:
        return CallControl(message, wParam, lParam);
    }
}

LRESULT TreeControl::OnNotify(const NMHDR& header)
{
    switch (header.code)
    {
    case NM_CLICK:
    {
        // NM_CLICK comes before the selection moves, so find the node where the button went down. Only a
        // click on a node's label or picture counts, not on its expand button or the empty space beside it.
        TVHITTESTINFO hit{};
        if (m_pressedAt)
        {
            hit.pt = *m_pressedAt;
        }
        else
        {
            const DWORD position = GetMessagePos();
            hit.pt = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
            ScreenToClient(m_tree, &hit.pt);
        }
        const HTREEITEM item = TreeView_HitTest(m_tree, &hit);
        if (item && (hit.flags & TVHT_ONITEM)) RaiseNodeClick(item);
        if (item) PostMessageW(m_tree, kResyncItem, 0, reinterpret_cast<LPARAM>(item));
        return 0;
    }
    case TVN_KEYDOWN:
    {
        const auto& key = reinterpret_cast<const NMTVKEYDOWN&>(header);
        if (key.wVKey != VK_SPACE) return 0;
        if (const HTREEITEM item = TreeView_GetSelection(m_tree))
        {
            RaiseNodeClick(item);
            PostMessageW(m_tree, kResyncItem, 0, reinterpret_cast<LPARAM>(item));
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
        // Windows asks before an item's state changes. Only the program's own updates may change a check
        // state: the control's own check-box handling of a click or Space is refused, since those reach the
        // node through NM_CLICK and TVN_KEYDOWN (Wine does not ask, and its own change is put right
        // afterwards through kResyncItem); automation's changes have reached the node already (see
        // SetItemFromOutside).
        const auto& change = reinterpret_cast<const NMTVITEMCHANGE&>(header);
        return !m_updatingItem && ((change.uStateNew ^ change.uStateOld) & TVIS_STATEIMAGEMASK);
    }
    case NM_CUSTOMDRAW:
    {
        // Windows makes its own check boxes when it paints a tree with check boxes and no state list,
        // resetting every state: the program's list goes back in before anything is drawn.
        if (reinterpret_cast<const NMCUSTOMDRAW&>(header).dwDrawStage == CDDS_PREPAINT) KeepOwnStateImages();
        return CDRF_DODEFAULT;
    }
    case TVN_BEGINLABELEDITW:
        return TRUE; // labels are not editable: a category's text is its registry key
    default:
        return 0;
    }
}

// A check state set by another thread or process: UI Automation's Toggle, which voice control uses too,
// sends TVM_SETITEM with the other box's state. That is a click on the restriction: the node toggles,
// and its picture and check state follow from it. The state asked for is taken away from what goes on to
// the control, so the node stays the only record; anything else the message sets goes on. A category, or
// a state that is neither box, is refused. The message is looked at before the control sees it, so the
// node and the control are never updated from inside the control's own change.
std::optional<LRESULT> TreeControl::SetItemFromOutside(UINT message, WPARAM wParam, LPARAM lParam)
{
    // TVITEMA and TVITEMW start alike: mask, item, state, state mask.
    auto* item = reinterpret_cast<TVITEMW*>(lParam);
    if (m_updatingItem || !InSendMessage() || !item || !(item->mask & TVIF_STATE) ||
        !(item->stateMask & TVIS_STATEIMAGEMASK))
        return std::nullopt;
    const UINT wanted = item->state & TVIS_STATEIMAGEMASK;
    Node* const node = NodeOf(item->hItem);
    const UINT current = node ? CheckState(node->Image()) : 0;
    const UINT other =
        current == INDEXTOSTATEIMAGEMASK(1) ? INDEXTOSTATEIMAGEMASK(2) : INDEXTOSTATEIMAGEMASK(1);
    const bool taken = current != 0 && (wanted == current || wanted == other);
    if (current != 0 && wanted == other) RaiseNodeClick(item->hItem);

    const UINT stateMask = std::exchange(item->stateMask, item->stateMask & ~TVIS_STATEIMAGEMASK);
    const bool more = (item->mask & ~(TVIF_STATE | TVIF_HANDLE)) || item->stateMask;
    const LRESULT rest = more ? CallControl(message, wParam, lParam) : TRUE;
    item->stateMask = stateMask;
    return taken && rest ? TRUE : FALSE;
}

// The node an item shows, or none.
Node* TreeControl::NodeOf(HTREEITEM item) const
{
    TVITEMW data{};
    data.mask = TVIF_PARAM | TVIF_HANDLE;
    data.hItem = item;
    return m_tree && TreeView_GetItem(m_tree, &data) ? reinterpret_cast<Node*>(data.lParam) : nullptr;
}

void TreeControl::RaiseNodeClick(HTREEITEM item)
{
    Node* const node = NodeOf(item);
    if (node && m_model.NodeClick) m_model.NodeClick(*node);
}

// Screen readers hear that a box was ticked or emptied from this event; UI Automation's tree proxy turns
// it into its ToggleState change. The control raises it for its own check-box toggle, which the program
// refuses, and is not documented to raise it for TVM_SETITEM. Items are named by the accessibility id the
// control gives them; where it gives none (0: a control without the mapping), the event is the tree's own.
void TreeControl::RaiseStateChange(HTREEITEM item)
{
    const UINT id = TreeView_MapHTREEITEMToAccID(m_tree, item);
    NotifyWinEvent(EVENT_OBJECT_STATECHANGE, m_tree, OBJID_CLIENT,
                   id ? static_cast<LONG>(id) : static_cast<LONG>(CHILDID_SELF));
}

// Shows the item's node again, after the control's own handling of a click or a key may have changed it.
void TreeControl::ResyncItem(HTREEITEM item)
{
    if (const Node* node = NodeOf(item)) ShowNode(*node);
}

// The control shows the expanded picture of an expanded category, and the selected picture of a
// selected node: it must be the node's own picture, or a selected "off" entry would look ticked.
void TreeControl::UpdateItem(const Node& node, bool expanded)
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

void TreeControl::ShowNode(const Node& node)
{
    const HTREEITEM item = ItemOf(node);
    if (!item) return;
    const bool expanded = (TreeView_GetItemState(m_tree, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    UpdateItem(node, expanded);
}

void TreeControl::NodeAdded(const Node& node)
{
    if (!m_tree) return;
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

// Loading sets each category's expanded picture again for every one of its entries: the control is told
// only what it does not show yet.
void TreeControl::NodeChanged(const Node& node)
{
    const auto it = m_items.find(&node);
    if (it == m_items.end()) return;
    if (it->second.image == node.Image() && it->second.expandedImage == node.ExpandedImage()) return;
    const UINT before = CheckState(it->second.image);
    const UINT after = CheckState(node.Image());
    const HTREEITEM item = it->second.handle;
    ShowNode(node);
    if (before && after && before != after) RaiseStateChange(item);
}

// The tree has no visible label, so screen readers are given its name as the control's own property
// (IAccPropServices, which the system's proxies consult). Where the runtime lacks it, the tree goes
// nameless. COM and ole32 are loaded here, the first time a client asks, and only on this thread.
void TreeControl::NameForAccessibility()
{
    // A client sends WM_GETOBJECT many times: COM is started at the first only (each start is undone once,
    // when this object goes), and the name is asked for again until the runtime has taken it.
    if (!m_tree || m_named) return;
    const bool askedBefore = std::exchange(m_comTried, true);
    if (!askedBefore)
        m_comInitialised = Com.initialise && SUCCEEDED(Com.initialise(nullptr, COINIT_APARTMENTTHREADED));
    if (!m_accProps)
    {
        const auto create = Export<CoCreateInstanceFunction>(Ole32(), "CoCreateInstance");
        void* props = nullptr;
        if (!create ||
            FAILED(
                create(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices, &props)) ||
            !props)
            return;
        m_accProps = static_cast<IAccPropServices*>(props);
    }
    m_named = SUCCEEDED(m_accProps->SetHwndPropStr(m_tree, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                                   PROPID_ACC_NAME, kTreeAccessibleName));
    // The client asking now reads the name, since the control answers it after this. One that read the tree
    // at an earlier, failed try hears that it changed; told otherwise, a screen reader would say it twice.
    if (m_named && askedBefore) PostMessageW(m_tree, kNameChanged, 0, 0);
}

// Annotations are kept apart from the window: they go before it does. COM stays until this object goes.
void TreeControl::ForgetAccessibleName()
{
    if (m_accProps)
    {
        MSAAPROPID name = PROPID_ACC_NAME;
        if (m_named)
            m_accProps->ClearHwndProps(m_tree, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &name, 1);
        m_accProps->Release();
        m_accProps = nullptr;
    }
    m_named = false;
}

} // namespace kestrin
