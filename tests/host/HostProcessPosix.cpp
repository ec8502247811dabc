#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "HostProcess.h"

namespace host_tests {

namespace {

using Clock = std::chrono::steady_clock;

/// What the child has written so far; pread leaves the offset it shares alone.
std::string contents(std::FILE* file) {
    std::string text;
    std::array<char, 65536> buffer{};
    for (ssize_t count; (count = ::pread(::fileno(file), buffer.data(), buffer.size(),
                                         static_cast<off_t>(text.size()))) > 0;) {
        text.append(buffer.data(), static_cast<std::size_t>(count));
    }
    return text;
}

}  // namespace

/// The child and the unnamed files its standard output and error go to.
struct HostProcess::Child {
    pid_t pid = -1;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
};

HostProcess::HostProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, const std::string& program,
                         const ChildLimits& limits)
    : child_(std::make_unique<Child>()) {
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    // The environment is made before the fork: between fork and exec only
    // async-signal-safe calls are sound.
    std::vector<std::string> settings;
    for (char** setting = environ; *setting != nullptr; ++setting) {
        settings.emplace_back(*setting);
    }
    const auto set = [&settings](const std::string& setting) {
        const std::string name = setting.substr(0, setting.find('=') + 1);
        std::erase_if(settings, [&](const std::string& s) { return s.rfind(name, 0) == 0; });
        settings.push_back(setting);
    };
    set("NIDAQMX_SIM_TIME_SCALE=0");
    std::for_each(environment.begin(), environment.end(), set);
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (auto& text : strings) {
            result.push_back(text.data());
        }
        result.push_back(nullptr);
        return result;
    };
    const std::vector<char*> argv = pointers(words);
    const std::vector<char*> envp = pointers(settings);
    if (child_->out == nullptr || child_->err == nullptr || (child_->pid = ::fork()) < 0) {
        throw std::runtime_error("cannot start " + program);
    }
    if (child_->pid == 0) {
        ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
        ::dup2(::fileno(child_->out), STDOUT_FILENO);
        ::dup2(::fileno(child_->err), STDERR_FILENO);
        if (limits.fileSizeBytes != 0) {
            // Ignored, SIGXFSZ leaves the write past the limit to fail with
            // EFBIG, as a full disk fails one; the setting survives exec.
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            ::sigaction(SIGXFSZ, &ignore, nullptr);
            const rlimit size{limits.fileSizeBytes, limits.fileSizeBytes};
            ::setrlimit(RLIMIT_FSIZE, &size);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
}

HostProcess::~HostProcess() {
    if (child_->pid > 0) {
        ::kill(child_->pid, SIGKILL);
        ::waitpid(child_->pid, nullptr, 0);
    }
    for (std::FILE* file : {child_->out, child_->err}) {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
}

bool HostProcess::waitForOutputLines(std::size_t count, std::chrono::milliseconds timeout) const {
    for (const auto deadline = Clock::now() + timeout;;) {
        siginfo_t ended{};  // looked at before the output, and not reaped
        ::waitid(P_PID, static_cast<id_t>(child_->pid), &ended, WEXITED | WNOHANG | WNOWAIT);
        const std::string out = contents(child_->out);
        if (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= count) {
            return true;
        }
        if (ended.si_pid != 0 || Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool HostProcess::waitForErrorText(const std::string& text,
                                   std::chrono::milliseconds timeout) const {
    for (const auto deadline = Clock::now() + timeout;;) {
        siginfo_t ended{};
        ::waitid(P_PID, static_cast<id_t>(child_->pid), &ended, WEXITED | WNOHANG | WNOWAIT);
        if (contents(child_->err).find(text) != std::string::npos) {
            return true;
        }
        if (ended.si_pid != 0 || Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string HostProcess::errorSoFar() const {
    return contents(child_->err);
}

void HostProcess::sendSignal(int signal) const {
    ::kill(child_->pid, signal);
}

HostRun HostProcess::finish(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (::waitpid(child_->pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(child_->pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    child_->pid = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), contents(child_->out),
            contents(child_->err)};
}

std::optional<std::string> shellUnsupported() {
    return std::nullopt;
}

std::optional<std::string> signalsUnsupported() {
    return std::nullopt;
}

std::optional<std::string> fileSizeLimitUnsupported() {
    return std::nullopt;
}

namespace {

std::string systemReason(const std::string& what) {
    return what + ": " + std::generic_category().message(errno);
}

std::optional<std::string> makeDevice(const std::string& path, unsigned minor) {
    // The kernel's memory devices: 1,3 is null, 1,7 is full.
    if (::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, minor)) != 0) {
        return systemReason("mknod " + path);
    }
    // A folder on a file system mounted nodev holds the node but refuses it.
    const int probe = ::open(path.c_str(), O_WRONLY);
    if (probe < 0) {
        const auto reason = systemReason("a device node in " + path);
        ::unlink(path.c_str());
        return reason;
    }
    ::close(probe);
    return std::nullopt;
}

std::optional<std::string> makeSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        return "the socket's path is too long: " + path;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (socket < 0) {
        return systemReason("socket");
    }
    const bool bound =
        ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    const auto reason = bound ? std::nullopt : std::optional(systemReason("bind " + path));
    ::close(socket);  // the socket's file stays
    return reason;
}

}  // namespace

std::optional<std::string> makeSpecialFile(const std::string& path, SpecialFile kind) {
    switch (kind) {
        case SpecialFile::NullDevice:
            return makeDevice(path, 3);
        case SpecialFile::FullDevice:
            return makeDevice(path, 7);
        case SpecialFile::NamedPipe:
            return ::mkfifo(path.c_str(), 0600) == 0 ? std::nullopt
                                                     : std::optional(systemReason("mkfifo"));
        case SpecialFile::Socket:
            return makeSocket(path);
    }
    return "unknown kind of file";
}

std::vector<std::string> standardOutputNames() {
    return {"/dev/stdout", "/proc/self/fd/1"};
}

unsigned long currentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

}  // namespace host_tests
