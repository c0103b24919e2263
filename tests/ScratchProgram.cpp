#include "ScratchProgram.h"

#include "FolderSnapshot.h"
#include "TestFiles.h"
#include "TestText.h"

const std::wstring kWindowTitle = L"VelmoraV2.5.3.1025";

ScratchProgram MakeScratchProgram(const std::wstring& name) {
    ScratchProgram copy;
    copy.folder = gui::EnvPath("VELMORA_SCRATCH") + L"\\" + name;
    if (Exists(copy.folder)) ClearAttributes(copy.folder);
    gui::RemoveTree(copy.folder);
    CreateDirectoryW(copy.folder.c_str(), nullptr);
    copy.exe = copy.folder + L"\\Velmora.exe";
    CopyFileW(gui::EnvPath("VELMORA_EXE").c_str(), copy.exe.c_str(), FALSE);
    CreateDirectoryW((copy.folder + L"\\Games").c_str(), nullptr);
    copy.gameFolder = copy.folder + L"\\Games\\英雄联盟";
    return copy;
}

bool RememberGameFolder(const ScratchProgram& copy) { return WriteAll(copy.PathFile(), Gbk(copy.gameFolder)); }

HWND StartPastNotice(const std::wstring& exe, gui::Program* program) {
    *program = gui::Start(exe);
    HWND notice = gui::WaitForBox(program->pid, L"温馨提醒：");
    if (!notice) return nullptr;
    gui::Press(GetDlgItem(notice, IDOK));
    HWND window = gui::WaitForWindow(program->pid, kWindowTitle, L"VelmoraMainWindow");
    gui::Settle(200);
    return window;
}
