// Child processes on Windows: CreateProcessW without a window, created
// suspended and put into a job object of its own (kill on close) before it
// runs, so that terminating the job ends everything the program started.
//
// The pipe's write end and the null device are inheritable only for the
// moment of one CreateProcessW, under a lock, and are named in an explicit
// handle list: children that other threads start at the same time never
// receive them, and a program's pipe closes when its own tree is done.
#include "engine/kt_system/child.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "engine/kt_system/utf.h"

struct Child {
    HANDLE process = nullptr;
    HANDLE job = nullptr;     // none when the process could not be put into one
    HANDLE out = nullptr;     // read end of the pipe, none once closed
    DWORD pid = 0;
    bool ended = false;
    uint32_t code = 0;
    std::atomic<bool> stopped{false};   // child_terminate was called
};

namespace {

std::mutex create_lock;

std::wstring wide(std::string_view text) {
    std::u16string w = utf16_from_utf8(text);
    return std::wstring(w.begin(), w.end());
}

std::string error_text(const char* what, DWORD err) {
    return std::string(what) + ": system error " + std::to_string(static_cast<unsigned long>(err));
}

HANDLE make_job() {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job) return nullptr;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
    info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

}  // namespace

Child* child_start(const std::vector<std::string>& args, std::string_view cwd,
                   const std::vector<std::string>* env, std::string* err) {
    if (args.empty()) {
        if (err) *err = "no program given";
        return nullptr;
    }
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = FALSE;
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) {
        if (err) *err = error_text("pipe", GetLastError());
        return nullptr;
    }
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    if (nul == INVALID_HANDLE_VALUE) {
        if (err) *err = error_text("NUL", GetLastError());
        CloseHandle(read_end);
        CloseHandle(write_end);
        return nullptr;
    }

    std::wstring cmd = wide(child_command_line(args));
    std::wstring dir = wide(cwd);
    std::wstring block;
    if (env) {
        for (const std::string& v : *env) {
            block += wide(v);
            block.push_back(L'\0');
        }
        if (env->empty()) block.push_back(L'\0');
        block.push_back(L'\0');
    }

    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = nul;
    si.StartupInfo.hStdOutput = write_end;
    si.StartupInfo.hStdError = write_end;
    HANDLE inherit[2] = {nul, write_end};
    std::string list_memory;
    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
    if (list_size > 0) {
        list_memory.resize(list_size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_memory.data());
        if (InitializeProcThreadAttributeList(list, 1, 0, &list_size)) {
            if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit, sizeof inherit,
                                          nullptr, nullptr)) {
                si.lpAttributeList = list;
            } else {
                DeleteProcThreadAttributeList(list);
            }
        }
    }
    DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED;
    if (si.lpAttributeList) flags |= EXTENDED_STARTUPINFO_PRESENT;

    HANDLE job = make_job();
    PROCESS_INFORMATION pi{};
    BOOL ok;
    DWORD create_error = 0;
    {
        std::lock_guard<std::mutex> guard(create_lock);
        SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        SetHandleInformation(nul, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, flags, env ? block.data() : nullptr,
                            dir.empty() ? nullptr : dir.c_str(), &si.StartupInfo, &pi);
        if (!ok) create_error = GetLastError();
        // Closed under the lock: no other start may see them inheritable.
        CloseHandle(write_end);
        CloseHandle(nul);
    }
    if (si.lpAttributeList) DeleteProcThreadAttributeList(si.lpAttributeList);
    if (!ok) {
        CloseHandle(read_end);
        if (job) CloseHandle(job);
        if (err) *err = error_text(args[0].c_str(), create_error);
        return nullptr;
    }
    if (job && !AssignProcessToJobObject(job, pi.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);

    Child* c = new Child;
    c->process = pi.hProcess;
    c->job = job;
    c->out = read_end;
    c->pid = pi.dwProcessId;
    return c;
}

bool child_look(Child* c, int wait_ms) {
    if (!c->out) return true;
    for (int waited = 0;; waited += 20) {
        DWORD avail = 0;
        if (!PeekNamedPipe(c->out, nullptr, 0, nullptr, &avail, nullptr)) return true;
        if (avail > 0) return true;
        if (waited >= wait_ms) return false;
        Sleep(20);
    }
}

int64_t child_read(Child* c, char* buf, size_t size) {
    if (!c->out) return -1;
    DWORD n = 0;
    DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(c->out, buf, want, &n, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return n;
}

void child_close_output(Child* c) {
    if (c->out) CloseHandle(c->out);
    c->out = nullptr;
}

bool child_wait(Child* c, int64_t wait_ms, uint32_t& code) {
    if (!c->ended) {
        DWORD ms = wait_ms < 0 ? INFINITE : wait_ms >= 0xFFFFFFFE ? 0xFFFFFFFE : static_cast<DWORD>(wait_ms);
        if (WaitForSingleObject(c->process, ms) != WAIT_OBJECT_0) return false;
        DWORD exit = 1;
        GetExitCodeProcess(c->process, &exit);
        c->code = exit;
        c->ended = true;
    }
    code = c->code;
    return true;
}

bool child_ended(Child* c, uint32_t& code) { return child_wait(c, 0, code); }

void child_terminate(Child* c, uint32_t code) {
    c->stopped.store(true);
    if (c->job && TerminateJobObject(c->job, code)) return;
    TerminateProcess(c->process, code);
}

void child_close(Child* c) {
    if (!c) return;
    child_close_output(c);
    // A program that ended by itself may have left something running on
    // purpose: its job no longer kills on close. One that still runs, or
    // was stopped, goes with everything it started.
    bool ended = WaitForSingleObject(c->process, 0) == WAIT_OBJECT_0;
    if (c->job) {
        if (ended && !c->stopped) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION info{};
            SetInformationJobObject(c->job, JobObjectExtendedLimitInformation, &info, sizeof info);
        } else {
            TerminateJobObject(c->job, 1);
        }
        CloseHandle(c->job);
    } else if (!ended) {
        TerminateProcess(c->process, 1);
    }
    CloseHandle(c->process);
    delete c;
}

uint64_t child_pid(const Child* c) { return c->pid; }

uint64_t process_own_id() { return GetCurrentProcessId(); }

bool process_running(uint64_t pid) {
    if (pid == 0 || pid > 0xFFFFFFFFu) return false;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!h) return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
    CloseHandle(h);
    return running;
}

int child_signal_of(uint32_t) { return 0; }
