#include "app/tree_model.h"

#include <stdexcept>

namespace kestrin
{

void Node::SetImage(int image)
{
    m_image = image;
    m_tree->Changed(*this);
}

void Node::SetExpandedImage(int image)
{
    m_expandedImage = image;
    m_tree->Changed(*this);
}

Node& TreeView::Add(Node* relative, std::optional<int> relationship, std::optional<std::wstring> key,
                    std::wstring text, std::optional<int> image, std::optional<int> selectedImage)
{
    if (relative && relationship != tvwChild)
        throw std::invalid_argument("only child placement is supported");
    if (!relative && relationship) throw std::invalid_argument("a relationship needs a relative node");
    if (relative && relative->m_tree != this)
        throw std::invalid_argument("relative node belongs to another tree");
    if (key && FindByKey(*key)) throw std::invalid_argument("key is not unique in the tree");

    auto node = std::make_unique<Node>(Node::Passkey{}, *this);
    node->m_key = key.value_or(std::wstring());
    node->m_text = std::move(text);
    node->m_image = image.value_or(0);
    node->m_selectedImage = selectedImage;
    node->m_parent = relative;
    if (relative) relative->m_children.push_back(node.get());
    m_nodes.push_back(std::move(node));

    Node& added = *m_nodes.back();
    if (m_observer) m_observer->NodeAdded(added);
    return added;
}

Node* TreeView::FindByKey(const std::wstring& key) const
{
    if (key.empty()) return nullptr;
    for (const auto& node : m_nodes)
        if (node->m_key == key) return node.get();
    return nullptr;
}

void TreeView::Changed(const Node& node)
{
    if (m_observer) m_observer->NodeChanged(node);
}

void CommandButton::SetEnabled(bool enabled)
{
    if (m_enabled == enabled) return;
    m_enabled = enabled;
    if (OnEnabledChanged) OnEnabledChanged(enabled);
}

bool CommandButton::Click()
{
    if (!m_enabled) return false;
    if (OnClick) OnClick();
    return true;
}

} // namespace kestrin
