// Runs ExtractArchive on the commands of a script, one per line, fields
// separated by "|", paths in UTF-8; prints one answer per command:
//   extract|ARCHIVE|TARGET[|STOP_AT]  -> "progress I COUNT PATH" lines, then "result R",
//                                        and "failure KIND ERROR PATH" after a 0
//   crash|ARCHIVE|TARGET|K             -> extracts, and ends the process (code 3) after K renames of the swap
//   recover|TARGET                     -> recovers an install a crash cut short: "recovered", or
//                                        "recovery-incomplete" while something could not be put right
//   lock|PATH / unlock                 -> holds PATH open without sharing, as a running client does;
//                                        unlock lets go of everything held
//   lockread|PATH                      -> holds PATH open for reading, sharing reads only (a virus scanner)
//   holdwhen|PATH                      -> holds PATH without sharing as soon as it appears (the game
//                                        opening a file in the middle of an install)
//   attrib|PATH|HEX / getattr|PATH     -> sets / prints the file attributes
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/Encoding.h"
#include "runtime/LongPath.h"
#include "themes/ArchiveExtract.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t at; (at = line.find('|', start)) != std::string::npos; start = at + 1)
        out.push_back(line.substr(start, at - start));
    out.push_back(line.substr(start));
    return out;
}

Text FromUtf8(const std::string& s) {
    return WideToGbk(Utf8ToWide(ByteSpan(s.data(), s.size())));
}

std::string ToUtf8(const Text& gbk) {
    const std::wstring w = GbkToWide(gbk);
    std::string out(w.size() * 4 + 1, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), out.data(), int(out.size()), nullptr, nullptr));
    return out;
}

const char* const kProblems[] = {"none", "in-use", "access-denied", "disk-full", "damaged", "other"};

int g_crashAfter = -1;
void CrashAfter(int renames) {
    if (renames == g_crashAfter) {
        std::printf("crashed after %d\n", renames);
        std::fflush(stdout);
        ExitProcess(3);
    }
}

// Files held open until "unlock", and watchers that take hold of a file the
// moment it appears.
std::vector<HANDLE> g_held;
struct Watch {
    std::wstring path;
    volatile LONG stop = 0;
    HANDLE held = INVALID_HANDLE_VALUE;
    HANDLE thread = nullptr;
};
std::vector<Watch*> g_watches;

DWORD WINAPI WatchFor(void* context) {
    auto* w = static_cast<Watch*>(context);
    while (!w->stop) {
        w->held = CreateFileW(w->path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (w->held != INVALID_HANDLE_VALUE) return 0;
        Sleep(1);
    }
    return 0;
}

void LetGoOfEverything() {
    for (HANDLE h : g_held) CloseHandle(h);
    g_held.clear();
    for (Watch* w : g_watches) {
        w->stop = 1;
        WaitForSingleObject(w->thread, INFINITE);
        CloseHandle(w->thread);
        if (w->held != INVALID_HANDLE_VALUE) CloseHandle(w->held);
        delete w;
    }
    g_watches.clear();
}

struct StopAt {
    int index;
};

bool Observe(int index, int count, const Text& path, void* context) {
    std::printf("progress %d %d %s\n", index, count, ToUtf8(path).c_str());
    return index != static_cast<StopAt*>(context)->index;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    FILE* script = std::fopen(argv[1], "rb");
    if (!script) return 2;
    char buffer[8192];
    while (std::fgets(buffer, sizeof buffer, script)) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.empty()) continue;
        const auto f = Split(line);
        if (f[0] == "extract" && f.size() >= 3) {
            StopAt stop = {f.size() > 3 ? std::atoi(f[3].c_str()) : -1};
            ZipComponent zip;
            zip.observer = Observe;
            zip.context = &stop;
            const int result = ExtractArchive(&zip, FromUtf8(f[1]), FromUtf8(f[2]));
            std::printf("result %d\n", result);
            if (result == 0)
                std::printf("failure %s %lu %s\n", kProblems[int(zip.failure.problem)], zip.failure.error,
                            ToUtf8(WideToGbk(zip.failure.relativePath)).c_str());
        } else if (f[0] == "crash" && f.size() >= 4) {
            g_crashAfter = std::atoi(f[3].c_str());
            SetSwapStepHook(CrashAfter);
            ZipComponent zip;
            std::printf("result %d\n", ExtractArchive(&zip, FromUtf8(f[1]), FromUtf8(f[2])));
        } else if (f[0] == "recover" && f.size() >= 2) {
            const bool whole = RecoverInterruptedInstall(ExtendedPath(GbkToWide(FromUtf8(f[1]))));
            std::printf(whole ? "recovered\n" : "recovery-incomplete\n");
        } else if ((f[0] == "lock" || f[0] == "lockread") && f.size() >= 2) {
            const bool read = f[0] == "lockread";
            HANDLE h = CreateFileW(GbkToWide(FromUtf8(f[1])).c_str(), read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                   read ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (h != INVALID_HANDLE_VALUE) g_held.push_back(h);
            std::printf("locked %d\n", h != INVALID_HANDLE_VALUE);
        } else if (f[0] == "holdwhen" && f.size() >= 2) {
            auto* w = new Watch;
            w->path = GbkToWide(FromUtf8(f[1]));
            w->thread = CreateThread(nullptr, 0, WatchFor, w, 0, nullptr);
            g_watches.push_back(w);
            std::printf("watching\n");
        } else if (f[0] == "unlock") {
            // A watch that took hold says so: the test knows its file was held.
            for (Watch* w : g_watches)
                if (w->held != INVALID_HANDLE_VALUE) std::printf("held %s\n", ToUtf8(WideToGbk(w->path)).c_str());
            LetGoOfEverything();
            std::printf("unlocked\n");
        } else if (f[0] == "attrib" && f.size() >= 3) {
            const BOOL ok = SetFileAttributesW(GbkToWide(FromUtf8(f[1])).c_str(), std::strtoul(f[2].c_str(), nullptr, 16));
            std::printf("attrib %d\n", ok);
        } else if (f[0] == "getattr" && f.size() >= 2) {
            std::printf("attr %lx\n", GetFileAttributesW(GbkToWide(FromUtf8(f[1])).c_str()));
        } else {
            std::printf("unknown\n");
        }
        std::fflush(stdout);
    }
    std::fclose(script);
    LetGoOfEverything();
    return 0;
}
