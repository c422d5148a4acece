// The policy store against a registry: the in-memory one natively, the real one under Wine.
#include "store/module1.h"
#include "tests/registry_under_test.h"

#include <gtest/gtest.h>

namespace kestrin::testing
{
namespace
{

using Module1::PolicyKeyPath;

class PolicyStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!MayWritePolicyKeys())
            GTEST_SKIP()
                << "refusing to change this machine's policies; set KESTRIN_TEST_WRITE_POLICIES=1 to allow";
        ClearPolicyKeys();
        m_handlesBefore = m_under->HandleCount();
    }
    void TearDown() override
    {
        if (!MayWritePolicyKeys()) return;
        EXPECT_EQ(m_under->HandleCount(), m_handlesBefore) << "a key handle was left open";
        ClearPolicyKeys();
    }
    void ClearPolicyKeys()
    {
        for (const auto* category : {L"Explorer", L"Network", L"System", L"Dos"})
            m_under->DeleteTree(PolicyKeyPath(category));
    }

    Registry& Reg() { return m_under->Get(); }

    std::unique_ptr<RegistryUnderTest> m_under = MakeRegistryUnderTest();
    std::optional<std::size_t> m_handlesBefore;
};

TEST_F(PolicyStore, EnablePolicy_CreatesTheCategoryKeyAndWritesDwordOne)
{
    ASSERT_FALSE(m_under->KeyExists(PolicyKeyPath(L"Explorer")));
    EXPECT_EQ(Module1::EnablePolicy(Reg(), L"Explorer", L"NoRun"), kSuccess);
    EXPECT_EQ(
        m_under->GetValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer", L"NoRun"),
        kDwordOne);
    EXPECT_FALSE(Module1::IsPolicyOff(Reg(), L"Explorer", L"NoRun"));
}

TEST_F(PolicyStore, DisablePolicy_OnAbsentValue_SucceedsAndCreatesNothing)
{
    EXPECT_EQ(Module1::DisablePolicy(Reg(), L"Network", L"NoNetSetup"), kSuccess);
    EXPECT_FALSE(m_under->KeyExists(PolicyKeyPath(L"Network")));

    m_under->PutKey(PolicyKeyPath(L"Network"));
    EXPECT_EQ(Module1::DisablePolicy(Reg(), L"Network", L"NoNetSetup"), kSuccess);
    EXPECT_FALSE(m_under->GetValue(PolicyKeyPath(L"Network"), L"NoNetSetup"));
}

TEST_F(PolicyStore, EnableThenDisable_RoundTripsAndKeepsTheKey)
{
    ASSERT_TRUE(Module1::IsPolicyOff(Reg(), L"Dos", L"Disabled"));
    ASSERT_EQ(Module1::EnablePolicy(Reg(), L"Dos", L"Disabled"), kSuccess);
    EXPECT_FALSE(Module1::IsPolicyOff(Reg(), L"Dos", L"Disabled"));
    EXPECT_EQ(m_under->GetValue(PolicyKeyPath(L"Dos"), L"Disabled"), kDwordOne);

    ASSERT_EQ(Module1::DisablePolicy(Reg(), L"Dos", L"Disabled"), kSuccess);
    EXPECT_TRUE(Module1::IsPolicyOff(Reg(), L"Dos", L"Disabled"));
    EXPECT_FALSE(m_under->GetValue(PolicyKeyPath(L"Dos"), L"Disabled"));
    EXPECT_TRUE(m_under->KeyExists(PolicyKeyPath(L"Dos")));
}

// The shell reads restrictions as numbers: a DWORD 0 is not in effect; anything else present is.
TEST_F(PolicyStore, IsPolicyOff_FollowsHowTheShellReadsTheValue)
{
    const auto explorer = PolicyKeyPath(L"Explorer");
    m_under->PutDword(explorer, L"NoRun", 0);
    m_under->PutDword(explorer, L"NoFind", 1);
    m_under->PutDword(explorer, L"NoClose", 2);
    m_under->PutString(explorer, L"NoDesktop", "0");
    m_under->PutValue(explorer, L"NoDrives", kRegBinary, {0, 0, 0, 0});
    m_under->PutValue(explorer, L"NoNetHood", kRegDword, {}); // a DWORD with no data at all

    EXPECT_TRUE(Module1::IsPolicyOff(Reg(), L"Explorer", L"NoRun"));
    EXPECT_FALSE(Module1::IsPolicyOff(Reg(), L"Explorer", L"NoFind"));
    EXPECT_FALSE(Module1::IsPolicyOff(Reg(), L"Explorer", L"NoClose"));
    EXPECT_FALSE(Module1::IsPolicyOff(Reg(), L"Explorer", L"NoDesktop"));
    EXPECT_FALSE(Module1::IsPolicyOff(Reg(), L"Explorer", L"NoDrives"));
    EXPECT_FALSE(Module1::IsPolicyOff(Reg(), L"Explorer", L"NoNetHood"));
    EXPECT_TRUE(Module1::IsPolicyOff(Reg(), L"Explorer", L"NoSetFolders"));
    EXPECT_TRUE(Module1::IsPolicyOff(Reg(), L"System", L"NoDispCPL")) << "missing key reads as off";
    EXPECT_FALSE(m_under->KeyExists(PolicyKeyPath(L"System"))) << "reading must create nothing";
}

TEST_F(PolicyStore, EnablePolicy_KeepsAValueThatIsOnAndWritesOneOverOneThatIsOff)
{
    const auto explorer = PolicyKeyPath(L"Explorer");
    m_under->PutDword(explorer, L"NoDrives", 0x03FFFFFF); // a mask: every drive hidden
    m_under->PutString(explorer, L"NoClose", "yes");
    m_under->PutDword(explorer, L"NoRun", 0);
    bool changed = false;
    EXPECT_EQ(Module1::EnablePolicy(Reg(), L"Explorer", L"NoDrives", &changed), kSuccess);
    EXPECT_EQ(Module1::EnablePolicy(Reg(), L"Explorer", L"NoClose", &changed), kSuccess);
    EXPECT_FALSE(changed);
    EXPECT_EQ(m_under->GetValue(explorer, L"NoDrives"),
              (MemoryRegistry::Value{kRegDword, DwordBytes(0x03FFFFFF)}));
    EXPECT_EQ(m_under->GetValue(explorer, L"NoClose")->type, kRegSz);

    EXPECT_EQ(Module1::EnablePolicy(Reg(), L"Explorer", L"NoRun", &changed), kSuccess);
    EXPECT_TRUE(changed);
    EXPECT_EQ(m_under->GetValue(explorer, L"NoRun"), kDwordOne);
}

TEST_F(PolicyStore, DisablePolicy_RemovesAValueOfAnyTypeAndOnlyThatValue)
{
    const auto system = PolicyKeyPath(L"System");
    m_under->PutString(system, L"NoDispCPL", "1");
    m_under->PutDword(system, L"SomethingElse", 7);
    EXPECT_EQ(Module1::DisablePolicy(Reg(), L"System", L"NoDispCPL"), kSuccess);
    EXPECT_FALSE(m_under->GetValue(system, L"NoDispCPL"));
    EXPECT_EQ(m_under->GetValue(system, L"SomethingElse"), (MemoryRegistry::Value{kRegDword, {7, 0, 0, 0}}));
}

} // namespace
} // namespace kestrin::testing
