#include "HostProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <sstream>
#include <stdexcept>
#include <thread>

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

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string piece; std::getline(stream, piece, separator);) {
        result.push_back(piece);
    }
    return result;
}

HostProcess::HostProcess(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment, const std::string& program) {
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
    if (out_ == nullptr || err_ == nullptr || (pid_ = ::fork()) < 0) {
        throw std::runtime_error("cannot start " + program);
    }
    if (pid_ == 0) {
        ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
        ::dup2(::fileno(out_), STDOUT_FILENO);
        ::dup2(::fileno(err_), STDERR_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
}

HostProcess::~HostProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    for (std::FILE* file : {out_, err_}) {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
}

bool HostProcess::waitForOutputLines(std::size_t count, std::chrono::milliseconds timeout) const {
    for (const auto deadline = Clock::now() + timeout;;) {
        siginfo_t ended{};  // looked at before the output, and not reaped
        ::waitid(P_PID, static_cast<id_t>(pid_), &ended, WEXITED | WNOHANG | WNOWAIT);
        const std::string out = contents(out_);
        if (static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= count) {
            return true;
        }
        if (ended.si_pid != 0 || Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void HostProcess::sendSignal(int signal) const {
    ::kill(pid_, signal);
}

HostRun HostProcess::finish(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), contents(out_),
            contents(err_)};
}

HostRun runHost(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    return HostProcess(args, environment).finish();
}

}  // namespace host_tests
