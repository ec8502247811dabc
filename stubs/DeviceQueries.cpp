#include "stubs/DeviceQueries.h"

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

#include "daqmx/NIDAQmx.h"
#include "stubs/DriverStrings.h"
#include "stubs/TextFormat.h"

namespace kra::device::stubs {
namespace {

using nlohmann::json;

constexpr uInt32 kNameListBufferSize = 4096;
constexpr uInt32 kProductTypeBufferSize = 256;
constexpr uInt32 kVoltageRangeElements = 64;  // 32 pairs, read again when more

constexpr std::array<std::pair<int32, const char*>, 4> kTerminalConfigNames = {{
    {DAQmx_Val_Bit_TermCfg_RSE, "RSE"},
    {DAQmx_Val_Bit_TermCfg_NRSE, "NRSE"},
    {DAQmx_Val_Bit_TermCfg_Diff, "Differential"},
    {DAQmx_Val_Bit_TermCfg_PseudoDIFF, "PseudoDifferential"},
}};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/// A numeric property, present only when the call returned exactly 0.
template <typename T>
std::optional<T> readNumber(int32(DAQMX_CALL* call)(const char[], T*), const std::string& device) {
    T value{};
    if (call(device.c_str(), &value) != 0) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> sysDevNames() {
    return readDriverString(
        [](char* buffer, uInt32 size) { return DAQmxGetSysDevNames(buffer, size); },
        kNameListBufferSize);
}

std::optional<std::string> physicalChannels(const std::string& device) {
    return readDriverString(
        [&device](char* buffer, uInt32 size) {
            return DAQmxGetDevAIPhysicalChans(device.c_str(), buffer, size);
        },
        kNameListBufferSize);
}

/// The numbers both the device list and the information document carry, in
/// the order of their driver calls.
void addDeviceNumbers(json& document, const std::string& device) {
    if (const auto simulated = readNumber(DAQmxGetDevIsSimulated, device)) {
        document["is_simulated"] = *simulated != 0;
    }
    if (const auto serial = readNumber(DAQmxGetDevSerialNum, device)) {
        document["serial_num"] = *serial;
    }
    if (const auto rate = readNumber(DAQmxGetDevAIMaxSingleChanRate, device)) {
        document["ai_max_single_chan_rate_hz"] = *rate;
    }
    if (const auto rate = readNumber(DAQmxGetDevAIMaxMultiChanRate, device)) {
        document["ai_max_multi_chan_rate_hz"] = *rate;
    }
}

bool isUsbProductType(const std::string& type) {
    return type.starts_with("USB-");
}

std::optional<json> voltageRanges(const std::string& device) {
    const auto values = readDriverArray(
        [&device](float64* buffer, uInt32 size) {
            return DAQmxGetDevAIVoltageRngs(device.c_str(), buffer, size);
        },
        kVoltageRangeElements);
    if (!values) {
        return std::nullopt;
    }
    json ranges = json::array();
    for (std::size_t pair = 0; 2 * pair + 1 < values->size(); ++pair) {
        const float64 low = (*values)[2 * pair];
        const float64 high = (*values)[2 * pair + 1];
        if (low == 0.0 && high == 0.0) {
            break;  // the driver ends its list with a zero pair
        }
        ranges.push_back(json::array({low, high}));
    }
    return ranges;
}

/// The device's PFI terminals as the driver writes them ("/Dev1/PFI0").
std::optional<json> pfiTerminals(const std::string& device) {
    const auto terminals = readDriverString(
        [&device](char* buffer, uInt32 size) {
            return DAQmxGetDevTerminals(device.c_str(), buffer, size);
        },
        kNameListBufferSize);
    if (!terminals) {
        return std::nullopt;
    }
    json pfi = json::array();
    for (const std::string& terminal : splitNameList(*terminals)) {
        if (terminal.substr(terminal.rfind('/') + 1).starts_with("PFI")) {
            pfi.push_back(terminal);
        }
    }
    return pfi;
}

/// Which start and reference triggers the device has and the PFI terminals triggers and
/// clocks can come from;
/// nothing when the driver could say neither.
std::optional<json> triggerDocument(const std::string& device) {
    const auto digital = readNumber(DAQmxGetDevDigTrigSupported, device);
    const auto analog = readNumber(DAQmxGetDevAnlgTrigSupported, device);
    const auto pfi = pfiTerminals(device);
    const auto usage = readNumber(DAQmxGetDevAITrigUsage, device);
    if (!digital && !analog && !pfi && !usage) {
        return std::nullopt;
    }
    json start = json::array();
    if (digital.value_or(0) != 0) {
        start.push_back("DIGITAL_EDGE");
    }
    if (analog.value_or(0) != 0) {
        start.push_back("ANALOG_EDGE");
    }
    // The edges a device detects serve its reference trigger too, where it has one.
    const bool reference = (usage.value_or(0) & DAQmx_Val_Bit_TriggerUsageTypes_Reference) != 0;
    json document = {{"start_trigger_types", start},
                     {"reference_trigger_types", reference ? start : json::array()}};
    if (pfi) {
        document["pfi_terminals"] = *pfi;
    }
    return document;
}

json terminalConfigNames(int32 mask) {
    json names = json::array();
    for (const auto& [bit, name] : kTerminalConfigNames) {
        if ((mask & bit) != 0) {
            names.push_back(name);
        }
    }
    return names;
}

}  // namespace

std::optional<std::string> readProductType(const std::string& device, int32* failedStatus) {
    return readDriverString(
        [&device](char* buffer, uInt32 size) {
            return DAQmxGetDevProductType(device.c_str(), buffer, size);
        },
        kProductTypeBufferSize, failedStatus);
}

std::vector<std::string> splitNameList(std::string_view text) {
    std::vector<std::string> names;
    while (true) {
        const std::size_t comma = text.find(',');
        std::string_view piece = text.substr(0, comma);
        while (!piece.empty() && isBlank(piece.front())) {
            piece.remove_prefix(1);
        }
        while (!piece.empty() && isBlank(piece.back())) {
            piece.remove_suffix(1);
        }
        if (!piece.empty()) {
            names.emplace_back(piece);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return names;
}

json scanDevices(bool usbOnly) {
    json devices = json::array();
    const auto names = sysDevNames();
    if (!names) {
        return devices;
    }
    for (const std::string& name : splitNameList(*names)) {
        const std::string type = readProductType(name).value_or("");
        if (usbOnly && !isUsbProductType(type)) {
            continue;
        }
        json device = {{"device_name", name}, {"product_type", type}};
        addDeviceNumbers(device, name);
        if (const auto channels = physicalChannels(name)) {
            const std::vector<std::string> list = splitNameList(*channels);
            device["ai_physical_chans"] = list;
            device["n_ai_chans"] = list.size();
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

json queryDeviceDocument(const std::string& deviceName, const std::string& channel) {
    json document = {{"device_name", deviceName}};
    if (const auto type = readProductType(deviceName)) {
        document["product_type"] = *type;
    }
    addDeviceNumbers(document, deviceName);
    if (auto ranges = voltageRanges(deviceName)) {
        document["ai_voltage_ranges"] = std::move(*ranges);
    }
    if (const auto channels = physicalChannels(deviceName)) {
        document["ai_physical_chans"] = *channels;
    }
    if (auto triggers = triggerDocument(deviceName)) {
        document["triggers"] = std::move(*triggers);
    }
    if (!channel.empty()) {
        document["channel"] = channel;
        if (const auto mask = readNumber(DAQmxGetPhysicalChanAITermCfgs, channel)) {
            document["supported_terminal_configs"] = terminalConfigNames(*mask);
        }
    }
    return document;
}

nlohmann::json deviceTriggers(const std::string& deviceName) {
    return triggerDocument(deviceName).value_or(json());
}

void refreshDeviceInfo(const std::string& deviceName, DeviceInfo& info) {
    if (auto type = readProductType(deviceName)) {
        info.model = std::move(*type);
    }
    if (const auto productNum = readNumber(DAQmxGetDevProductNum, deviceName)) {
        info.properties.insert_or_assign("product_num", std::to_string(*productNum));
    }
    if (const auto serial = readNumber(DAQmxGetDevSerialNum, deviceName)) {
        info.serialNumber = std::to_string(*serial);
        info.properties.insert_or_assign("serial_hex", "0x" + formatHex(*serial));
    }
    if (const auto simulated = readNumber(DAQmxGetDevIsSimulated, deviceName)) {
        info.properties.insert_or_assign("is_simulated", *simulated != 0 ? "true" : "false");
    }
    if (const auto rate = readNumber(DAQmxGetDevAIMaxSingleChanRate, deviceName)) {
        info.properties.insert_or_assign("ai_max_single_chan_rate_hz", formatFixed(*rate));
    }
    if (const auto rate = readNumber(DAQmxGetDevAIMaxMultiChanRate, deviceName)) {
        info.properties.insert_or_assign("ai_max_multi_chan_rate_hz", formatFixed(*rate));
    }
}

}  // namespace kra::device::stubs
