// Runs ExtractArchive on the commands of a script, one per line, fields
// separated by "|", paths in UTF-8; prints one answer per command:
//   extract|ARCHIVE|TARGET[|STOP_AT]  -> "progress I COUNT PATH" lines, then "result R",
//                                        and "failure KIND ERROR PATH" after a 0
//   install|ARCHIVE|TARGET[|ENTRY|WORD] -> installs ARCHIVE's bytes as the program installs a pack
//                                        into its Game folder (the pack archive swapped in too);
//                                        with an entry, the backup store beside TARGET takes part
//   undo|TARGET[|discard]              -> takes back every install recorded for TARGET: "undone N left"
//                                        (then "kept K" when the store keeps K originals), "undone
//                                        nothing", or "result 0" and the failure; with discard, as
//                                        after a question that said the superseded originals go
//   state|TARGET                       -> what the tray menu tells: "state WORD N", "state none" or
//                                        "state unknown"; "state unfinished" while a journal stands
//   menu|TARGET                        -> "menu CAPTION": the tray menu's 当前界面 line
//   crash|ARCHIVE|TARGET|K             -> extracts, and ends the process (code 3) at the first step
//                                        after K renames
//   recover|TARGET                     -> recovers an install cut short, as the program does at
//                                        start-up: "recovered", or "recovery-incomplete" while
//                                        something could not be put right (and the failure when
//                                        the folder's lock could not be taken)
// After a failure, "unrestored KIND PATH" names a game file still waiting for its original.
// After a success whose work after DONE could not all be done, "unfinished KIND ERROR PATH" names
// where it stopped (the next recovery finishes it).
// The steps of the next extract, install, undo or recover (counted from 1 for each):
//   count                              -> prints "steps N" after each of them
//   trace                              -> prints "step K KIND PATH" for each step (and "target K PATH"
//                                        after a rename's, its new name)
//   killat|K                           -> ends the process (code 3) at step K, before it is done
//   fail|KIND|ERROR                    -> every step of KIND fails with the Win32 ERROR (0: none)
//   holdat|K|PATH                      -> at step K, PATH is held without sharing until unlock
//   diskfullat|KIND                    -> from the first step of KIND on, every step that needs room
//                                        (create, write, journal, done) fails: the disk is full
//   lockfolder|TARGET                  -> holds TARGET's folder lock as another instance's install does
//   lock|PATH / unlock                 -> holds PATH open without sharing, as a running client does;
//                                        unlock lets go of everything held
//   lockread|PATH                      -> holds PATH open for reading, sharing reads only (a virus scanner)
//   scanwhen|PATH|MS                   -> reads PATH, sharing everything, for MS ms from the moment it
//                                        can be opened (a virus scanner looking at a new file)
//   holdwhen|PATH                      -> holds PATH without sharing as soon as it appears (the game
//                                        opening a file in the middle of an install)
//   attrib|PATH|HEX / getattr|PATH     -> sets / prints the file attributes
//   makeat|K|PATH                      -> at step K, before it is done, PATH is made with the bytes
//                                        "the player's" (a file that appears during an install)
//   writeat|K|PATH                     -> at step K, before it is done, PATH is written over with the
//                                        bytes "the game's patch" (the game patching a file meanwhile)
//   patchat|K|PATH                     -> writeat that also prints "patched at K 1" (0 when PATH could
//                                        not be opened for writing: someone holds it keeping writers out)
//   recoverat|K|TARGET                 -> at step K, before it is done, a recovery of TARGET runs as
//                                        a second instance's start-up would: "second recovered" or
//                                        "second recovery-incomplete"
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "HoldWhenItAppears.h"
#include "runtime/Encoding.h"
#include "runtime/LongPath.h"
#include "themes/ArchiveExtract.h"
#include "install/FolderLock.h"
#include "install/InstallFailure.h"
#include "themes/InstallPack.h"
#include "install/InstallSteps.h"
#include "themes/InstallThemePack.h"
#include "themes/UndoInstalls.h"

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

const char* const kProblems[] = {"none",  "in-use",     "access-denied", "disk-full",
                                  "damaged", "other", "unfinished",    "store-damaged", "busy",
                                  "stray-original", "other-volume", "write-protected"};
const char* const kSteps[] = {"create", "write", "flush", "rename", "delete", "mkdir", "rmdir", "journal", "done",
                              "flushdir"};

std::vector<HANDLE> g_held;

struct StepPlan {
    bool count = false, trace = false;
    int killAt = -1, crashAfterRenames = -1, holdAt = -1, recoverAt = -1, makeAt = -1, writeAt = -1;
    unsigned long failError[sizeof kSteps / sizeof kSteps[0]] = {};  // by step kind
    int diskFullAt = -1;              // a step kind
    bool diskFull = false;
    std::wstring holdPath, recoverPath, makePath, writePath;
    bool writeReport = false;
    int steps = 0, renames = 0;
} g_plan;

void EndHere(const char* what, int n) {
    std::printf("%s %d\n", what, n);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);  // no clean-up runs: as a crash or a kill
}

unsigned long OnStep(InstallStep step, const std::wstring& path, const std::wstring& to) {
    const int n = ++g_plan.steps;
    if (g_plan.trace) std::printf("step %d %s %s\n", n, kSteps[int(step)], ToUtf8(WideToGbk(path)).c_str());
    if (g_plan.trace && !to.empty()) std::printf("target %d %s\n", n, ToUtf8(WideToGbk(to)).c_str());
    if (n == g_plan.holdAt) {
        HANDLE h = CreateFileW(g_plan.holdPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) g_held.push_back(h);
        std::printf("held at %d %d\n", n, h != INVALID_HANDLE_VALUE);
    }
    if (n == g_plan.makeAt) {
        HANDLE h = CreateFileW(g_plan.makePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD wrote = 0;
        if (h != INVALID_HANDLE_VALUE) WriteFile(h, "the player's", 12, &wrote, nullptr), CloseHandle(h);
    }
    if (n == g_plan.writeAt) {
        SetFileAttributesW(g_plan.writePath.c_str(), FILE_ATTRIBUTE_NORMAL);
        HANDLE h = CreateFileW(g_plan.writePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD wrote = 0;
        if (h != INVALID_HANDLE_VALUE) WriteFile(h, "the game's patch", 16, &wrote, nullptr), CloseHandle(h);
        if (g_plan.writeReport) std::printf("patched at %d %d\n", n, h != INVALID_HANDLE_VALUE);
    }
    if (n == g_plan.recoverAt) {
        // Its own steps are not this command's.
        SetInstallStepHook(nullptr);
        InstallFailure ignored;
        std::printf(RecoverGameFolder(g_plan.recoverPath, &ignored) ? "second recovered\n"
                                                                     : "second recovery-incomplete\n");
        SetInstallStepHook(OnStep);
    }
    if (n == g_plan.killAt) EndHere("killed at", n);
    if (g_plan.crashAfterRenames >= 0 && g_plan.renames == g_plan.crashAfterRenames)
        EndHere("crashed after", g_plan.renames);
    if (step == InstallStep::Rename) ++g_plan.renames;
    if (int(step) == g_plan.diskFullAt) g_plan.diskFull = true;
    const bool needsRoom = step == InstallStep::Create || step == InstallStep::Write || step == InstallStep::Journal ||
                           step == InstallStep::JournalDone;
    if (g_plan.diskFull && needsRoom) return ERROR_DISK_FULL;
    return g_plan.failError[int(step)];
}

// A new command counts its steps from 1; a kill or a hold asked for applies to it alone.
void StartSteps() {
    g_plan.steps = g_plan.renames = 0;
    SetInstallStepHook(OnStep);
}
void EndSteps() {
    if (g_plan.count) std::printf("steps %d\n", g_plan.steps);
    g_plan.killAt = g_plan.holdAt = g_plan.crashAfterRenames = g_plan.recoverAt = g_plan.makeAt = g_plan.writeAt = -1;
}

void PrintFailure(const InstallFailure& f) {
    std::printf("failure %s %lu %s\n", kProblems[int(f.problem)], f.error, ToUtf8(WideToGbk(f.relativePath)).c_str());
}
void PrintUnfinished(const InstallFailure& f) {
    if (f.unfinishedPath.empty()) return;
    InstallFailure kind;
    NoteFailure(&kind, f.unfinishedError, L"");
    std::printf("unfinished %s %lu %s\n", kProblems[int(kind.problem)], f.unfinishedError,
                ToUtf8(WideToGbk(f.unfinishedPath)).c_str());
}
void PrintUnrestored(const InstallFailure& f) {
    if (f.unrestoredPath.empty()) return;
    InstallFailure kind;
    NoteFailure(&kind, f.unrestoredError, L"");
    std::printf("unrestored %s %s\n", kProblems[int(kind.problem)], ToUtf8(WideToGbk(f.unrestoredPath)).c_str());
}

std::vector<std::unique_ptr<HoldWhenItAppears>> g_watches;

std::vector<std::unique_ptr<FolderLock>> g_folderLocks;

void LetGoOfEverything() {
    for (HANDLE h : g_held) CloseHandle(h);
    g_held.clear();
    g_folderLocks.clear();
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
            StartSteps();
            const int result = ExtractArchive(&zip, FromUtf8(f[1]), FromUtf8(f[2]));
            EndSteps();
            std::printf("result %d\n", result);
            if (result == 0) PrintFailure(zip.failure), PrintUnrestored(zip.failure);
            if (result == 1) PrintUnfinished(zip.failure);
        } else if (f[0] == "install" && f.size() >= 3) {
            FILE* pack = _wfopen(GbkToWide(FromUtf8(f[1])).c_str(), L"rb");
            std::string bytes;
            for (int c; pack && (c = std::fgetc(pack)) != EOF;) bytes += char(c);
            if (pack) std::fclose(pack);
            ZipComponent zip;
            StartSteps();
            // With an entry, as the program installs one: the backup store beside TARGET takes part.
            const bool ok = InstallPackArchive(&zip, ByteSpan(bytes.data(), bytes.size()),
                                               ExtendedPath(GbkToWide(FromUtf8(f[2]))),
                                               f.size() >= 5 ? std::atoi(f[3].c_str()) : 0,
                                               f.size() >= 5 ? FromUtf8(f[4]) : Text());
            EndSteps();
            std::printf("result %d\n", ok ? 1 : 0);
            if (!ok) PrintFailure(zip.failure), PrintUnrestored(zip.failure);
            if (ok) PrintUnfinished(zip.failure);
        } else if (f[0] == "crash" && f.size() >= 4) {
            g_plan.crashAfterRenames = std::atoi(f[3].c_str());
            ZipComponent zip;
            StartSteps();
            const int result = ExtractArchive(&zip, FromUtf8(f[1]), FromUtf8(f[2]));
            EndSteps();
            std::printf("result %d\n", result);
        } else if (f[0] == "undo" && f.size() >= 2) {
            UndoOutcome outcome;
            InstallFailure failure;
            const std::wstring game = ExtendedPath(GbkToWide(FromUtf8(f[1])));
            // What the question counted, read before it is asked.
            const std::vector<std::wstring> discard =
                f.size() >= 3 && f[2] == "discard" ? ReadInstalledState(game).superseded : std::vector<std::wstring>();
            StartSteps();
            const bool ok = UndoInstalls(game, discard, &outcome, &failure);
            EndSteps();
            if (ok) {
                std::printf(outcome.nothingInstalled ? "undone nothing\n" : "undone %u left\n", unsigned(outcome.left.size()));
                if (!outcome.kept.empty()) std::printf("kept %u\n", unsigned(outcome.kept.size()));
                PrintUnfinished(failure);
            } else
                std::printf("result 0\n"), PrintFailure(failure), PrintUnrestored(failure);
        } else if (f[0] == "state" && f.size() >= 2) {
            const InstalledState state = ReadInstalledState(ExtendedPath(GbkToWide(FromUtf8(f[1]))));
            if (state.unfinished)
                std::printf("state unfinished\n");
            else if (state.record == RecordRead::Read)
                std::printf("state %s %d\n", ToUtf8(state.word).c_str(), state.changed);
            else
                std::printf(state.record == RecordRead::None ? "state none\n" : "state unknown\n");
        } else if (f[0] == "menu" && f.size() >= 2) {
            std::printf("menu %s\n",
                        ToUtf8(InstalledCaption(ReadInstalledState(ExtendedPath(GbkToWide(FromUtf8(f[1])))))).c_str());
        } else if (f[0] == "recover" && f.size() >= 2) {
            InstallFailure failure;
            const std::wstring game = ExtendedPath(GbkToWide(FromUtf8(f[1])));
            StartSteps();
            // As the program's start-up runs it: holding the folder.
            const bool whole = RecoverAtStart(game, &failure);
            EndSteps();
            std::printf(whole ? "recovered\n" : "recovery-incomplete\n");
            if (failure.problem == InstallProblem::Busy || failure.relativePath == kFolderLockName) PrintFailure(failure);
            PrintUnrestored(failure);
        } else if (f[0] == "count") {
            g_plan.count = true;
        } else if (f[0] == "trace") {
            g_plan.trace = true;
        } else if (f[0] == "killat" && f.size() >= 2) {
            g_plan.killAt = std::atoi(f[1].c_str());
        } else if (f[0] == "fail" && f.size() >= 3) {
            for (int k = 0; k < int(sizeof kSteps / sizeof kSteps[0]); ++k)
                if (f[1] == kSteps[k]) g_plan.failError[k] = std::strtoul(f[2].c_str(), nullptr, 10);
        } else if (f[0] == "diskfullat" && f.size() >= 2) {
            for (int k = 0; k < int(sizeof kSteps / sizeof kSteps[0]); ++k)
                if (f[1] == kSteps[k]) g_plan.diskFullAt = k;
        } else if (f[0] == "makeat" && f.size() >= 3) {
            g_plan.makeAt = std::atoi(f[1].c_str());
            g_plan.makePath = GbkToWide(FromUtf8(f[2]));
        } else if ((f[0] == "writeat" || f[0] == "patchat") && f.size() >= 3) {
            g_plan.writeReport = f[0] == "patchat";
            g_plan.writeAt = std::atoi(f[1].c_str());
            g_plan.writePath = GbkToWide(FromUtf8(f[2]));
        } else if (f[0] == "recoverat" && f.size() >= 3) {
            g_plan.recoverAt = std::atoi(f[1].c_str());
            g_plan.recoverPath = ExtendedPath(GbkToWide(FromUtf8(f[2])));
        } else if (f[0] == "holdat" && f.size() >= 3) {
            g_plan.holdAt = std::atoi(f[1].c_str());
            g_plan.holdPath = GbkToWide(FromUtf8(f[2]));
        } else if ((f[0] == "lock" || f[0] == "lockread") && f.size() >= 2) {
            const bool read = f[0] == "lockread";
            HANDLE h = CreateFileW(GbkToWide(FromUtf8(f[1])).c_str(), read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                   read ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (h != INVALID_HANDLE_VALUE) g_held.push_back(h);
            std::printf("locked %d\n", h != INVALID_HANDLE_VALUE);
        } else if (f[0] == "lockfolder" && f.size() >= 2) {
            // Another instance's install or undo under way in that folder.
            g_folderLocks.push_back(std::make_unique<FolderLock>());
            InstallFailure ignored;
            std::printf("locked %d\n", g_folderLocks.back()->Take(ExtendedPath(GbkToWide(FromUtf8(f[1]))), &ignored));
        } else if (f[0] == "holdwhen" && f.size() >= 2) {
            g_watches.push_back(std::make_unique<HoldWhenItAppears>(GbkToWide(FromUtf8(f[1]))));
            std::printf("watching\n");
        } else if (f[0] == "scanwhen" && f.size() >= 3) {
            g_watches.push_back(std::make_unique<HoldWhenItAppears>(
                GbkToWide(FromUtf8(f[1])), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                DWORD(std::atoi(f[2].c_str()))));
            std::printf("watching\n");
        } else if (f[0] == "unlock") {
            // A watch that took hold says so: the test knows its file was held.
            for (const auto& w : g_watches)
                if (w->took()) std::printf("held %s\n", ToUtf8(WideToGbk(w->path())).c_str());
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
