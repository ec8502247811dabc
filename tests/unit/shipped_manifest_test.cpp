// The manifest that ships with the plug-in keeps to its schema's required keys
// and declared types, and the loader reads from it what the stub serves.
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "device/DeviceManifest.h"

using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

const std::string kDir = std::string(NI_USB_DAQ_SOURCE_DIR) + "/devices/ni-usb-daq/";

json readJson(const std::string& name) {
    std::ifstream file(kDir + name);
    return json::parse(file);
}

/// The JSON Schema type names the manifest schema uses.
bool hasType(const json& value, const std::string& type) {
    return (type == "string" && value.is_string()) || (type == "object" && value.is_object()) ||
           (type == "array" && value.is_array());
}

}  // namespace

TEST(ShippedManifest, HasEveryRequiredKeyWithTheTypeTheSchemaDeclares) {
    const json schema = readJson("device-manifest.schema.json");
    const json manifest = readJson("device-manifest.json");
    ASSERT_EQ(schema.at("$schema"), "http://json-schema.org/draft-07/schema#");
    for (const std::string key : schema.at("required")) {
        EXPECT_TRUE(manifest.contains(key)) << key;
    }
    for (const auto& [key, value] : manifest.items()) {
        ASSERT_TRUE(schema.at("properties").contains(key)) << "undeclared key " << key;
        json property = schema.at("properties").at(key);
        if (property.contains("$ref")) {  // "#/definitions/..."
            property =
                schema.at(json::json_pointer(property.at("$ref").get<std::string>().substr(1)));
        }
        EXPECT_TRUE(hasType(value, property.at("type"))) << key;
        const json& items = property.value("items", json::object());
        for (const auto& element : value.is_array() ? value : json::array()) {
            EXPECT_TRUE(hasType(element, items.value("type", "string"))) << key;
        }
    }
    for (const auto& [key, value] : manifest.at("defaultConfig").items()) {
        EXPECT_TRUE(value.is_string()) << key;  // additionalProperties: string
    }
    // One feature in each operations form.
    EXPECT_TRUE(
        manifest.at("capabilities").at("features").at("system").at("operations").is_array());
    EXPECT_TRUE(
        manifest.at("capabilities").at("features").at("analog_input").at("operations").is_object());
}

TEST(ShippedManifest, LoadsWithTheIdentityAndOperationsTheStubServes) {
    const kra::device::DeviceManifest m =
        kra::device::loadDeviceManifest(kDir + "device-manifest.json");
    EXPECT_EQ(m.deviceType + "|" + m.manufacturer + "|" + m.stubClass + "|" + m.libraryPath,
              "ni-usb-daq|National Instruments|kra::device::stubs::NIUSBDAQStub|libni_usb_daq.so");
    EXPECT_EQ(m.factorySymbol + "|" + m.destroySymbol, "createDeviceStub|destroyDeviceStub");
    EXPECT_EQ(m.supportedFeatures, (Strings{"system", "analog_input"}));
    ASSERT_EQ(m.capabilities.size(), 2u);
    EXPECT_EQ(m.capabilities.at("system").operations,
              (Strings{"get_capabilities", "scan_devices", "get_state"}));
    EXPECT_EQ(m.capabilities.at("analog_input").operations,
              (Strings{"query", "read_finite", "read_single", "configure", "start_stream",
                       "stop_stream", "stream"}));
    EXPECT_EQ(m.defaultConfig.size(), 18u);  // every key "configure" reads
    EXPECT_EQ(m.defaultConfig.at("device_name") + " " + m.defaultConfig.at("ai_channels") + " " +
                  m.defaultConfig.at("sample_clock_rate_hz"),
              "Dev1 Dev1/ai0 1000.0");
    EXPECT_EQ(m.metadata.at("driver"), "\"NI-DAQmx\"");
}
