#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrin
{

// Image indices into the tree's image list; they start at 1.
inline constexpr int ImageTicked = 1;
inline constexpr int ImageUnticked = 2;
inline constexpr int ImageFolderClosed = 3;
inline constexpr int ImageFolderOpen = 4;

// Where a node goes relative to another.
inline constexpr int tvwChild = 4;

class TreeView;

class Node
{
public:
    // Only the tree makes nodes.
    class Passkey
    {
        friend class TreeView;
        Passkey() = default;
    };
    Node(Passkey, TreeView& tree) : m_tree(&tree) {}
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    const std::wstring& Key() const { return m_key; }
    const std::wstring& Text() const { return m_text; }
    int Image() const { return m_image; }
    std::optional<int> SelectedImage() const { return m_selectedImage; }
    std::optional<int> ExpandedImage() const { return m_expandedImage; }
    Node* Parent() const { return m_parent; }
    const std::vector<Node*>& Children() const { return m_children; }

    void SetImage(int image);
    void SetExpandedImage(int image);

private:
    friend class TreeView;

    TreeView* m_tree;
    std::wstring m_key;
    std::wstring m_text;
    int m_image = 0;
    std::optional<int> m_selectedImage;
    std::optional<int> m_expandedImage;
    Node* m_parent = nullptr;
    std::vector<Node*> m_children;
};

// What a view of the tree is told, so it can mirror the model.
class TreeViewObserver
{
public:
    virtual void NodeAdded(const Node& node) = 0;
    virtual void NodeChanged(const Node& node) = 0;

protected:
    ~TreeViewObserver() = default;
};

// The tree and the only record of the user's choices. Nodes keeps every node, at every level, in the
// order it was added, whatever order a view shows them in.
class TreeView
{
public:
    TreeView() = default;
    TreeView(const TreeView&) = delete;
    TreeView& operator=(const TreeView&) = delete;

    // Relative and relationship omitted: a new root node. Relationship tvwChild: the last child of the
    // relative. A key already in the tree is refused with std::invalid_argument.
    Node& Add(Node* relative = nullptr, std::optional<int> relationship = std::nullopt,
              std::optional<std::wstring> key = std::nullopt, std::wstring text = {},
              std::optional<int> image = std::nullopt, std::optional<int> selectedImage = std::nullopt);

    const std::vector<std::unique_ptr<Node>>& Nodes() const { return m_nodes; }
    Node* FindByKey(const std::wstring& key) const;

    void SetObserver(TreeViewObserver* observer) { m_observer = observer; }
    // Raised by the view when the user clicks a node (or presses Space on it).
    std::function<void(Node&)> NodeClick;

private:
    friend class Node;
    void Changed(const Node& node);

    std::vector<std::unique_ptr<Node>> m_nodes;
    TreeViewObserver* m_observer = nullptr;
};

// A push button: an enabled state, and a click that only happens while enabled.
class CommandButton
{
public:
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool enabled);
    // Returns whether the click was taken.
    bool Click();

    std::function<void()> OnClick;
    std::function<void(bool)> OnEnabledChanged;

private:
    bool m_enabled = true;
};

} // namespace kestrin
