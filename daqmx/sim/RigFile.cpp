// Rig description files: the devices the simulated driver pretends to have.
//
// A rig file is a JSON object with one member "devices", an array of device
// objects. Members of a device object (only "name" and "product_type" are
// required; the others default as shown):
//
//   "name"                         string   device name, e.g. "Dev1" (unique, any case)
//   "product_type"                 string   e.g. "USB-6211", "PCIe-6321"
//   "product_num"                  integer  0
//   "serial_num"                   integer  0
//   "simulated"                    boolean  true
//   "ai_channels"                  integer N (names ai0..ai<N-1>) or array of
//                                  short names such as ["ai0", "ai1"]; 0
//   "ai_max_single_chan_rate_hz"   number   0
//   "ai_max_multi_chan_rate_hz"    number   aggregate over a task's channels; 0
//   "ai_voltage_ranges"            array of [low, high] pairs, volts; []
//   "ai_terminal_configs"          integer  DAQmx_Val_Bit_TermCfg_* bits for every
//                                  channel; 1 (RSE)
//   "ai_terminal_configs_by_channel" object  short channel name -> bits, overrides
//   "di_lines"                     integer N (port0/line0..line<N-1>) or array of
//                                  short names such as ["port0/line0"]; 0
//   "sample_clock_timebase_hz"     number   granted rate = timebase / round(timebase /
//                                  requested), below timebase / 2^32 refused; 0
//                                  grants the requested rate exactly
//   "self_test_status"             integer  status of DAQmxSelfTestDevice; 0
//   "ai_resolution_bits"           integer  converter resolution, 1 to 32; 16
//   "ai_buffer_samples_per_channel" integer input buffer of continuous tasks;
//                                  0 picks the driver's default for the rate
//   "ai_signals"                   object   short channel name -> signal; channels
//                                  not named carry a distinct default sine
//   "pfi"                          object   {"inputs": I, "outputs": O, "bidirectional": B}:
//                                  PFI0.. are I input-only terminals, then O
//                                  output-only, then B both ways; a USB-6211 has
//                                  4, 4, 0 and a USB-6002 0, 0, 2 unless given,
//                                  other products none
//   "triggers"                     array    of "digital_edge", "analog_edge",
//                                  "reference": the triggers the device has; a
//                                  USB-6002 ["digital_edge"], others
//                                  ["digital_edge", "reference"] unless given
//   "clock_ppm"                    number   timebase error: its sample clocks run
//                                  that many parts per million fast; 0
//
// Beside "devices" the object may hold "wiring": an array of nets, each an
// array of two or more terminals joined by wire ("/Dev1/PFI4", the leading
// slash optional). A start trigger or sample clock exported to one terminal
// of a net reaches every other. In a rig with wiring or a non-zero
// "clock_ppm", signals are functions of simulated time (sample k of a task is
// taken at its start plus k periods of its device's clock), so devices
// sampling the same signal agree when they share a clock and drift apart by
// their clocks' error when they do not; elsewhere they are functions of the
// sample index.
//
// A signal object (every member optional, defaults as shown):
//
//   "kind"          "sine", "square", "triangle", "sawtooth", "noise" or "constant"; "sine"
//   "amplitude"     volts (peak; for "noise" the RMS); 1
//   "offset"        volts (for "constant" the value); 0
//   "frequency_hz"  cycles per second of the task's time (sample index / rate); 10
//   "phase_deg"     where in its cycle sample 0 lies, degrees; 0
//   "noise_rms"     volts of noise added (Gaussian-like, repeatable); 0
//
// daqmx/sim/devices-example.json is a complete example.
#include "RigFile.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "TextFile.h"

namespace daqmx_sim {

namespace {

using nlohmann::json;

class RigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The member `name` of `object`, or `fallback` when it has none. A reference,
// never a copy: copying a value recurses as deep as the value is nested, and a
// file can nest a million deep.
const json& memberOr(const json& object, const char* name, const json& fallback) {
    const auto found = object.find(name);
    return found == object.end() ? fallback : *found;
}

std::vector<std::string> nameList(const json& value, const std::string& prefix,
                                  const std::string& member) {
    std::vector<std::string> names;
    if (value.is_number_integer()) {
        const auto count = value.get<long long>();
        if (count < 0 || count > 4096) {
            throw RigError("\"" + member + "\" must be a count between 0 and 4096");
        }
        for (long long i = 0; i < count; ++i) {
            names.push_back(prefix + std::to_string(i));
        }
        return names;
    }
    if (!value.is_array()) {
        throw RigError("\"" + member + "\" must be a count or an array of names");
    }
    for (const json& item : value) {
        if (!item.is_string() || item.get<std::string>().empty()) {
            throw RigError("\"" + member + "\" holds a name that is not a non-empty string");
        }
        const std::string name = item.get<std::string>();
        if (indexOfName(names, name) >= 0) {
            throw RigError("\"" + member + "\" names " + name + " twice");
        }
        names.push_back(name);
    }
    return names;
}

template <typename Unsigned>
Unsigned unsignedMember(const json& device, const char* member, Unsigned fallback = 0) {
    const json defaultValue(fallback);
    const json& value = memberOr(device, member, defaultValue);
    if (!value.is_number_integer() || value.get<long long>() < 0 ||
        value.get<unsigned long long>() > std::numeric_limits<Unsigned>::max()) {
        throw RigError(std::string("\"") + member + "\" must be an unsigned 32-bit integer");
    }
    return static_cast<Unsigned>(value.get<unsigned long long>());
}

// A whole number that fits a status or a bit set; a float or an integer out
// of range would otherwise be cast, which C++ leaves undefined.
int32 int32Value(const json& value, const std::string& member) {
    constexpr auto kMin = std::numeric_limits<int32>::min();
    constexpr auto kMax = std::numeric_limits<int32>::max();
    const bool fits = value.is_number_unsigned()
                          ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(kMax)
                          : value.is_number_integer() && value.get<std::int64_t>() >= kMin &&
                                value.get<std::int64_t>() <= kMax;
    if (!fits) {
        throw RigError("\"" + member + "\" must be a 32-bit integer");
    }
    return static_cast<int32>(value.get<std::int64_t>());
}

int32 int32Member(const json& device, const char* member, int32 fallback) {
    return int32Value(memberOr(device, member, json(fallback)), member);
}

double nonNegativeNumber(const json& device, const char* member) {
    const json zero(0.0);
    const json& value = memberOr(device, member, zero);
    if (!value.is_number() || value.get<double>() < 0.0) {
        throw RigError(std::string("\"") + member + "\" must be a number >= 0");
    }
    return value.get<double>();
}

struct SignalKindName {
    std::string_view name;
    SignalKind kind;
};

constexpr SignalKindName kSignalKinds[] = {
    {"sine", SignalKind::Sine},         {"square", SignalKind::Square},
    {"triangle", SignalKind::Triangle}, {"sawtooth", SignalKind::Sawtooth},
    {"noise", SignalKind::Noise},       {"constant", SignalKind::Constant},
};

double finiteNumber(const json& object, const char* member, double fallback, bool nonNegative) {
    const json defaultValue(fallback);
    const json& value = memberOr(object, member, defaultValue);
    if (!value.is_number() || !std::isfinite(value.get<double>()) ||
        (nonNegative && value.get<double>() < 0.0)) {
        throw RigError(std::string("\"") + member + "\" must be a finite number" +
                       (nonNegative ? " >= 0" : ""));
    }
    return value.get<double>();
}

SignalShape parseSignal(const json& description, const std::string& channel) {
    if (!description.is_object()) {
        throw RigError("the signal of " + channel + " must be an object");
    }
    try {
        SignalShape shape;
        const json sine("sine");
        const json& kind = memberOr(description, "kind", sine);
        const auto known = std::find_if(
            std::begin(kSignalKinds), std::end(kSignalKinds), [&](const SignalKindName& k) {
                return kind.is_string() && kind.get<std::string>() == k.name;
            });
        if (known == std::end(kSignalKinds)) {
            throw RigError(
                "\"kind\" must be one of sine, square, triangle, sawtooth, noise, "
                "constant");
        }
        shape.kind = known->kind;
        shape.amplitude = finiteNumber(description, "amplitude", 1.0, true);
        shape.offset = finiteNumber(description, "offset", 0.0, false);
        shape.frequencyHz = finiteNumber(description, "frequency_hz", 10.0, true);
        shape.phaseDeg = finiteNumber(description, "phase_deg", 0.0, false);
        shape.noiseRms = finiteNumber(description, "noise_rms", 0.0, true);
        return shape;
    } catch (const RigError& error) {
        throw RigError("signal of " + channel + ": " + error.what());
    }
}

void parseTriggerCapabilities(const json& entry, SimDevice& device) {
    applyProductTriggerDefaults(device);
    if (entry.contains("pfi")) {
        const json& pfi = entry["pfi"];
        if (!pfi.is_object()) {
            throw RigError("\"pfi\" must be an object");
        }
        device.pfi.clear();
        for (const auto& [member, value] : pfi.items()) {
            if (member != "inputs" && member != "outputs" && member != "bidirectional") {
                throw RigError("\"pfi\" has no member \"" + member + "\"");
            }
        }
        const std::pair<const char*, TerminalDirection> kinds[] = {
            {"inputs", TerminalDirection::Input},
            {"outputs", TerminalDirection::Output},
            {"bidirectional", TerminalDirection::Bidirectional}};
        for (const auto& [member, direction] : kinds) {
            const auto count = unsignedMember<std::uint32_t>(pfi, member);
            for (std::uint32_t i = 0; i < count && device.pfi.size() < 1024; ++i) {
                device.pfi.push_back({"PFI" + std::to_string(device.pfi.size()), direction});
            }
        }
    }
    if (entry.contains("triggers")) {
        const json& triggers = entry["triggers"];
        if (!triggers.is_array()) {
            throw RigError("\"triggers\" must be an array");
        }
        device.digitalTriggers = device.analogTriggers = device.referenceTriggers = false;
        for (const json& trigger : triggers) {
            const std::string name = trigger.is_string() ? trigger.get<std::string>() : "";
            if (name == "digital_edge") {
                device.digitalTriggers = true;
            } else if (name == "analog_edge") {
                device.analogTriggers = true;
            } else if (name == "reference") {
                device.referenceTriggers = true;
            } else {
                throw RigError(
                    "\"triggers\" may hold only \"digital_edge\", \"analog_edge\" and "
                    "\"reference\"");
            }
        }
    }
    device.clockPpm = finiteNumber(entry, "clock_ppm", 0.0, false);
}

SimDevice parseDevice(const json& entry) {
    if (!entry.is_object()) {
        throw RigError("every entry of \"devices\" must be an object");
    }
    if (!entry.contains("name") || !entry["name"].is_string() ||
        entry["name"].get<std::string>().empty()) {
        throw RigError("a device lacks its \"name\"");
    }
    SimDevice device;
    device.name = entry["name"].get<std::string>();
    const auto where = [&device](const std::string& what) {
        return RigError("device " + device.name + ": " + what);
    };
    try {
        if (!entry.contains("product_type") || !entry["product_type"].is_string()) {
            throw RigError("\"product_type\" must be a string");
        }
        device.productType = entry["product_type"].get<std::string>();
        device.productNum = unsignedMember<uInt32>(entry, "product_num");
        device.serialNum = unsignedMember<uInt32>(entry, "serial_num");
        device.simulated = entry.value("simulated", true);
        device.aiChannels = nameList(memberOr(entry, "ai_channels", json(0)), "ai", "ai_channels");
        device.aiMaxSingleChanRate = nonNegativeNumber(entry, "ai_max_single_chan_rate_hz");
        device.aiMaxMultiChanRate = nonNegativeNumber(entry, "ai_max_multi_chan_rate_hz");
        const json emptyArray = json::array();
        const json& ranges = memberOr(entry, "ai_voltage_ranges", emptyArray);
        if (!ranges.is_array()) {
            throw RigError("\"ai_voltage_ranges\" must be an array");
        }
        for (const json& pair : ranges) {
            if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number() ||
                !pair[1].is_number() || !(pair[0].get<double>() < pair[1].get<double>())) {
                throw RigError("\"ai_voltage_ranges\" must hold [low, high] pairs with low < high");
            }
            device.aiRanges.push_back({pair[0].get<double>(), pair[1].get<double>()});
        }
        const int32 bits = int32Member(entry, "ai_terminal_configs", DAQmx_Val_Bit_TermCfg_RSE);
        device.aiTermCfgBits.assign(device.aiChannels.size(), bits);
        const json emptyObject = json::object();
        const json& byChannel = memberOr(entry, "ai_terminal_configs_by_channel", emptyObject);
        if (!byChannel.is_object()) {
            throw RigError("\"ai_terminal_configs_by_channel\" must be an object");
        }
        for (const auto& [channel, channelBits] : byChannel.items()) {
            const int index = indexOfName(device.aiChannels, channel);
            if (index < 0) {
                throw RigError("\"ai_terminal_configs_by_channel\" names unknown channel " +
                               channel);
            }
            device.aiTermCfgBits[static_cast<std::size_t>(index)] =
                int32Value(channelBits, "ai_terminal_configs_by_channel\" of \"" + channel);
        }
        device.diLines = nameList(memberOr(entry, "di_lines", json(0)), "port0/line", "di_lines");
        device.sampleClockTimebaseHz = nonNegativeNumber(entry, "sample_clock_timebase_hz");
        device.selfTestStatus = int32Member(entry, "self_test_status", 0);
        device.aiResolutionBits = unsignedMember<unsigned>(entry, "ai_resolution_bits", 16);
        if (device.aiResolutionBits < 1 || device.aiResolutionBits > 32) {
            throw RigError("\"ai_resolution_bits\" must lie between 1 and 32");
        }
        device.aiBufferSamplesPerChannel =
            unsignedMember<std::uint32_t>(entry, "ai_buffer_samples_per_channel");
        const json& signals = memberOr(entry, "ai_signals", emptyObject);
        if (!signals.is_object()) {
            throw RigError("\"ai_signals\" must be an object");
        }
        device.aiSignals.assign(device.aiChannels.size(), std::nullopt);
        for (const auto& [channel, description] : signals.items()) {
            const int index = indexOfName(device.aiChannels, channel);
            if (index < 0) {
                throw RigError("\"ai_signals\" names unknown channel " + channel);
            }
            device.aiSignals[static_cast<std::size_t>(index)] = parseSignal(description, channel);
        }
        parseTriggerCapabilities(entry, device);
    } catch (const RigError& error) {
        throw where(error.what());
    } catch (const json::exception& error) {
        throw where(error.what());
    }
    return device;
}

// The canonical spelling of a wired terminal: "/Dev1/PFI4" with the device's
// own name, checked against the rig.
std::string wiredTerminal(const json& value, const std::vector<SimDevice>& devices) {
    if (!value.is_string()) {
        throw RigError("\"wiring\" must hold arrays of terminal names");
    }
    std::string text = value.get<std::string>();
    const std::string given = text;
    if (!text.empty() && text.front() == '/') {
        text.erase(0, 1);
    }
    const std::size_t slash = text.find('/');
    const SimDevice* device = nullptr;
    for (const SimDevice& candidate : devices) {
        if (slash != std::string::npos && sameName(candidate.name, text.substr(0, slash))) {
            device = &candidate;
        }
    }
    if (device == nullptr) {
        throw RigError("\"wiring\" names " + given + ", not a terminal of a device of the rig");
    }
    const std::string terminal = text.substr(slash + 1);
    for (const PfiTerminal& pfi : device->pfi) {
        if (sameName(pfi.name, terminal)) {
            return "/" + device->name + "/" + pfi.name;
        }
    }
    throw RigError("\"wiring\" names " + given + ", a terminal " + device->name + " lacks");
}

std::vector<std::vector<std::string>> parseWiring(const json& document,
                                                  const std::vector<SimDevice>& devices) {
    std::vector<std::vector<std::string>> nets;
    const json none = json::array();
    const json& wiring = memberOr(document, "wiring", none);
    if (!wiring.is_array()) {
        throw RigError("\"wiring\" must be an array of nets");
    }
    for (const json& net : wiring) {
        if (!net.is_array() || net.size() < 2) {
            throw RigError("every net of \"wiring\" must join two or more terminals");
        }
        std::vector<std::string> terminals;
        for (const json& terminal : net) {
            terminals.push_back(wiredTerminal(terminal, devices));
        }
        nets.push_back(std::move(terminals));
    }
    return nets;
}

}  // namespace

bool Rig::signalsInTime() const {
    return !wiring.empty() || std::any_of(devices.begin(), devices.end(),
                                          [](const SimDevice& d) { return d.clockPpm != 0.0; });
}

Rig builtInRig() {
    return {builtInDevices(), {}};
}

std::optional<Rig> loadRigFile(const std::string& path, std::string& problem) {
    const auto text = readTextFile(path, problem);
    if (!text) {
        return std::nullopt;
    }
    try {
        const json document = json::parse(*text);
        if (!document.is_object() || !document.contains("devices") ||
            !document["devices"].is_array()) {
            throw RigError("the file must be an object with a \"devices\" array");
        }
        std::vector<SimDevice> devices;
        for (const json& entry : document["devices"]) {
            SimDevice device = parseDevice(entry);
            for (const SimDevice& earlier : devices) {
                if (sameName(earlier.name, device.name)) {
                    throw RigError("device " + device.name + " is described twice");
                }
            }
            devices.push_back(std::move(device));
        }
        auto wiring = parseWiring(document, devices);
        return Rig{std::move(devices), std::move(wiring)};
    } catch (const std::exception& error) {
        problem = path + ": " + error.what();
        return std::nullopt;
    }
}

}  // namespace daqmx_sim
