#pragma once

#include "app/kestrin.h"

#include <windows.h>

namespace kestrin
{

// Asks through the shell's restart dialog (shell32 ordinal 59), which restarts the computer itself
// when the user agrees; the shutdown privilege is enabled first, as the dialog needs. Where that dialog
// cannot be found, or the privilege not enabled, a Yes/No message box asks the same question and the
// restart is started here, or its failure told.
class ShellRestartQuestion final : public RestartQuestion
{
public:
    void SetOwner(HWND owner) { m_owner = owner; }
    Answer Ask(const std::wstring& prompt, int flags) override;

private:
    Answer AskWithMessageBox(const std::wstring& prompt, int flags);

    HWND m_owner = nullptr;
};

} // namespace kestrin
