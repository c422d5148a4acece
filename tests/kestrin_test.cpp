// The main window's logic over the tree model, on the in-memory registry with a scripted restart
// question and desktop.
#include "app/kestrin.h"
#include "app/layout.h"
#include "store/memory_registry.h"
#include "store/module1.h"
#include "tests/window_fakes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace kestrin
{
namespace
{

using Op = MemoryRegistry::Op;
using testing::RecordingHost;
using testing::ScriptedRestart;

const std::wstring kExplorer = Module1::PolicyKeyPath(L"Explorer");
const std::wstring kDos = Module1::PolicyKeyPath(L"Dos");

class Window : public ::testing::Test
{
protected:
    Node& Entry(const std::wstring& key)
    {
        Node* node = form.TreeView1.FindByKey(key);
        if (!node) throw std::runtime_error("no such entry");
        return *node;
    }
    void Load()
    {
        form.Form_Load();
        registry.ClearCalls();
    }
    // The (category key, value name) of each store operation "Apply" made, in order: each one looks at
    // its value first (all four category keys must exist for every open to be followed by the query).
    std::vector<std::pair<std::wstring, std::wstring>> WritesMade() const
    {
        std::vector<std::pair<std::wstring, std::wstring>> writes;
        for (const auto& call : registry.Calls())
            if (call.op == Op::QueryValue) writes.push_back({call.path, call.valueName});
        return writes;
    }
    void PutCategoryKeys()
    {
        for (const auto* category : {L"Explorer", L"Network", L"System", L"Dos"})
            registry.PutKey(Module1::PolicyKeyPath(category));
    }

    MemoryRegistry registry;
    ScriptedRestart restart;
    RecordingHost host;
    kestrin form{registry, restart, host};
};

TEST_F(Window, Load_BuildsFortyNodesInTableOrderUnderTheirCategories)
{
    form.Form_Load();
    const auto& nodes = form.TreeView1.Nodes();
    ASSERT_EQ(nodes.size(), 40u);

    const std::vector<std::pair<std::size_t, std::wstring>> categories{
        {0, L"Explorer"}, {16, L"Network"}, {23, L"System"}, {37, L"Dos"}};
    for (const auto& [index, text] : categories)
    {
        const Node& category = *nodes[index];
        EXPECT_EQ(category.Text(), text);
        EXPECT_EQ(category.Key(), L"");
        EXPECT_EQ(category.Parent(), nullptr);
        EXPECT_EQ(category.Image(), ImageFolderClosed);
        EXPECT_EQ(category.ExpandedImage(), ImageFolderOpen);
        EXPECT_FALSE(category.SelectedImage());
    }

    PolicyTable table;
    table.InitPolicyTable();
    std::size_t node = 0;
    for (int i = 1; i <= 36; ++i)
    {
        ++node;
        if (i == table.NetworkStart || i == table.SystemStart || i == table.DosStart) ++node;
        const auto parts = SplitPolicyEntry(table.PolicyEntries(i));
        const Node& entry = *nodes[node];
        EXPECT_EQ(entry.Key(), parts.valueName);
        EXPECT_EQ(entry.Text(), parts.description);
        EXPECT_EQ(entry.Image(), ImageUnticked);
        EXPECT_FALSE(entry.SelectedImage());
        EXPECT_FALSE(entry.ExpandedImage());
        ASSERT_NE(entry.Parent(), nullptr);
        EXPECT_EQ(entry.Parent()->Children().back() == &entry, i + 1 == table.NetworkStart ||
                                                                   i + 1 == table.SystemStart ||
                                                                   i + 1 == table.DosStart || i == 36);
    }
    EXPECT_EQ(Entry(L"Disabled").Text(), L"Disable MS-DOS prompt");
    EXPECT_EQ(Entry(L"Disabled").Parent()->Text(), L"Dos");
    EXPECT_EQ(Entry(L"NoPrinterTabs").Parent()->Text(), L"Explorer");
    EXPECT_EQ(Entry(L"NoPrintSharing").Parent()->Text(), L"Network");
    EXPECT_EQ(Entry(L"NoSecCPL").Parent()->Text(), L"System");
}

TEST_F(Window, Load_ReadsEachEntryOnceInTableOrderAndCreatesNothing)
{
    form.Form_Load();
    std::vector<std::wstring> opened;
    for (const auto& call : registry.Calls())
    {
        EXPECT_NE(call.op, Op::CreateKey);
        EXPECT_NE(call.op, Op::SetDwordValue);
        EXPECT_NE(call.op, Op::DeleteValue);
        if (call.op == Op::OpenKey) opened.push_back(call.path);
    }
    ASSERT_EQ(opened.size(), 36u);
    EXPECT_EQ(opened.front(), kExplorer);
    EXPECT_EQ(opened[15], Module1::PolicyKeyPath(L"Network"));
    EXPECT_EQ(opened[21], Module1::PolicyKeyPath(L"System"));
    EXPECT_EQ(opened.back(), kDos);
    EXPECT_FALSE(registry.KeyExists(kExplorer));
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
    EXPECT_FALSE(form.Command1.Enabled());
    EXPECT_TRUE(form.Command2.Enabled());
}

TEST_F(Window, Load_ShowsPresentValuesAsOnExceptDwordZero)
{
    registry.PutDword(kExplorer, L"NoRun", 1);
    registry.PutString(kExplorer, L"NoFind", L"");
    registry.PutDword(kExplorer, L"NoClose", 0);
    registry.PutDword(kExplorer, L"norecentdocshistory", 5);
    registry.PutDword(kDos, L"Disabled", 1);
    registry.PutDword(Module1::PolicyKeyPath(L"System"), L"NoRun", 1); // wrong category: not NoRun's key
    form.Form_Load();

    EXPECT_EQ(Entry(L"NoRun").Image(), ImageTicked);
    EXPECT_EQ(Entry(L"NoFind").Image(), ImageTicked);
    EXPECT_EQ(Entry(L"NoClose").Image(), ImageUnticked);
    EXPECT_EQ(Entry(L"NoRecentDocsHistory").Image(), ImageTicked);
    EXPECT_EQ(Entry(L"Disabled").Image(), ImageTicked);
    EXPECT_EQ(Entry(L"NoRealMode").Image(), ImageUnticked);
    EXPECT_EQ(Entry(L"NoDispCPL").Image(), ImageUnticked);
}

TEST_F(Window, Click_FlipsEntriesLeavesCategoriesAndEnablesApply)
{
    Load();
    Node& entry = Entry(L"NoRun");
    form.TreeView1.NodeClick(entry);
    EXPECT_EQ(entry.Image(), ImageTicked);
    EXPECT_TRUE(form.Command1.Enabled());
    form.TreeView1.NodeClick(entry);
    EXPECT_EQ(entry.Image(), ImageUnticked);
    EXPECT_TRUE(form.Command1.Enabled()) << "Apply stays enabled after clicking back";

    form.Command1.SetEnabled(false);
    Node& category = *form.TreeView1.Nodes().front();
    form.TreeView1.NodeClick(category);
    EXPECT_TRUE(form.Command1.Enabled());
    EXPECT_EQ(category.Image(), ImageFolderClosed);
    EXPECT_EQ(category.ExpandedImage(), ImageFolderOpen);
    EXPECT_TRUE(registry.Calls().empty()) << "clicks must not touch the registry";
}

TEST_F(Window, Apply_WritesEveryEntryInTreeOrderThenAsksToRestart)
{
    PutCategoryKeys();
    registry.PutDword(kDos, L"NoRealMode", 0);
    registry.PutString(kDos, L"Disabled", L"x");
    registry.PutDword(kExplorer, L"NoDrives", 0x03FFFFFF); // every drive hidden
    registry.PutString(kExplorer, L"NoClose", L"yes");
    Load();
    form.TreeView1.NodeClick(Entry(L"NoRun"));      // on
    form.TreeView1.NodeClick(Entry(L"Disabled"));   // off
    form.TreeView1.NodeClick(Entry(L"NoRealMode")); // on
    ASSERT_TRUE(form.Command1.Click());

    const auto writes = WritesMade();
    ASSERT_EQ(writes.size(), 36u);
    EXPECT_EQ(writes.front(), std::make_pair(kExplorer, std::wstring(L"NoRun")));
    EXPECT_EQ(writes[15].second, L"NoNetSetup");
    EXPECT_EQ(writes.back(), std::make_pair(kDos, std::wstring(L"NoRealMode")));

    EXPECT_EQ(registry.GetValue(kExplorer, L"NoRun"), (MemoryRegistry::Value{kRegDword, {1, 0, 0, 0}}));
    EXPECT_FALSE(registry.GetValue(kDos, L"Disabled"));
    EXPECT_EQ(registry.GetValue(kDos, L"NoRealMode"), (MemoryRegistry::Value{kRegDword, {1, 0, 0, 0}}));
    // Values that are on already are not cut down to 1, whatever they hold.
    EXPECT_EQ(registry.GetValue(kExplorer, L"NoDrives"),
              (MemoryRegistry::Value{kRegDword, DwordBytes(0x03FFFFFF)}));
    EXPECT_EQ(registry.GetValue(kExplorer, L"NoClose")->type, kRegSz);
    for (const auto& call : registry.Calls())
    {
        if (call.valueName == L"NoDrives" || call.valueName == L"NoClose")
        {
            EXPECT_EQ(call.op, Op::QueryValue) << "a value that is on is only looked at";
        }
    }
    EXPECT_EQ(registry.OpenHandleCount(), 0u);

    EXPECT_FALSE(form.Command1.Enabled());
    EXPECT_EQ(host.notified, 1);
    ASSERT_EQ(restart.asked, 1);
    EXPECT_EQ(restart.lastPrompt, std::wstring(L"(Note: Some changes don't require reboot)\r\n\r\n\0", 46));
    EXPECT_EQ(restart.lastFlags, 2);
    EXPECT_TRUE(host.errors.empty());
}

TEST_F(Window, Apply_DeclineKeepsTheWindowWithTheRegistryWritten_AgreeEndsIt)
{
    Load();
    form.TreeView1.NodeClick(Entry(L"NoFind"));
    form.Command1.Click();
    EXPECT_EQ(host.ended, 0);
    EXPECT_FALSE(form.Command1.Click()) << "Apply is disabled after applying";
    EXPECT_TRUE(registry.GetValue(kExplorer, L"NoFind"));
    EXPECT_EQ(Entry(L"NoFind").Image(), ImageTicked);

    restart.answer = RestartQuestion::Answer::Agree;
    form.TreeView1.NodeClick(Entry(L"NoFind"));
    form.Command1.Click();
    EXPECT_EQ(host.ended, 1);
    EXPECT_FALSE(registry.GetValue(kExplorer, L"NoFind"));
}

TEST_F(Window, Exit_EndsWithoutWritingAnything)
{
    registry.PutDword(kExplorer, L"NoRun", 0);
    form.Form_Load();
    const auto before = registry.Snapshot();
    registry.ClearCalls();
    form.TreeView1.NodeClick(Entry(L"NoRun"));
    form.TreeView1.NodeClick(Entry(L"NoSetTaskbar"));
    ASSERT_TRUE(form.Command2.Click());
    EXPECT_EQ(host.ended, 1);
    EXPECT_TRUE(registry.Calls().empty());
    EXPECT_EQ(registry.Snapshot(), before);
    EXPECT_EQ(restart.asked, 0);
}

TEST_F(Window, Apply_WhenWritesFail_NamesExactlyThoseEntriesKeepsApplyAndAsksNothing)
{
    PutCategoryKeys();
    registry.PutDword(Module1::PolicyKeyPath(L"System"), L"NoDispCPL", 1);
    Load();
    registry.AddFault({.op = Op::SetDwordValue, .valueName = L"NoRun", .status = kAccessDenied});
    registry.AddFault({.op = Op::DeleteValue, .valueName = L"NoDispCPL", .status = 1018});
    form.TreeView1.NodeClick(Entry(L"NoRun"));
    form.TreeView1.NodeClick(Entry(L"NoDispCPL"));
    form.TreeView1.NodeClick(Entry(L"NoRealMode"));
    form.Command1.Click();

    EXPECT_EQ(WritesMade().size(), 36u) << "one failure must not stop the walk";
    EXPECT_TRUE(registry.GetValue(Module1::PolicyKeyPath(L"Dos"), L"NoRealMode"));
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0],
              L"These restrictions were not saved:\r\n\r\n"
              L"Hide Run Menu (Explorer\\NoRun): Access is denied.\r\n"
              L"Disable Display System Control Panel (System\\NoDispCPL): Error 1018.\r\n"
              L"\r\nChanging these restrictions needs an administrator: run Windows Kestrin as an "
              L"administrator and apply again.\r\n");
    EXPECT_TRUE(form.Command1.Enabled());
    EXPECT_EQ(restart.asked, 0);
    EXPECT_EQ(host.notified, 1) << "NoRealMode was stored: running programs must hear of it";
    EXPECT_EQ(host.ended, 0);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);

    registry.ClearFaults();
    form.Command1.Click();
    EXPECT_EQ(host.errors.size(), 1u) << "a retry that succeeds reports nothing";
    EXPECT_EQ(restart.asked, 1);
}

TEST_F(Window, ApplyFailureMessage_SpeaksOfOneRestrictionAndBlamesRightsOnlyWhenAccessWasDenied)
{
    EXPECT_EQ(ApplyFailureMessage({{L"Hide Run Menu", L"Explorer", L"NoRun", 1018}}, host),
              L"This restriction was not saved:\r\n\r\nHide Run Menu (Explorer\\NoRun): Error 1018.\r\n");
    EXPECT_EQ(
        ApplyFailureMessage({{L"Hide Run Menu", L"Explorer", L"NoRun", kAccessDenied}}, host),
        L"This restriction was not saved:\r\n\r\nHide Run Menu (Explorer\\NoRun): Access is denied.\r\n"
        L"\r\nChanging this restriction needs an administrator: run Windows Kestrin as an administrator and "
        L"apply again.\r\n");
}

TEST(Messages, WrongAccount_NamesBothAccountsOrSaysWhichIsNotKnown)
{
    EXPECT_EQ(WrongAccountMessage(L"CONTOSO\\admin", L"AzureAD\\user"),
              L"Windows Kestrin is running as CONTOSO\\admin, but the user signed in to this session is "
              L"AzureAD\\user, and their restrictions could not be found or opened.\r\n\r\nSo that no other "
              L"account's "
              L"restrictions are changed, Windows Kestrin closes without reading or changing any.");
    const std::wstring unknown = WrongAccountMessage(L"CONTOSO\\admin", L"");
    EXPECT_NE(unknown.find(L"signed in to this session is not known,"), std::wstring::npos) << unknown;
}

// The tree's font is the dialog font at 8 pt, Tahoma; Wine's Tahoma is a drawing of its own,
// so the fit on Windows is worked out here from the published advance widths of Windows' Tahoma (in
// thousandths of an em), each rounded to whole pixels at the font's size, as GDI places glyphs. With all
// four categories expanded, every item (its text between the control's 2 px margins) must end beside the
// vertical scroll bar (17 px at 96 DPI on Windows 10 and 11) inside the tree's 2 px edges. A category's
// text starts after its picture, a restriction's one indent further in: the root has no lines.
TEST(Layout, EveryLabelFitsBesideTheScrollBarInTahomaAtEveryDpi)
{
    const std::map<wchar_t, int> tahoma{
        {L' ', 313}, {L'-', 363}, {L'\'', 211}, {L'A', 600}, {L'B', 589}, {L'C', 601}, {L'D', 678},
        {L'E', 561}, {L'F', 521}, {L'G', 667},  {L'H', 675}, {L'I', 373}, {L'J', 417}, {L'K', 588},
        {L'L', 498}, {L'M', 771}, {L'N', 667},  {L'O', 708}, {L'P', 551}, {L'Q', 708}, {L'R', 621},
        {L'S', 557}, {L'T', 584}, {L'U', 656},  {L'V', 597}, {L'W', 902}, {L'X', 581}, {L'Y', 576},
        {L'Z', 559}, {L'a', 525}, {L'b', 553},  {L'c', 461}, {L'd', 553}, {L'e', 526}, {L'f', 318},
        {L'g', 553}, {L'h', 558}, {L'i', 229},  {L'j', 282}, {L'k', 498}, {L'l', 229}, {L'm', 840},
        {L'n', 558}, {L'o', 543}, {L'p', 553},  {L'q', 553}, {L'r', 360}, {L's', 446}, {L't', 334},
        {L'u', 558}, {L'v', 498}, {L'w', 742},  {L'x', 495}, {L'y', 498}, {L'z', 444}};
    ASSERT_EQ(std::wstring(layout::kTreeFontFace), L"Tahoma") << "the widths below are Tahoma's";
    PolicyTable table;
    table.InitPolicyTable();
    std::vector<std::pair<std::wstring, bool>> labels{
        {L"Explorer", false}, {L"Network", false}, {L"System", false}, {L"Dos", false}};
    for (std::int32_t i = 1; i <= table.PolicyEntries.UBound(); ++i)
        labels.emplace_back(SplitPolicyEntry(table.PolicyEntries(i)).description, true);

    for (const int dpi : {96, 120, 144, 168, 192})
    {
        const int pixelsPerEm = -layout::FontHeight(layout::kTreeFontHundredthsOfPoint, dpi);
        const int scaled2 = (2 * dpi + 95) / 96;
        const int client =
            layout::TwipsToPixels(layout::kTree.width, dpi) - 2 * scaled2 - (17 * dpi + 48) / 96;
        const int picture = layout::PictureSize(dpi);
        const int indent = layout::TwipsToPixels(layout::kTreeIndent, dpi);
        for (const auto& [text, entry] : labels)
        {
            int width = 0;
            for (const wchar_t c : text)
                width += (tahoma.at(c) * pixelsPerEm + 500) / 1000;
            const int end = (entry ? indent : 0) + picture + 2 + width + 2;
            EXPECT_LE(end, client) << dpi << " DPI: " << text;
        }
    }
}

TEST(TreeModel, Add_RefusesADuplicateKeyAndKeepsInsertionOrder)
{
    TreeView tree;
    Node& root = tree.Add(nullptr, std::nullopt, std::nullopt, L"Root", ImageFolderClosed);
    Node& first = tree.Add(&root, tvwChild, L"A", L"a", ImageTicked);
    Node& second = tree.Add(nullptr, std::nullopt, std::nullopt, L"Other");
    Node& third = tree.Add(&root, tvwChild, L"B", L"b");
    EXPECT_THROW(tree.Add(&root, tvwChild, L"A", L"again"), std::invalid_argument);
    EXPECT_THROW(tree.Add(&root, std::nullopt, L"C", L"c"), std::invalid_argument);
    ASSERT_EQ(tree.Nodes().size(), 4u);
    EXPECT_EQ(tree.Nodes()[1].get(), &first);
    EXPECT_EQ(tree.Nodes()[2].get(), &second);
    EXPECT_EQ(root.Children(), (std::vector<Node*>{&first, &third}));
    EXPECT_EQ(third.Image(), 0) << "an omitted image stays unset";
    EXPECT_FALSE(first.SelectedImage());
}

} // namespace
} // namespace kestrin
