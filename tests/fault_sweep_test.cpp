// The whole window flow (load, a few clicks, Apply) with one registry call after another made to fail:
// a failure has to stay with the entry it hit, be reported when it lost a change, and leave the rest of
// the registry as it was.
#include "app/kestrin.h"
#include "store/memory_registry.h"
#include "tests/window_fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin
{
namespace
{

using Op = MemoryRegistry::Op;
using Value = MemoryRegistry::Value;
using Snapshot = std::map<std::wstring, std::map<std::wstring, Value>>;
using testing::RecordingHost;
using testing::ScriptedRestart;

const Value kOn{kRegDword, {1, 0, 0, 0}};
const std::vector<std::wstring> kCategories{L"Explorer", L"Network", L"System", L"Dos"};

// Where the shell reads these restrictions, spelled out rather than taken from the store.
std::wstring KeyOf(const std::wstring& category)
{
    return L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\" + category;
}

const std::wstring kExplorer = KeyOf(L"Explorer");
const std::wstring kSystem = KeyOf(L"System");
const std::wstring kDos = KeyOf(L"Dos");

// Network's key is missing; NoRunHistory and the two other keys are not ours to touch.
void Preset(MemoryRegistry& registry)
{
    registry.PutDword(kExplorer, L"NoRun", 1);
    registry.PutString(kExplorer, L"NoFind", L"1");
    registry.PutDword(kExplorer, L"NoClose", 0);
    registry.PutDword(kExplorer, L"NoDrives", 0x03FFFFFF);
    registry.PutDword(kExplorer, L"NoRunHistory", 1);
    registry.PutString(kExplorer + L"\\DisallowRun", L"1", L"cmd.exe");
    registry.PutDword(kSystem, L"NoDispCPL", 1);
    registry.PutDword(kSystem, L"NoDevMgrPage", 0);
    registry.PutDword(kDos, L"Disabled", 1);
    registry.PutString(L"Software\\Unrelated\\Settings", L"NoRun", L"keep");
}

// Off, on, on, on in the missing key (after four entries that find no key), off in Dos.
const std::vector<std::wstring> kClicks{L"NoRun", L"NoClose", L"NoSetTaskbar", L"NoFileSharing", L"Disabled"};

struct Entry
{
    std::wstring category;
    std::wstring name;
    std::wstring description;
};

const std::vector<Entry>& Entries()
{
    static const std::vector<Entry> entries = []
    {
        PolicyTable table;
        table.InitPolicyTable();
        std::vector<Entry> list;
        const std::vector<std::int32_t> starts{table.ExplorerStart, table.NetworkStart, table.SystemStart,
                                               table.DosStart};
        std::size_t category = 0;
        for (std::int32_t i = 1; i <= table.PolicyEntries.UBound(); ++i)
        {
            while (category + 1 < starts.size() && i >= starts[category + 1])
                ++category;
            auto parts = SplitPolicyEntry(table.PolicyEntries(i));
            list.push_back({kCategories[category], parts.valueName, parts.description});
        }
        return list;
    }();
    return entries;
}

std::wstring Fold(std::wstring_view text)
{
    std::wstring folded(text);
    for (auto& c : folded)
        c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    return folded;
}

std::string Narrow(std::wstring_view text)
{
    std::string narrow;
    for (const wchar_t c : text)
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return narrow;
}

// The registry less what Apply may change: the 36 values, and the category keys (with the keys above
// them) that it had to create and that hold nothing else.
Snapshot Outside(Snapshot snapshot, const Snapshot& before)
{
    for (auto key = snapshot.begin(); key != snapshot.end();)
    {
        const std::wstring path = Fold(key->first);
        bool holdsCategory = false;
        for (const auto& category : kCategories)
        {
            const std::wstring categoryPath = Fold(KeyOf(category));
            holdsCategory = holdsCategory || path == categoryPath || categoryPath.starts_with(path + L'\\');
            if (path != categoryPath) continue;
            for (const auto& entry : Entries())
                if (entry.category == category)
                    std::erase_if(key->second,
                                  [&](const auto& value) { return Fold(value.first) == Fold(entry.name); });
        }
        if (holdsCategory && key->second.empty() && !before.contains(key->first))
            key = snapshot.erase(key);
        else
            ++key;
    }
    return snapshot;
}

// One run of the flow on a fresh registry and window.
struct Flow
{
    void Run(const std::vector<MemoryRegistry::Fault>& faults)
    {
        Preset(registry);
        before = registry.Snapshot();
        for (const auto& fault : faults)
            registry.AddFault(fault);
        form.Form_Load();
        loadCalls = registry.Calls().size();
        handlesAfterLoad = registry.OpenHandleCount();
        for (const auto& entry : Entries())
            loaded.push_back(Image(entry));
        for (const auto& name : kClicks)
            form.TreeView1.NodeClick(*form.TreeView1.FindByKey(name));
        applied = form.Command1.Click();
        finished = true;
    }

    int Image(const Entry& entry) const
    {
        const Node* node = form.TreeView1.FindByKey(entry.name);
        return node ? node->Image() : 0;
    }

    MemoryRegistry registry;
    ScriptedRestart restart;
    RecordingHost host;
    kestrin form{registry, restart, host};
    Snapshot before;
    std::size_t loadCalls = 0;
    std::size_t handlesAfterLoad = 0;
    std::vector<int> loaded;
    bool applied = false;
    bool finished = false;
};

// What a fault should have done: entries whose read it spoiled, entries whose write it lost.
struct Expected
{
    std::set<std::size_t> readFailed;
    std::set<std::size_t> notSaved;
};

// The entries an error message lists, in its order; a line that names no entry fails the test.
std::vector<std::size_t> Listed(const std::wstring& message, const std::wstring& statusText)
{
    std::vector<std::size_t> listed;
    std::size_t start = 0;
    while (start < message.size())
    {
        const auto end = std::min(message.find(L"\r\n", start), message.size());
        const std::wstring line = message.substr(start, end - start);
        start = end + 2;
        if (line.find(L"): ") == std::wstring::npos) continue;
        bool known = false;
        for (std::size_t i = 0; i < Entries().size(); ++i)
        {
            const auto& entry = Entries()[i];
            if (line != entry.description + L" (" + entry.category + L"\\" + entry.name + L"): " + statusText)
                continue;
            listed.push_back(i);
            known = true;
        }
        if (!known) ADD_FAILURE() << "unexpected line: " << Narrow(line);
    }
    return listed;
}

void Check(const Flow& reference, const Flow& run, const Expected& expected)
{
    const auto& entries = Entries();
    ASSERT_TRUE(run.finished);
    MemoryRegistry original;
    Preset(original);
    EXPECT_EQ(run.handlesAfterLoad, 0u);
    EXPECT_EQ(run.registry.OpenHandleCount(), 0u);
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(run.loaded[i], expected.readFailed.contains(i) ? ImageUnticked : reference.loaded[i])
            << "after load: " << Narrow(entries[i].name);

    EXPECT_TRUE(run.applied);
    if (expected.notSaved.empty())
    {
        EXPECT_TRUE(run.host.errors.empty());
        EXPECT_FALSE(run.form.Command1.Enabled());
        EXPECT_EQ(run.restart.asked, 1);
    }
    else
    {
        ASSERT_EQ(run.host.errors.size(), 1u);
        EXPECT_EQ(Listed(run.host.errors[0], L"Access is denied."),
                  std::vector<std::size_t>(expected.notSaved.begin(), expected.notSaved.end()));
        EXPECT_TRUE(run.form.Command1.Enabled());
        EXPECT_EQ(run.restart.asked, 0);
    }
    EXPECT_EQ(run.host.ended, 0);

    // Running programs are told whenever a value changed, whether or not another write failed.
    bool changed = false;
    for (const auto& entry : entries)
        changed = changed || run.registry.GetValue(KeyOf(entry.category), entry.name) !=
                                 original.GetValue(KeyOf(entry.category), entry.name);
    EXPECT_EQ(run.host.notified, changed ? 1 : 0);

    EXPECT_EQ(Outside(run.registry.Snapshot(), run.before), Outside(run.before, run.before));
    for (std::size_t i = 0; i < entries.size(); ++i)
    {
        const auto path = KeyOf(entries[i].category);
        const auto value = run.registry.GetValue(path, entries[i].name);
        // A ticked value that is on already is kept exactly; one that is off becomes REG_DWORD 1.
        const auto old = original.GetValue(path, entries[i].name);
        const bool wasOn = old && *old != Value{kRegDword, {0, 0, 0, 0}};
        const auto wanted =
            run.Image(entries[i]) == ImageTicked ? std::optional(wasOn ? *old : kOn) : std::nullopt;
        if (expected.notSaved.contains(i))
        {
            // A lost write leaves the old value or, when only the close failed, the new one.
            EXPECT_TRUE(value == wanted || value == original.GetValue(path, entries[i].name))
                << "not saved: " << Narrow(entries[i].name);
        }
        else
        {
            EXPECT_EQ(value, wanted) << "after Apply: " << Narrow(entries[i].name);
        }
    }
}

std::size_t EntryNamed(std::wstring_view name)
{
    for (std::size_t i = 0; i < Entries().size(); ++i)
        if (Entries()[i].name == name) return i;
    ADD_FAILURE() << "a call names no entry: " << Narrow(name);
    return 0;
}

// The entry each call of one phase (load or Apply) works on. A call naming a value works on that
// value; an open or create on the value the next call on its key names; a close on the entry of the
// call before it; an open that found no key, with nothing after it, on the entry after the last one.
std::vector<std::size_t> Owners(const std::vector<MemoryRegistry::Call>& calls, std::size_t begin,
                                std::size_t end)
{
    std::vector<std::size_t> owners;
    for (std::size_t i = begin; i < end; ++i)
    {
        const auto& call = calls[i];
        std::wstring_view named = call.valueName;
        if (named.empty() && call.op != Op::CloseKey && i + 1 < end && calls[i + 1].path == call.path)
            named = calls[i + 1].valueName;
        if (!named.empty())
            owners.push_back(EntryNamed(named));
        else if (call.op == Op::CloseKey && !owners.empty())
            owners.push_back(owners.back());
        else
            owners.push_back(owners.empty() ? 0 : owners.back() + 1);
        EXPECT_EQ(call.path, KeyOf(Entries().at(owners.back()).category))
            << "call " << i + 1 << " is not on its entry's key";
    }
    // Each phase goes through all the entries once, in tree order.
    for (std::size_t i = 1; i < owners.size(); ++i)
        EXPECT_LE(owners[i] - owners[i - 1], 1u) << "call " << begin + i + 1;
    EXPECT_TRUE(!owners.empty() && owners.front() == 0 && owners.back() + 1 == Entries().size());
    return owners;
}

std::string Describe(std::size_t number, const MemoryRegistry::Call& call)
{
    return "call " + std::to_string(number) + ": " + Narrow(ToString(call.op)) + " " + Narrow(call.path) +
           " " + Narrow(call.valueName);
}

class FaultSweep : public ::testing::Test
{
protected:
    void SetUp() override { reference.Run({}); }
    Flow reference;
};

TEST_F(FaultSweep, EachCallFailingAlone_LosesOnlyWhatThatCallWasFor)
{
    // The reference itself: the preset as read, and an Apply that goes through.
    const std::set<std::wstring> presetOn{L"NoRun", L"NoFind", L"NoDrives", L"NoDispCPL", L"Disabled"};
    for (std::size_t i = 0; i < Entries().size(); ++i)
        EXPECT_EQ(reference.loaded[i], presetOn.contains(Entries()[i].name) ? ImageTicked : ImageUnticked);
    Check(reference, reference, {});

    const auto& calls = reference.registry.Calls();
    std::vector<std::size_t> owners = Owners(calls, 0, reference.loadCalls);
    const auto applyOwners = Owners(calls, reference.loadCalls, calls.size());
    owners.insert(owners.end(), applyOwners.begin(), applyOwners.end());

    // A sweep over a flow that never deletes, or never misses a key, would prove little.
    std::set<Op> applyOps;
    bool missingKey = false;
    for (std::size_t i = reference.loadCalls; i < calls.size(); ++i)
    {
        applyOps.insert(calls[i].op);
        missingKey = missingKey || (calls[i].op == Op::OpenKey && calls[i].status == kFileNotFound);
    }
    EXPECT_EQ(applyOps.size(), 6u);
    EXPECT_TRUE(missingKey);

    for (std::size_t i = 0; i < calls.size(); ++i)
    {
        SCOPED_TRACE(Describe(i + 1, calls[i]));
        Expected expected;
        // A close after a read or a presence check comes too late to change the answer.
        const bool afterAnswer = calls[i].op == Op::CloseKey && i > 0 && calls[i - 1].op == Op::QueryValue;
        if (i < reference.loadCalls && calls[i].op != Op::CloseKey) expected.readFailed.insert(owners[i]);
        if (i >= reference.loadCalls && !afterAnswer) expected.notSaved.insert(owners[i]);

        Flow run;
        EXPECT_NO_THROW(run.Run({{.callNumber = i + 1, .status = kAccessDenied}}));
        ASSERT_GT(run.registry.Calls().size(), i);
        const auto& failed = run.registry.Calls()[i];
        EXPECT_EQ(Describe(i + 1, failed), Describe(i + 1, calls[i]));
        EXPECT_EQ(failed.status, kAccessDenied);
        Check(reference, run, expected);
    }
}

TEST_F(FaultSweep, ACategoryKeyRefusingEveryCall_LosesExactlyItsEntries)
{
    for (const auto& category : kCategories)
    {
        SCOPED_TRACE(Narrow(category));
        Expected expected;
        for (std::size_t i = 0; i < Entries().size(); ++i)
        {
            if (Entries()[i].category != category) continue;
            expected.readFailed.insert(i);
            expected.notSaved.insert(i);
        }

        Flow run;
        EXPECT_NO_THROW(run.Run({{.path = KeyOf(category), .status = kAccessDenied}}));
        Check(reference, run, expected);
        const auto path = KeyOf(category);
        EXPECT_EQ(run.registry.Snapshot()[path], run.before[path]) << "the refused key changed";
    }
}

} // namespace
} // namespace kestrin
