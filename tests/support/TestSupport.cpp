#include "TestSupport.h"

#include <algorithm>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "TestPlatform.h"

namespace test_support {

PluginLibrary& PluginLibrary::instance() {
    static PluginLibrary library;
    return library;
}

PluginLibrary::PluginLibrary() {
    std::string error;
    handle_ = platform::loadLibrary(NI_USB_DAQ_PLUGIN_PATH, error);
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot load plug-in: " + error);
    }
    create_ = reinterpret_cast<Create>(platform::findSymbol(handle_, "createDeviceStub"));
    destroy_ = reinterpret_cast<Destroy>(platform::findSymbol(handle_, "destroyDeviceStub"));
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
        platform::setEnvironment(name_, *value);
    } else {
        platform::unsetEnvironment(name_);
    }
}

ScopedEnv::~ScopedEnv() {
    if (previous_) {
        platform::setEnvironment(name_, *previous_);
    } else {
        platform::unsetEnvironment(name_);
    }
}

namespace {
constexpr int kStderrDescriptor = 2;
}  // namespace

StderrCapture::StderrCapture() {
    captureFd_ = platform::createTemporaryFile(path_);
    if (captureFd_ < 0) {
        throw std::runtime_error("cannot create stderr capture file");
    }
    std::fflush(stderr);
    savedFd_ = platform::duplicateDescriptor(kStderrDescriptor);
    platform::redirectDescriptor(captureFd_, kStderrDescriptor);
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    platform::redirectDescriptor(savedFd_, kStderrDescriptor);
    platform::closeDescriptor(savedFd_);
    platform::closeDescriptor(captureFd_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
}

std::string StderrCapture::text() const {
    std::fflush(stderr);
    std::ifstream in(path_, std::ios::binary);
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

void StubTest::TearDown() {
    stub.reset();
    SimulatorTest::TearDown();
}

kra::device::OperationResult StubTest::execute(const std::string& operation,
                                               const kra::device::OperationParams& params) {
    return stub->execute("analog_input", operation, params, requestId_);
}

TempDir::TempDir() : path_(platform::createTemporaryDirectory()) {}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

namespace {

std::filesystem::path pathOfUtf8(const std::string& text) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

std::string utf8OfPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace

std::string TempDir::write(const std::string& relative, const std::string& content) const {
    const std::filesystem::path file = pathOfUtf8(path_) / pathOfUtf8(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return utf8OfPath(file);
}

std::string TempDir::file(const std::string& relative) const {
    return utf8OfPath(pathOfUtf8(path_) / pathOfUtf8(relative));
}

std::vector<std::string> TempDir::names() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(pathOfUtf8(path_))) {
        found.push_back(utf8OfPath(entry.path().filename()));
    }
    std::sort(found.begin(), found.end());
    return found;
}

int processThreadCount() {
    // ThreadSanitizer starts a helper thread of its own with the first thread
    // the process creates; make that happen before anyone takes a baseline.
    static const bool runtimeThreadsStarted = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)runtimeThreadsStarted;
    return platform::threadCount();
}

long residentKiB() {
    return platform::residentKiB();
}

std::set<std::string> exportedSymbols(const std::string& library) {
    return platform::exportedSymbols(library);
}

std::optional<std::string> permissionsCannotDeny() {
    return platform::permissionsCannotDeny();
}

std::optional<std::string> symlinksUnsupported() {
    return platform::symlinksUnsupported();
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
