#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "TestPlatform.h"

namespace test_support::platform {

void* loadLibrary(const std::string& path, std::string& error) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = ::dlerror();
    }
    return handle;
}

void* findSymbol(void* library, const char* name) {
    return ::dlsym(library, name);
}

void setEnvironment(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
}

void unsetEnvironment(const std::string& name) {
    ::unsetenv(name.c_str());
}

int duplicateDescriptor(int descriptor) {
    return ::dup(descriptor);
}

void redirectDescriptor(int from, int to) {
    ::dup2(from, to);
}

void closeDescriptor(int descriptor) {
    ::close(descriptor);
}

int createTemporaryFile(std::string& path) {
    char pattern[] = "/tmp/ni_usb_daq_stderr_XXXXXX";
    const int descriptor = ::mkstemp(pattern);
    path = pattern;
    return descriptor;
}

std::string createTemporaryDirectory() {
    char pattern[] = "/tmp/ni_usb_daq_test_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot create temporary directory");
    }
    return pattern;
}

int threadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

std::set<std::string> exportedSymbols(const std::string& path) {
    std::set<std::string> symbols;
    const std::string command = "nm -D --defined-only --format=posix '" + path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    char name[512];
    char kind = 0;
    while (pipe && std::fscanf(pipe.get(), "%511s %c%*[^\n]", name, &kind) == 2) {
        if (kind != 'A') {  // version nodes are not code or data
            symbols.insert(name);
        }
    }
    return symbols;
}

std::optional<std::string> permissionsCannotDeny() {
    if (::geteuid() == 0) {
        return "permission bits do not stop root";
    }
    return std::nullopt;
}

std::optional<std::string> symlinksUnsupported() {
    return std::nullopt;
}

std::optional<std::string> separateCppRuntimes() {
    return std::nullopt;
}

}  // namespace test_support::platform
