#include "ExtractDriver.h"

#include "TestFiles.h"

DWORD RunDriver(const std::wstring& cli, const std::wstring& folder, const std::string& script, std::string* output) {
    const std::wstring scriptPath = folder + L"\\driver.txt", outputPath = folder + L"\\driver-out.txt";
    if (!WriteAll(scriptPath, script)) return DWORD(-1);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::wstring command = L"\"" + cli + L"\" \"" + scriptPath + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = out;
    PROCESS_INFORMATION pi = {};
    DWORD code = DWORD(-1);
    if (CreateProcessW(cli.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(out);
    if (output) *output = ReadAll(outputPath);
    return code;
}
