#include "policy/policy_table.h"

#include <gtest/gtest.h>

#include <set>

namespace kestrin
{
namespace
{

TEST(PolicyTable, IsEmptyUntilInitialised)
{
    PolicyTable table;
    EXPECT_EQ(table.ExplorerStart, 0);
    EXPECT_EQ(table.DosStart, 0);
    EXPECT_TRUE(table.PolicyEntries(1).empty());
}

TEST(PolicyTable, HoldsThirtySixEntriesIndexedFromOne)
{
    PolicyTable table;
    table.InitPolicyTable();
    EXPECT_EQ(table.PolicyEntries.LBound(), 1);
    EXPECT_EQ(table.PolicyEntries.UBound(), 36);
    EXPECT_EQ(table.PolicyEntries(1), L"NoRun,Hide Run Menu");
    EXPECT_EQ(table.PolicyEntries(12), L"NoDrives,Hide Drives from  Desktop");
    EXPECT_EQ(table.PolicyEntries(25), L"NoDispApperancePage,Disable Display Control Apperance Page");
    EXPECT_EQ(table.PolicyEntries(36), L"NoRealMode,Disable MS-DOS app at real mode");
    EXPECT_THROW(table.PolicyEntries(0), std::out_of_range);
    EXPECT_THROW(table.PolicyEntries(37), std::out_of_range);
}

TEST(PolicyTable, CategoriesStartWhereTheyShouldAndCoverEveryEntryOnce)
{
    PolicyTable table;
    table.InitPolicyTable();
    EXPECT_EQ(table.ExplorerStart, 1);
    EXPECT_EQ(table.NetworkStart, 16);
    EXPECT_EQ(table.SystemStart, 22);
    EXPECT_EQ(table.DosStart, 35);
    EXPECT_LT(table.ExplorerStart, table.NetworkStart);
    EXPECT_LT(table.NetworkStart, table.SystemStart);
    EXPECT_LT(table.SystemStart, table.DosStart);
    EXPECT_LE(table.DosStart, table.PolicyEntries.UBound());
    EXPECT_EQ(table.ExplorerStart, table.PolicyEntries.LBound());
}

TEST(PolicyTable, EverySplitGivesADistinctValueNameAndADescription)
{
    PolicyTable table;
    table.InitPolicyTable();
    std::set<std::wstring> names;
    for (int i = table.PolicyEntries.LBound(); i <= table.PolicyEntries.UBound(); ++i)
    {
        const auto parts = SplitPolicyEntry(table.PolicyEntries(i));
        EXPECT_FALSE(parts.valueName.empty()) << i;
        EXPECT_FALSE(parts.description.empty()) << i;
        EXPECT_EQ(parts.valueName.find(L' '), std::wstring::npos) << i;
        for (const wchar_t c : table.PolicyEntries(i))
            EXPECT_LT(static_cast<unsigned>(c), 0x80u) << "entry " << i << " is not plain ASCII";
        names.insert(parts.valueName);
    }
    EXPECT_EQ(names.size(), 36u);
}

TEST(SplitPolicyEntry, SplitsAtTheFirstCommaOnly)
{
    const auto parts = SplitPolicyEntry(L"Name,Text, with a comma");
    EXPECT_EQ(parts.valueName, L"Name");
    EXPECT_EQ(parts.description, L"Text, with a comma");
}

} // namespace
} // namespace kestrin
