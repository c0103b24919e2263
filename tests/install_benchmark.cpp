// Prints what an install through the window costs next to the bare archive
// write and extraction, and the program's memory during the install.
// usage: install_benchmark (VELMORA_EXE and VELMORA_SCRATCH in the environment)
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>
#include <algorithm>

#include "GuiDriver.h"
#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "runtime/LongPath.h"
#include "themes/ArchiveExtract.h"
#include "install/BackupStore.h"
#include "install/InstalledState.h"
#include "install/FileFlusher.h"
#include "themes/InstallPack.h"
#include "install/InstallSteps.h"
#include "install/Volume.h"

// minizip's command-line extractor, built into this program under another name.
extern "C" int miniunz_main(int argc, char* argv[]);

namespace {

// The process's private commit. PagefileUsage is the same figure as
// PrivateUsage on Windows, and the one of the two that Wine fills in.
SIZE_T PrivateBytes(HANDLE process) {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(process, &pmc, sizeof pmc);
    return pmc.PagefileUsage;
}

double Ms(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(b.QuadPart - a.QuadPart) * 1000.0 / double(f.QuadPart);
}

// ExtractArchive (staged, swapped, journalled) against minizip's own miniunz
// writing straight into place, each into a fresh folder, in this one process
// so that no process start is counted. The runs alternate, and the median of
// each side is compared: a stray flush of the disk hits one run, not a side.
void CompareWithMiniunz(const std::wstring& scratch, const std::wstring& exe) {
    constexpr int kRuns = 9;
    const std::wstring folder = scratch + L"\\vs";
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    for (const auto& [order, name] : {std::pair<int, const wchar_t*>{1, L"entry 1 (largest)"}, {3, L"entry 3 (restore)"}}) {
        gui::RemoveTree(folder);
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::string pack = gui::PackResource(exe, order);
        const std::wstring archive = folder + L"\\pack.zip";
        WriteFileBytes(WideToGbk(archive), {ByteSpan(pack.data(), pack.size())});
        std::vector<double> ours, unflushed, theirs;
        int whole = 0;
        for (int r = 0; r < kRuns; ++r) {
            LARGE_INTEGER t0, t1;
            ZipComponent zip;
            QueryPerformanceCounter(&t0);
            whole += ExtractArchive(&zip, WideToGbk(archive), WideToGbk(folder + L"\\ours" + std::to_wstring(r))) == 1;
            QueryPerformanceCounter(&t1);
            ours.push_back(Ms(t0, t1));

            // The same without a single flush: what putting the bytes on disk first costs.
            SetDurableWrites(false);
            QueryPerformanceCounter(&t0);
            ExtractArchive(&zip, WideToGbk(archive), WideToGbk(folder + L"\\unflushed" + std::to_wstring(r)));
            QueryPerformanceCounter(&t1);
            SetDurableWrites(true);
            unflushed.push_back(Ms(t0, t1));

            // miniunz prints every name it writes: not into our figures.
            const std::string target = WideToGbk(folder + L"\\theirs" + std::to_wstring(r));
            const std::string source = WideToGbk(archive);
            CreateDirectoryA(target.c_str(), nullptr);
            char* argv[] = {const_cast<char*>("miniunz"), const_cast<char*>("-x"), const_cast<char*>("-o"),
                            const_cast<char*>(source.c_str()), const_cast<char*>("-d"),
                            const_cast<char*>(target.c_str()), nullptr};
            std::fflush(stdout);
            const int console = _dup(1), nul = _open("NUL", _O_WRONLY);
            _dup2(nul, 1);
            QueryPerformanceCounter(&t0);
            miniunz_main(6, argv);
            QueryPerformanceCounter(&t1);
            std::fflush(stdout);
            _dup2(console, 1);
            _close(nul);
            _close(console);
            SetCurrentDirectoryW(scratch.c_str());  // miniunz moved into its target
            theirs.push_back(Ms(t0, t1));
        }
        const double a = median(ours), b = median(theirs), c = median(unflushed);
        std::wprintf(L"%ls: ExtractArchive %.0f ms, miniunz %.0f ms per extraction (median of %d alternating runs, "
                     L"%d whole); ratio %.2f (target at most 1.0)\n",
                     name, a, b, kRuns, whole, a / b);
        std::wprintf(L"%ls: flushes cost %.0f ms per extraction (%.0f ms with them, %.0f ms without; %ls)\n", name,
                     a - c, a, c,
                     FileFlusher::SendsWithoutCacheFlush() ? L"each file sent without a cache flush, then one flush"
                                                           : L"each file flushed on a worker while the next is written");
        std::fflush(stdout);
    }
    gui::RemoveTree(folder);
}

// The median of five runs of `f`, in milliseconds.
template <typename F>
double MedianMs(F f) {
    std::vector<double> runs;
    for (int r = 0; r < 5; ++r) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        f();
        QueryPerformanceCounter(&t1);
        runs.push_back(Ms(t0, t1));
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

// What the tray menu costs as it opens: the record read, each folder listed,
// and the files read and hashed whose time is no longer the one written
// (the files in the system's cache, as right after an install). Once as the
// install left them; then, in each run, with every file's time moved on
// anew, so that all are to hash: read with nothing known before (as the
// reading ahead on the worker does it, or the menu opened with no pointer
// over the icon first), and read again right after (the menu opened once
// the worker read ahead: it lists every folder again, hashes nothing).
void MenuStateCost(const std::wstring& game, const wchar_t* name) {
    const std::wstring target = ExtendedPath(game + L"\\Game");
    InstalledState state;
    const double asInstalled = MedianMs([&] { state = ReadInstalledState(target); });
    BackupRecord record;
    ReadRecord(StoreFolder(target), &record);
    std::uint64_t bytes = 0;
    for (const RecordedFile& f : record.files) bytes += f.installed.size;
    int run = 0;
    const auto touchAll = [&] {
        ++run;
        for (const RecordedFile& f : record.files) {
            HANDLE h = CreateFileW((target + L"\\" + f.relative).c_str(), FILE_WRITE_ATTRIBUTES, 7, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
            const std::uint64_t t = f.written + std::uint64_t(run) * 10000000;
            FILETIME later = {DWORD(t), DWORD(t >> 32)};
            SetFileTime(h, nullptr, nullptr, &later);
            CloseHandle(h);
        }
    };
    std::vector<double> cold, warm;
    InstalledState touched, again;
    for (int r = 0; r < 5; ++r) {
        touchAll();
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        touched = ReadInstalledState(target);
        QueryPerformanceCounter(&t1);
        again = ReadInstalledState(target);
        QueryPerformanceCounter(&t2);
        cold.push_back(Ms(t0, t1));
        warm.push_back(Ms(t1, t2));
    }
    std::sort(cold.begin(), cold.end());
    std::sort(warm.begin(), warm.end());
    std::wprintf(L"%ls: tray menu opens after %.1f ms of listing and hashing as installed; with all %u files "
                 L"(%llu bytes) to hash %.1f ms read with nothing known before, %.1f ms after the reading ahead "
                 L"(%ls, %d, %d and %d changed; target 20 ms; median of 5)\n",
                 name, asInstalled, unsigned(record.files.size()), static_cast<unsigned long long>(bytes), cold[2],
                 warm[2], state.record == RecordRead::Read ? L"record read" : L"no record", state.changed,
                 touched.changed, again.changed);
    std::fflush(stdout);
}

// What keeping the originals and the record adds to an install: the pack
// installed into a fresh game folder without the store and with it, in
// turns, the second time over the files of the first. Over our own files
// (as the first install left them: nothing to keep, each checked by size
// and time), and over files of the player's (the first install kept no
// record: every file replaced is hashed once set aside and kept). Then the
// first again without a single flush: what is left is the store's own
// work, the rest its one flush of the record.
void StoreCost(const std::wstring& scratch, const std::wstring& exe) {
    const std::wstring folder = scratch + L"\\store";
    for (const auto& [order, name] : {std::pair<int, const wchar_t*>{1, L"entry 1 (largest)"}, {3, L"entry 3 (restore)"}}) {
        const std::string pack = gui::PackResource(exe, order);
        const ByteSpan bytes(pack.data(), pack.size());
        struct Case {
            const wchar_t* over;
            bool recorded, durable;
        } cases[] = {{L"over our own files", true, true},
                     {L"over the player's files", false, true},
                     {L"over our own files without any flush", true, false}};
        for (const Case& c : cases) {
            std::vector<double> without, with;
            SetDurableWrites(c.durable);
            for (int r = 0; r < 5; ++r)
                for (int keep = 0; keep < 2; ++keep) {
                    gui::RemoveTree(folder);
                    CreateDirectoryW(folder.c_str(), nullptr);
                    CreateDirectoryW((folder + L"\\Game").c_str(), nullptr);
                    const std::wstring game = ExtendedPath(folder + L"\\Game");
                    ZipComponent zip;
                    InstallPackArchive(&zip, bytes, game, keep && c.recorded ? order : 0, "x");
                    LARGE_INTEGER t0, t1;
                    QueryPerformanceCounter(&t0);
                    InstallPackArchive(&zip, bytes, game, keep ? order : 0, "x");
                    QueryPerformanceCounter(&t1);
                    (keep ? with : without).push_back(Ms(t0, t1));
                }
            SetDurableWrites(true);
            std::sort(with.begin(), with.end());
            std::sort(without.begin(), without.end());
            std::wprintf(L"%ls: the backup store adds %.0f ms to an install %ls (%.0f ms with it, %.0f without; "
                         L"%.0f %% of the install; target under 15 %%; median of 5 alternating runs)\n",
                         name, with[2] - without[2], c.over, with[2], without[2],
                         100.0 * (with[2] - without[2]) / with[2]);
            std::fflush(stdout);
        }
    }
    // What one look at a folder's volume costs: the store looks at the
    // folder of each file it may keep, and at its own.
    CreateDirectoryW(folder.c_str(), nullptr);
    unsigned long serial = 0;
    const double look = MedianMs([&] { VolumeOf(ExtendedPath(folder), &serial); });
    std::wprintf(L"one look at a folder's volume costs %.2f ms\n", look);
    std::fflush(stdout);
    gui::RemoveTree(folder);
}

}  // namespace

int main() {
    const std::wstring scratch = gui::EnvPath("VELMORA_SCRATCH") + L"\\benchmark";
    gui::RemoveTree(scratch);
    CreateDirectoryW(scratch.c_str(), nullptr);
    const std::wstring exe = scratch + L"\\Velmora.exe";
    CopyFileW(gui::EnvPath("VELMORA_EXE").c_str(), exe.c_str(), FALSE);
    const std::wstring game = scratch + L"\\Games\\英雄联盟";
    CreateDirectoryW((scratch + L"\\Games").c_str(), nullptr);
    CreateDirectoryW(game.c_str(), nullptr);
    CreateDirectoryW((game + L"\\Game").c_str(), nullptr);
    WriteFileBytes(WideToGbk(scratch + L"\\游戏地址.txt"), {TextToBytes(WideToGbk(game))});

    gui::Program p = gui::Start(exe);
    HWND notice = gui::WaitForBox(p.pid, L"温馨提醒：", 30000);
    if (!notice) return 1;
    gui::Press(GetDlgItem(notice, IDOK));
    HWND window = gui::WaitForWindow(p.pid, L"VelmoraV2.5.3.1025", L"VelmoraMainWindow");
    if (!window) return 1;
    gui::Settle(1000);

    struct { const wchar_t* box; const wchar_t* name; } cases[] = {{L"安装王者界面", L"entry 1 (largest)"},
                                                                 {L"还原原始界面", L"entry 3 (restore)"}};
    for (const auto& c : cases) {
        const SIZE_T idle = PrivateBytes(p.process);
        HWND box = gui::ChildWithText(window, c.box);
        HWND install = gui::ChildWithText(window, L"修改");
        POINT at = gui::Centre(box);
        gui::ClickControlAt(at.x, at.y);
        at = gui::Centre(install);
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        gui::ClickControlAt(at.x, at.y);
        SIZE_T peak = idle;
        HWND done = nullptr;
        while (!done) {
            peak = std::max(peak, PrivateBytes(p.process));
            done = gui::FindWindowOf(p.pid, L"温馨提示°", L"#32770");
            if (!done) Sleep(5);
        }
        QueryPerformanceCounter(&t1);
        const double installMs = Ms(t0, t1) - 1000.0;  // less the one-second wait
        gui::Press(GetDlgItem(done, IDOK));
        gui::WaitGone(done);

        // The same work without the window: write the archive, extract it.
        const std::wstring archive = game + L"\\Game\\wzCAFG.ZIP";
        const Bytes pack = ReadFileBytes(WideToGbk(archive));
        const std::wstring bare = scratch + L"\\bare";
        gui::RemoveTree(bare);
        CreateDirectoryW(bare.c_str(), nullptr);
        ZipComponent zip;
        QueryPerformanceCounter(&t0);
        WriteFileBytes(WideToGbk(bare + L"\\wzCAFG.ZIP"), {pack});
        const int result = ExtractArchive(&zip, WideToGbk(bare + L"\\wzCAFG.ZIP"), WideToGbk(bare));
        QueryPerformanceCounter(&t1);
        const double bareMs = Ms(t0, t1);
        std::wprintf(L"%ls: %u bytes; install %.0f ms (click to box, less the 1000 ms wait); "
                     L"bare write + extract %.0f ms (result %d); ratio %.2f (target 1.2)\n",
                     c.name, unsigned(pack.size()), installMs, bareMs, result, installMs / bareMs);
        std::wprintf(L"%ls: private memory idle %u KiB, peak during install %u KiB, growth %d KiB (target < 2048)\n",
                     c.name, unsigned(idle / 1024), unsigned(peak / 1024), int((peak - idle) / 1024));
        std::fflush(stdout);
        MenuStateCost(game, c.name);
    }
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (HWND ask = gui::WaitForBox(p.pid, L"程序准备关闭中~~")) gui::Press(GetDlgItem(ask, IDOK));
    gui::WaitForExit(p, 5000);
    gui::Kill(p);
    CompareWithMiniunz(scratch, exe);
    StoreCost(scratch, exe);
    return 0;
}
