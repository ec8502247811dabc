#include "ErrorText.h"

#include <array>
#include <charconv>

#include "StatusCodes.h"

namespace daqmx_sim {

namespace {

struct KnownStatus {
    int32 status;
    std::string_view summary;
};

constexpr std::array kKnownStatuses{
    KnownStatus{status::kBufferTooSmallForString, "Buffer is too small to fit the string."},
    KnownStatus{status::kReadBufferTooSmall, "Buffer is too small to fit read data."},
    KnownStatus{status::kInvalidDeviceId, "Device identifier is invalid."},
    KnownStatus{status::kDeviceNotAvailable,
                "Device cannot be accessed. It may have been disconnected, powered off or "
                "reserved by another process."},
    KnownStatus{status::kPhysicalChannelDoesNotExist,
                "Physical channel specified does not exist on this device."},
    KnownStatus{status::kInvalidAttributeValue,
                "Requested value is not a supported value for this property. The property "
                "value may be invalid because it conflicts with another property."},
    KnownStatus{status::kInvalidTask, "Task specified is invalid or does not exist."},
    KnownStatus{status::kDuplicateTaskName,
                "Task name specified conflicts with an existing task name."},
    KnownStatus{status::kSamplesNotYetAvailable,
                "Some or all of the samples requested have not yet been acquired. To wait for "
                "the samples to become available use a longer read timeout or read later in "
                "your program."},
    KnownStatus{status::kSamplesNoLongerAvailable,
                "The application is not able to keep up with the hardware acquisition. "
                "Attempted to read samples that are no longer available. Increasing the "
                "buffer size, reading the data more frequently, or specifying a fixed number "
                "of samples to read instead of reading all available samples might correct "
                "the problem."},
    KnownStatus{status::kTransferAborted,
                "The transfer was aborted: the device was removed or stopped responding while "
                "data was being transferred. Clear the task and create it again once the "
                "device is back."},
    KnownStatus{status::kDeviceReset,
                "The device was reset while the task was running, which aborted the task. "
                "Clear the task and create it again."},
    KnownStatus{status::kSamplesWillNeverBeAvailable,
                "Attempted to read a sample beyond the final sample acquired. The acquisition "
                "has stopped, therefore the sample specified by the combination of position "
                "and offset will never be available."},
    KnownStatus{status::kResourceReserved,
                "The specified resource is reserved. The operation could not be completed as "
                "specified."},
    KnownStatus{status::kNullPointer, "A required pointer argument is NULL."},
    KnownStatus{status::kInvalidTerminal,
                "Terminal is not valid for this device, or the device does not have it."},
    KnownStatus{status::kRouteNotSupported,
                "Specified route cannot be satisfied, because the hardware does not support it."},
    KnownStatus{status::kReferenceTriggerWhenContinuous,
                "A reference trigger cannot be used with continuous sample mode. Use finite "
                "samples, or remove the reference trigger."},
    KnownStatus{status::kTriggerWithoutSampleClock,
                "Triggers are not supported when the task has no sample clock (on-demand "
                "timing)."},
    KnownStatus{status::kInvalidAnalogTriggerSource,
                "The source of an analog trigger must be a channel of the task."},
    KnownStatus{status::kNoChannelsInTask,
                "Specified operation cannot be performed when there are no channels in the "
                "task."},
    KnownStatus{status::kTaskRunning,
                "Specified operation cannot be performed while the task is running."},
    KnownStatus{status::kDuplicateChannel,
                "Specified channel cannot be added to the task, because a channel with the "
                "same name is already in the task."},
    KnownStatus{status::kChannelNotInTask, "Specified channel is not in the task."},
    KnownStatus{status::kChannelTypeMismatch,
                "Channels of different types cannot be combined in one task."},
    KnownStatus{status::kReadTypeMismatch,
                "Read cannot be performed because this version of DAQmx Read does not match "
                "the type of channels in the task."},
    KnownStatus{status::kPropertyNotApplicable,
                "Specified property is not supported by the device or is not applicable to "
                "the task."},
    KnownStatus{status::kTaskStoppedDuringRead,
                "Read cannot be completed because the task was stopped while the read was "
                "waiting for samples."},
    KnownStatus{status::kOutOfMemory, "The driver ran out of memory."},
    KnownStatus{status::kInvalidRigDescription, "The device description could not be loaded."},
    KnownStatus{status::kInvalidEventSchedule, "The event schedule is not valid."},
    KnownStatus{status::kInternalFault,
                "The simulated driver failed inside; the call did not complete."},
};

}  // namespace

std::string_view statusSummary(int32 status) {
    for (const KnownStatus& known : kKnownStatuses) {
        if (known.status == status) {
            return known.summary;
        }
    }
    return status < 0 ? "The driver reported an error." : "The driver reported a warning.";
}

std::string errorText(int32 status, std::string_view summary,
                      std::initializer_list<ErrorDetail> details) {
    std::string text(summary);
    for (const auto& [name, value] : details) {
        text += '\n';
        text += name;
        text += ": ";
        text += value;
    }
    text += "\nStatus Code: ";
    text += std::to_string(status);
    return text;
}

std::string scriptedFailureText(std::string_view function, int32 status) {
    return errorText(status, statusSummary(status), {{"Function", std::string(function)}});
}

std::string formatNumber(double value) {
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

}  // namespace daqmx_sim
