// The registry interface's contract, run against the in-memory registry natively and against the real
// registry under Wine: it is what shows the stand-in answers like the platform.
#include "tests/registry_under_test.h"

#include <gtest/gtest.h>

namespace kestrin::testing
{
namespace
{

constexpr std::wstring_view kScratch = L"Software\\KestrinTest\\Contract";

class RegistryContract : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_under->DeleteTree(L"Software\\KestrinTest");
        m_handlesBefore = m_under->HandleCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(m_under->HandleCount(), m_handlesBefore) << "a key handle was left open";
        m_under->DeleteTree(L"Software\\KestrinTest");
    }

    Registry& Reg() { return m_under->Get(); }
    std::wstring Path(std::wstring_view tail) const
    {
        return std::wstring(kScratch) + L"\\" + std::wstring(tail);
    }

    std::unique_ptr<RegistryUnderTest> m_under = MakeRegistryUnderTest();
    std::optional<std::size_t> m_handlesBefore;
};

TEST_F(RegistryContract, OpenMissingKey_AnswersNotFoundAndLeavesHandleAlone)
{
    KeyHandle handle = 0x1234;
    EXPECT_EQ(Reg().OpenKey(RootKey::CurrentUser, Path(L"Missing"), handle), kFileNotFound);
    EXPECT_EQ(handle, 0x1234u);
    EXPECT_FALSE(m_under->KeyExists(Path(L"Missing")));
}

TEST_F(RegistryContract, CreateKey_MakesEveryMissingKeyOnThePath)
{
    auto created = CreateKey(Reg(), RootKey::CurrentUser, Path(L"A\\B\\C"));
    ASSERT_EQ(created.status, kSuccess);
    EXPECT_EQ(created.key.Close(), kSuccess);
    EXPECT_TRUE(m_under->KeyExists(Path(L"A")));
    EXPECT_TRUE(m_under->KeyExists(Path(L"A\\B\\C")));

    // Creating a key that exists opens it.
    auto again = CreateKey(Reg(), RootKey::CurrentUser, Path(L"A\\B"));
    EXPECT_EQ(again.status, kSuccess);
}

TEST_F(RegistryContract, QueryValue_TellsPresenceTypeAndDword)
{
    m_under->PutDword(kScratch, L"Zero", 0);
    m_under->PutDword(kScratch, L"Big", 0x01020304);
    m_under->PutString(kScratch, L"Text", "1");
    auto opened = OpenKey(Reg(), RootKey::CurrentUser, kScratch);
    ASSERT_EQ(opened.status, kSuccess);
    const KeyHandle key = opened.key.Get();

    EXPECT_EQ(Reg().QueryValue(key, L"Zero", nullptr), kSuccess);
    EXPECT_EQ(Reg().QueryValue(key, L"Text", nullptr), kSuccess);
    EXPECT_EQ(Reg().QueryValue(key, L"Absent", nullptr), kFileNotFound);

    ValueProbe probe;
    ASSERT_EQ(Reg().QueryValue(key, L"Zero", &probe), kSuccess);
    EXPECT_EQ(probe.type, kRegDword);
    EXPECT_EQ(probe.size, 4u);
    EXPECT_EQ(probe.dword, 0u);
    ASSERT_EQ(Reg().QueryValue(key, L"Big", &probe), kSuccess);
    EXPECT_EQ(probe.dword, 0x01020304u);
    ASSERT_EQ(Reg().QueryValue(key, L"Text", &probe), kSuccess);
    EXPECT_EQ(probe.type, kRegSz);
    EXPECT_FALSE(probe.dword.has_value());
}

TEST_F(RegistryContract, SetDwordValue_StoresFourLittleEndianBytesAndReplacesAnyType)
{
    m_under->PutString(kScratch, L"Replaced", "text");
    auto opened = OpenKey(Reg(), RootKey::CurrentUser, kScratch);
    ASSERT_EQ(opened.status, kSuccess);
    EXPECT_EQ(Reg().SetDwordValue(opened.key.Get(), L"Replaced", 1), kSuccess);
    EXPECT_EQ(Reg().SetDwordValue(opened.key.Get(), L"Fresh", 0xA0B0C0D0u), kSuccess);
    opened.key.Reset();

    EXPECT_EQ(m_under->GetValue(kScratch, L"Replaced"), kDwordOne);
    EXPECT_EQ(m_under->GetValue(kScratch, L"Fresh"),
              (MemoryRegistry::Value{kRegDword, {0xD0, 0xC0, 0xB0, 0xA0}}));
}

TEST_F(RegistryContract, DeleteValue_RemovesOnlyThatValueAndAnswersNotFoundWhenAbsent)
{
    m_under->PutDword(kScratch, L"Gone", 1);
    m_under->PutDword(kScratch, L"Kept", 1);
    auto opened = OpenKey(Reg(), RootKey::CurrentUser, kScratch);
    ASSERT_EQ(opened.status, kSuccess);
    EXPECT_EQ(Reg().DeleteValue(opened.key.Get(), L"Gone"), kSuccess);
    EXPECT_EQ(Reg().DeleteValue(opened.key.Get(), L"Gone"), kFileNotFound);
    opened.key.Reset();

    EXPECT_FALSE(m_under->GetValue(kScratch, L"Gone"));
    EXPECT_TRUE(m_under->GetValue(kScratch, L"Kept"));
    EXPECT_TRUE(m_under->KeyExists(kScratch)) << "deleting the last value must not remove the key";
}

TEST_F(RegistryContract, Names_CompareWithoutRegardToCase)
{
    m_under->PutDword(Path(L"MixedCase"), L"NoRun", 0);
    auto opened = OpenKey(Reg(), RootKey::CurrentUser, Path(L"MIXEDCASE"));
    ASSERT_EQ(opened.status, kSuccess);
    EXPECT_EQ(Reg().QueryValue(opened.key.Get(), L"norun", nullptr), kSuccess);
    EXPECT_EQ(Reg().SetDwordValue(opened.key.Get(), L"NORUN", 1), kSuccess);
    opened.key.Reset();

    EXPECT_EQ(m_under->GetValue(Path(L"mixedcase"), L"NoRun"), kDwordOne) << "set must replace, not add";
}

TEST_F(RegistryContract, UniqueKey_ClosesOnceAndNeverClosesAKeyItDidNotOpen)
{
    m_under->PutKey(kScratch);
    {
        auto opened = OpenKey(Reg(), RootKey::CurrentUser, kScratch);
        ASSERT_TRUE(opened.key);
        UniqueKey moved = std::move(opened.key);
        EXPECT_FALSE(opened.key);
        EXPECT_EQ(moved.Close(), kSuccess);
        EXPECT_EQ(moved.Close(), kSuccess) << "a second close must be a no-op";
    }
    auto missing = OpenKey(Reg(), RootKey::CurrentUser, Path(L"Missing"));
    EXPECT_EQ(missing.status, kFileNotFound);
    EXPECT_FALSE(missing.key);
}

} // namespace
} // namespace kestrin::testing
