#include "TestSupport.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace test_support {

PluginLibrary& PluginLibrary::instance() {
    static PluginLibrary library;
    return library;
}

PluginLibrary::PluginLibrary() {
    handle_ = ::dlopen(NI_USB_DAQ_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        throw std::runtime_error(std::string("cannot load plug-in: ") + ::dlerror());
    }
    create_ = reinterpret_cast<Create>(::dlsym(handle_, "createDeviceStub"));
    destroy_ = reinterpret_cast<Destroy>(::dlsym(handle_, "destroyDeviceStub"));
    if (create_ == nullptr || destroy_ == nullptr) {
        throw std::runtime_error("plug-in lacks its entry points");
    }
}

void StubDeleter::operator()(kra::device::IDeviceStub* stub) const {
    PluginLibrary::instance().destroy()(stub);
}

StubPtr createStub() {
    return StubPtr(PluginLibrary::instance().create()());
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        previous_ = old;
    }
    if (value) {
        ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

ScopedEnv::~ScopedEnv() {
    if (previous_) {
        ::setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}

StderrCapture::StderrCapture() {
    char pattern[] = "/tmp/ni_usb_daq_stderr_XXXXXX";
    captureFd_ = ::mkstemp(pattern);
    if (captureFd_ < 0) {
        throw std::runtime_error("cannot create stderr capture file");
    }
    path_ = pattern;
    std::fflush(stderr);
    savedFd_ = ::dup(STDERR_FILENO);
    ::dup2(captureFd_, STDERR_FILENO);
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    ::dup2(savedFd_, STDERR_FILENO);
    ::close(savedFd_);
    ::close(captureFd_);
    ::unlink(path_.c_str());
}

std::string StderrCapture::text() const {
    std::fflush(stderr);
    std::ifstream in(path_);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> StderrCapture::lines() const {
    std::vector<std::string> result;
    std::istringstream in(text());
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

void SimulatorTest::SetUp() {
    DAQmxSim_Reset();
    DAQmxSim_SetTimeScale(0.0);
}

void SimulatorTest::TearDown() {
    EXPECT_EQ(DAQmxSim_LiveTaskCount(), 0u) << "a test left a driver task alive";
    DAQmxSim_Reset();
}

TempDir::TempDir() {
    char pattern[] = "/tmp/ni_usb_daq_test_XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot create temporary directory");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path file = std::filesystem::path(path_) / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
}

int processThreadCount() {
    // ThreadSanitizer starts a helper thread of its own with the first thread
    // the process creates; make that happen before anyone takes a baseline.
    static const bool runtimeThreadsStarted = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)runtimeThreadsStarted;
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

int settledThreadCount(int expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int count = processThreadCount();
    while (count > expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        count = processThreadCount();
    }
    return count;
}

}  // namespace test_support
