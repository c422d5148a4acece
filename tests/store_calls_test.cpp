// The exact registry calls each store operation makes, and what each of them failing does. Only the
// in-memory registry can make an arbitrary call fail, so these run natively.
#include "store/memory_registry.h"
#include "store/module1.h"
#include "store/user_root.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kestrin
{
namespace
{

using Op = MemoryRegistry::Op;
const std::wstring kExplorer = Module1::PolicyKeyPath(L"Explorer");

std::vector<Op> Ops(const MemoryRegistry& registry)
{
    std::vector<Op> ops;
    for (const auto& call : registry.Calls())
        ops.push_back(call.op);
    return ops;
}

TEST(StoreCalls, ValueExists_OpensQueriesAndClosesButSkipsTheQueryWhenTheKeyIsMissing)
{
    MemoryRegistry registry;
    EXPECT_FALSE(Module1::ValueExists(registry, RootKey::CurrentUser, kExplorer, L"NoRun"));
    EXPECT_EQ(Ops(registry), (std::vector<Op>{Op::OpenKey}));

    registry.PutKey(kExplorer);
    registry.ClearCalls();
    EXPECT_FALSE(Module1::ValueExists(registry, RootKey::CurrentUser, kExplorer, L"NoRun"));
    EXPECT_EQ(Ops(registry), (std::vector<Op>{Op::OpenKey, Op::QueryValue, Op::CloseKey}));
    EXPECT_EQ(registry.Calls()[0].path, kExplorer);
    EXPECT_EQ(registry.Calls()[1].valueName, L"NoRun");
}

TEST(StoreCalls, DisablePolicy_OnAbsentValue_OpensOnceAndDeletesNothing)
{
    MemoryRegistry registry;
    registry.PutKey(kExplorer);
    EXPECT_EQ(Module1::DisablePolicy(registry, L"Explorer", L"NoRun"), kSuccess);
    EXPECT_EQ(Ops(registry), (std::vector<Op>{Op::OpenKey, Op::QueryValue, Op::CloseKey}));
}

TEST(StoreCalls, DisablePolicy_OnPresentValue_ChecksThenDeletes)
{
    MemoryRegistry registry;
    registry.PutDword(kExplorer, L"NoRun", 1);
    EXPECT_EQ(Module1::DisablePolicy(registry, L"Explorer", L"NoRun"), kSuccess);
    EXPECT_EQ(Ops(registry), (std::vector<Op>{Op::OpenKey, Op::QueryValue, Op::CloseKey, Op::OpenKey,
                                              Op::DeleteValue, Op::CloseKey}));
}

TEST(StoreCalls, EnablePolicy_LooksFirstThenCreatesSetsAndCloses)
{
    MemoryRegistry registry;
    EXPECT_EQ(Module1::EnablePolicy(registry, L"Explorer", L"NoRun"), kSuccess);
    EXPECT_EQ(Ops(registry), (std::vector<Op>{Op::OpenKey, Op::CreateKey, Op::SetDwordValue, Op::CloseKey}));
    EXPECT_EQ(registry.Calls()[1].path, kExplorer);

    registry.ClearCalls();
    EXPECT_EQ(Module1::EnablePolicy(registry, L"Explorer", L"NoRun"), kSuccess);
    EXPECT_EQ(Ops(registry), (std::vector<Op>{Op::OpenKey, Op::QueryValue, Op::CloseKey})) << "on already";
}

// Each operation, run once per call it makes with exactly that call failing.
struct FaultCase
{
    const char* name;
    std::function<void(MemoryRegistry&)> arrange;
    std::function<Status(MemoryRegistry&)> act;
    std::size_t calls;
    // From this call on, the change has already been made (a failing close cannot undo it).
    std::size_t changedFromCall;
    // The close after a presence check: its failure changes nothing the operation needs.
    std::size_t harmlessCall = 0;
};

void PrintTo(const FaultCase& fault, std::ostream* os)
{
    *os << fault.name;
}

class StoreFaults : public ::testing::TestWithParam<FaultCase>
{
};

TEST_P(StoreFaults, EachFailingCall_IsReportedLeavesNoHandleAndChangesNothing)
{
    const auto& fault = GetParam();
    for (std::size_t failing = 1; failing <= fault.calls; ++failing)
    {
        SCOPED_TRACE("failing call " + std::to_string(failing));
        MemoryRegistry registry;
        fault.arrange(registry);
        const auto before = registry.Snapshot();
        registry.AddFault({.callNumber = failing, .status = kAccessDenied});

        EXPECT_EQ(fault.act(registry), failing == fault.harmlessCall ? kSuccess : kAccessDenied);
        EXPECT_EQ(registry.OpenHandleCount(), 0u);
        if (failing < fault.changedFromCall && failing != fault.harmlessCall)
        {
            EXPECT_EQ(registry.Snapshot(), before);
        }
        EXPECT_LE(registry.Calls().size(), fault.calls);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, StoreFaults,
    ::testing::Values(
        // Creating the key path is already a change, as it would be in Windows.
        FaultCase{"EnableOnMissingKey", [](MemoryRegistry&) {},
                  [](MemoryRegistry& r) { return Module1::EnablePolicy(r, L"Explorer", L"NoRun"); }, 4, 3},
        FaultCase{"EnableOverDwordZero", [](MemoryRegistry& r) { r.PutDword(kExplorer, L"NoRun", 0); },
                  [](MemoryRegistry& r) { return Module1::EnablePolicy(r, L"Explorer", L"NoRun"); }, 6, 6, 3},
        FaultCase{"EnableOverAMask", [](MemoryRegistry& r) { r.PutDword(kExplorer, L"NoDrives", 0x3FFFFFF); },
                  [](MemoryRegistry& r) { return Module1::EnablePolicy(r, L"Explorer", L"NoDrives"); }, 3, 4,
                  3},
        FaultCase{"DisablePresent", [](MemoryRegistry& r) { r.PutDword(kExplorer, L"NoRun", 1); },
                  [](MemoryRegistry& r) { return Module1::DisablePolicy(r, L"Explorer", L"NoRun"); }, 6, 6,
                  3},
        FaultCase{"DisableAbsent", [](MemoryRegistry& r) { r.PutKey(kExplorer); },
                  [](MemoryRegistry& r) { return Module1::DisablePolicy(r, L"Explorer", L"NoRun"); }, 3, 4,
                  3}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(StoreFaultsOnRead, AnyFailingCall_ReadsAsOffAndLeavesNoHandle)
{
    for (std::size_t failing = 1; failing <= 3; ++failing)
    {
        MemoryRegistry registry;
        registry.PutDword(kExplorer, L"NoRun", 1);
        registry.AddFault({.callNumber = failing, .status = kAccessDenied});
        const bool off = Module1::IsPolicyOff(registry, L"Explorer", L"NoRun");
        // A failing close comes after the answer was read.
        EXPECT_EQ(off, failing < 3) << "failing call " << failing;
        EXPECT_EQ(registry.OpenHandleCount(), 0u);
    }
}

TEST(StoreFaultsOnRead, DisablePolicy_WhenPresenceCannotBeRead_ReportsItInsteadOfAssumingAbsent)
{
    MemoryRegistry registry;
    registry.PutDword(kExplorer, L"NoRun", 1);
    registry.AddFault({.op = Op::OpenKey, .status = kAccessDenied});
    EXPECT_EQ(Module1::DisablePolicy(registry, L"Explorer", L"NoRun"), kAccessDenied);
    EXPECT_TRUE(registry.GetValue(kExplorer, L"NoRun"));
}

} // namespace
} // namespace kestrin

namespace kestrin
{
namespace
{

// Whose hive the program edits, decided from who runs it and who the session says is signed in.
TEST(UserRoot, TheSignedInUsersHive_FoundWithoutPrivilegeOrNameLookup_ElseRefused)
{
    const std::wstring admin = L"S-1-5-21-1-2-3-500";
    const std::wstring user = L"S-1-5-21-1-2-3-1001";
    const std::wstring entra = L"S-1-12-1-1111-2222-3333-4444";
    std::vector<std::wstring> opened;
    const auto loaded = [&opened](std::wstring_view sid)
    {
        opened.emplace_back(sid);
        return true;
    };
    const auto notLoaded = [](std::wstring_view) { return false; };
    const auto choose = [&](std::wstring_view self, const SessionFacts& facts, auto hive)
    { return ChooseUsersHive(self, SignedInUserSid(facts), hive); };
    using Kind = HiveChoice::Kind;

    // The shell runs as the signed-in user; the elevated program as the administrator, in the same session.
    SessionFacts session{
        L"CONTOSO\\user",
        40,
        {{40, user, L"CONTOSO\\user"}, {41, user, L"CONTOSO\\user"}, {77, admin, L"CONTOSO\\admin"}}};
    EXPECT_EQ(choose(user, session, loaded), (HiveChoice{Kind::CurrentUser, {}})) << "the usual case";
    EXPECT_EQ(choose(L"s-1-5-21-1-2-3-1001", session, loaded).kind, Kind::CurrentUser) << "SIDs ignore case";
    EXPECT_TRUE(opened.empty()) << "no hive is opened when the process's own is the right one";
    EXPECT_EQ(choose(admin, session, loaded), (HiveChoice{Kind::UsersHive, user})) << "elevated as another";
    EXPECT_EQ(opened, std::vector<std::wstring>{user});

    // A Microsoft Entra ID account, whose name cannot be looked up: the shell's process still tells its SID.
    SessionFacts cloud{L"AzureAD\\user", 40, {{40, entra, L""}, {77, admin, L"CONTOSO\\admin"}}};
    EXPECT_EQ(choose(admin, cloud, loaded), (HiveChoice{Kind::UsersHive, entra}));
    EXPECT_EQ(choose(entra, cloud, loaded).kind, Kind::CurrentUser);

    // No shell window (a replacement shell): the session's processes of the account it names.
    SessionFacts noShell = session;
    noShell.shellProcessId.reset();
    EXPECT_EQ(choose(admin, noShell, loaded), (HiveChoice{Kind::UsersHive, user}));
    noShell.account = L"contoso\\USER";
    EXPECT_EQ(choose(admin, noShell, loaded), (HiveChoice{Kind::UsersHive, user})) << "names ignore case";
    noShell.processes.push_back({90, L"S-1-5-21-9-9-9-1001", L"CONTOSO\\user"});
    EXPECT_EQ(choose(admin, noShell, loaded).kind, Kind::Refuse) << "processes that disagree settle nothing";

    // The hive not loaded, or nothing found at all: refused, never the administrator's own hive.
    EXPECT_EQ(choose(admin, session, notLoaded), (HiveChoice{Kind::Refuse, user}));
    SessionFacts unknown{L"", std::nullopt, {{77, admin, L"CONTOSO\\admin"}}};
    EXPECT_EQ(choose(admin, unknown, loaded).kind, Kind::Refuse);
    SessionFacts nameOnly{L"AzureAD\\user", std::nullopt, {{41, entra, L""}, {77, admin, L"CONTOSO\\admin"}}};
    EXPECT_EQ(choose(admin, nameOnly, loaded).kind, Kind::Refuse) << "an unresolved name matches nothing";
    EXPECT_EQ(choose(L"", session, loaded).kind, Kind::UsersHive) << "this process's own SID unknown";
}

} // namespace
} // namespace kestrin
