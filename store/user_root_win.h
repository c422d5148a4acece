#pragma once

#include "store/user_root.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

namespace kestrin
{

// The root of the hive whose restrictions the program edits, open for the program's whole run:
// HKEY_CURRENT_USER (never closed), or an opened HKEY_USERS\<SID>, closed when this goes.
class UserRoot
{
public:
    UserRoot() = default;
    explicit UserRoot(HKEY hive) : m_hive(hive) {}
    UserRoot(UserRoot&& other) noexcept : m_hive(std::exchange(other.m_hive, nullptr)) {}
    UserRoot& operator=(UserRoot&& other) noexcept
    {
        if (this != &other)
        {
            Close();
            m_hive = std::exchange(other.m_hive, nullptr);
        }
        return *this;
    }
    UserRoot(const UserRoot&) = delete;
    UserRoot& operator=(const UserRoot&) = delete;
    ~UserRoot() { Close(); }

    HKEY Get() const { return m_hive ? m_hive : HKEY_CURRENT_USER; }
    bool IsUsersHive() const { return m_hive != nullptr; }

private:
    void Close()
    {
        if (m_hive) RegCloseKey(std::exchange(m_hive, nullptr));
    }

    HKEY m_hive = nullptr;
};

// The string SID of the user this process runs as, and its account as "DOMAIN\name".
std::optional<std::wstring> ProcessUserSid();
std::optional<std::wstring> AccountOfSid(const std::wstring& sid);

// What the session this process runs in tells of itself: who is signed in, the shell's process, and each
// process with its user (WTSEnumerateProcessesW: an administrator is told every account's processes,
// others only their own). Account names are looked up only where the shell's process is not listed.
SessionFacts CurrentSessionFacts();
void LookUpAccounts(SessionFacts& session);

// HKEY_USERS\<sid>, opened, or an empty root (HKEY_CURRENT_USER) when it is not loaded or not readable.
UserRoot OpenUsersHive(const std::wstring& sid);

// The root to use: the signed-in user's hive, whatever account this process runs as. Needs no privilege.
// Refused, with both accounts named, when the process runs as another account and the signed-in user's
// hive cannot be found or opened.
struct SessionUserRoot
{
    UserRoot root;
    bool refused = false;
    std::wstring processAccount;
    std::wstring sessionAccount;
};
SessionUserRoot OpenSessionUserRoot();

} // namespace kestrin
