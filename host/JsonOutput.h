#pragma once

#include <iosfwd>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "DeviceRecords.h"

namespace ni_usb_daq::host {

// The interface records as JSON documents, with lower snake case keys like
// every other JSON the plug-in produces.

nlohmann::json toJson(const kra::device::StringMap& map);
nlohmann::json toJson(const kra::device::DeviceInfo& info);
nlohmann::json toJson(const kra::device::HealthStatus& health);
nlohmann::json toJson(const kra::device::SelfTestResult& result);
nlohmann::json toJson(const kra::device::DeviceState& state);

/// "success", "error" and "data" of a result; data values that the plug-in
/// sends as JSON text (frames, device lists, ...) appear parsed.
nlohmann::json toJson(const kra::device::OperationResult& result);

/// A result's data map with the JSON-carrying values parsed.
nlohmann::json dataToJson(const kra::device::StringMap& data);

/// `text` parsed; when it is not JSON, the text itself as a JSON string.
nlohmann::json parseEmbeddedJson(const std::string& text);

/// One document, indented, followed by a newline. Invalid UTF-8 from a
/// device is replaced rather than allowed to abort the output.
void writeDocument(std::ostream& out, const nlohmann::json& document);

/// One line of compact JSON (for JSON lines output), without the newline.
std::string compactLine(const nlohmann::json& document);

}  // namespace ni_usb_daq::host
