// DAQmx entry points that describe and control devices, and the extended
// error information.
#include <algorithm>
#include <cstring>
#include <string>

#include "ChannelList.h"
#include "ErrorText.h"
#include "EscapedException.h"
#include "ExtendedError.h"
#include "OutputBuffers.h"
#include "Simulator.h"
#include "StatusCodes.h"

using namespace daqmx_sim;

namespace {

std::string joinedNames(const SimDevice& device, const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) {
            text += ", ";
        }
        text += device.name + "/" + name;
    }
    return text;
}

// A numeric device property: looks the device up, then writes `value(device)`.
template <typename Value, typename Getter>
int32 numericProperty(const char* function, const char device[], Value* data, Getter getter) {
    const DeviceCall call(function, device);
    if (call.device == nullptr) {
        return call.status;
    }
    if (data == nullptr) {
        return nullOutput("data");
    }
    *data = getter(*call.device);
    return 0;
}

}  // namespace

extern "C" {

int32 DAQmxGetExtendedErrorInfo(char errorString[], uInt32 bufferSize) try {
    DriverCall call("DAQmxGetExtendedErrorInfo");
    if (call.scripted) {
        return *call.scripted;
    }
    const std::string& text = lastErrorText();
    if (bufferSize == 0) {
        return static_cast<int32>(text.size() + 1);
    }
    if (errorString == nullptr) {
        return status::kNullPointer;
    }
    // Unlike other string properties the error text is cut to fit.
    const std::size_t length = std::min<std::size_t>(text.size(), bufferSize - 1);
    std::memcpy(errorString, text.data(), length);
    errorString[length] = '\0';
    return 0;
} catch (...) {
    return escapedException("DAQmxGetExtendedErrorInfo");
}

int32 DAQmxGetSysDevNames(char* data, uInt32 bufferSize) try {
    DriverCall call("DAQmxGetSysDevNames");
    if (call.scripted) {
        return *call.scripted;
    }
    std::string names;
    for (const SimDevice& device : call.sim.devices) {
        if (!names.empty()) {
            names += ", ";
        }
        names += device.name;
    }
    return writeStringProperty(names, data, bufferSize);
} catch (...) {
    return escapedException("DAQmxGetSysDevNames");
}

int32 DAQmxGetDevProductType(const char device[], char* data, uInt32 bufferSize) try {
    const DeviceCall call("DAQmxGetDevProductType", device);
    const SimDevice* const found = call.device;
    if (found == nullptr) {
        return call.status;
    }
    return writeStringProperty(found->productType, data, bufferSize);
} catch (...) {
    return escapedException("DAQmxGetDevProductType");
}

int32 DAQmxGetDevProductNum(const char device[], uInt32* data) try {
    return numericProperty("DAQmxGetDevProductNum", device, data,
                           [](const SimDevice& d) { return d.productNum; });
} catch (...) {
    return escapedException("DAQmxGetDevProductNum");
}

int32 DAQmxGetDevSerialNum(const char device[], uInt32* data) try {
    return numericProperty("DAQmxGetDevSerialNum", device, data,
                           [](const SimDevice& d) { return d.serialNum; });
} catch (...) {
    return escapedException("DAQmxGetDevSerialNum");
}

int32 DAQmxGetDevIsSimulated(const char device[], bool32* data) try {
    return numericProperty("DAQmxGetDevIsSimulated", device, data,
                           [](const SimDevice& d) { return bool32{d.simulated ? 1U : 0U}; });
} catch (...) {
    return escapedException("DAQmxGetDevIsSimulated");
}

int32 DAQmxGetDevAIMaxSingleChanRate(const char device[], float64* data) try {
    return numericProperty("DAQmxGetDevAIMaxSingleChanRate", device, data,
                           [](const SimDevice& d) { return d.aiMaxSingleChanRate; });
} catch (...) {
    return escapedException("DAQmxGetDevAIMaxSingleChanRate");
}

int32 DAQmxGetDevAIMaxMultiChanRate(const char device[], float64* data) try {
    return numericProperty("DAQmxGetDevAIMaxMultiChanRate", device, data,
                           [](const SimDevice& d) { return d.aiMaxMultiChanRate; });
} catch (...) {
    return escapedException("DAQmxGetDevAIMaxMultiChanRate");
}

int32 DAQmxGetDevAIPhysicalChans(const char device[], char* data, uInt32 bufferSize) try {
    const DeviceCall call("DAQmxGetDevAIPhysicalChans", device);
    const SimDevice* const found = call.device;
    if (found == nullptr) {
        return call.status;
    }
    return writeStringProperty(joinedNames(*found, found->aiChannels), data, bufferSize);
} catch (...) {
    return escapedException("DAQmxGetDevAIPhysicalChans");
}

int32 DAQmxGetDevAIVoltageRngs(const char device[], float64* data, uInt32 arraySizeInElements) try {
    const DeviceCall call("DAQmxGetDevAIVoltageRngs", device);
    const SimDevice* const found = call.device;
    if (found == nullptr) {
        return call.status;
    }
    const std::size_t needed = found->aiRanges.size() * 2;
    if (arraySizeInElements == 0) {
        return static_cast<int32>(needed);
    }
    if (data == nullptr) {
        return nullOutput("data");
    }
    if (arraySizeInElements < needed) {
        return fail(
            status::kBufferTooSmallForString,
            errorText(status::kBufferTooSmallForString, "Buffer is too small to fit the array.",
                      {{"Required Size (in elements)", std::to_string(needed)},
                       {"Buffer Size (in elements)", std::to_string(arraySizeInElements)}}));
    }
    for (std::size_t i = 0; i < found->aiRanges.size(); ++i) {
        data[2 * i] = found->aiRanges[i].low;
        data[2 * i + 1] = found->aiRanges[i].high;
    }
    return 0;
} catch (...) {
    return escapedException("DAQmxGetDevAIVoltageRngs");
}

int32 DAQmxGetPhysicalChanAITermCfgs(const char physicalChannel[], int32* data) try {
    DriverCall call("DAQmxGetPhysicalChanAITermCfgs");
    if (call.scripted) {
        return *call.scripted;
    }
    const std::string_view text = physicalChannel ? physicalChannel : "";
    std::string badItem;
    const auto names = expandChannelList(text, badItem);
    if (!names || names->size() != 1) {
        return fail(status::kPhysicalChannelDoesNotExist,
                    errorText(status::kPhysicalChannelDoesNotExist,
                              statusSummary(status::kPhysicalChannelDoesNotExist),
                              {{"Physical Channel Name", std::string(text)}}));
    }
    int32 status = 0;
    const SimDevice* device = call.sim.presentDevice(names->front().device, status);
    if (device == nullptr) {
        return status;
    }
    const int index = indexOfName(device->aiChannels, names->front().channel);
    if (index < 0) {
        return fail(status::kPhysicalChannelDoesNotExist,
                    errorText(status::kPhysicalChannelDoesNotExist,
                              statusSummary(status::kPhysicalChannelDoesNotExist),
                              {{"Device", device->name},
                               {"Physical Channel Name", names->front().channel}}));
    }
    if (data == nullptr) {
        return nullOutput("data");
    }
    *data = device->aiTermCfgBits[static_cast<std::size_t>(index)];
    return 0;
} catch (...) {
    return escapedException("DAQmxGetPhysicalChanAITermCfgs");
}

int32 DAQmxResetDevice(const char deviceName[]) try {
    const DeviceCall call("DAQmxResetDevice", deviceName);
    const SimDevice* const device = call.device;
    if (device == nullptr) {
        return call.status;
    }
    // A reset aborts whatever runs on the device: those tasks fail until
    // they are cleared. Tasks that were not running stay configured.
    call.sim.abortRunningTasksLocked(device->name, status::kDeviceReset);
    return 0;
} catch (...) {
    return escapedException("DAQmxResetDevice");
}

int32 DAQmxSelfTestDevice(const char deviceName[]) try {
    const DeviceCall call("DAQmxSelfTestDevice", deviceName);
    const SimDevice* const device = call.device;
    if (device == nullptr) {
        return call.status;
    }
    if (device->selfTestStatus != 0) {
        return fail(device->selfTestStatus,
                    errorText(device->selfTestStatus, "The device did not pass its self-test.",
                              {{"Device", device->name}}));
    }
    return 0;
} catch (...) {
    return escapedException("DAQmxSelfTestDevice");
}

}  // extern "C"
