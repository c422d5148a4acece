#pragma once

#include "app/handles_win.h"
#include "app/tree_model.h"

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <optional>
#include <unordered_map>

struct IAccPropServices;

namespace kestrin
{

// What the tree shows to screen readers and automation as its name.
inline constexpr wchar_t kTreeAccessibleName[] = L"Restrictions";

// Whether the user has turned high contrast on.
bool SystemHighContrast();

// The tree control's side of the window: its items and their pictures, the check states screen readers
// and automation read, the state list those need, the boxes drawn for high contrast, the tree's accessible
// name and font. It mirrors the logic's tree, and raises the tree's NodeClick for what the user does to a
// node: a click, Space, or a check state set from automation.
class TreeControl final : private TreeViewObserver
{
public:
    explicit TreeControl(TreeView& model);
    ~TreeControl();
    TreeControl(const TreeControl&) = delete;
    TreeControl& operator=(const TreeControl&) = delete;

    // Makes the control, a child of `parent`, with its font and pictures for `dpi`.
    bool Create(HWND parent, HINSTANCE instance, int id, UINT dpi);
    // The font and pictures for another DPI.
    void SetDpi(UINT dpi);
    // New system colours, theme or high contrast: the control hears of colours only from its window.
    void SystemColoursChanged(WPARAM wParam, LPARAM lParam);
    void AppearanceChanged();
    // A notification the control sent its parent; returns the parent's answer.
    LRESULT OnNotify(const NMHDR& header);

    HWND Handle() const { return m_tree; }
    HTREEITEM ItemOf(const Node& node) const;
    HIMAGELIST Images() const { return m_images.Get(); }
    HIMAGELIST StateImages() const { return m_stateImages.Get(); }
    HFONT Font() const { return m_font.Get(); }

    // Whether to draw the boxes for high contrast. Tests turn it on here: Wine cannot turn high contrast on.
    std::function<bool()> HighContrast = SystemHighContrast;

    // Where COM is started and stopped on the window's thread (ole32's CoInitializeEx and CoUninitialize).
    // Tests count the calls: under Wine the thread's input method holds COM for the windows' life, so the
    // apartment alone does not tell whether the program stopped it.
    struct ComCalls
    {
        HRESULT(WINAPI* initialise)(void*, DWORD) = nullptr;
        void(WINAPI* uninitialise)() = nullptr;
    };
    static ComCalls SystemCom();
    ComCalls Com = SystemCom();

    // The state list: three pictures of no width where the system takes that, else of one transparent
    // pixel. `resize` is ImageList_SetIconSize; tests pass one that does not resize.
    using ResizeImageList = BOOL(WINAPI*)(HIMAGELIST, int, int);
    static UniqueHimagelist MakeStateImages(ResizeImageList resize = ImageList_SetIconSize);

private:
    static LRESULT CALLBACK SubclassProc(HWND tree, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CallControl(UINT message, WPARAM wParam, LPARAM lParam);

    void MakeFont();
    void CreateImages();
    void KeepOwnStateImages();
    std::optional<LRESULT> SetItemFromOutside(UINT message, WPARAM wParam, LPARAM lParam);
    void ResyncItem(HTREEITEM item);
    void NameForAccessibility();
    void ForgetAccessibleName();
    Node* NodeOf(HTREEITEM item) const;
    void RaiseNodeClick(HTREEITEM item);
    void RaiseStateChange(HTREEITEM item);
    void UpdateItem(const Node& node, bool expanded);
    void ShowNode(const Node& node);

    // TreeViewObserver
    void NodeAdded(const Node& node) override;
    void NodeChanged(const Node& node) override;

    TreeView& m_model;
    HINSTANCE m_instance = nullptr;
    HWND m_tree = nullptr;
    WNDPROC m_controlProc = nullptr; // the control's own procedure, below the program's handling
    // Where the mouse button went down, in the tree's client coordinates: the point NM_CLICK is about.
    std::optional<POINT> m_pressedAt;
    UINT m_dpi = USER_DEFAULT_SCREEN_DPI;
    UniqueHfont m_font;
    UniqueHimagelist m_images;
    UniqueHimagelist m_stateImages;
    // Each node's item, and the pictures last shown for it.
    struct Item
    {
        HTREEITEM handle = nullptr;
        int image = 0;
        std::optional<int> expandedImage;
    };
    std::unordered_map<const Node*, Item> m_items;
    bool m_updatingItem = false; // a state change the control reports is the program's own
    // The tree's accessible name, kept by the accessibility runtime as long as the control lives. COM,
    // started once for it on the window's thread, is stopped when this object goes: after the message
    // loop, never inside the window's destruction, which may run within a call from another process.
    IAccPropServices* m_accProps = nullptr;
    bool m_comTried = false;
    bool m_comInitialised = false;
    bool m_named = false;
};

} // namespace kestrin
