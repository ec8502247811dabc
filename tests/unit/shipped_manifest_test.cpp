// The manifest that ships with the plug-in: it keeps to its own schema's
// required keys and types, and the loader reads from it what the stub needs.
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "device/DeviceManifest.h"

using nlohmann::json;
using Strings = std::vector<std::string>;

namespace {

const std::string kManifestPath =
    std::string(NI_USB_DAQ_SOURCE_DIR) + "/devices/ni-usb-daq/device-manifest.json";
const std::string kSchemaPath =
    std::string(NI_USB_DAQ_SOURCE_DIR) + "/devices/ni-usb-daq/device-manifest.schema.json";

json readJson(const std::string& path) {
    std::ifstream file(path);
    EXPECT_TRUE(file.is_open()) << path;
    return json::parse(file);
}

/// The JSON Schema type names this schema uses.
bool hasType(const json& value, const std::string& type) {
    if (type == "string")
        return value.is_string();
    if (type == "object")
        return value.is_object();
    if (type == "array")
        return value.is_array();
    if (type == "number")
        return value.is_number();
    if (type == "integer")
        return value.is_number_integer();
    if (type == "boolean")
        return value.is_boolean();
    ADD_FAILURE() << "type name this test does not know: " << type;
    return false;
}

/// A property's schema, following one local "$ref".
const json& resolved(const json& schema, const json& property) {
    if (property.contains("$ref")) {
        const std::string ref = property.at("$ref");
        return schema.at(json::json_pointer(ref.substr(1)));  // drop the leading '#'
    }
    return property;
}

bool isStringList(const json& value) {
    if (!value.is_array())
        return false;
    for (const auto& element : value) {
        if (!element.is_string())
            return false;
    }
    return true;
}

class ShippedManifest : public ::testing::Test {
protected:
    json schema = readJson(kSchemaPath);
    json manifest = readJson(kManifestPath);
};

}  // namespace

TEST_F(ShippedManifest, SchemaIsDraft07ForAnObject) {
    EXPECT_EQ(schema.at("$schema"), "http://json-schema.org/draft-07/schema#");
    EXPECT_EQ(schema.at("type"), "object");
    EXPECT_TRUE(manifest.is_object());
}

TEST_F(ShippedManifest, HasEveryRequiredKeyAndEveryKeyHasItsSchemaType) {
    const json& properties = schema.at("properties");
    for (const auto& key : schema.at("required")) {
        EXPECT_TRUE(manifest.contains(key)) << "missing required key " << key;
    }
    for (const auto& [key, value] : manifest.items()) {
        ASSERT_TRUE(properties.contains(key)) << "key the schema does not describe: " << key;
        const json& property = resolved(schema, properties.at(key));
        EXPECT_TRUE(hasType(value, property.at("type"))) << key;
        if (property.contains("minLength")) {
            EXPECT_GE(value.get<std::string>().size(), property.at("minLength").get<std::size_t>())
                << key;
        }
        if (property.contains("items")) {
            EXPECT_TRUE(isStringList(value)) << key;
        }
    }
}

TEST_F(ShippedManifest, DefaultConfigAndFeaturesKeepToTheSchema) {
    for (const auto& [key, value] : manifest.at("defaultConfig").items()) {
        EXPECT_TRUE(value.is_string()) << key;
    }
    const json& feature = schema.at("definitions").at("feature");
    ASSERT_EQ(feature.at("required"), json({"operations"}));
    for (const auto& [name, capability] : manifest.at("capabilities").at("features").items()) {
        ASSERT_TRUE(capability.is_object()) << name;
        const json& operations = capability.at("operations");
        if (operations.is_object()) {
            for (const auto& [group, names] : operations.items()) {
                EXPECT_TRUE(group == "read" || group == "write" || group == "subscribe") << group;
                EXPECT_TRUE(isStringList(names)) << name << "/" << group;
            }
        } else {
            EXPECT_TRUE(isStringList(operations)) << name;
        }
        for (const char* table : {"limits", "metadata"}) {
            EXPECT_TRUE(!capability.contains(table) || capability.at(table).is_object()) << name;
        }
    }
}

TEST_F(ShippedManifest, UsesBothOperationForms) {
    const json& features = manifest.at("capabilities").at("features");
    EXPECT_TRUE(features.at("system").at("operations").is_array());
    EXPECT_TRUE(features.at("analog_input").at("operations").is_object());
}

TEST_F(ShippedManifest, LoadsWithTheIdentityAndOperationsTheStubServes) {
    const kra::device::DeviceManifest loaded = kra::device::loadDeviceManifest(kManifestPath);
    EXPECT_EQ(loaded.deviceType, "ni-usb-daq");
    EXPECT_EQ(loaded.manufacturer, "National Instruments");
    EXPECT_FALSE(loaded.model.empty());
    EXPECT_EQ(loaded.stubClass, "kra::device::stubs::NIUSBDAQStub");
    EXPECT_EQ(loaded.libraryPath, "libni_usb_daq.so");
    EXPECT_EQ(loaded.factorySymbol, "createDeviceStub");
    EXPECT_EQ(loaded.destroySymbol, "destroyDeviceStub");
    EXPECT_EQ(loaded.supportedFeatures, (Strings{"system", "analog_input"}));

    ASSERT_EQ(loaded.capabilities.size(), 2u);
    EXPECT_EQ(loaded.capabilities.at("system").operations,
              (Strings{"get_capabilities", "scan_devices", "get_state"}));
    EXPECT_EQ(loaded.capabilities.at("analog_input").operations,
              (Strings{"query", "read_finite", "read_single", "configure", "start_stream",
                       "stop_stream", "stream"}));
    EXPECT_EQ(loaded.capabilities.at("analog_input").limits.at("max_channels"), "32");
    EXPECT_EQ(loaded.metadata.at("driver"), "\"NI-DAQmx\"");
}

TEST_F(ShippedManifest, DefaultConfigNamesEveryConfigureKeyWithItsDefault) {
    const kra::device::DeviceManifest loaded = kra::device::loadDeviceManifest(kManifestPath);
    const std::set<std::string> keys = {"device_name",
                                        "ai_channels",
                                        "voltage_range_min",
                                        "voltage_range_max",
                                        "terminal_config",
                                        "sample_clock_rate_hz",
                                        "sample_mode",
                                        "samples_per_channel",
                                        "sample_clock_source",
                                        "sample_clock_active_edge",
                                        "read_timeout_s",
                                        "start_trigger_type",
                                        "start_trigger_source",
                                        "start_trigger_edge",
                                        "analog_trigger_level_v",
                                        "units",
                                        "delivery_model",
                                        "digital_input_lines"};
    std::set<std::string> present;
    for (const auto& [key, value] : loaded.defaultConfig) {
        present.insert(key);
    }
    EXPECT_EQ(present, keys);
    EXPECT_EQ(loaded.defaultConfig.at("device_name"), "Dev1");
    EXPECT_EQ(loaded.defaultConfig.at("ai_channels"), "Dev1/ai0");
    EXPECT_EQ(loaded.defaultConfig.at("sample_mode"), "CONTINUOUS");
    EXPECT_EQ(loaded.defaultConfig.at("samples_per_channel"), "100");
}
