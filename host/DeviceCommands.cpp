// The subcommands that ask the driver about its devices: scan and query, and
// the device list the other commands check names against.
#include <algorithm>
#include <cctype>
#include <iostream>

#include "ChannelNames.h"
#include "DeviceCommands.h"
#include "HostError.h"
#include "JsonOutput.h"
#include "NumberFormat.h"

namespace ni_usb_daq::host {

using nlohmann::json;

namespace {

/// A data entry that holds JSON text, parsed; HostError when it is missing.
json jsonEntry(const kra::device::OperationResult& result, const std::string& operation,
               const std::string& key) {
    const auto found = result.data.find(key);
    if (found == result.data.end()) {
        throw HostError(operation + " returned no \"" + key + "\"");
    }
    return parseEmbeddedJson(found->second);
}

/// "max_rate_per_channel_hz": entry k is the highest rate each channel may
/// run at when k + 1 channels share the converter. One channel may use the
/// single-channel maximum; more divide the aggregate maximum among them,
/// which is the limit the driver enforces when the clock is configured.
void addRatesPerChannel(json& device, std::size_t channels) {
    const auto single = device.find("ai_max_single_chan_rate_hz");
    const auto multi = device.find("ai_max_multi_chan_rate_hz");
    if (channels == 0 || single == device.end() || multi == device.end() || !single->is_number() ||
        !multi->is_number()) {
        return;
    }
    json rates = json::array();
    for (std::size_t n = 1; n <= channels; ++n) {
        rates.push_back(n == 1 ? single->get<double>()
                               : multi->get<double>() / static_cast<double>(n));
    }
    device["max_rate_per_channel_hz"] = std::move(rates);
}

/// "250 kS/s": a rate as a device's data sheet gives it.
std::string rateText(double hz) {
    if (hz >= 1e6) {
        return formatNumber(hz / 1e6) + " MS/s";
    }
    return hz >= 1e3 ? formatNumber(hz / 1e3) + " kS/s" : formatNumber(hz) + " S/s";
}

/// One line per device, its columns aligned.
std::string deviceLines(const json& devices) {
    constexpr std::size_t kCountColumn = 3;
    std::vector<std::vector<std::string>> rows;
    for (const json& device : devices) {
        if (!device.is_object()) {
            continue;
        }
        const auto item = [&device](const char* key, const std::string& before,
                                    const std::string& after) -> std::string {
            const auto found = device.find(key);
            if (found == device.end() || (!found->is_number() && !found->is_string())) {
                return "-";
            }
            return before +
                   (found->is_string() ? found->get<std::string>()
                                       : formatNumber(found->get<double>())) +
                   after;
        };
        const auto rate = device.find("ai_max_single_chan_rate_hz");
        rows.push_back(
            {item("device_name", "", ""), item("product_type", "", ""),
             item("serial_num", "serial ", ""), item("n_ai_chans", "", " analogue inputs"),
             rate != device.end() && rate->is_number() ? "max " + rateText(rate->get<double>())
                                                       : "-"});
    }
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::size_t pad = widths[c] - row[c].size();
            // The channel count reads best lined up on its units.
            line.append(c == kCountColumn ? pad : 0, ' ');
            line += row[c];
            if (c + 1 < row.size()) {
                line.append((c == kCountColumn ? 0 : pad) + 2, ' ');
            }
        }
        text += line + "\n";
    }
    return text;
}

/// The device's "ai_physical_chans" ("Dev1/ai0, Dev1/ai1, ...") as names.
std::vector<std::string> physicalChannels(const json& info) {
    const auto list = info.is_object() ? info.value("ai_physical_chans", "") : "";
    return expandChannelList(list).value_or(std::vector<std::string>());
}

/// A query of a device the driver does not know still succeeds, with next to
/// nothing in it: refuse the name as --device does.
void requireKnownDevice(DeviceSession& session, const std::string& name, const json& info) {
    if (const auto listed = listDevices(session)) {
        const bool known = std::any_of(listed->begin(), listed->end(), [&](const auto& device) {
            return sameDriverName(device.name, name);
        });
        if (!known) {
            throw HostError("unknown device '" + name + "': " + deviceListText(*listed));
        }
    } else if (!info.is_object() || !info.contains("product_type")) {
        throw HostError("unknown device '" + name + "': the driver does not describe it");
    }
}

/// The channel must be one of the device's physical channels: the driver
/// answers a query about any other with an empty description.
void requireChannelOf(const json& info, const std::string& device, const std::string& channel) {
    const auto channels = physicalChannels(info);
    if (std::any_of(channels.begin(), channels.end(),
                    [&](const std::string& name) { return sameDriverName(name, channel); })) {
        return;
    }
    std::string message = "unknown channel '" + channel + "': ";
    if (channels.empty()) {
        message += "the driver lists no analogue input of " + device;
    } else {
        message += device + " has " + channels.front() +
                   (channels.size() > 1 ? " to " + channels.back() : std::string()) + " (" +
                   std::to_string(channels.size()) + " analogue inputs)";
    }
    throw HostError(message);
}

}  // namespace

bool sameDriverName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string deviceListText(const std::vector<DeviceIdentity>& devices) {
    if (devices.empty()) {
        return "the driver lists no device";
    }
    std::string list = "the driver lists ";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        list += (i > 0 ? ", " : "") + devices[i].name;
        if (!devices[i].productType.empty()) {
            list += " (" + devices[i].productType + ")";
        }
    }
    return list;
}

std::optional<std::vector<DeviceIdentity>> listDevices(DeviceSession& session) {
    const auto result = session.execute("system", "scan_devices", {{"usb_only", "false"}});
    const auto text = result.data.find("devices");
    if (!result.success || text == result.data.end()) {
        return std::nullopt;
    }
    const json devices = parseEmbeddedJson(text->second);
    std::vector<DeviceIdentity> identities;
    for (const json& device : devices) {
        if (device.is_object() && device.contains("device_name")) {
            const auto serial = device.find("serial_num");
            identities.push_back(
                {device.value("device_name", ""), device.value("product_type", ""),
                 serial != device.end() && serial->is_number_integer() ? serial->dump() : ""});
        }
    }
    return identities;
}

int runScan(DeviceSession& session, bool allBuses, bool lines, std::ostream& out) {
    kra::device::OperationParams params;
    if (allBuses) {
        params.emplace("usb_only", "false");
    }
    const auto result = session.require("system", "scan_devices", params);
    json devices = jsonEntry(result, "scan_devices", "devices");
    if (lines) {
        out << deviceLines(devices);
        return 0;
    }
    for (json& device : devices) {
        if (!device.is_object() || !device.contains("device_name")) {
            continue;
        }
        // The ranges are only in a device's own description.
        const auto description = session.execute(
            "analog_input", "query", {{"device_name", device.value("device_name", "")}});
        if (description.success) {
            const json info = parseEmbeddedJson(textEntry(description.data, "info"));
            if (info.is_object() && info.contains("ai_voltage_ranges")) {
                device["ai_voltage_ranges"] = info["ai_voltage_ranges"];
            }
        }
        addRatesPerChannel(device, device.value("n_ai_chans", std::size_t{0}));
    }
    writeDocument(out, devices);
    return 0;
}

int runQuery(DeviceSession& session, const QueryOptions& options, std::ostream& out) {
    const std::string device = options.deviceName.value_or(session.device().name);
    kra::device::OperationParams params;
    params.emplace("device_name", device);
    if (options.channel) {
        params.emplace("channel", *options.channel);
    }
    const auto result = session.require("analog_input", "query", params);
    json info = jsonEntry(result, "query", "info");
    requireKnownDevice(session, device, info);
    if (options.channel) {
        requireChannelOf(info, device, *options.channel);
    }
    if (info.is_object()) {
        addRatesPerChannel(info, physicalChannels(info).size());
    }
    writeDocument(out, info);
    return 0;
}

}  // namespace ni_usb_daq::host
