#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IDeviceStub.h"
#include "daqmx/sim/NIDAQmxSimControl.h"

namespace test_support {

/// The built plug-in, opened with the system's loader and resolved by its two symbols, as a
/// host does it. Each test program opens it once.
class PluginLibrary {
public:
    using Create = kra::device::IDeviceStub* (*)();
    using Destroy = void (*)(kra::device::IDeviceStub*);

    static PluginLibrary& instance();

    Create create() const { return create_; }
    Destroy destroy() const { return destroy_; }
    void* handle() const { return handle_; }

private:
    PluginLibrary();
    void* handle_ = nullptr;
    Create create_ = nullptr;
    Destroy destroy_ = nullptr;
};

struct StubDeleter {
    void operator()(kra::device::IDeviceStub* stub) const;
};
using StubPtr = std::unique_ptr<kra::device::IDeviceStub, StubDeleter>;

/// A stub made by the plug-in's exported factory, freed by its exported destroy.
StubPtr createStub();

/// Sets (or, with nullopt, unsets) an environment variable for its lifetime.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

/// Captures what the process writes to file descriptor 2 while it lives.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    /// Everything written so far (the capture goes on).
    std::string text() const;
    std::vector<std::string> lines() const;

private:
    int savedFd_ = -1;
    int captureFd_ = -1;
    std::string path_;
};

/// Resets the simulator before and after each test and runs it unpaced, so no
/// test waits for real-time blocks. Fails a test that leaves a task alive.
class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

/// A simulator test with one stub, whose "analog_input" operations carry
/// `requestId`. The stub goes first at the end: the fixture checks that it
/// left no task behind.
class StubTest : public SimulatorTest {
protected:
    explicit StubTest(std::string requestId) : requestId_(std::move(requestId)) {}
    void TearDown() override;
    kra::device::OperationResult execute(const std::string& operation,
                                         const kra::device::OperationParams& params = {});

    StubPtr stub = createStub();

private:
    std::string requestId_;
};

/// A fresh temporary directory, removed with its contents at the end of its life.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    /// Writes `content` to path()/relative, creating directories on the way.
    /// Paths in and out are UTF-8 text.
    std::string write(const std::string& relative, const std::string& content) const;
    /// The UTF-8 path of path()/relative, which need not exist.
    std::string file(const std::string& relative) const;
    /// The names of the entries directly in the directory, sorted.
    std::vector<std::string> names() const;

private:
    std::string path_;
};

/// Threads of this process right now (from /proc, or a Windows thread snapshot).
int processThreadCount();

/// Threads of this process once it has come down to `expected`, waiting up to
/// two seconds: a joined thread can still be listed for a moment after the
/// join returns. A thread that really leaked shows after the wait.
int settledThreadCount(int expected);

/// Memory of this process in physical memory (resident set, working set), in KiB.
long residentKiB();

/// The symbols a shared library exports (ELF dynamic symbols, PE export table).
std::set<std::string> exportedSymbols(const std::string& library);

/// Why permission bits cannot keep this process out of a directory (root,
/// or Windows), or nullopt when they can.
std::optional<std::string> permissionsCannotDeny();

/// Why this process cannot create symbolic links (Windows without the
/// privilege, Wine), or nullopt when it can.
std::optional<std::string> symlinksUnsupported();

}  // namespace test_support
