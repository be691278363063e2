#include "support/System.h"

#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <windows.h>

namespace pelfry::test {

namespace {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int needed =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(needed), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                          needed);
    return out;
}

// One argument as the C run-time's parser reads it back: quoted when it holds a space, a tab
// or a quote (or is empty), backslashes doubled only before a quote.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

HANDLE OpenInheritable(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& outFile,
                           const std::string& errFile) {
    std::wstring commandLine;
    for (const std::string& arg : args)
        commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(Widen(arg));
    HANDLE out = OpenInheritable(outFile);
    HANDLE err = OpenInheritable(errFile);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL started = out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                         ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, nullptr, &startup, &process);
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) ::CloseHandle(err);
    if (!started) throw std::runtime_error("cannot start " + args[0]);
    ::CloseHandle(process.hThread);
    id_ = reinterpret_cast<intptr_t>(process.hProcess);
}

ChildProcess::~ChildProcess() {
    Wait();
    ::CloseHandle(reinterpret_cast<HANDLE>(id_));
}

int ChildProcess::Wait() {
    if (waited_) return status_;
    HANDLE process = reinterpret_cast<HANDLE>(id_);
    ::WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    waited_ = true;
    status_ = ::GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
    return status_;
}

void ChildProcess::Kill() {
    ::TerminateProcess(reinterpret_cast<HANDLE>(id_), 9);
}

std::string ThisProgram() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), nullptr, 0,
                                             nullptr, nullptr);
    std::string out(static_cast<size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), out.data(), needed, nullptr,
                          nullptr);
    return out;
}

ChildSignal::ChildSignal(const std::string& name) {
    handle_ = reinterpret_cast<intptr_t>(::CreateEventW(nullptr, TRUE, FALSE, Widen(name).c_str()));
}

ChildSignal::~ChildSignal() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void ChildSignal::Wait() {
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), INFINITE);
}

void ChildSignal::Raise(const std::string& name) {
    HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, Widen(name).c_str());
    ::SetEvent(event);
    ::CloseHandle(event);
}

bool SetModifiedTime(const std::string& path, int64_t seconds, long nanoseconds) {
    HANDLE h = ::CreateFileW(Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const uint64_t stamp =
        static_cast<uint64_t>((seconds + 11644473600LL) * 10000000LL + nanoseconds / 100);
    FILETIME time{static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
    const bool set = ::SetFileTime(h, nullptr, &time, &time) != 0;
    ::CloseHandle(h);
    return set;
}

int64_t ModifiedSeconds(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    const int64_t stamp =
        static_cast<int64_t>(static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                             data.ftLastWriteTime.dwLowDateTime);
    return stamp / 10000000LL - 11644473600LL;
}

bool IsLink(const std::string& path);

bool MakeLink(const std::string& target, const std::string& link, bool folder) {
    const DWORD flags =
        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
    // Some systems (wine) report success and make nothing: only a link that is there counts.
    return ::CreateSymbolicLinkW(Widen(link).c_str(), Widen(target).c_str(), flags) != 0 &&
           IsLink(link);
}

bool IsLink(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

HeldFile::HeldFile(const std::string& path) {
    const HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot hold " + path);
    handle_ = reinterpret_cast<intptr_t>(h);
}

HeldFile::~HeldFile() {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void SetEnvironment(const std::string& name, const char* value) {
    ::_putenv_s(name.c_str(), value ? value : "");
    ::_tzset();
}

} // namespace pelfry::test
