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

// Whose hive the program edits, decided from who runs it and who is signed in.
TEST(UserRoot, TheSignedInUsersHiveOnlyWhenRunAsAnotherAccountAndLoaded)
{
    const std::wstring self = L"S-1-5-21-1-2-3-500";
    const std::wstring signedIn = L"S-1-5-21-1-2-3-1001";
    std::vector<std::wstring> asked;
    const auto loaded = [&asked](std::wstring_view sid)
    {
        asked.emplace_back(sid);
        return true;
    };
    const auto notLoaded = [](std::wstring_view) { return false; };

    EXPECT_EQ(ChooseUsersHive(self, signedIn, loaded), signedIn) << "elevated as another account";
    EXPECT_EQ(asked, std::vector<std::wstring>{signedIn});
    asked.clear();
    EXPECT_EQ(ChooseUsersHive(self, self, loaded), std::nullopt) << "the usual case";
    EXPECT_EQ(ChooseUsersHive(self, L"s-1-5-21-1-2-3-500", loaded), std::nullopt) << "SIDs ignore case";
    EXPECT_EQ(ChooseUsersHive(self, std::nullopt, loaded), std::nullopt) << "session user unknown";
    EXPECT_EQ(ChooseUsersHive(self, L"", loaded), std::nullopt);
    EXPECT_TRUE(asked.empty()) << "no hive is opened when the process's own is the right one";
    EXPECT_EQ(ChooseUsersHive(self, signedIn, notLoaded), std::nullopt) << "hive not loaded";
}

} // namespace
} // namespace kestrin
