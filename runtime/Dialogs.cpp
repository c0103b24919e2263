#include "runtime/Dialogs.h"

#include <windows.h>
#include <shlobj.h>

#include <vector>

#include "runtime/Encoding.h"

int ShowMessage(const Text& text, int flags, const std::optional<Text>& title) {
    const UINT style = (flags & MB_SYSTEMMODAL) ? UINT(flags) : UINT(flags) | MB_TASKMODAL;
    const std::wstring caption = GbkToWide(title ? *title : Text("信息："));
    switch (MessageBoxW(nullptr, GbkToWide(text).c_str(), caption.c_str(), style)) {
        case IDCANCEL: return kPressedCancel;
        case IDABORT: return kPressedAbort;
        case IDRETRY: return kPressedRetry;
        case IDIGNORE: return kPressedIgnore;
        case IDYES: return kPressedYes;
        case IDNO: return kPressedNo;
        default: return kPressedOk;  // IDOK, or a box that could not be shown
    }
}

namespace {

int CALLBACK SelectInitialFolder(HWND dialog, UINT msg, LPARAM, LPARAM data) {
    if (msg == BFFM_INITIALIZED && data) {
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
        // Wine fills the tree of the process's first browser only after this
        // message: asked again once the dialog runs, the selection is made.
        PostMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

BOOL CALLBACK CollectEnabledWindow(HWND hwnd, LPARAM param) {
    if (IsWindowEnabled(hwnd)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

}  // namespace

Text BrowseForFolder(const Text& title, bool includeFiles, const Text& initialFolder) {
    HWND owner = GetActiveWindow();
    if (!IsWindow(owner)) owner = nullptr;

    // The dialog is modal to its owner only; every other window of ours is
    // disabled by hand so no click reaches the program while it is open.
    std::vector<HWND> disabled;
    EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow, reinterpret_cast<LPARAM>(&disabled));
    for (HWND w : disabled) EnableWindow(w, FALSE);

    const std::wstring wideTitle = GbkToWide(title);
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = wideTitle.c_str();
    info.ulFlags = BIF_EDITBOX | (includeFiles ? BIF_BROWSEINCLUDEFILES : 0);
    const std::wstring initial = GbkToWide(initialFolder);
    if (!initial.empty()) {
        info.lpfn = SelectInitialFolder;
        info.lParam = reinterpret_cast<LPARAM>(initial.c_str());
    }
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);

    for (HWND w : disabled) EnableWindow(w, TRUE);

    if (!item) return Text();
    wchar_t path[MAX_PATH] = {};
    const bool hasPath = SHGetPathFromIDListW(item, path) != 0;
    CoTaskMemFree(item);
    return hasPath ? WideToGbk(path) : Text();
}
