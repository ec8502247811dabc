#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

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

/// True for a path in /dev or /proc, whose names the system makes up.
bool inSystemFolder(const std::filesystem::path& path) {
    auto part = path.begin();
    if (part == path.end() || *part != "/" || ++part == path.end()) {
        return false;
    }
    return *part == "dev" || *part == "proc";
}

/// Where the links from a name lead: through the system's folders, and
/// through one of this process's open files (/proc/PID/fd/N, which
/// /dev/stdout and /dev/fd/N lead to).
struct Route {
    bool systemFolder = false;
    bool openFile = false;
};

Route routeOf(std::filesystem::path path) {
    Route route;
    std::error_code error;
    constexpr int kMostLinks = 40;  // as the system's own path lookup allows
    for (int link = 0; link < kMostLinks; ++link) {
        const std::filesystem::path absolute = std::filesystem::absolute(path, error);
        // Where the name really lies: its folder with the links in it resolved.
        const std::filesystem::path place =
            std::filesystem::weakly_canonical(absolute.parent_path(), error) / absolute.filename();
        if (inSystemFolder(place)) {
            route.systemFolder = true;
            route.openFile = route.openFile || place.parent_path().filename() == "fd";
        }
        if (!std::filesystem::is_symlink(place, error)) {
            break;
        }
        const std::filesystem::path target = std::filesystem::read_symlink(place, error);
        if (error) {
            break;
        }
        path = target.is_absolute() ? target : place.parent_path() / target;
    }
    return route;
}

FileKind kindOf(const std::filesystem::path& path) {
    std::error_code error;
    switch (std::filesystem::status(path, error).type()) {
        case std::filesystem::file_type::none:
        case std::filesystem::file_type::not_found:
            return FileKind::Missing;
        case std::filesystem::file_type::regular:
            return FileKind::Regular;
        case std::filesystem::file_type::directory:
            return FileKind::Folder;
        case std::filesystem::file_type::character:
        case std::filesystem::file_type::block:
            return FileKind::Device;
        case std::filesystem::file_type::fifo:
            return FileKind::Pipe;
        case std::filesystem::file_type::socket:
            return FileKind::Socket;
        default:
            return FileKind::Other;
    }
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

OutputPlace outputPlace(const std::filesystem::path& path) {
    OutputPlace place;
    place.kind = kindOf(path);
    const Route route = routeOf(path);
    const bool replaceable = place.kind == FileKind::Regular || place.kind == FileKind::Missing;
    place.inPlace = !replaceable || route.systemFolder;
    place.append = place.kind == FileKind::Regular && route.openFile;
    return place;
}

std::optional<std::ofstream> openInPlace(const std::filesystem::path& path, std::ios::openmode mode,
                                         const StopRequests& stops,
                                         const std::function<void()>& waiting) {
    // open(2) of a pipe without a reader blocks until one comes, deaf to the
    // stop flag; a non-blocking open fails with ENXIO until then, so it is
    // tried again while no stop is asked for. What it opens stays open while
    // the stream opens the pipe again: a reader that saw every writer go
    // would take it as the end.
    int held = -1;
    std::error_code error;
    if (std::filesystem::is_fifo(path, error)) {
        for (bool first = true;
             (held = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0; first = false) {
            const int reason = errno;
            if (reason != ENXIO && reason != EINTR) {
                std::optional<std::ofstream> closed(std::in_place);
                errno = reason;
                return closed;
            }
            if (first && waiting) {
                waiting();
            }
            if (stops.requested()) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::optional<std::ofstream> stream(std::in_place, path, mode);
    const int reason = errno;
    if (held >= 0) {
        ::close(held);
    }
    if (!stream->is_open() && stops.requested()) {
        return std::nullopt;  // the reader went before it was reached, and a stop came
    }
    errno = reason;
    return stream;
}

void copyAccess(const std::filesystem::path& original, const std::filesystem::path& replacement) {
    struct stat facts {};
    if (::stat(original.c_str(), &facts) != 0) {
        return;  // nothing there to take after
    }
    // The owner first: changing it clears set-user-ID bits, which the mode
    // then puts back. Only root may give a file away.
    if (::geteuid() == 0 && ::chown(replacement.c_str(), facts.st_uid, facts.st_gid) != 0) {
        throw HostError("cannot give '" + replacement.string() + "' the owner of '" +
                        original.string() + "': " + std::generic_category().message(errno));
    }
    if (::chmod(replacement.c_str(), facts.st_mode & 07777) != 0) {
        throw HostError("cannot give '" + replacement.string() + "' the permissions of '" +
                        original.string() + "': " + std::generic_category().message(errno));
    }
}

unsigned long processId() {
    return static_cast<unsigned long>(::getpid());
}

bool listenerReusesAddress() {
    return true;
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
