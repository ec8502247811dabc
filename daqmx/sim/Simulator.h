#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ErrorText.h"
#include "EventSchedule.h"
#include "NIDAQmxSimControl.h"
#include "RigFile.h"
#include "ScaledClock.h"
#include "SimDevice.h"
#include "SimTask.h"

namespace daqmx_sim {

/// A failure a test scripted for one DAQmx function.
/// The rate and range a task gave a channel, for DAQmxSim_ExpectedSample.
struct ChannelUse {
    double rate = 0.0;
    VoltageRange range;
};

/// Time between the samples of an on-demand read, for the signal: reads
/// without a sample clock see the signal as if sampled at this rate.
inline constexpr double kOnDemandRate = 1000.0;

struct ScriptedFailure {
    int32 status = 0;
    int32 remaining = 0;  // < 0: every call from now on
};

/// The whole state of the simulated driver. Every member but readsInProgress
/// is guarded by `mutex`; a read that has to wait for its samples sleeps on
/// `changed` (which releases the mutex), and everything that could end such a
/// wait (stop, clear, reset, unplugging, a new time scale) notifies it.
class Simulator {
public:
    static Simulator& instance();

    /// Back to a freshly loaded driver; the caller holds `mutex`.
    void resetLocked();
    /// Replaces the devices and wiring; the caller holds `mutex`.
    void useRigLocked(Rig rig);

    /// Bookkeeping at the entry of every DAQmx call: the call log, the call
    /// counts and the scripted failures. Returns the scripted status (with the
    /// thread's error text set) when this call is to fail; the caller holds
    /// `mutex`.
    std::optional<int32> beginCall(const char* function);

    /// The device of that name, or null.
    SimDevice* findDevice(std::string_view name);
    const SimDevice* findDevice(std::string_view name) const;
    /// The device, or null with the thread's error set in `status`: an unknown
    /// device gives kInvalidDeviceId, an unplugged one kDeviceNotAvailable.
    SimDevice* presentDevice(std::string_view name, int32& status);

    /// The live task behind a handle, or null with kInvalidTask in `status`.
    SimTask* findTask(TaskHandle handle, int32& status);
    static TaskHandle handleOf(const SimTask& task);

    /// Another running task that holds the analogue input of `task`'s device.
    const SimTask* analogInputHolder(const SimTask& task) const;

    /// Unplugs or replugs a device; unplugging aborts its tasks (when modelled).
    void setDevicePresentLocked(SimDevice& device, bool present);
    /// Aborts the running tasks of a device with `status` until they are cleared.
    void abortRunningTasksLocked(std::string_view device, int32 status);
    /// Applies every scheduled event whose moment the clock has passed. Called
    /// wherever the driver reads its clock, so waiting reads see events promptly.
    void applyDueEventsLocked();
    void applyEventLocked(const SimEvent& event);
    /// Adds events to the schedule, keeping it ordered by time.
    void scheduleLocked(std::vector<SimEvent> events);
    /// Names of the devices events may refer to.
    std::vector<std::string> deviceNames() const;

    /// Starts `task` (also implicitly, from a read): clock, counters, generation.
    void startTaskLocked(SimTask& task);
    void stopTaskLocked(SimTask& task);

    bool realistic(uInt32 behaviour) const { return (realism & behaviour) != 0; }

    /// The samples of one channel of a task running at `rate`, as reads deliver them.
    SampleSource sourceFor(const SimDevice& device, const AnalogChannel& channel,
                           double rate) const;
    /// The signal a channel carries and the converter it goes through.
    SignalShape signalOf(const SimDevice& device, const AnalogChannel& channel) const;
    static ConverterSetup converterOf(const SimDevice& device, const AnalogChannel& channel);
    /// The samples of one channel of `task`, delivered sample 0 being the
    /// first one after its trigger.
    SampleSource taskSourceFor(const SimDevice& device, const SimTask& task,
                               const AnalogChannel& channel) const;
    /// What to add to a delivered sample's position for the index `task`'s
    /// source counts in.
    std::uint64_t sourceIndexOffset(const SimTask& task) const;
    /// Samples per channel the input buffer of a continuous task holds.
    std::uint64_t inputBufferSize(const SimTask& task) const;
    /// Notes the rate and range `task` gives each of its channels.
    void rememberChannelUse(const SimTask& task);
    /// Key of a physical channel in `channelUse` ("dev1/ai3").
    static std::string channelKey(std::string_view device, std::string_view channel);

    std::mutex mutex;
    std::condition_variable changed;

    std::vector<SimDevice> devices;
    std::map<std::uint64_t, SimTask> tasks;
    std::uint64_t nextTaskId = 1;  // never reset, so stale handles stay invalid
    std::uint64_t unnamedTaskCount = 0;
    ScaledClock clock;
    // Events still to happen, earliest first.
    std::vector<SimEvent> schedule;
    // Nets of the rig's wiring, each a list of terminals ("/Dev1/PFI4").
    std::vector<std::vector<std::string>> wiring;
    // Signals are functions of simulated time (rigs with wiring or clock
    // errors), else of the sample index.
    bool signalsInTime = false;

    std::map<std::string, ScriptedFailure, std::less<>> scriptedFailures;
    std::deque<int32> queuedReadStatuses;
    int32 readSampleCap = 0;
    int32 readCountSkew = 0;
    int32 lastActiveEdge = 0;  // of the latest sample clock configured
    double forcedClockRate = 0.0;
    uInt32 realism = DAQMXSIM_REALISM_ALL;
    std::uint64_t inputBufferOverride = 0;
    // The latest rate and range any task gave each channel since the reset.
    std::map<std::string, ChannelUse, std::less<>> channelUse;

    std::vector<const char*> callLog;
    std::uint64_t callsSinceReset = 0;
    std::map<std::string, std::uint64_t, std::less<>> callCounts;
    std::optional<std::uint64_t> armedPosition;
    int32 armedStatus = 0;

    std::atomic<uInt32> readsInProgress{0};

    // When the block of the latest analogue read became available and when that
    // read returned, in steady-clock nanoseconds (0: no such read since reset).
    std::atomic<std::int64_t> lastBlockReadyNs{0};
    std::atomic<std::int64_t> lastReadReturnedNs{0};

private:
    Simulator();
};

/// Fails with `code` and the driver's text for it, the task's name in front
/// of the status line as the driver writes it.
int32 taskFailure(int32 code, const SimTask& task, std::initializer_list<ErrorDetail> extra = {});

/// The failure of every read, count and start of a task whose acquisition
/// was aborted (its abortStatus).
int32 abortedTask(const SimTask& task);

/// The lock and the entry bookkeeping of one DAQmx call.
class DriverCall {
public:
    explicit DriverCall(const char* function);

    Simulator& sim;
    std::unique_lock<std::mutex> lock;
    /// Set when the call was scripted to fail: return it at once.
    std::optional<int32> scripted;
};

/// A DAQmx call on one task: the entry bookkeeping, then the task the handle
/// names. `task` is null when the call was scripted to fail, the handle names
/// no task or a call that writes a value was given no place for it
/// (`output`), and `status` is then what the call returns.
class TaskCall : public DriverCall {
public:
    TaskCall(const char* function, TaskHandle handle, bool writesValue = false,
             const void* output = nullptr);

    SimTask* task = nullptr;
    int32 status = 0;
};

/// A DAQmx call on one device: the entry bookkeeping, then the present device
/// `name` names (null for none). `device` is null when the call was scripted to
/// fail or the device is absent, and `status` is then what the call returns.
class DeviceCall : public DriverCall {
public:
    DeviceCall(const char* function, const char* name);

    SimDevice* device = nullptr;
    int32 status = 0;
};

/// Counts a thread as inside a read for its lifetime.
class ReadInProgress {
public:
    ReadInProgress();
    ~ReadInProgress();
    ReadInProgress(const ReadInProgress&) = delete;
    ReadInProgress& operator=(const ReadInProgress&) = delete;
};

}  // namespace daqmx_sim
