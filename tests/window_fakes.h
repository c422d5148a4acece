#pragma once

// Stand-ins for the restart question and the desktop, for tests of the window's logic.
#include "app/kestrin.h"

#include <chrono>
#include <string>
#include <vector>

namespace kestrin::testing
{

struct ScriptedRestart final : RestartQuestion
{
    Answer Ask(const std::wstring& prompt, int flags) override
    {
        ++asked;
        askedAt = std::chrono::steady_clock::now();
        lastPrompt = prompt;
        lastFlags = flags;
        return answer;
    }

    Answer answer = Answer::Decline;
    int asked = 0;
    std::wstring lastPrompt;
    int lastFlags = 0;
    std::chrono::steady_clock::time_point askedAt;
};

struct RecordingHost final : WindowHost
{
    void ShowError(const std::wstring& text) override { errors.push_back(text); }
    std::wstring StatusText(Status status) override
    {
        return status == kAccessDenied ? L"Access is denied." : L"Error " + std::to_wstring(status) + L".";
    }
    void NotifyPolicyChanged() override { ++notified; }
    void EndProgram() override { ++ended; }

    std::vector<std::wstring> errors;
    int notified = 0;
    int ended = 0;
};

} // namespace kestrin::testing
