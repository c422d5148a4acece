#include "app/kestrin.h"

#include "store/module1.h"

namespace kestrin
{

std::wstring RestartPrompt()
{
    std::wstring prompt = L"(Note: Some changes don't require reboot)\r\n\r\n";
    prompt.push_back(L'\0');
    return prompt;
}

std::wstring WrongAccountMessage(std::wstring_view processAccount, std::wstring_view sessionAccount)
{
    const auto named = [](std::wstring_view account, std::wstring_view unknown)
    { return account.empty() ? std::wstring(unknown) : std::wstring(account); };
    return L"Windows Kestrin is running as " + named(processAccount, L"another account") +
           L", but the user signed in to this session is " + named(sessionAccount, L"not known") +
           L", and their restrictions could not be found or opened.\r\n\r\nSo that no other account's "
           L"restrictions are changed, Windows Kestrin closes without reading or changing any.";
}

std::wstring ApplyFailureMessage(const std::vector<ApplyFailure>& failures, WindowHost& host)
{
    const bool one = failures.size() == 1;
    std::wstring text =
        one ? L"This restriction was not saved:\r\n\r\n" : L"These restrictions were not saved:\r\n\r\n";
    bool accessDenied = false;
    for (const auto& failure : failures)
    {
        text += failure.description + L" (" + failure.category + L"\\" + failure.valueName + L"): " +
                host.StatusText(failure.status) + L"\r\n";
        accessDenied = accessDenied || failure.status == kAccessDenied;
    }
    if (accessDenied)
        text += std::wstring(one ? L"\r\nChanging this restriction" : L"\r\nChanging these restrictions") +
                L" needs an administrator: run Windows Kestrin as an administrator and apply again.\r\n";
    return text;
}

kestrin::kestrin(Registry& registry, RestartQuestion& restart, WindowHost& host)
    : m_registry(registry), m_restart(restart), m_host(host)
{
    TreeView1.NodeClick = [this](Node& node) { TreeView1_NodeClick(node); };
    Command1.OnClick = [this] { Command1_Click(); };
    Command2.OnClick = [this] { Command2_Click(); };
}

void kestrin::Form_Load()
{
    Table.InitPolicyTable();

    Node* category = nullptr;
    for (std::int32_t i = 1; i <= Table.PolicyEntries.UBound(); ++i)
    {
        if (i == Table.ExplorerStart)
            category = &TreeView1.Add(nullptr, std::nullopt, std::nullopt, L"Explorer", ImageFolderClosed);
        if (i == Table.NetworkStart)
            category = &TreeView1.Add(nullptr, std::nullopt, std::nullopt, L"Network", ImageFolderClosed);
        if (i == Table.SystemStart)
            category = &TreeView1.Add(nullptr, std::nullopt, std::nullopt, L"System", ImageFolderClosed);
        if (i == Table.DosStart)
            category = &TreeView1.Add(nullptr, std::nullopt, std::nullopt, L"Dos", ImageFolderClosed);
        category->SetExpandedImage(ImageFolderOpen);

        auto [valueName, description] = SplitPolicyEntry(Table.PolicyEntries(i));
        const bool off = Module1::IsPolicyOff(m_registry, category->Text(), valueName);
        TreeView1.Add(category, tvwChild, std::move(valueName), std::move(description),
                      off ? ImageUnticked : ImageTicked);
    }

    Command1.SetEnabled(false);
}

void kestrin::TreeView1_NodeClick(Node& node)
{
    Command1.SetEnabled(true);
    if (node.Image() == ImageTicked)
        node.SetImage(ImageUnticked);
    else if (node.Image() == ImageUnticked)
        node.SetImage(ImageTicked);
}

void kestrin::Command1_Click()
{
    // Every entry is written, changed or not, in tree order; one failure does not stop the rest.
    std::vector<ApplyFailure> failures;
    bool changed = false;
    for (const auto& node : TreeView1.Nodes())
    {
        const Node* parent = node->Parent();
        if (!parent) continue;
        Status status = kSuccess;
        if (node->Image() == ImageTicked)
            status = Module1::EnablePolicy(m_registry, parent->Text(), node->Key(), &changed);
        if (node->Image() == ImageUnticked)
            status = Module1::DisablePolicy(m_registry, parent->Text(), node->Key(), &changed);
        if (status != kSuccess) failures.push_back({node->Text(), parent->Text(), node->Key(), status});
    }

    // What was stored is in effect whether or not the rest was, so running programs hear of it either way.
    if (changed) m_host.NotifyPolicyChanged();

    if (!failures.empty())
    {
        // "Apply" stays enabled so the user can try again; a restart would not make the change.
        m_host.ShowError(ApplyFailureMessage(failures, m_host));
        return;
    }

    Command1.SetEnabled(false);
    if (m_restart.Ask(RestartPrompt(), kEwxReboot) == RestartQuestion::Answer::Agree) m_host.EndProgram();
}

void kestrin::Command2_Click()
{
    m_host.EndProgram();
}

} // namespace kestrin
