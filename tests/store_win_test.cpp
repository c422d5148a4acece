// The Win32 side of the store: whose hive it edits, and names converted to a code page as the registry
// layer does it, checked against the rule Windows
// documents for WideCharToMultiByte and MultiByteToWideChar, which Wine does not enforce: for UTF-8
// (65001) and UTF-7 the only flags allowed are 0 or the invalid-characters one, and both
// default-character pointers must be null.
#include "store/registry_win.h"
#include "store/user_root_win.h"
#include "tests/registry_under_test.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace kestrin
{
namespace
{

bool StrictCodePage(UINT codePage)
{
    return codePage == CP_UTF8 || codePage == CP_UTF7;
}

int WINAPI StrictToMultiByte(UINT codePage, DWORD flags, LPCWCH text, int length, LPSTR out, int size,
                             LPCCH defaultChar, LPBOOL usedDefault)
{
    if (StrictCodePage(codePage) && flags != 0 && flags != WC_ERR_INVALID_CHARS)
    {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (StrictCodePage(codePage) && (defaultChar || usedDefault))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return WideCharToMultiByte(codePage, flags, text, length, out, size, defaultChar, usedDefault);
}

int WINAPI StrictToWide(UINT codePage, DWORD flags, LPCCH text, int length, LPWSTR out, int size)
{
    if (StrictCodePage(codePage) && flags != 0 && flags != MB_ERR_INVALID_CHARS)
    {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    return MultiByteToWideChar(codePage, flags, text, length, out, size);
}

constexpr CodePageFunctions kStrict{&StrictToMultiByte, &StrictToWide};

TEST(CodePage, AsciiNamesConvertUnchangedOnEveryCodePage)
{
    for (const UINT codePage : {1252u, 932u, 65001u})
    {
        SCOPED_TRACE(codePage);
        EXPECT_EQ(ToCodePage(L"NoDispApperancePage", codePage, kStrict), "NoDispApperancePage");
        EXPECT_EQ(
            ToCodePage(L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Dos", codePage, kStrict),
            "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Dos");
        EXPECT_EQ(ToCodePage(L"", codePage, kStrict), "");
    }
}

TEST(CodePage, NamesThatWouldChangeAreRefused)
{
    // A NUL would cut the name short on every code page.
    for (const UINT codePage : {1252u, 932u, 65001u})
        EXPECT_EQ(ToCodePage(std::wstring(L"No\0Run", 6), codePage, kStrict), std::nullopt) << codePage;
    // Not in the code page, or only as a best-fit look-alike (a for a-macron in 1252).
    EXPECT_EQ(ToCodePage(L"\u3042", 1252, kStrict), std::nullopt);
    EXPECT_EQ(ToCodePage(L"\u0101", 1252, kStrict), std::nullopt);
    EXPECT_EQ(ToCodePage(L"\u00e9", 932, kStrict), std::nullopt);
    // A lone surrogate has no UTF-8 form.
    EXPECT_EQ(ToCodePage(L"a\xD800z", 65001, kStrict), std::nullopt);
}

TEST(CodePage, WhatTheCodePageHoldsConvertsExactly)
{
    EXPECT_EQ(ToCodePage(L"caf\u00e9", 1252, kStrict), "caf\xE9");
    EXPECT_EQ(ToCodePage(L"\u3042", 932, kStrict), "\x82\xA0");
    EXPECT_EQ(ToCodePage(L"caf\u00e9 \u3042", 65001, kStrict), "caf\xC3\xA9 \xE3\x81\x82");
}

} // namespace
} // namespace kestrin

namespace kestrin::testing
{
namespace
{

// The registry suites also run in a prefix whose ANSI code page is UTF-8; make sure it really is.
TEST(CodePage, TheRunForUtf8HasUtf8AsItsAnsiCodePage)
{
    if (TestProfile() != "acp65001") GTEST_SKIP() << "not the UTF-8 run";
    EXPECT_EQ(GetACP(), 65001u);
    EXPECT_EQ(ToCodePage(L"NoRun", CP_ACP), "NoRun");
}

} // namespace
} // namespace kestrin::testing

namespace kestrin::testing
{
namespace
{

// Under Wine the program runs as the one user signed in, so it keeps HKEY_CURRENT_USER. What is proven
// here is the real route: the session's account, its process list with each process's user, the
// signed-in user found from them and recognised as this process's own.
TEST(UserRoot, RunAsTheSignedInUser_KeepsHkeyCurrentUser)
{
    const auto self = ProcessUserSid();
    ASSERT_TRUE(self.has_value());
    const SessionFacts facts = CurrentSessionFacts();
    std::size_t withSid = 0;
    bool selfListed = false;
    for (const auto& process : facts.processes)
    {
        withSid += !process.userSid.empty();
        selfListed =
            selfListed || (process.processId == GetCurrentProcessId() && SameSid(process.userSid, *self));
    }
    std::printf(
        "session account \"%ls\", shell process %s, %zu processes, %zu with a user SID, this one %s\n",
        facts.account.c_str(), facts.shellProcessId ? "found" : "not found", facts.processes.size(), withSid,
        selfListed ? "listed with its SID" : "not listed with its SID");
    EXPECT_FALSE(facts.account.empty());
    EXPECT_EQ(AccountOfSid(*self).has_value(), true);
    EXPECT_EQ(SignedInUserSid(facts), self);
    SessionFacts noShell = facts; // as under a replacement shell: the session's own processes settle it
    noShell.shellProcessId.reset();
    LookUpAccounts(noShell);
    EXPECT_EQ(SignedInUserSid(noShell), self);

    const SessionUserRoot user = OpenSessionUserRoot();
    EXPECT_FALSE(user.refused);
    EXPECT_FALSE(user.root.IsUsersHive());
    EXPECT_EQ(user.root.Get(), HKEY_CURRENT_USER);
    EXPECT_TRUE(OpenUsersHive(*self).IsUsersHive()) << "the same hive is loaded under HKEY_USERS";
    EXPECT_FALSE(OpenUsersHive(L"S-1-5-21-1-2-3-4242").IsUsersHive()) << "an account that is not signed in";
}

} // namespace
} // namespace kestrin::testing
