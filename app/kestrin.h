#pragma once

#include "app/tree_model.h"
#include "policy/policy_table.h"
#include "store/registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrin
{

inline constexpr std::wstring_view kCaption = L"Windows Kestrin";
inline constexpr int kEwxReboot = 2;

// The restart question: a modal question owned by the main window.
class RestartQuestion
{
public:
    enum class Answer
    {
        Agree,
        Decline,
    };
    virtual Answer Ask(const std::wstring& prompt, int flags) = 0;

protected:
    ~RestartQuestion() = default;
};

// What the window needs from the desktop it runs on.
class WindowHost
{
public:
    // A modal error message owned by the window, titled with its caption.
    virtual void ShowError(const std::wstring& text) = 0;
    // The system's own wording for a status, e.g. "Access is denied."
    virtual std::wstring StatusText(Status status) = 0;
    // Tells running programs that policies changed, so the shell picks up what needs no restart.
    virtual void NotifyPolicyChanged() = 0;
    // Closes the window and ends the program.
    virtual void EndProgram() = 0;

protected:
    ~WindowHost() = default;
};

// A restriction that "Apply" could not save.
struct ApplyFailure
{
    std::wstring description;
    std::wstring category;
    std::wstring valueName;
    Status status;
};

std::wstring RestartPrompt();
// Why the program ends at once when it runs as another account than the one signed in to the session and
// cannot open that user's restrictions; either account may be unknown (empty).
std::wstring WrongAccountMessage(std::wstring_view processAccount, std::wstring_view sessionAccount);
std::wstring ApplyFailureMessage(const std::vector<ApplyFailure>& failures, WindowHost& host);

// The main window's logic: its table, its tree and its two commands.
class kestrin
{
public:
    kestrin(Registry& registry, RestartQuestion& restart, WindowHost& host);
    kestrin(const kestrin&) = delete;
    kestrin& operator=(const kestrin&) = delete;

    void Form_Load();
    void TreeView1_NodeClick(Node& node);
    void Command1_Click();
    void Command2_Click();

    PolicyTable Table;
    TreeView TreeView1;
    CommandButton Command1; // "Apply"
    CommandButton Command2; // "Exit"

private:
    Registry& m_registry;
    RestartQuestion& m_restart;
    WindowHost& m_host;
};

} // namespace kestrin
