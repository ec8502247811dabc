#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "HostError.h"
#include "Platform.h"

namespace ni_usb_daq::host::platform {

namespace {

// Set by the signal handler, read by the main thread: the one piece of
// process-wide mutable state, as a handler can touch nothing else safely.
// Lock-free, so the handler may count on it; atomic, so the main thread and a
// thread waiting for the stream to stop read it without a race.
std::atomic<unsigned> stopSignals{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

extern "C" void onStopSignal(int) {
    stopSignals.fetch_add(1);
}

std::string lastDlError() {
    const char* text = ::dlerror();
    return text != nullptr ? std::string(text) : std::string("unknown error");
}

}  // namespace

std::shared_ptr<void> loadLibrary(const std::filesystem::path& path) {
    // RTLD_NOW: an unresolved symbol in the plug-in shows here, with the
    // loader's reason, rather than as a crash in the middle of a command.
    // The plug-in finds its driver beside it through its $ORIGIN run path.
    void* raw = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (raw == nullptr) {
        throw HostError("cannot load plug-in '" + path.string() + "': " + lastDlError());
    }
    return std::shared_ptr<void>(raw, [](void* handle) { ::dlclose(handle); });
}

void* findSymbol(void* library, const char* name) {
    ::dlerror();
    return ::dlsym(library, name);
}

std::filesystem::path executablePath() {
    std::error_code error;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        throw HostError("cannot locate this program (/proc/self/exe: " + error.message() +
                        "); name the plug-in with --library");
    }
    return executable;
}

void setEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

void ignoreBrokenPipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

void replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    // rename(2) replaces the target atomically within one file system.
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throw HostError("cannot rename '" + from.string() + "' to '" + to.string() +
                        "': " + std::generic_category().message(errno));
    }
}

unsigned long processId() {
    return static_cast<unsigned long>(::getpid());
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

bool stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

void useBinaryOutput() {}  // POSIX has no text mode

Utf8Arguments::Utf8Arguments(int argc, char** argv) : words_(argv, argv + argc) {
    for (auto& word : words_) {
        pointers_.push_back(word.data());
    }
}

struct StopRequests::Previous {
    struct sigaction interrupt {};
    struct sigaction terminate {};
    struct sigaction pipe {};
};

StopRequests::StopRequests() : previous_(std::make_unique<Previous>()) {
    stopSignals = 0;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previous_->interrupt);
    ::sigaction(SIGTERM, &action, &previous_->terminate);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &previous_->pipe);
}

StopRequests::~StopRequests() {
    ::sigaction(SIGINT, &previous_->interrupt, nullptr);
    ::sigaction(SIGTERM, &previous_->terminate, nullptr);
    ::sigaction(SIGPIPE, &previous_->pipe, nullptr);
}

unsigned StopRequests::count() const {
    return stopSignals.load();
}

}  // namespace ni_usb_daq::host::platform
