#include "HostProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace host_tests {

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string variableName(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> childEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> entries = overrides;
    const auto overridden = [&](const std::string& name) {
        return std::any_of(entries.begin(), entries.end(),
                           [&](const std::string& entry) { return variableName(entry) == name; });
    };
    if (!overridden("NIDAQMX_SIM_TIME_SCALE")) {
        entries.emplace_back("NIDAQMX_SIM_TIME_SCALE=0");
    }
    std::vector<std::string> inherited;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!overridden(variableName(*entry))) {
            inherited.emplace_back(*entry);
        }
    }
    entries.insert(entries.end(), inherited.begin(), inherited.end());
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

void check(int status, const char* what) {
    if (status != 0) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(status));
    }
}

}  // namespace

std::vector<std::string> HostRun::outLines() const {
    return splitLines(out);
}
std::vector<std::string> HostRun::errLines() const {
    return splitLines(err);
}

HostProcess::HostProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, const std::string& program) {
    std::array<int, 2> outPipe{};
    std::array<int, 2> errPipe{};
    if (::pipe2(outPipe.data(), O_CLOEXEC) != 0 || ::pipe2(errPipe.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    posix_spawn_file_actions_t actions;
    check(posix_spawn_file_actions_init(&actions), "posix_spawn_file_actions_init");
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);

    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    auto envp = childEnvironment(environment);
    auto argvPointers = pointers(argv);
    auto envPointers = pointers(envp);
    const int spawned = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr,
                                      argvPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
    if (spawned != 0) {
        pid_ = -1;
        ::close(outFd_);
        ::close(errFd_);
        check(spawned, "posix_spawn");
    }
}

HostProcess::~HostProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (const int fd : {outFd_, errFd_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool HostProcess::pump(std::chrono::milliseconds timeout) {
    std::array<pollfd, 2> fds = {pollfd{outFd_, POLLIN, 0}, pollfd{errFd_, POLLIN, 0}};
    if (outFd_ < 0 && errFd_ < 0) {
        return false;
    }
    if (::poll(fds.data(), fds.size(), static_cast<int>(timeout.count())) <= 0) {
        return true;
    }
    std::array<char, 65536> buffer{};
    const auto drain = [&](const pollfd& polled, int& fd, std::string& sink) {
        if (fd < 0 || polled.revents == 0) {
            return;
        }
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count > 0) {
            sink.append(buffer.data(), static_cast<std::size_t>(count));
        } else {
            ::close(fd);
            fd = -1;
        }
    };
    drain(fds[0], outFd_, run_.out);
    drain(fds[1], errFd_, run_.err);
    return outFd_ >= 0 || errFd_ >= 0;
}

bool HostProcess::waitForOutputLines(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (static_cast<std::size_t>(std::count(run_.out.begin(), run_.out.end(), '\n')) < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !pump(std::min(left, std::chrono::milliseconds(100)))) {
            return false;
        }
    }
    return true;
}

void HostProcess::sendSignal(int signal) const {
    ::kill(pid_, signal);
}

HostRun HostProcess::finish(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pump(std::chrono::milliseconds(100))) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
        }
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    run_.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run_;
}

HostRun runHost(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    return HostProcess(args, environment).finish();
}

}  // namespace host_tests
