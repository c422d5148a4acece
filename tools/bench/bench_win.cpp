// Measures Kestrin where it runs: start-up to a filled window next to three yardsticks (an empty window,
// the same window with a text-only tree, and that tree window padded to kestrin.exe's size), load and
// "Apply" of all 36 values against the real registry, the program's peak memory and the images' sizes.
//   kestrin_bench <kestrin.exe> <empty_window.exe> <tree_window.exe> <padded_tree_window.exe> [starts]
// Writes the per-user policy keys: it refuses to run outside Wine unless KESTRIN_BENCH_WRITE_POLICIES=1.
#include "app/kestrin.h"
#include "store/module1.h"
#include "store/registry_win.h"

#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The median over the rounds of one program's start set against another's from the same round: the two
// started within a second of each other, so a change in the machine's load between rounds (other work on
// a shared machine) cancels out.
template <typename Compare>
double MedianOverRounds(const std::vector<double>& starts, const std::vector<double>& others, Compare compare)
{
    std::vector<double> values;
    for (std::size_t i = 0; i < starts.size() && i < others.size(); ++i)
        values.push_back(compare(starts[i], others[i]));
    return Median(values);
}

double Ratio(double start, double other)
{
    return start / other;
}

double Difference(double start, double other)
{
    return start - other;
}

struct StartResult
{
    double milliseconds = -1;
    SIZE_T peakWorkingSet = 0;
};

// Starts the program and waits until its window is visible and, for Kestrin, its tree holds all 40
// nodes; then closes it the way the user would.
StartResult TimeStart(const std::wstring& program, const wchar_t* caption, bool expectTree)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program + L"\"";
    auto started = Clock::now();
    // Under heavy load Wine now and then refuses to make a process (ERROR_INTERNAL_ERROR): try again.
    for (int attempt = 1; !CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                          nullptr, nullptr, &startup, &process);
         ++attempt)
    {
        std::fprintf(stderr, "could not start %ls: error %lu\n", program.c_str(), GetLastError());
        if (attempt == 3) return {};
        Sleep(100);
        started = Clock::now();
    }

    StartResult result;
    HWND window = nullptr;
    while (Clock::now() - started < std::chrono::seconds(30))
    {
        window = FindWindowW(nullptr, caption);
        if (window && IsWindowVisible(window))
        {
            if (!expectTree) break;
            const HWND tree = FindWindowExW(window, nullptr, WC_TREEVIEWW, nullptr);
            if (tree && SendMessageW(tree, TVM_GETCOUNT, 0, 0) == 40) break;
        }
        window = nullptr;
        Sleep(1);
    }
    if (window)
    {
        result.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters))
            result.peakWorkingSet = counters.PeakWorkingSetSize;
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

struct Decline final : kestrin::RestartQuestion
{
    Answer Ask(const std::wstring&, int) override { return Answer::Decline; }
};

struct QuietHost final : kestrin::WindowHost
{
    void ShowError(const std::wstring&) override { ++errors; }
    std::wstring StatusText(kestrin::Status) override { return {}; }
    void NotifyPolicyChanged() override {}
    void EndProgram() override {}
    int errors = 0;
};

// Size of the file on disk, or -1.
long long FileSize(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool OnWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5)
    {
        std::fprintf(stderr, "usage: kestrin_bench <kestrin.exe> <empty_window.exe> <tree_window.exe> "
                             "<padded_tree_window.exe> [starts]\n");
        return 2;
    }
    const char* optIn = std::getenv("KESTRIN_BENCH_WRITE_POLICIES");
    if (!OnWine() && !(optIn && std::string(optIn) == "1"))
    {
        std::fprintf(stderr,
                     "refusing to change this machine's policies; set KESTRIN_BENCH_WRITE_POLICIES=1\n");
        return 2;
    }
    const int starts = argc > 5 ? std::max(1, _wtoi(argv[5])) : 15;

    // (a) Start-up, the four programs in turn so none gets a warmer system. A start is slowed by the
    // system still tidying up after the program before (its windows, its process), so the rounds take
    // the orders of a balanced Latin square: in every four rounds each program starts once at each place
    // and, within a round, follows each of the others once.
    struct Program
    {
        const wchar_t* path;
        const wchar_t* caption;
        bool hasTree;
        std::vector<double> starts;
    };
    Program programs[] = {{argv[1], L"Windows Kestrin", true, {}},
                          {argv[2], L"Kestrin Bench Empty", false, {}},
                          {argv[3], L"Kestrin Bench Tree", true, {}},
                          {argv[4], L"Kestrin Bench Padded Tree", true, {}}};
    constexpr int kOrders[4][4] = {{0, 1, 3, 2}, {1, 2, 0, 3}, {2, 3, 1, 0}, {3, 0, 2, 1}};
    for (const Program& program : programs) // warm-up: the first start loads everything from disk
        TimeStart(program.path, program.caption, program.hasTree);
    SIZE_T peak = 0;
    for (int i = 0; i < starts; ++i)
    {
        for (const int index : kOrders[i % 4])
        {
            Program& program = programs[index];
            const StartResult start = TimeStart(program.path, program.caption, program.hasTree);
            if (start.milliseconds < 0)
            {
                std::fprintf(stderr, "%ls did not start, or its window did not show within 30 s\n",
                             program.path);
                return 1;
            }
            program.starts.push_back(start.milliseconds);
            if (&program == &programs[0]) peak = std::max(peak, start.peakWorkingSet);
        }
    }
    const std::vector<double>& kestrinStarts = programs[0].starts;
    const std::vector<double>& emptyStarts = programs[1].starts;
    const std::vector<double>& treeStarts = programs[2].starts;
    const std::vector<double>& paddedStarts = programs[3].starts;

    // (b) Load and "Apply" in-process on the real registry: half the entries switched each time.
    kestrin::Win32Registry registry;
    Decline decline;
    QuietHost host;
    std::vector<double> loads;
    std::vector<double> applies;
    constexpr int kRepetitions = 200;
    for (int i = 0; i < kRepetitions; ++i)
    {
        kestrin::kestrin form(registry, decline, host);
        auto begin = Clock::now();
        form.Form_Load();
        loads.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        for (std::size_t n = 1; n < form.TreeView1.Nodes().size(); n += 2)
            form.TreeView1.NodeClick(*form.TreeView1.Nodes()[n]);
        begin = Clock::now();
        form.Command1_Click();
        applies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    }
    // Leave the keys as a fresh prefix has them.
    for (const auto* category : {L"Explorer", L"Network", L"System", L"Dos"})
        RegDeleteKeyW(HKEY_CURRENT_USER, kestrin::Module1::PolicyKeyPath(category).c_str());

    const double kestrinMedian = Median(kestrinStarts);
    const double emptyMedian = Median(emptyStarts);
    const double treeMedian = Median(treeStarts);
    const double paddedMedian = Median(paddedStarts);
    std::printf("| measure | value |\n|---|---|\n");
    std::printf("| start to filled window, kestrin.exe (median of %d) | %.1f ms |\n", starts, kestrinMedian);
    std::printf("| start to window, empty window program (median of %d) | %.1f ms |\n", starts, emptyMedian);
    std::printf(
        "| start to filled window, tree window: the same window with a text-only tree (median of %d) | "
        "%.1f ms |\n",
        starts, treeMedian);
    std::printf("| start to filled window, padded tree window: the tree window at kestrin.exe's size "
                "(median of %d) | %.1f ms |\n",
                starts, paddedMedian);
    std::printf("| ratio to the empty window (median of the rounds' ratios) | %.2f |\n",
                MedianOverRounds(kestrinStarts, emptyStarts, Ratio));
    std::printf("| ratio to the tree window (median of the rounds' ratios) | %.2f |\n",
                MedianOverRounds(kestrinStarts, treeStarts, Ratio));
    std::printf("| ratio to the padded tree window (median of the rounds' ratios) | %.2f |\n",
                MedianOverRounds(kestrinStarts, paddedStarts, Ratio));
    std::printf("| gap to the tree window from image size: padded minus tree window (median of the rounds) "
                "| %+.1f ms |\n",
                MedianOverRounds(paddedStarts, treeStarts, Difference));
    std::printf("| gap to the tree window from the program's own work: kestrin.exe minus padded (median of "
                "the rounds) | %+.1f ms |\n",
                MedianOverRounds(kestrinStarts, paddedStarts, Difference));
    std::printf("| load: 36 reads (median of %d) | %.3f ms |\n", kRepetitions, Median(loads));
    std::printf("| Apply: 36 writes (median of %d) | %.3f ms |\n", kRepetitions, Median(applies));
    std::printf("| peak working set of kestrin.exe | %.1f MiB |\n",
                static_cast<double>(peak) / (1024.0 * 1024.0));
    const wchar_t* const sizeNames[] = {L"kestrin.exe", L"the empty window program", L"the tree window",
                                        L"the padded tree window"};
    for (int i = 0; i < 4; ++i)
        std::printf("| size of %ls | %lld bytes |\n", sizeNames[i], FileSize(programs[i].path));
    if (host.errors) std::printf("| Apply errors during the run | %d |\n", host.errors);
    return host.errors ? 1 : 0;
}
