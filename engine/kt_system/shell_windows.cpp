// Opening documents, folders and links through the Windows shell.
#include "engine/kt_system/shell.h"

#include "engine/kt_system/win_util.h"

#include <shellapi.h>

bool shell_open(std::string_view target) {
    std::wstring file = wide_z(target);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}

struct Elevated_Process {
    HANDLE process = nullptr;
};

Elevated_Process* shell_run_elevated(std::string_view program, std::string_view params) {
    std::wstring file = wide_z(program);
    std::wstring args = wide_z(params);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = args.empty() ? nullptr : args.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || info.hProcess == nullptr) return nullptr;
    auto* p = new Elevated_Process;
    p->process = info.hProcess;
    return p;
}

bool shell_elevated_wait(Elevated_Process* p, int64_t wait_ms, uint32_t& code) {
    DWORD ms = wait_ms < 0 ? INFINITE : static_cast<DWORD>(wait_ms > 0x7FFFFFFF ? 0x7FFFFFFF : wait_ms);
    if (WaitForSingleObject(p->process, ms) != WAIT_OBJECT_0) return false;
    DWORD exit = 0;
    if (!GetExitCodeProcess(p->process, &exit)) exit = 1;
    code = exit;
    return true;
}

void shell_elevated_terminate(Elevated_Process* p, uint32_t code) { TerminateProcess(p->process, code); }

void shell_elevated_close(Elevated_Process* p) {
    if (!p) return;
    CloseHandle(p->process);
    delete p;
}

struct Started_Program {
    HANDLE process = nullptr;
};

Started_Program* shell_start_program(std::string_view program, std::string_view cwd) {
    // Empty strings stay empty wide strings, never null pointers.
    std::wstring file = wide_z(program);
    std::wstring folder = wide_z(cwd);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info) || info.hProcess == nullptr) return nullptr;
    auto* p = new Started_Program;
    p->process = info.hProcess;
    return p;
}

void shell_program_wait(Started_Program* p) {
    if (!p || !p->process) return;
    WaitForSingleObject(p->process, INFINITE);
}

void shell_program_close(Started_Program* p) {
    if (!p) return;
    if (p->process) CloseHandle(p->process);
    delete p;
}
