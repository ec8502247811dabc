#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "HostProcess.h"
#include "support/WideText.h"

namespace host_tests {

namespace {

using Clock = std::chrono::steady_clock;

std::wstring wide(const std::string& text) {
    return test_support::wideFromUtf8(text);
}

/// One word of a command line, quoted so that CommandLineToArgvW (and the C
/// runtime's argument parser) gives it back unchanged.
std::wstring quoted(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return word;
    }
    std::wstring result = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        result.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        result.push_back(c);
    }
    result.append(backslashes * 2, L'\\');
    result.push_back(L'"');
    return result;
}

/// This process's environment with `changes` (NAME=VALUE) applied, as the
/// block CreateProcessW takes. Names compare without case, as Windows does.
std::wstring environmentBlock(const std::vector<std::string>& changes) {
    std::vector<std::wstring> settings;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
            settings.emplace_back(entry);
        }
        ::FreeEnvironmentStringsW(block);
    }
    const auto nameOf = [](const std::wstring& setting) {
        // Entries such as "=C:=C:\..." start with '=', which belongs to the name.
        std::wstring name = setting.substr(0, setting.find(L'=', 1));
        std::transform(name.begin(), name.end(), name.begin(), ::towupper);
        return name;
    };
    for (const auto& change : changes) {
        const std::wstring setting = wide(change);
        const std::wstring name = nameOf(setting);
        std::erase_if(settings, [&](const std::wstring& s) { return nameOf(s) == name; });
        settings.push_back(setting);
    }
    std::wstring block;
    for (const auto& setting : settings) {
        block += setting;
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

/// A temporary file the child writes to through an inheritable handle.
struct OutputFile {
    std::filesystem::path path;
    HANDLE handle = INVALID_HANDLE_VALUE;

    explicit OutputFile(const char* stream) {
        static std::atomic<unsigned> counter{0};
        path = std::filesystem::temp_directory_path() /
               ("host-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(counter++) + "." + stream);
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        handle = ::CreateFileW(path.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    }
    ~OutputFile() {
        if (handle != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle);
        }
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// What the child has written so far.
    std::string contents() const {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
};

}  // namespace

struct HostProcess::Child {
    OutputFile out{"out"};
    OutputFile err{"err"};
    PROCESS_INFORMATION process{};

    bool running() const {
        return process.hProcess != nullptr && ::WaitForSingleObject(process.hProcess, 0) != 0;
    }
};

// Windows has no limits to start a child with (fileSizeLimitUnsupported).
HostProcess::HostProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, const std::string& program,
                         const ChildLimits& /*limits*/)
    : child_(std::make_unique<Child>()) {
    std::wstring commandLine = quoted(wide(program));
    for (const auto& arg : args) {
        commandLine += L" " + quoted(wide(arg));
    }
    std::vector<std::string> changes = {"NIDAQMX_SIM_TIME_SCALE=0"};
    changes.insert(changes.end(), environment.begin(), environment.end());
    std::wstring block = environmentBlock(changes);

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE input = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = child_->out.handle;
    startup.hStdError = child_->err.handle;
    // Its own process group, so that a Ctrl-Break reaches the child alone.
    // Wine now and then refuses a start while the machine is busy: a few
    // tries, not a failed test.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) {
            ::Sleep(100);
        }
        started = child_->out.handle != INVALID_HANDLE_VALUE &&
                  child_->err.handle != INVALID_HANDLE_VALUE &&
                  ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                   CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT,
                                   block.data(), nullptr, &startup, &child_->process);
    }
    if (input != INVALID_HANDLE_VALUE) {
        ::CloseHandle(input);
    }
    if (!started) {
        child_->process = {};
        throw std::runtime_error("cannot start " + program + " (error " +
                                 std::to_string(::GetLastError()) + ")");
    }
    ::CloseHandle(child_->process.hThread);
}

HostProcess::~HostProcess() {
    if (child_->process.hProcess != nullptr) {
        ::TerminateProcess(child_->process.hProcess, 128 + 9);
        ::WaitForSingleObject(child_->process.hProcess, INFINITE);
        ::CloseHandle(child_->process.hProcess);
    }
}

bool HostProcess::waitForOutputLines(std::size_t count, std::chrono::milliseconds timeout) const {
    for (const auto deadline = Clock::now() + timeout;;) {
        const bool ended = !child_->running();  // looked at before the output
        const std::string out = child_->out.contents();
        if (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= count) {
            return true;
        }
        if (ended || Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool HostProcess::waitForErrorText(const std::string& text,
                                   std::chrono::milliseconds timeout) const {
    for (const auto deadline = Clock::now() + timeout;;) {
        const bool ended = !child_->running();
        if (child_->err.contents().find(text) != std::string::npos) {
            return true;
        }
        if (ended || Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string HostProcess::errorSoFar() const {
    return child_->err.contents();
}

void HostProcess::sendSignal(int /*signal*/) const {
    ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child_->process.dwProcessId);
}

HostRun HostProcess::finish(std::chrono::milliseconds timeout) {
    const DWORD waitMs = static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(
        timeout.count(), std::chrono::milliseconds::rep{INFINITE - 1}));
    if (::WaitForSingleObject(child_->process.hProcess, waitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(child_->process.hProcess, 128 + 9);
        ::WaitForSingleObject(child_->process.hProcess, INFINITE);
    }
    DWORD status = 0;
    ::GetExitCodeProcess(child_->process.hProcess, &status);
    ::CloseHandle(child_->process.hProcess);
    child_->process = {};
    return {static_cast<int>(status), child_->out.contents(), child_->err.contents()};
}

std::optional<std::string> shellUnsupported() {
    return "no POSIX shell to build the pipeline with";
}

std::optional<std::string> signalsUnsupported() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr) {
        return "Wine delivers no console control events (Ctrl-C, Ctrl-Break) to the child";
    }
    DWORD mode = 0;
    if (!::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) &&
        ::GetConsoleWindow() == nullptr) {
        return "no console: Ctrl-Break travels only between processes that share one";
    }
    return std::nullopt;
}

std::optional<std::string> fileSizeLimitUnsupported() {
    return "Windows has no limit on the size of the files a process writes";
}

std::optional<std::string> makeSpecialFile(const std::string& /*path*/, SpecialFile /*kind*/) {
    return "Windows has no device nodes, named pipes or sockets in folders";
}

std::vector<std::string> standardOutputNames() {
    return {};
}

unsigned long currentProcessId() {
    return ::GetCurrentProcessId();
}

}  // namespace host_tests
